#include "document/dtpResource.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "document/XmlDocuments.h"
#include "document/dtpShape.h"
#include "platform/SysUtils.h"

namespace document {

// --- TMapStream ---

int32_t TMapStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer) return 0;
  // Positions are 32-bit; never wrap past the largest one.
  Count = int32_t(std::min<int64_t>(Count, int64_t(INT32_MAX) - FPosition));
  const auto* src = static_cast<const uint8_t*>(Buffer);
  int32_t left = Count;
  while (left > 0) {
    const size_t seg = size_t(FPosition / SegmentSize);
    const int32_t off = FPosition % SegmentSize;
    if (seg >= FSegments.size()) FSegments.resize(seg + 1);
    if (!FSegments[seg]) FSegments[seg] = std::make_unique<uint8_t[]>(SegmentSize);  // zeroed
    const int32_t n = std::min(left, SegmentSize - off);
    std::memcpy(FSegments[seg].get() + off, src, size_t(n));
    src += n;
    left -= n;
    FPosition += n;
  }
  FSize = std::max(FSize, FPosition);
  return Count;
}

int32_t TMapStream::Read(void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer || FPosition >= FSize) return 0;
  Count = std::min(Count, FSize - FPosition);
  auto* dst = static_cast<uint8_t*>(Buffer);
  int32_t left = Count;
  while (left > 0) {
    const size_t seg = size_t(FPosition / SegmentSize);
    const int32_t off = FPosition % SegmentSize;
    const int32_t n = std::min(left, SegmentSize - off);
    if (seg < FSegments.size() && FSegments[seg])
      std::memcpy(dst, FSegments[seg].get() + off, size_t(n));
    else
      std::memset(dst, 0, size_t(n));  // a gap left by seeking past the end
    dst += n;
    left -= n;
    FPosition += n;
  }
  return Count;
}

int64_t TMapStream::Seek(int64_t Offset, uint16_t Origin) {
  int64_t target = Offset;
  if (Origin == platform::soFromCurrent) target = int64_t(FPosition) + Offset;
  else if (Origin == platform::soFromEnd) target = int64_t(FSize) + Offset;
  FPosition = int32_t(std::clamp<int64_t>(target, 0, INT32_MAX));
  return FPosition;
}

void TMapStream::SetSize(int64_t NewSize) {
  const int32_t size = int32_t(std::clamp<int64_t>(NewSize, 0, INT32_MAX));
  if (size == FSize) return;
  FSize = size;
  const size_t keep = size_t((int64_t(size) + SegmentSize - 1) / SegmentSize);
  if (FSegments.size() > keep) FSegments.resize(keep);
  // Bytes past the new end in the last kept segment must read as zero if the size grows again.
  if (keep > 0 && FSegments[keep - 1] && size % SegmentSize != 0)
    std::memset(FSegments[keep - 1].get() + size % SegmentSize, 0, size_t(SegmentSize - size % SegmentSize));
  FPosition = std::min(FPosition, size);
}

// --- TdtpResource ---

namespace {

constexpr const char* kStorageNames[] = {"None", "External", "Archive", "Embedded"};

// Restores the document's binary encoding when the read or write ends.
struct TEncodingScope {
  TXmlDocument* Doc;
  uint8_t Old;
  TEncodingScope(TXmlDocument* D, uint8_t Value) : Doc(D), Old(D ? D->BinaryEncoding() : 0) {
    if (Doc) Doc->SetBinaryEncoding(Value);
  }
  ~TEncodingScope() {
    if (Doc) Doc->SetBinaryEncoding(Old);
  }
};

// Marks the resource as reading or writing its own settings.
struct TFilingScope {
  int32_t& Count;
  explicit TFilingScope(int32_t& C) : Count(C) { ++Count; }
  ~TFilingScope() { --Count; }
};

}  // namespace

const char* ResourceStorageName(TdtpResourceStorage Value) {
  const auto i = size_t(Value);
  return i < 4 ? kStorageNames[i] : "";
}

TdtpResource::TdtpResource(TdtpShape* Owner) : FOwner(Owner), FData(std::make_unique<TMapStream>()) {
  if (FOwner) FOwner->AddResource(this);
}

TdtpResource::~TdtpResource() {
  if (FOwner) FOwner->RemoveResource(this);
}

// Takes the other's bytes and settings, all of them: a source without bytes leaves this one
// without. The owner shows and stores what it now holds.
void TdtpResource::Assign(const platform::TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TdtpResource*>(Source)) {
    if (src == this) return;
    TXmlDocument xml("Resource");
    const_cast<TdtpResource*>(src)->SaveToXml(xml.Root());
    FreeData();  // a locked resource refuses before anything changes
    {
      TFilingScope filing(FFiling);
      FData->SetSize(0);
      FData->SetPosition(0);
      FState = 0;
      Modified = false;
      LoadFromXml(xml.Root());
    }
    NotifyChange();
    return;
  }
  TPersistent::Assign(Source);
}

void TdtpResource::SettingChanged() {
  if (FFiling > 0 || !FOwner) return;
  FOwner->Changed();
}

void TdtpResource::NotifyChange() {
  if (OnChange) {
    OnChange(this);
  } else if (FOwner) {
    FOwner->Refresh();
    FOwner->Changed();
  }
}

void TdtpResource::Lock() {
  if (FLockCount == 0) SetState(2);
  ++FLockCount;
}

void TdtpResource::Unlock() {
  if (FLockCount == 1) FStamp = platform::GetTickCount();
  if (FLockCount < 1) throw EResourceError("dtpResource UnlockObject called too many times");
  --FLockCount;
}

void TdtpResource::SetObject(std::unique_ptr<platform::TObject> Obj) { FObject = std::move(Obj); }

void TdtpResource::DropObject() { FObject.reset(); }

void TdtpResource::ReleaseObject() {
  if (FState > 1) SetState(1);
}

void TdtpResource::FreeData() {
  if (FLockCount > 0) throw EResourceError("Cannot delete object while it is locked.");
  DropObject();
}

void TdtpResource::LoadObject() {
  if (FLockCount > 0) throw EResourceError("Cannot load object that is locked");
  DropObject();
  FData->SetPosition(0);
  if (OnLoadObject) OnLoadObject(this);
  FState = 2;
}

void TdtpResource::StoreObject() {
  Modified = true;
  FData->SetSize(0);
  if (OnStoreObject) OnStoreObject(this);
}

void TdtpResource::SetState(uint8_t Target) {
  if (Target == FState) return;
  switch (Target) {
    case 0:
      if (FState == 2 && FLockCount == 0) {
        if (Modified) StoreObject();
        DropObject();
        FState = 1;
      }
      if (FState == 1) {
        StoreData();
        FData->SetSize(0);
        FState = 0;
      }
      break;
    case 1:
      if (FState == 0) {
        LoadFromSource();
      } else if (FState == 2 && FLockCount == 0) {
        if (Modified) StoreObject();
        DropObject();
        FState = 1;
      }
      break;
    case 2:
      if (FState == 0) LoadFromSource();
      if (FState == 1 && !FObject) LoadObject();
      break;
    default:
      break;
  }
}

void TdtpResource::LoadFromSource() {
  switch (Storage) {
    case TdtpResourceStorage::External: LoadFromFile(FileName); break;
    case TdtpResourceStorage::Archive: LoadFromArchive(ArchName); break;
    case TdtpResourceStorage::Embedded: LoadEmbedded(); break;
    default: break;
  }
}

void TdtpResource::LoadFromFile(const std::string& AFileName) {
  if (!platform::FileExists(AFileName))
    throw EResourceError("Resource load error.\rFile does not exist: " + AFileName);
  std::string newFileName;
  if (Storage == TdtpResourceStorage::External) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(AFileName, ec);
    newFileName = ec ? AFileName : full.lexically_normal().string();
  } else {
    newFileName = platform::ExtractFileName(AFileName);
  }
  if (FLockCount > 0) throw EResourceError("Cannot delete object while it is locked.");
  {
    TFilingScope filing(FFiling);
    // A file that cannot be read (damaged, unreadable, a format without its library) leaves the
    // resource as it was: its bytes, names and picture, so that a later save does not lose them.
    platform::TMemoryStream before;
    FData->SetPosition(0);
    before.CopyFrom(FData.get(), FData->Size());
    const std::string oldFileName = FileName, oldExt = Ext;
    FileName = newFileName;
    try {
      if (OnImport) {
        OnImport(this, AFileName);
      } else {
        platform::TFileStream f(AFileName, platform::fmOpenRead | platform::fmShareDenyNone);
        FData->SetPosition(0);
        const int64_t size = f.Size();
        FData->CopyFrom(&f, 0);
        FData->SetSize(size);
      }
    } catch (...) {
      FileName = oldFileName;
      Ext = oldExt;
      FData->SetSize(0);
      FData->SetPosition(0);
      before.SetPosition(0);
      FData->CopyFrom(&before, before.GetSize());
      FData->SetPosition(0);
      throw;
    }
    FreeData();
  }
  if (FData->Size() > 0) {
    FState = 1;
    NotifyChange();
  }
}

void TdtpResource::LoadEmbedded() {
  if (!FNode) return;
  TXmlNode* data = FNode->NodeByName("Data");
  if (!data) return;
  TXmlNode* buffer = data->NodeByName("Buffer");
  if (!buffer) return;
  // The decoded object was built from the bytes about to be replaced: it goes with them, so
  // the next lock builds it from the new ones (a locked resource refuses before any change).
  FreeData();
  const int32_t size = data->ReadInteger("Size", 0);
  const std::string filter = data->ReadString("Filter");
  const uint8_t enc = filter == "BinHex" ? xbeHex : filter == "Base64" ? xbeBase64 : xbeRadix64;
  TEncodingScope scope(FNode->Document(), enc);
  // The stored size is not trusted: never more than the text can hold.
  const int32_t avail = std::max(0, buffer->BufferLength());
  const int32_t n = std::clamp(size, 0, avail);
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  const int32_t got = n > 0 ? buffer->BufferRead(bytes.data(), n) : 0;
  FData->SetSize(0);
  FData->SetPosition(0);
  if (got > 0) FData->WriteBuffer(bytes.data(), got);
  FData->SetPosition(0);
  FState = 1;
}

void TdtpResource::StoreData() {
  if (FState == 0) return;
  // Where the bytes end up is this resource's own writing, not a change.
  TFilingScope filing(FFiling);
  switch (Storage) {
    case TdtpResourceStorage::External:
      if (!FileName.Value().empty() && platform::FileExists(FileName) && !Modified) return;
      if (OnSaveToFile) {
        SaveToFile(FileName);
        break;
      }
      // Nothing can write the file: the bytes are embedded, as for the archive, rather than
      // failing the save of the whole document and losing them.
      Storage = TdtpResourceStorage::Embedded;
      SaveEmbeddedToXml();
      break;
    case TdtpResourceStorage::Archive:
      Storage = TdtpResourceStorage::Embedded;
      SaveEmbeddedToXml();
      break;
    case TdtpResourceStorage::Embedded: SaveEmbeddedToXml(); break;
    default: break;
  }
}

void TdtpResource::SaveEmbeddedToXml() {
  if (!FNode) return;
  const int32_t size = int32_t(FData->Size());
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  FData->SetPosition(0);
  if (size > 0) FData->ReadBuffer(bytes.data(), size);
  TXmlNode* data = FNode->NodeNew("Data");
  data->WriteInteger("Size", size);
  data->WriteString("Filter", "Base64");
  if (TXmlDocument* doc = FNode->Document()) doc->SetBinaryEncoding(xbeBase64);
  TXmlNode* buffer = data->NodeNew("Buffer");
  if (FNode->Document())
    buffer->BufferWrite(bytes.data(), size);
  else
    buffer->SetValue(EncodeBase64(bytes.data(), size));
}

void TdtpResource::SaveToFile(const std::string& AFileName) {
  if (!OnSaveToFile) throw EResourceError("Resource save error:\rNo OnSaveToFile implemented.");
  OnSaveToFile(this, AFileName);
}

void TdtpResource::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  TFilingScope filing(FFiling);
  ArchName = Node->ReadString("ArchName");
  Ext = Node->ReadString("Ext");
  FileName = Node->ReadString("FileName");
  const std::string storage = Node->ReadString("Storage");
  for (size_t i = 0; i < 4; ++i)
    if (storage == kStorageNames[i]) Storage = TdtpResourceStorage(i);
  FNode = Node;
  try {
    LoadFromSource();
  } catch (...) {
    FNode = nullptr;
    throw;
  }
  FNode = nullptr;
}

void TdtpResource::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TFilingScope filing(FFiling);
  Node->WriteString("ClassName", ClassName());
  Node->WriteString("ArchName", ArchName);
  Node->WriteString("Ext", Ext);
  Node->WriteString("FileName", FileName);
  Node->WriteString("Storage", ResourceStorageName(Storage));
  FNode = Node;
  try {
    StoreData();
  } catch (...) {
    FNode = nullptr;
    throw;
  }
  FNode = nullptr;
  // Storing may change where the bytes live (the archive cannot hold them, so they are
  // embedded): the element must name where they were written, or a reload finds none.
  Node->WriteString("Storage", ResourceStorageName(Storage));
}

// --- class registry ---

namespace {
std::vector<std::unique_ptr<TResourceClassHolder>>& ResourceClasses() {
  static std::vector<std::unique_ptr<TResourceClassHolder>> list;
  return list;
}
}  // namespace

const TResourceClassHolder* RegisterResourceClass(
    const std::string& ClassName, std::function<std::unique_ptr<TdtpResource>(TdtpShape*)> Construct) {
  if (const TResourceClassHolder* h = FindResourceClass(ClassName)) return h;
  auto h = std::make_unique<TResourceClassHolder>();
  h->ClassName = ClassName;
  h->Construct = std::move(Construct);
  ResourceClasses().push_back(std::move(h));
  return ResourceClasses().back().get();
}

const TResourceClassHolder* FindResourceClass(const std::string& ClassName) {
  for (const auto& h : ResourceClasses())
    if (h->ClassName == ClassName) return h.get();
  return nullptr;
}

int32_t ResourceClassCount() { return int32_t(ResourceClasses().size()); }

void InitializeDtpResource() {
  RegisterResourceClass("TdtpResource", [](TdtpShape* Owner) { return std::make_unique<TdtpResource>(Owner); });
}

void FinalizeDtpResource() { ResourceClasses().clear(); }

}  // namespace document
