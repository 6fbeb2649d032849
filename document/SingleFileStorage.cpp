#include "document/SingleFileStorage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <typeinfo>

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace document {

namespace {

constexpr int64_t kHeaderSize = 14;
constexpr int64_t kEntryFixedSize = 20;  // offset, size, name length
constexpr int64_t kCopyBuffer = 0x80000;
constexpr uint16_t kOpenReadWrite = 34;  // read-write, deny write
constexpr uint16_t kOpenReadOnly = 0x40;  // read-only, deny none
constexpr const char* kCorrupted = "Corrupted archive";
constexpr const char* kNotValid = "Not a valid storage";

// Names are stored in windows-1252: a name with other characters would be stored as "?" and
// come back as another name, or as the same name as another stream.
void CheckStorableName(const std::string& Name) {
  if (platform::Cp1252ToUtf8(platform::Utf8ToCp1252(Name)) != Name)
    throw platform::Exception("Stream name \"" + Name + "\" holds characters that cannot be stored");
}

[[noreturn]] void Corrupted() { throw platform::Exception(kCorrupted); }

void PutLE(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint64_t GetLE(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Sets an operation kind and name for progress reports and puts the previous ones back.
class TOperationScope {
 public:
  TOperationScope(int32_t& Kind, std::string& Name, int32_t NewKind, const std::string& NewName)
      : FKind(Kind), FName(Name), FOldKind(Kind), FOldName(Name) {
    Kind = NewKind;
    Name = NewName;
  }
  ~TOperationScope() {
    FKind = FOldKind;
    FName = std::move(FOldName);
  }
  TOperationScope(const TOperationScope&) = delete;
  TOperationScope& operator=(const TOperationScope&) = delete;

 private:
  int32_t& FKind;
  std::string& FName;
  int32_t FOldKind;
  std::string FOldName;
};

class TEventScope {
 public:
  explicit TEventScope(int32_t& Count) : FCount(Count) { ++Count; }
  ~TEventScope() { --FCount; }
  TEventScope(const TEventScope&) = delete;
  TEventScope& operator=(const TEventScope&) = delete;

 private:
  int32_t& FCount;
};

class TFlagScope {
 public:
  explicit TFlagScope(bool& Flag) : FFlag(Flag), FOld(Flag) { Flag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
  bool FOld;
};

}  // namespace

// TStoreStream ----------------------------------------------------------------------------

TStoreStream::TStoreStream(std::string AName) : FName(std::move(AName)) {}

TStoreStream::~TStoreStream() {
  if (FOwner) FOwner->FCacheBytes -= FCounted;
}

void TStoreStream::Recount() {
  const int64_t now = CacheSize();
  if (FOwner) FOwner->FCacheBytes += now - FCounted;
  FCounted = now;
}

bool TStoreStream::HasFile() const { return FOwner && FOwner->FStream; }

int64_t TStoreStream::CacheSize() const { return FCache ? FCache->DataSize() : 0; }

void TStoreStream::CheckAttached() const {
  if (FDetached) throw platform::Exception("Stream \"" + FName + "\" is no longer in the archive");
  if (FOwner) FOwner->CheckIdle();
}

void TStoreStream::Stamp() {
  if (FOwner) FAccess = FOwner->NextStamp();
}

void TStoreStream::Changed() {
  if (FOwner) FOwner->Changed();
}

void TStoreStream::DoChange() {
  if (FOwner) FOwner->DoChange();
}

void TStoreStream::EnsureCache() {
  if (FCache) return;
  if (FOwner) LoadCacheWithProgress();
  // Trimming never drops the newest cache, but a stream without an owner has none to load.
  if (!FCache) LoadCache();
}

void TStoreStream::LoadCache() {
  FModified = false;
  FCache = std::make_unique<TMemoryStream64>();
  if (FSize > 0 && HasFile()) {
    try {
      FCache->SetSize(FSize);
      FOwner->CopyOutOfFile(FOffset, FCache.get(), FSize);
    } catch (...) {
      // A cache that was not filled must not stand for the stream's bytes.
      FCache.reset();
      Recount();
      throw;
    }
    Stamp();
  }
  FCache->SetPosition(FPosition);
  Recount();
}

void TStoreStream::DropCache() {
  if (FCache) FPosition = FCache->GetPosition();
  FCache.reset();
  Recount();
}

void TStoreStream::LoadCacheWithProgress() {
  CheckAttached();
  if (!FOwner) {
    LoadCache();
    return;
  }
  {
    TOperationScope op(FOwner->FOperation, FOwner->FOperationName, opLoadCache, FName);
    LoadCache();
  }
  FOwner->TrimCache();
}

int32_t TStoreStream::Read(void* Buffer, int32_t Count) {
  CheckAttached();
  EnsureCache();
  Stamp();
  return FCache->Read(Buffer, Count);
}

int32_t TStoreStream::Write(const void* Buffer, int32_t Count) {
  CheckAttached();
  // A read-only archive takes no changes; WriteBuffer turns this into the write error.
  if (FOwner && FOwner->FReadOnly) return 0;
  EnsureCache();
  Stamp();
  const int32_t n = FCache->Write(Buffer, Count);
  Recount();
  if (n > 0) FModified = true;
  return n;
}

int64_t TStoreStream::Seek(int64_t Offset, uint16_t Origin) {
  // Only moves a position: also allowed from the archive's events.
  if (FDetached) CheckAttached();
  if (FCache) return FCache->Seek(Offset, Origin);
  // Without a cache the position is kept here, by the cache's own rule.
  FPosition = SeekedPosition(FPosition, FSize, Offset, Origin);
  return FPosition;
}

void TStoreStream::SetSize(int64_t NewSize) {
  CheckAttached();
  if (FOwner) FOwner->CheckWritable();
  EnsureCache();
  const bool changed = NewSize != FCache->DataSize();
  // Also an unchanged size brings a position past the end back to it, as in memory.
  FCache->SetSize(NewSize);
  Recount();
  if (changed) FModified = true;
}

void TStoreStream::Clear() {
  CheckAttached();
  const bool hadBytes = FSize != 0 || FOffset != 0 || FCache != nullptr;
  if (hadBytes && FOwner) FOwner->CheckWritable();
  FCache.reset();
  FPosition = 0;
  Recount();
  FModified = false;
  if (FOwner) FOwner->SpaceRemove(FOffset, FSize);
  FOffset = 0;
  FSize = 0;
  if (hadBytes) Changed();
}

void TStoreStream::FlushWithProgress() {
  CheckAttached();
  if (!FOwner) {
    Flush();
    return;
  }
  TOperationScope op(FOwner->FOperation, FOwner->FOperationName, opFlushStream, FName);
  Flush();
}

void TStoreStream::LoadFromStream64(TStream64* Source) { LoadFromStream(Source); }

void TStoreStream::LoadFromStream(platform::TStream* Source) {
  CheckAttached();
  if (Source == this) return;
  // A stream of an archive copied from (Assign, SaveToStream) keeps its position: the copy
  // reads it from the start.
  if (auto* store = dynamic_cast<TStoreStream*>(Source)) {
    const int64_t position = store->GetPosition();
    try {
      ReplaceBytes(Source);
    } catch (...) {
      store->SetPosition(position);
      throw;
    }
    store->SetPosition(position);
    return;
  }
  ReplaceBytes(Source);
}

void TStoreStream::ReplaceBytes(platform::TStream* Source) {
  if (!HasFile()) {
    // No file to write into yet: the bytes wait in the cache until one is flushed.
    FCache = std::make_unique<TMemoryStream64>();
    FCache->CopyFromStream(Source, 0);
    FCache->SetPosition(0);
    Recount();
    FModified = true;
    if (FOwner) FOwner->SpaceChanged();
    FOffset = 0;
    FSize = 0;
    Stamp();
    return;
  }
  FOwner->CheckWritable();
  FOwner->SpaceRemove(FOffset, FSize);
  FOffset = 0;
  FSize = 0;
  FCache.reset();
  FPosition = 0;
  Recount();
  FModified = false;
  const int64_t size = std::max<int64_t>(Source->GetSize(), 0);
  const int64_t pos = FOwner->Allocate(size);
  try {
    // Reserved while copying (reading Source may flush other streams, which must not be
    // given this extent); recorded only once every byte is in place, so a failed copy
    // leaves an empty stream rather than an entry over bytes never written.
    TSingleStorage::TReservation reserve(FOwner, pos, size);
    Source->SetPosition(0);
    FOwner->CopyIntoFile(pos, Source, size);
  } catch (...) {
    FOwner->SpaceChanged();
    throw;
  }
  FOffset = size > 0 ? pos : 0;
  FSize = size;
  Changed();
}

void TStoreStream::Assign(TStoreStream* Other) {
  CheckAttached();
  if (!Other || Other == this) return;
  Other->CheckAttached();
  if (FOwner) {
    // Refused before anything changes: a read-only archive, or a name another entry holds.
    FOwner->CheckWritable();
    CheckStorableName(Other->FName);
    if (Other->FName != FName && FOwner->Lookup(Other->FName))
      throw platform::Exception("Cannot overwrite stream \"" + Other->FName + "\"");
  }
  Clear();
  FName = Other->FName;
  if (FOwner) FOwner->NamesChanged();
  LoadFromStream64(Other);
}

void TStoreStream::SaveToFile(const std::string& FileName) {
  CheckAttached();
  TFileStream64 file(FileName, platform::fmCreate);
  if (!FOwner) {
    SaveToStream64(&file);
    return;
  }
  TOperationScope op(FOwner->FOperation, FOwner->FOperationName, opSaveToFile, FName);
  SaveToStream64(&file);
}

void TStoreStream::SaveToStream64(TStream64* Dest) { SaveToStream(Dest); }

void TStoreStream::SaveToStream(platform::TStream* Dest) {
  CheckAttached();
  if (FCache) {
    const int64_t size = FCache->DataSize();
    if (size <= 0) return;
    const auto* mem = static_cast<const uint8_t*>(FCache->Memory());
    int64_t done = 0;
    while (done < size) {
      const auto n = static_cast<int32_t>(std::min(size - done, kCopyBuffer));
      Dest->WriteBuffer(mem + done, n);
      done += n;
      if (FOwner) FOwner->FileProgress(done, size);
    }
    return;
  }
  if (FSize > 0 && HasFile()) FOwner->CopyOutOfFile(FOffset, Dest, FSize);
}

void TStoreStream::Flush() {
  CheckAttached();
  if (FCache && FModified) {
    // Without a file the cache is the only copy of the bytes: keep it.
    if (!HasFile()) return;
    FOwner->CheckWritable();
    const int64_t size = FCache->DataSize();
    // The old extent still counts as occupied here, so the old bytes survive until the
    // directory points at the new ones.
    const int64_t pos = FOwner->Allocate(size);
    // Copying out moves the cache's position, which is the stream's: put it back whatever
    // happens, so that writing back never moves where the next read or write goes.
    const int64_t position = FCache->DataPosition();
    FCache->SetPosition(0);
    try {
      FOwner->CopyIntoFile(pos, FCache.get(), size);
    } catch (...) {
      FCache->SetPosition(position);
      FOwner->SpaceChanged();
      throw;
    }
    FCache->SetPosition(position);
    FOwner->SpaceRemove(FOffset, FSize);
    FOffset = size > 0 ? pos : 0;
    FSize = size;
    Changed();
    FModified = false;
  }
  DropCache();
  DoChange();
}

void TStoreStream::ReadEntry(TStream64* Source, int64_t FileSize) {
  const int64_t pos = Source->GetPosition();
  if (pos < 0 || pos > FileSize - kEntryFixedSize) Corrupted();
  uint8_t fixed[kEntryFixedSize];
  Source->ReadBuffer(fixed, static_cast<int32_t>(kEntryFixedSize));
  const auto offset = static_cast<int64_t>(GetLE(fixed, 8));
  const auto size = static_cast<int64_t>(GetLE(fixed + 8, 8));
  const auto length = static_cast<int32_t>(GetLE(fixed + 16, 4));
  if (size < 0) Corrupted();
  if (size > 0 && (offset < kHeaderSize || offset > FileSize || size > FileSize - offset)) Corrupted();
  if (length < 0 || length > FileSize - pos - kEntryFixedSize) Corrupted();
  std::string name(static_cast<size_t>(length), '\0');
  Source->ReadBuffer(name.data(), length);
  FName = platform::Cp1252ToUtf8(name);
  FOffset = offset;
  FSize = size;
  FCache.reset();
  FPosition = 0;
  Recount();
  FModified = false;
}

const std::string& TStoreStream::StoredName() const {
  // The directory is rewritten after every change; convert each name once.
  if (FStoredNameOf != FName) {
    FStoredName = platform::Utf8ToCp1252(FName);
    FStoredNameOf = FName;
  }
  return FStoredName;
}

void TStoreStream::WriteEntry(std::string& Out) const {
  const std::string& name = StoredName();
  char fixed[kEntryFixedSize];
  for (int i = 0; i < 8; ++i) fixed[i] = static_cast<char>(static_cast<uint64_t>(FOffset) >> (8 * i));
  for (int i = 0; i < 8; ++i) fixed[8 + i] = static_cast<char>(static_cast<uint64_t>(FSize) >> (8 * i));
  for (int i = 0; i < 4; ++i) fixed[16 + i] = static_cast<char>(static_cast<uint32_t>(name.size()) >> (8 * i));
  Out.append(fixed, kEntryFixedSize);
  Out += name;
}

void TStoreStream::SetName(const std::string& Value) {
  CheckAttached();
  if (Value == FName) return;
  CheckStorableName(Value);
  // Two entries of one name would hide one of them for good.
  if (FOwner && FOwner->Lookup(Value)) throw platform::Exception("Cannot overwrite stream \"" + Value + "\"");
  if (FOwner) FOwner->CheckWritable();
  FName = Value;
  if (FOwner) FOwner->NamesChanged();
  Changed();
  DoChange();
}

// TSingleStorage --------------------------------------------------------------------------

TSingleStorage::TSingleStorage() {
  AskOverwrite = [](const std::string& Text) {
    return platform::MessageBox(Text, "Warning", platform::MB_YESNO | platform::MB_ICONWARNING |
                                                     platform::MB_DEFBUTTON2) == platform::IDYES;
  };
}

TSingleStorage::~TSingleStorage() {
  // A destructor cannot report a failed write-back; the file keeps its last directory.
  try {
    if (FTransaction)
      RollbackTransaction();
    else
      Flush();
  } catch (...) {
  }
  DetachAll();
  FStream.reset();
}

void TSingleStorage::CheckWritable() const {
  if (FReadOnly && FStream) throw platform::EWriteError("Stream write error");
}

bool TSingleStorage::SlowReference = false;

TStoreStream* TSingleStorage::Items(int32_t Index) const {
  TStoreStream* entry = FEntries.at(static_cast<size_t>(Index)).get();
  entry->FHandedOut = true;
  return entry;
}

int32_t TSingleStorage::IndexOf(const std::string& Name) const {
  const TStoreStream* entry = Lookup(Name);
  if (!entry) return -1;
  // Replaced streams are usually the newest ones.
  for (size_t i = FEntries.size(); i-- > 0;)
    if (FEntries[i].get() == entry) return static_cast<int32_t>(i);
  return -1;
}

TStoreStream* TSingleStorage::Find(const std::string& Name) const {
  TStoreStream* entry = Lookup(Name);
  if (entry) entry->FHandedOut = true;
  return entry;
}

TStoreStream* TSingleStorage::Lookup(const std::string& Name) const {
  if (SlowReference) {
    for (const auto& e : FEntries)
      if (e->FName == Name) return e.get();
    return nullptr;
  }
  if (!FNamesValid) {
    FNames.clear();
    FNames.reserve(FEntries.size());
    FNamesRepeat = false;
    for (const auto& e : FEntries)
      if (!FNames.emplace(e->FName, e.get()).second) FNamesRepeat = true;
    FNamesValid = true;
  }
  const auto it = FNames.find(Name);
  return it == FNames.end() ? nullptr : it->second;
}

void TSingleStorage::NameAdded(TStoreStream* Entry) {
  if (FNamesValid && !FNames.emplace(Entry->FName, Entry).second) FNamesRepeat = true;
}

void TSingleStorage::NameRemoved(TStoreStream* Entry) {
  if (!FNamesValid) return;
  // With a repeated name the next entry of that name takes over: rebuild.
  if (FNamesRepeat) {
    FNamesValid = false;
    return;
  }
  const auto it = FNames.find(Entry->FName);
  if (it != FNames.end() && it->second == Entry) FNames.erase(it);
}

void TSingleStorage::SetFileName(const std::string& Value) {
  CheckIdle();
  if (Value == FFileName) return;
  if (Value.empty()) {
    SetStream(nullptr);
    return;
  }
  std::unique_ptr<TStream64> file;
  bool readOnly = false;
  if (FOpenReadOnly) {
    file = std::make_unique<TFileStream64>(Value, kOpenReadOnly);
    readOnly = true;
  } else if (platform::FileExists(Value) && !FCreateNew) {
    try {
      file = std::make_unique<TFileStream64>(Value, kOpenReadWrite);
    } catch (const platform::EFOpenError&) {
      file = std::make_unique<TFileStream64>(Value, kOpenReadOnly);
      readOnly = true;
    }
  } else {
    file = std::make_unique<TFileStream64>(Value, platform::fmCreate);
  }
  OpenStream(std::move(file), readOnly);
  FFileName = Value;
}

void TSingleStorage::SetStream(std::unique_ptr<TStream64> Stream) { OpenStream(std::move(Stream), false); }

void TSingleStorage::OpenStream(std::unique_ptr<TStream64> Stream, bool ReadOnly) {
  CheckIdle();
  if (Stream && Stream.get() == FStream.get()) {
    (void)Stream.release();
    return;
  }
  if (!Stream && !FStream) return;
  // An open transaction is abandoned: the file being closed keeps its last directory.
  if (FTransaction) RollbackTransaction();
  // Changes still in caches belong to the file being closed.
  Flush();
  Clear();
  FStream = std::move(Stream);
  FFileName.clear();
  FDirectoryOffset = 0;
  FDirectoryCapacity = 0;
  FReadOnly = ReadOnly;
  FMajorVersion = 1;
  FMinorVersion = 0;
  if (!FStream) return;
  FStream->OnProgress = [this](platform::TObject*, int64_t Done, int64_t Total) { FileProgress(Done, Total); };
  try {
    ReadHeader();
    ReadDirectory();
  } catch (...) {
    // A file that is not a sound archive is never written to: let go of it.
    DetachAll();
    FStream.reset();
    FDirectoryOffset = 0;
    FDirectoryCapacity = 0;
    FReadOnly = false;
    throw;
  }
}

void TSingleStorage::ReadHeader() {
  const int64_t size = FStream->GetSize();
  if (size == 0) {
    // An empty file becomes an archive by getting its header, which a read-only one cannot.
    if (FReadOnly) throw platform::Exception(kNotValid);
    WriteHeaderStart();
    return;
  }
  if (size < 6) throw platform::Exception(kNotValid);
  uint8_t head[6];
  FStream->SetPosition(0);
  FStream->ReadBuffer(head, 6);
  if (std::memcmp(head, "STOR", 4) != 0) {
    FMajorVersion = 0;
    FMinorVersion = 0;
  } else {
    FMajorVersion = head[4];
    FMinorVersion = head[5];
  }
  if (FMajorVersion == 0) throw platform::Exception(kNotValid);
}

void TSingleStorage::WriteHeaderStart() {
  const uint8_t head[6] = {'S', 'T', 'O', 'R', FMajorVersion, FMinorVersion};
  FStream->SetPosition(0);
  FStream->WriteBuffer(head, 6);
}

void TSingleStorage::ReadDirectory() {
  CheckIdle();
  // Entries that the directory names again keep their objects, refreshed from it, so that a
  // caller holding one (across a rollback) holds the stream as the file has it; the others
  // are detached.
  std::vector<std::unique_ptr<TStoreStream>> held = std::move(FEntries);
  FEntries.clear();
  NamesChanged();
  SpaceChanged();
  FDirectoryOffset = 0;
  FDirectoryCapacity = 0;
  try {
    if (FStream && FStream->GetSize() >= kHeaderSize) {
      const int64_t size = FStream->GetSize();
      uint8_t buf[8];
      FStream->SetPosition(6);
      FStream->ReadBuffer(buf, 8);
      const auto offset = static_cast<int64_t>(GetLE(buf, 8));
      if (offset < kHeaderSize || offset > size - 4) Corrupted();
      FStream->SetPosition(offset);
      FStream->ReadBuffer(buf, 4);
      const auto count = static_cast<int32_t>(GetLE(buf, 4));
      if (count < 0 || count > (size - offset - 4) / kEntryFixedSize) Corrupted();
      FEntries.reserve(static_cast<size_t>(count));
      for (int32_t i = 0; i < count; ++i) {
        auto entry = std::make_unique<TStoreStream>();
        entry->ReadEntry(FStream.get(), size);
        entry->FOwner = this;
        FEntries.push_back(std::move(entry));
      }
      FDirectoryOffset = offset;
      FDirectoryCapacity = DirectoryCapacityFor(FStream->GetPosition() - offset);
    }
  } catch (...) {
    for (auto& e : held) FEntries.push_back(std::move(e));
    DetachAll();
    FDirectoryOffset = 0;
    FDirectoryCapacity = 0;
    throw;
  }
  for (auto& entry : FEntries) {
    const auto same = std::find_if(held.begin(), held.end(),
                                   [&](const auto& h) { return h && h->FName == entry->FName; });
    if (same == held.end()) continue;
    TStoreStream* kept = same->get();
    kept->FCache.reset();
    kept->Recount();
    kept->FPosition = 0;
    kept->FModified = false;
    kept->FOffset = entry->FOffset;
    kept->FSize = entry->FSize;
    entry = std::move(*same);
  }
  for (auto& h : held) {
    if (!h) continue;
    FEntries.push_back(std::move(h));
    Detach(static_cast<int32_t>(FEntries.size() - 1));
  }
  DoChange();
}

void TSingleStorage::Detach(int32_t Index) {
  std::unique_ptr<TStoreStream> gone = std::move(FEntries[static_cast<size_t>(Index)]);
  FEntries.erase(FEntries.begin() + Index);
  gone->FCache.reset();
  gone->Recount();
  gone->FOwner = nullptr;
  gone->FDetached = true;
  if (gone->FHandedOut) {
    FDetached.push_back(std::move(gone));
    return;
  }
  // Nobody can hold it: freed, and a rollback finds its name in the file's directory alone.
  std::erase_if(FBegun, [&](const auto& b) { return b.first == gone.get(); });
}

void TSingleStorage::DetachAll() {
  while (!FEntries.empty()) Detach(static_cast<int32_t>(FEntries.size() - 1));
  NamesChanged();
  SpaceChanged();
}

int64_t TSingleStorage::DirectoryCapacityFor(int64_t Bytes) {
  int64_t capacity = 1024;
  while (capacity < Bytes) capacity *= 4;
  return capacity;
}

int64_t TSingleStorage::DirectorySize() const {
  int64_t bytes = 4;
  for (const auto& e : FEntries) bytes += kEntryFixedSize + static_cast<int64_t>(e->StoredName().size());
  return bytes;
}

void TSingleStorage::WriteDirectory() {
  if (!FStream) return;
  CheckWritable();
  // The file's directory is the state a rollback returns to: during a transaction only the
  // commit writes a new one, beside it.
  if (FTransaction) {
    FDirty = true;
    FDirImageValid = false;
    return;
  }
  const bool append = FDirAppend;
  FDirAppend = false;
  if (append && FDirImageValid && !SlowReference && FDirectoryCapacity > 0 &&
      FDirImageCount + 1 == FEntries.size()) {
    std::string entry;
    FEntries.back()->WriteEntry(entry);
    const int64_t bytes = FDirImageBytes + static_cast<int64_t>(entry.size());
    if (DirectoryCapacityFor(bytes) == FDirectoryCapacity) {
      // The rest of the directory is in the file already. The entry goes first, so the old
      // count still describes a sound directory until the new one is written.
      FDirImageValid = false;
      std::string count;
      PutLE(count, static_cast<uint32_t>(FEntries.size()), 4);
      FStream->SetPosition(FDirectoryOffset + FDirImageBytes);
      FStream->WriteBuffer(entry.data(), static_cast<int32_t>(entry.size()));
      FStream->SetPosition(FDirectoryOffset);
      FStream->WriteBuffer(count.data(), 4);
      FDirImageCount = FEntries.size();
      FDirImageBytes = bytes;
      FDirImageValid = true;
      return;
    }
  }
  FDirImageValid = false;
  std::string dir;
  dir.reserve(static_cast<size_t>(DirectorySize()));
  PutLE(dir, static_cast<uint32_t>(FEntries.size()), 4);
  for (const auto& e : FEntries) e->WriteEntry(dir);
  const int64_t bytes = static_cast<int64_t>(dir.size());
  const int64_t needed = DirectoryCapacityFor(bytes);
  if (needed <= FDirectoryCapacity) {
    FStream->SetPosition(FDirectoryOffset);
    FStream->WriteBuffer(dir.data(), static_cast<int32_t>(bytes));
    if (needed != FDirectoryCapacity) SpaceChanged();
    FDirectoryCapacity = needed;
    FDirImageCount = FEntries.size();
    FDirImageBytes = bytes;
    FDirImageValid = true;
    return;
  }
  SpaceRemove(FDirectoryOffset, FDirectoryCapacity);
  FDirectoryOffset = 0;
  FDirectoryCapacity = 0;
  const int64_t pos = Allocate(needed);
  // Until the header points at it the area is not the directory's.
  SpaceChanged();
  FStream->WriteBuffer(dir.data(), static_cast<int32_t>(bytes));
  const int64_t end = pos + needed;
  int64_t fileSize = FStream->GetSize();
  if (fileSize < end) {
    static const uint8_t zeros[4096] = {};
    FStream->SetPosition(fileSize);
    while (fileSize < end) {
      const auto n = static_cast<int32_t>(std::min<int64_t>(end - fileSize, sizeof zeros));
      FStream->WriteBuffer(zeros, n);
      fileSize += n;
    }
  }
  std::string head;
  PutLE(head, static_cast<uint64_t>(pos), 8);
  FStream->SetPosition(6);
  FStream->WriteBuffer(head.data(), 8);
  FDirectoryOffset = pos;
  FDirectoryCapacity = needed;
  FDirImageCount = FEntries.size();
  FDirImageBytes = bytes;
  FDirImageValid = true;
}

std::vector<TSingleStorage::TExtent> TSingleStorage::SortedExtents() const {
  std::vector<TExtent> extents;
  extents.reserve(FEntries.size() + 1);
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i]->FSize > 0)
      extents.push_back({FEntries[i]->FOffset, FEntries[i]->FSize, static_cast<int32_t>(i)});
  if (FDirectoryCapacity > 0) extents.push_back({FDirectoryOffset, FDirectoryCapacity, -1});
  const auto before = [](const TExtent& a, const TExtent& b) {
    return a.Offset != b.Offset ? a.Offset < b.Offset : a.Index < b.Index;
  };
  // Streams added one after another already lie in offset order, apart from the directory.
  if (!extents.empty() && extents.back().Index == -1) {
    const TExtent dir = extents.back();
    extents.pop_back();
    if (!std::is_sorted(extents.begin(), extents.end(), before)) std::sort(extents.begin(), extents.end(), before);
    extents.insert(std::upper_bound(extents.begin(), extents.end(), dir, before), dir);
  } else if (!std::is_sorted(extents.begin(), extents.end(), before)) {
    std::sort(extents.begin(), extents.end(), before);
  }
  return extents;
}

int64_t TSingleStorage::Allocate(int64_t Size) {
  if (Size <= 0 || !FStream) return 0;
  // Room is found to be written into, which a read-only file never is.
  CheckWritable();
  if (SlowReference) return AllocateReference(Size);
  if (!FSpaceValid) RebuildSpace();
  int64_t pos = -1;
  for (size_t i = 0; i + 1 < FSpace.size(); ++i) {
    const int64_t end = FSpace[i].Offset + FSpace[i].Size;
    if (FSpace[i + 1].Offset - end >= Size) {
      pos = end;
      break;
    }
  }
  if (pos < 0) {
    pos = FSpace.empty() ? 0 : FSpace.back().Offset + FSpace.back().Size;
    if (pos < kHeaderSize) pos = kHeaderSize;
    if (FStream->GetSize() < kHeaderSize) WriteHeaderStart();
  }
  FStream->SetPosition(pos);
  // The caller fills the block at once; a caller that fails marks the space for rebuilding.
  SpaceAdd(pos, Size);
  return pos;
}

void TSingleStorage::RebuildSpace() {
  std::vector<TExtent> extents = SortedExtents();
  for (size_t i = 0; i + 1 < extents.size(); ++i)
    if (extents[i + 1].Offset < extents[i].Offset + extents[i].Size) Corrupted();
  for (const TExtent& e : FCommitted) extents.push_back(e);
  for (const TExtent& e : FReserved)
    if (e.Size > 0) extents.push_back(e);
  std::sort(extents.begin(), extents.end(), [](const TExtent& x, const TExtent& y) { return x.Offset < y.Offset; });
  // Touching ranges join: a gap of 0 fits nothing.
  FSpace.clear();
  for (const TExtent& e : extents) {
    if (!FSpace.empty() && e.Offset <= FSpace.back().Offset + FSpace.back().Size) {
      FSpace.back().Size = std::max(FSpace.back().Size, e.Offset + e.Size - FSpace.back().Offset);
      continue;
    }
    FSpace.push_back({e.Offset, e.Size, 0});
  }
  FSpaceValid = true;
}

void TSingleStorage::SpaceAdd(int64_t Offset, int64_t Size) {
  if (!FSpaceValid || Size <= 0) return;
  const auto at = std::upper_bound(FSpace.begin(), FSpace.end(), Offset,
                                   [](int64_t o, const TExtent& e) { return o < e.Offset; });
  const int64_t end = Offset + Size;
  const bool joinPrev = at != FSpace.begin() && std::prev(at)->Offset + std::prev(at)->Size >= Offset;
  const bool joinNext = at != FSpace.end() && at->Offset <= end;
  if (joinPrev && joinNext) {
    auto prev = std::prev(at);
    prev->Size = std::max(prev->Offset + prev->Size, std::max(end, at->Offset + at->Size)) - prev->Offset;
    FSpace.erase(at);
  } else if (joinPrev) {
    auto prev = std::prev(at);
    prev->Size = std::max(prev->Offset + prev->Size, end) - prev->Offset;
  } else if (joinNext) {
    const int64_t last = std::max(end, at->Offset + at->Size);
    at->Offset = Offset;
    at->Size = last - Offset;
  } else {
    FSpace.insert(at, {Offset, Size, 0});
  }
}

void TSingleStorage::SpaceRemove(int64_t Offset, int64_t Size) {
  if (!FSpaceValid || Size <= 0) return;
  if (!FReserved.empty()) {
    FSpaceValid = false;
    return;
  }
  if (FTransaction) {
    // Bytes the file's directory points at stay occupied until the commit.
    const auto c = std::lower_bound(FCommitted.begin(), FCommitted.end(), Offset,
                                    [](const TExtent& e, int64_t o) { return e.Offset < o; });
    if (c != FCommitted.end() && c->Offset == Offset && c->Size >= Size) return;
    const bool touches = (c != FCommitted.end() && c->Offset < Offset + Size) ||
                         (c != FCommitted.begin() && std::prev(c)->Offset + std::prev(c)->Size > Offset);
    if (touches) {
      FSpaceValid = false;
      return;
    }
  }
  auto at = std::upper_bound(FSpace.begin(), FSpace.end(), Offset,
                             [](int64_t o, const TExtent& e) { return o < e.Offset; });
  if (at == FSpace.begin()) {
    FSpaceValid = false;
    return;
  }
  --at;
  const int64_t end = Offset + Size;
  const int64_t rangeEnd = at->Offset + at->Size;
  if (end > rangeEnd) {
    FSpaceValid = false;
    return;
  }
  const bool keepHead = Offset > at->Offset;
  const bool keepTail = end < rangeEnd;
  if (keepHead && keepTail) {
    at->Size = Offset - at->Offset;
    FSpace.insert(std::next(at), {end, rangeEnd - end, 0});
  } else if (keepHead) {
    at->Size = Offset - at->Offset;
  } else if (keepTail) {
    at->Offset = end;
    at->Size = rangeEnd - end;
  } else {
    FSpace.erase(at);
  }
}

int64_t TSingleStorage::AllocateReference(int64_t Size) {
  std::vector<TExtent> extents;
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i]->FSize > 0)
      extents.push_back({FEntries[i]->FOffset, FEntries[i]->FSize, static_cast<int32_t>(i)});
  if (FDirectoryCapacity > 0) extents.push_back({FDirectoryOffset, FDirectoryCapacity, -1});
  for (size_t i = 0; i < extents.size(); ++i)
    for (size_t j = i + 1; j < extents.size(); ++j)
      if (extents[i].Offset > extents[j].Offset) std::swap(extents[i], extents[j]);
  for (size_t i = 0; i + 1 < extents.size(); ++i)
    if (extents[i + 1].Offset < extents[i].Offset + extents[i].Size) Corrupted();
  // Bytes that the file's last written directory still points at, and bytes being copied,
  // are occupied too: they may overlap the live extents, so occupied space is their union.
  bool merged = false;
  for (const TExtent& e : FCommitted) extents.push_back(e), merged = true;
  for (const TExtent& e : FReserved)
    if (e.Size > 0) extents.push_back(e), merged = true;
  if (merged) {
    std::sort(extents.begin(), extents.end(),
              [](const TExtent& x, const TExtent& y) { return x.Offset < y.Offset; });
    std::vector<TExtent> joined;
    for (const TExtent& e : extents) {
      if (!joined.empty() && e.Offset <= joined.back().Offset + joined.back().Size) {
        joined.back().Size = std::max(joined.back().Size, e.Offset + e.Size - joined.back().Offset);
        continue;
      }
      joined.push_back(e);
    }
    extents.swap(joined);
  }
  for (size_t i = 0; i + 1 < extents.size(); ++i) {
    const int64_t end = extents[i].Offset + extents[i].Size;
    if (extents[i + 1].Offset - end >= Size) {
      FStream->SetPosition(end);
      return end;
    }
  }
  int64_t pos = extents.empty() ? 0 : extents.back().Offset + extents.back().Size;
  if (pos < kHeaderSize) pos = kHeaderSize;
  if (FStream->GetSize() < kHeaderSize) WriteHeaderStart();
  FStream->SetPosition(pos);
  return pos;
}

void TSingleStorage::CopyIntoFile(int64_t Pos, platform::TStream* Source, int64_t Count) {
  if (Count <= 0) return;
  FileProgress(0, Count);
  // A memory stream is written straight from its block.
  // Not the archive's own file in memory, whose block the writes may move.
  if (auto* mem = Source == FStream.get() ? nullptr : dynamic_cast<TCustomMemoryStream64*>(Source);
      mem && mem->DataPosition() >= 0 && mem->DataSize() - mem->DataPosition() >= Count) {
    const auto* p = static_cast<const uint8_t*>(mem->Memory()) + mem->DataPosition();
    for (int64_t done = 0; done < Count;) {
      const auto n = static_cast<int32_t>(std::min(Count - done, kCopyBuffer));
      FStream->SetPosition(Pos + done);
      FStream->WriteBuffer(p + done, n);
      done += n;
      FileProgress(done, Count);
    }
    mem->Seek(Count, platform::soFromCurrent);
    return;
  }
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(std::min(Count, kCopyBuffer))]);
  // The archive's own file as the source: every write moves its position, so each read seeks.
  const bool self = Source == FStream.get();
  const int64_t from = self ? Source->GetPosition() : 0;
  for (int64_t done = 0; done < Count;) {
    const auto n = static_cast<int32_t>(std::min(Count - done, kCopyBuffer));
    if (self) Source->SetPosition(from + done);
    Source->ReadBuffer(buf.get(), n);
    FStream->SetPosition(Pos + done);
    FStream->WriteBuffer(buf.get(), n);
    done += n;
    FileProgress(done, Count);
  }
}

void TSingleStorage::CopyOutOfFile(int64_t Pos, platform::TStream* Dest, int64_t Count) {
  if (Count <= 0) return;
  FileProgress(0, Count);
  // A plain memory stream is grown once and read into directly, as the chunked writes would
  // have grown it; a failed read leaves it as long as those writes would have.
  if (auto* grow = Dest == FStream.get() ? nullptr : dynamic_cast<TMemoryStream64*>(Dest);
      grow && typeid(*grow) == typeid(TMemoryStream64) && grow->DataPosition() >= 0 &&
      grow->DataSize() - grow->DataPosition() < Count && grow->DataPosition() + Count <= 0x7FFFFFFF) {
    const int64_t at = grow->DataPosition();
    const int64_t oldSize = grow->DataSize();
    grow->SetSize(at + Count);
    int64_t done = 0;
    try {
      while (done < Count) {
        const auto n = static_cast<int32_t>(std::min(Count - done, kCopyBuffer));
        FStream->SetPosition(Pos + done);
        FStream->ReadBuffer(static_cast<uint8_t*>(grow->Memory()) + at + done, n);
        done += n;
        FileProgress(done, Count);
      }
    } catch (...) {
      grow->SetSize(std::max(oldSize, at + done));
      grow->SetPosition(at + done);
      throw;
    }
    grow->SetPosition(at + Count);
    return;
  }
  // A memory stream that already has room is read into directly.
  if (auto* mem = Dest == FStream.get() ? nullptr : dynamic_cast<TCustomMemoryStream64*>(Dest);
      mem && mem->DataPosition() >= 0 && mem->DataSize() - mem->DataPosition() >= Count) {
    auto* p = static_cast<uint8_t*>(mem->Memory()) + mem->DataPosition();
    for (int64_t done = 0; done < Count;) {
      const auto n = static_cast<int32_t>(std::min(Count - done, kCopyBuffer));
      FStream->SetPosition(Pos + done);
      FStream->ReadBuffer(p + done, n);
      done += n;
      FileProgress(done, Count);
    }
    mem->Seek(Count, platform::soFromCurrent);
    return;
  }
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(std::min(Count, kCopyBuffer))]);
  // The archive's own file as the destination: every read moves its position, so each write seeks.
  const bool self = Dest == FStream.get();
  const int64_t to = self ? Dest->GetPosition() : 0;
  for (int64_t done = 0; done < Count;) {
    const auto n = static_cast<int32_t>(std::min(Count - done, kCopyBuffer));
    FStream->SetPosition(Pos + done);
    FStream->ReadBuffer(buf.get(), n);
    if (self) Dest->SetPosition(to + done);
    Dest->WriteBuffer(buf.get(), n);
    done += n;
    FileProgress(done, Count);
  }
}

void TSingleStorage::FileProgress(int64_t Done, int64_t Total) {
  if (FOperation == opIdle) return;
  float percent;
  if (FOperation == opCompact)
    percent = FProgressTotal > 0 ? static_cast<float>((FProgressDone + Done) * 100.0 / FProgressTotal) : 100.0f;
  else
    percent = Total > 0 ? static_cast<float>(Done * 100.0 / Total) : 100.0f;
  DoProgress(FOperation, FOperationName, percent);
}

void TSingleStorage::DoProgress(int32_t Kind, const std::string& Name, float Percent) {
  if (!OnProgress) return;
  TEventScope event(FInEvent);
  OnProgress(this, Kind, Name, Percent);
}

void TSingleStorage::CheckIdle() const {
  // An event runs in the middle of an operation that holds caches, entries and the file
  // position: a change made from it would pull them from under that operation.
  if (FInEvent > 0) throw platform::Exception("Archive is busy");
}

void TSingleStorage::Changed() {
  if (FTransaction || FUpdating) {
    FDirty = FDirty || FTransaction;
    FDirImageValid = false;
    FDirAppend = false;
    ++FUnwritten;
    return;
  }
  WriteDirectory();
}

void TSingleStorage::DoChange() {
  if (!OnChange) return;
  TEventScope event(FInEvent);
  OnChange(this);
}

bool TSingleStorage::MayReplace(const std::string& Name) {
  if (IndexOf(Name) < 0) return true;
  bool replace = false;
  switch (FOverwriteMode) {
    case 0:
      replace = true;
      break;
    case 1:
      replace = AskOverwrite && AskOverwrite("Warning: stream \"" + Name + "\" is about to be overwritten.\rProceed?");
      break;
    case 2:
      if (OnOverwrite) OnOverwrite(this, Name, replace);
      break;
    default:  // 3, and any unknown mode, keeps the old stream
      throw platform::Exception("Cannot overwrite stream \"" + Name + "\"");
  }
  return replace;
}

int32_t TSingleStorage::AddStream(std::unique_ptr<TStoreStream> Entry) {
  CheckIdle();
  if (!Entry) return -1;
  if (Entry->FName.empty()) throw platform::Exception("Stream Add Error: stream must have a name");
  CheckStorableName(Entry->FName);
  CheckWritable();
  const std::string name = Entry->FName;
  if (!MayReplace(name)) return -1;
  // The question may have run code that changed the list.
  const int32_t old = IndexOf(name);
  if (old >= 0) {
    TStoreStream* gone = FEntries[static_cast<size_t>(old)].get();
    NameRemoved(gone);
    SpaceRemove(gone->FOffset, gone->FSize);
    Detach(old);
  }
  Entry->FOwner = this;
  Entry->FHandedOut = true;  // the caller made it
  Entry->FCounted = 0;
  Entry->Recount();
  // An entry may come with an extent of its own.
  if (Entry->FSize > 0) SpaceChanged();
  NameAdded(Entry.get());
  FEntries.push_back(std::move(Entry));
  const auto index = static_cast<int32_t>(FEntries.size() - 1);
  FDirAppend = old < 0;
  Changed();
  TrimCache();
  return index;
}

int32_t TSingleStorage::WriteStream(platform::TStream* Source, const std::string& Name) {
  CheckIdle();
  if (Name.empty()) throw platform::Exception("Stream Add Error: stream must have a name");
  CheckStorableName(Name);
  CheckWritable();
  if (!MayReplace(Name)) return -1;
  auto entry = std::make_unique<TStoreStream>(Name);
  entry->FOwner = this;
  // The first stream of a file finds the directory area already placed at the front.
  if (FStream && !FTransaction && FDirectoryCapacity == 0) WriteDirectory();
  {
    // The new bytes go to free space while the old stream still holds its extent; only
    // when they are all written does the new entry take the old one's place.
    TOperationScope op(FOperation, FOperationName, opWriteStream, Name);
    TFlagScope updating(FUpdating);
    const bool imageValid = FDirImageValid;
    const uint64_t unwritten = FUnwritten;
    entry->LoadFromStream(Source);
    // The new entry's own change is written below; any other one spoils the image.
    if (imageValid && FUnwritten == unwritten + 1) FDirImageValid = true;
  }
  const int32_t old = IndexOf(Name);
  if (old >= 0) {
    TStoreStream* gone = FEntries[static_cast<size_t>(old)].get();
    NameRemoved(gone);
    SpaceRemove(gone->FOffset, gone->FSize);
    Detach(old);
  }
  NameAdded(entry.get());
  FEntries.push_back(std::move(entry));
  const auto index = static_cast<int32_t>(FEntries.size() - 1);
  FDirAppend = old < 0;
  Changed();
  TrimCache();
  return index;
}

void TSingleStorage::ReadStream(const std::string& Name, platform::TStream* Dest) {
  CheckIdle();
  TStoreStream* entry = Lookup(Name);
  if (!entry) return;
  const int64_t pos = Dest->GetPosition();
  entry->SaveToStream(Dest);
  Dest->SetPosition(pos);
}

void TSingleStorage::DeleteStream(const std::string& Name) {
  CheckIdle();
  const int32_t index = IndexOf(Name);
  if (index < 0) return;
  CheckWritable();
  TStoreStream* gone = FEntries[static_cast<size_t>(index)].get();
  NameRemoved(gone);
  SpaceRemove(gone->FOffset, gone->FSize);
  Detach(index);
  Changed();
}

void TSingleStorage::RenameStream(const std::string& OldName, const std::string& NewName) {
  CheckIdle();
  const int32_t index = IndexOf(OldName);
  if (index < 0 || OldName == NewName) return;
  CheckStorableName(NewName);
  // Two entries of one name would hide one of them for good.
  if (IndexOf(NewName) >= 0) throw platform::Exception("Cannot overwrite stream \"" + NewName + "\"");
  CheckWritable();
  FEntries[static_cast<size_t>(index)]->FName = NewName;
  NamesChanged();
  Changed();
  DoChange();
}

void TSingleStorage::Abort() { FAbort = true; }

void TSingleStorage::Clear() {
  CheckIdle();
  DetachAll();
}

void TSingleStorage::Assign(TSingleStorage* Other) {
  CheckIdle();
  if (!Other || Other == this) return;
  CheckWritable();
  // The file is rewritten from its start, which no transaction could undo.
  if (FTransaction) CommitTransaction();
  Clear();
  if (FStream) {
    SpaceChanged();
    FStream->SetSize(0);
    FDirectoryOffset = 0;
    FDirectoryCapacity = 0;
  }
  {
    TFlagScope updating(FUpdating);
    for (const auto& source : Other->FEntries) {
      auto entry = std::make_unique<TStoreStream>(source->FName);
      entry->FOwner = this;
      TStoreStream* added = entry.get();
      NameAdded(added);
      FEntries.push_back(std::move(entry));
      added->LoadFromStream64(source.get());
    }
  }
  WriteDirectory();
}

void TSingleStorage::SaveToStream(std::unique_ptr<TStream64> Stream) {
  CheckIdle();
  if (!Stream) return;
  // Whatever the stream held is replaced, so it need not be an archive already.
  Stream->SetSize(0);
  TSingleStorage copy;
  copy.SetStream(std::move(Stream));
  copy.Assign(this);
}

void TSingleStorage::Compact() {
  CheckIdle();
  if (!FStream) return;
  CheckWritable();
  // Moving extents that the file's directory still points at would break it.
  if (FTransaction) CommitTransaction();
  const std::vector<TExtent> extents = SortedExtents();
  // Moving overlapping extents would scramble them; refuse before anything moves.
  for (size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].Offset < kHeaderSize) Corrupted();
    if (i + 1 < extents.size() && extents[i + 1].Offset < extents[i].Offset + extents[i].Size) Corrupted();
  }
  FDirImageValid = false;
  TOperationScope op(FOperation, FOperationName, opCompact, std::string());
  // Everything that ends up below the new end of file, so the percentage ends at 100.
  FProgressTotal = kHeaderSize;
  for (const TExtent& extent : extents) FProgressTotal += extent.Size;
  FAbort = false;
  int64_t pos = kHeaderSize;
  bool aborted = false;
  // Where each entry's offset field lies in the directory: once the whole directory has been
  // written, a moved stream changes only its own 8 bytes there.
  std::vector<int64_t> field;
  field.reserve(FEntries.size());
  for (int64_t at = 4; const auto& e : FEntries) {
    field.push_back(at);
    at += kEntryFixedSize + static_cast<int64_t>(e->StoredName().size());
  }
  bool written = false;
  for (const TExtent& extent : extents) {
    if (FAbort) {
      aborted = true;
      break;
    }
    FProgressDone = pos;
    if (extent.Offset > pos) {
      std::string dir;
      if (extent.Index >= 0) {
        TStoreStream* entry = FEntries[static_cast<size_t>(extent.Index)].get();
        FOperationName = entry->FName;
        FStream->MoveData(extent.Offset, pos, extent.Size);
        entry->FOffset = pos;
      } else {
        FOperationName = "Index";
        FDirectoryOffset = pos;
      }
      // The directory is brought up to date after every move, so an abort leaves a sound
      // archive.
      if (written && extent.Index >= 0 && !SlowReference) {
        PutLE(dir, static_cast<uint64_t>(pos), 8);
        FStream->SetPosition(FDirectoryOffset + field[static_cast<size_t>(extent.Index)]);
      } else {
        PutLE(dir, static_cast<uint32_t>(FEntries.size()), 4);
        for (const auto& e : FEntries) e->WriteEntry(dir);
        FStream->SetPosition(FDirectoryOffset);
        written = true;
      }
      FStream->WriteBuffer(dir.data(), static_cast<int32_t>(dir.size()));
      if (extent.Index < 0) {
        std::string head;
        PutLE(head, static_cast<uint64_t>(pos), 8);
        FStream->SetPosition(6);
        FStream->WriteBuffer(head.data(), 8);
      }
    }
    pos += extent.Size;
  }
  SpaceChanged();
  if (!aborted && FStream->GetSize() > pos) FStream->SetSize(pos);
  DoChange();
}

void TSingleStorage::Flush() {
  CheckIdle();
  if (!FStream) return;
  bool any = false;
  bool written = false;
  try {
    TFlagScope updating(FUpdating);
    for (const auto& entry : FEntries) {
      if (!entry->FCache) continue;
      any = true;
      const bool modified = entry->FModified;
      entry->FlushWithProgress();
      written = written || modified;
    }
  } catch (...) {
    // Streams flushed so far sit in new extents; point the directory at them.
    if (written) {
      try {
        WriteDirectory();
      } catch (...) {
      }
    }
    throw;
  }
  if (written) Changed();
  if (any) DoChange();
}

// Transactions -----------------------------------------------------------------------------

TSingleStorage::TReservation::TReservation(TSingleStorage* Owner, int64_t Offset, int64_t Size) : FOwner(Owner) {
  FOwner->FReserved.push_back({Offset, Size, -2});
}

TSingleStorage::TReservation::~TReservation() { FOwner->FReserved.pop_back(); }

void TSingleStorage::BeginTransaction() {
  CheckIdle();
  if (FTransaction || !FStream) return;
  CheckWritable();
  // What was written before the transaction is part of the state a rollback returns to, and
  // a rollback reads that state from the file's directory: changes still in caches go there
  // first.
  Flush();
  // A file without a directory yet gets one, or a rollback would find stream bytes where
  // the header's directory offset should be.
  if (FDirectoryCapacity == 0) WriteDirectory();
  // Everything the file's directory points at now stays untouched until the commit.
  FCommitted = SortedExtents();
  FBegun.clear();
  for (const auto& e : FEntries) FBegun.emplace_back(e.get(), e->FName);
  FTransaction = true;
  SpaceChanged();
  FDirty = false;
}

void TSingleStorage::CommitTransaction() {
  CheckIdle();
  if (!FTransaction) return;
  try {
    Flush();
    if (FDirty) {
      std::string dir;
      dir.reserve(static_cast<size_t>(DirectorySize()));
      PutLE(dir, static_cast<uint32_t>(FEntries.size()), 4);
      for (const auto& e : FEntries) e->WriteEntry(dir);
      const int64_t bytes = static_cast<int64_t>(dir.size());
      const int64_t needed = DirectoryCapacityFor(bytes);
      // The new directory goes to free space; the old one stays valid until the header moves.
      FDirectoryOffset = 0;
      FDirectoryCapacity = 0;
      SpaceChanged();
      const int64_t pos = Allocate(needed);
      FStream->WriteBuffer(dir.data(), static_cast<int32_t>(bytes));
      PadTo(pos + needed);
      // New bytes reach the disk before the switch, and the switch is one 8-byte write.
      FStream->Sync();
      std::string head;
      PutLE(head, static_cast<uint64_t>(pos), 8);
      FStream->SetPosition(6);
      FStream->WriteBuffer(head.data(), 8);
      FStream->Sync();
      FDirectoryOffset = pos;
      FDirectoryCapacity = needed;
    }
  } catch (...) {
    RollbackTransaction();
    throw;
  }
  FTransaction = false;
  FDirty = false;
  FCommitted.clear();
  FBegun.clear();
  SpaceChanged();
  FDirImageValid = false;
  DoChange();
}

void TSingleStorage::RollbackTransaction() {
  CheckIdle();
  if (!FTransaction) return;
  FTransaction = false;
  FDirty = false;
  FCommitted.clear();
  SpaceChanged();
  // The stream objects of the archive as it began are the ones it gets back, also one that
  // was deleted, replaced or renamed meanwhile: under their old names the directory finds
  // them again. Streams added since leave.
  std::vector<std::unique_ptr<TStoreStream>> begun;
  for (const auto& was : FBegun) {
    TStoreStream* const object = was.first;
    auto take = [&](std::vector<std::unique_ptr<TStoreStream>>& From) {
      const auto at = std::find_if(From.begin(), From.end(), [&](const auto& e) { return e.get() == object; });
      if (at == From.end()) return false;
      begun.push_back(std::move(*at));
      From.erase(at);
      return true;
    };
    if (!take(FEntries) && !take(FDetached)) continue;
    object->FName = was.second;
    object->FOwner = this;
    object->FDetached = false;
  }
  FBegun.clear();
  DetachAll();
  FEntries = std::move(begun);
  NamesChanged();
  // The file's directory still describes the archive as it was before the transaction.
  try {
    ReadDirectory();
  } catch (...) {
    DetachAll();
  }
}

void TSingleStorage::PadTo(int64_t End) {
  int64_t fileSize = FStream->GetSize();
  if (fileSize >= End) return;
  static const uint8_t zeros[4096] = {};
  FStream->SetPosition(fileSize);
  while (fileSize < End) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(End - fileSize, sizeof zeros));
    FStream->WriteBuffer(zeros, n);
    fileSize += n;
  }
}

void TSingleStorage::ReplaceFile(const std::string& Target) {
  CheckIdle();
  if (!FStream || FFileName.empty()) throw platform::Exception("Archive must exist");
  CheckWritable();
  if (FTransaction) CommitTransaction();
  Flush();
  FStream->Sync();
  ReplaceFileDurably(FFileName, Target);
  FFileName = Target;
}

void TSingleStorage::CompactByCopy() {
  CheckIdle();
  if (!FStream) return;
  if (FFileName.empty()) {
    Compact();
    return;
  }
  CheckWritable();
  if (FTransaction) CommitTransaction();
  Flush();
  std::vector<TExtent> extents = SortedExtents();
  for (size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].Offset < kHeaderSize) Corrupted();
    if (i + 1 < extents.size() && extents[i + 1].Offset < extents[i].Offset + extents[i].Size) Corrupted();
  }
  // The same layout as Compact gives: extents in offset order, moved down from 14.
  std::vector<int64_t> offsets(FEntries.size(), 0);
  int64_t pos = kHeaderSize;
  int64_t dirPos = -1;
  for (const TExtent& e : extents) {
    if (e.Index >= 0)
      offsets[static_cast<size_t>(e.Index)] = pos;
    else
      dirPos = pos;
    pos += e.Size;
  }
  std::string dir;
  PutLE(dir, static_cast<uint32_t>(FEntries.size()), 4);
  const int64_t dirCapacity = dirPos >= 0 ? FDirectoryCapacity : DirectoryCapacityFor(DirectorySize());
  if (dirPos < 0) {
    dirPos = pos;
    pos += dirCapacity;
  }
  for (size_t i = 0; i < FEntries.size(); ++i) {
    TStoreStream moved(FEntries[i]->FName);
    moved.FOffset = FEntries[i]->FSize > 0 ? offsets[i] : 0;
    moved.FSize = FEntries[i]->FSize;
    moved.WriteEntry(dir);
  }
  TOperationScope op(FOperation, FOperationName, opCompact, std::string());
  FProgressTotal = pos;
  FAbort = false;
  const std::string temp = TempFileBeside(FFileName);
  std::unique_ptr<TFileStream64> out;
  try {
    out = std::make_unique<TFileStream64>(temp, platform::fmCreate);
    CopyFileMode(FFileName, temp);
    std::string head = "STOR";
    head += static_cast<char>(FMajorVersion);
    head += static_cast<char>(FMinorVersion);
    PutLE(head, static_cast<uint64_t>(dirPos), 8);
    out->WriteBuffer(head.data(), static_cast<int32_t>(head.size()));
    std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(kCopyBuffer)]);
    for (const TExtent& e : extents) {
      if (FAbort) break;
      if (e.Index < 0) continue;
      const TStoreStream* entry = FEntries[static_cast<size_t>(e.Index)].get();
      FOperationName = entry->FName;
      const int64_t to = offsets[static_cast<size_t>(e.Index)];
      FProgressDone = to;
      for (int64_t done = 0; done < e.Size;) {
        const auto n = static_cast<int32_t>(std::min(e.Size - done, kCopyBuffer));
        FStream->SetPosition(e.Offset + done);
        FStream->ReadBuffer(buf.get(), n);
        out->SetPosition(to + done);
        out->WriteBuffer(buf.get(), n);
        done += n;
        FileProgress(done, e.Size);
      }
    }
    if (FAbort) {
      out.reset();
      platform::DeleteFile(temp);
      return;
    }
    out->SetPosition(dirPos);
    out->WriteBuffer(dir.data(), static_cast<int32_t>(dir.size()));
    // The directory area is whole, and nothing follows the last extent.
    static const uint8_t zeros[4096] = {};
    for (int64_t at = dirPos + static_cast<int64_t>(dir.size()); at < dirPos + dirCapacity;) {
      const auto n = static_cast<int32_t>(std::min<int64_t>(dirPos + dirCapacity - at, sizeof zeros));
      out->WriteBuffer(zeros, n);
      at += n;
    }
    out->Sync();
    ReplaceFileDurably(temp, FFileName);
  } catch (...) {
    out.reset();
    platform::DeleteFile(temp);
    throw;
  }
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i]->FSize > 0) FEntries[i]->FOffset = offsets[i];
  SpaceChanged();
  FDirImageValid = false;
  FDirectoryOffset = dirPos;
  FDirectoryCapacity = dirCapacity;
  out->OnProgress = [this](platform::TObject*, int64_t Done, int64_t Total) { FileProgress(Done, Total); };
  FStream = std::move(out);
  DoChange();
}

void TSingleStorage::TrimCache() {
  CheckIdle();
  int64_t total = FCacheBytes;
  if (SlowReference) {
    total = 0;
    for (const auto& e : FEntries) total += e->CacheSize();
  }
  while (total > FCacheLimit) {
    TStoreStream* oldest = nullptr;
    int holders = 0;
    for (const auto& e : FEntries) {
      if (e->CacheSize() <= 0) continue;
      ++holders;
      if (!oldest || e->FAccess < oldest->FAccess) oldest = e.get();
    }
    if (holders < 2) break;
    total -= oldest->CacheSize();
    oldest->Flush();
  }
}

int64_t TSingleStorage::TotalSize() const {
  int64_t total = 0;
  for (const auto& e : FEntries) total += e->FCache ? e->FCache->DataSize() : e->FSize;
  return total;
}

int64_t TSingleStorage::FreeSpace() const {
  const int64_t fileSize = FStream ? FStream->GetSize() : 0;
  int64_t stored = 0;
  for (const auto& e : FEntries) stored += e->FSize;
  return fileSize - stored - FDirectoryCapacity - (fileSize >= kHeaderSize ? kHeaderSize : 0);
}

}  // namespace document
