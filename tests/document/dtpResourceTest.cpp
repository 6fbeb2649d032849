#include "document/dtpResource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/common/TestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpBitmapShape.h"
#include "document/dtpShape.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterPNG.h"

using namespace document;

namespace {

std::vector<uint8_t> Pattern(size_t N) {
  std::vector<uint8_t> v(N);
  for (size_t i = 0; i < N; ++i) v[i] = uint8_t(i * 7 + i / 251);
  return v;
}

std::vector<uint8_t> ReadAll(TMapStream* S) {
  std::vector<uint8_t> v(size_t(S->Size()));
  S->SetPosition(0);
  if (!v.empty()) S->ReadBuffer(v.data(), int32_t(v.size()));
  return v;
}

std::string ExpectThrow(const std::function<void()>& F) {
  try {
    F();
  } catch (const platform::Exception& e) {
    return e.Message;
  }
  return "<no exception>";
}

}  // namespace

TEST(MapStreamTest, SegmentsGrowAndShrink) {
  TMapStream s;
  const auto data = Pattern(40000);
  EXPECT_EQ(s.Write(data.data(), 40000), 40000);
  EXPECT_EQ(s.SegmentCount(), 3);
  EXPECT_EQ(s.Size(), 40000);
  EXPECT_EQ(ReadAll(&s), data);
  // Reads crossing a segment border.
  uint8_t buf[10];
  s.SetPosition(16380);
  EXPECT_EQ(s.Read(buf, 10), 10);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 10), std::vector<uint8_t>(data.begin() + 16380, data.begin() + 16390));
  s.SetSize(10);
  EXPECT_EQ(s.SegmentCount(), 1);
  EXPECT_EQ(s.Position(), 10);
  // Reads stop at the size; growing again shows zeros, not the old bytes.
  EXPECT_EQ(s.Read(buf, 10), 0);
  s.SetSize(20);
  s.SetPosition(10);
  EXPECT_EQ(s.Read(buf, 10), 10);
  for (uint8_t b : buf) EXPECT_EQ(b, 0);
  EXPECT_EQ(s.Seek(-5, platform::soFromEnd), 15);
  EXPECT_EQ(s.Seek(-100, platform::soFromCurrent), 0);
  EXPECT_EQ(s.Write(buf, 0), 0);
  // A far seek allocates nothing until written.
  s.SetPosition(1 << 30);
  EXPECT_EQ(s.SegmentCount(), 1);
  s.SetSize(0);
  EXPECT_EQ(s.SegmentCount(), 0);
}

TEST(ResourceTest, LockStatesAndErrors) {
  TdtpResource r;
  int loads = 0;
  r.OnLoadObject = [&](TdtpResource* R) {
    ++loads;
    EXPECT_EQ(R->Data()->Position(), 0);
    R->SetObject(std::make_unique<platform::TObject>());
  };
  EXPECT_TRUE(r.IsEmpty());
  const std::string file = kdtest::TempDir() + "/lock.bin";
  kdtest::WriteFileBytes(file, {1, 2, 3});
  r.SetState(1);  // embedded without an XML node: nothing to load
  EXPECT_EQ(r.State(), 0);
  r.LoadFromFile(file);
  EXPECT_EQ(r.State(), 1);
  r.Lock();
  EXPECT_EQ(r.State(), 2);
  r.Lock();
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(ExpectThrow([&] { r.FreeData(); }), "Cannot delete object while it is locked.");
  EXPECT_EQ(ExpectThrow([&] { r.LoadObject(); }), "Cannot load object that is locked");
  r.ReleaseObject();  // locked: keeps its object
  EXPECT_NE(r.Object(), nullptr);
  r.Unlock();
  r.Unlock();
  EXPECT_EQ(ExpectThrow([&] { r.Unlock(); }), "dtpResource UnlockObject called too many times");
  EXPECT_NE(r.Stamp(), 0u);
  r.ReleaseObject();
  EXPECT_EQ(r.State(), 1);
  EXPECT_EQ(r.Object(), nullptr);
  EXPECT_EQ(ExpectThrow([&] { r.SaveToFile("x"); }), "Resource save error:\rNo OnSaveToFile implemented.");
}

TEST(ResourceTest, OwnerListsTheResource) {
  InitializeDtpShape();
  auto s = NewShape<TdtpShape>();
  TdtpResource r(s.get());
  EXPECT_EQ(s->IndexOfResource(&r), 0);
  EXPECT_EQ(r.Owner(), s.get());
}

TEST(ResourceTest, EmbeddedRoundTripAndFilters) {
  const auto bytes = Pattern(1000);
  const std::string file = kdtest::TempDir() + "/embed.png";
  kdtest::WriteFileBytes(file, bytes);
  TXmlDocument xml("Image");
  xml.SetBinaryEncoding(xbeHex);
  TdtpResource src;
  src.LoadFromFile(file);
  src.Ext = ".png";
  src.SaveToXml(xml.Root());
  EXPECT_EQ(xml.BinaryEncoding(), xbeBase64);
  const TXmlNode* data = xml.Root()->NodeByName("Data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->ReadInteger("Size"), 1000);
  EXPECT_EQ(data->ReadString("Filter"), "Base64");
  EXPECT_EQ(xml.Root()->ReadString("ClassName"), "TdtpResource");
  EXPECT_EQ(xml.Root()->ReadString("Storage"), "Embedded");
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  TdtpResource r2;
  r2.LoadFromXml(back.Root());
  EXPECT_EQ(r2.State(), 1);
  EXPECT_EQ(r2.Ext, ".png");
  EXPECT_EQ(ReadAll(r2.Data()), bytes);
  // Assign goes through XML.
  TdtpResource r3;
  src.Lock();
  r3.Assign(&src);
  src.Unlock();
  EXPECT_EQ(ReadAll(r3.Data()), bytes);

  // BinHex and any other filter.
  TXmlDocument hex("Image");
  TXmlNode* d = hex.Root()->NodeNew("Data");
  d->WriteInteger("Size", 3);
  d->WriteString("Filter", "BinHex");
  d->NodeNew("Buffer")->SetValue("0A0B0C");
  TdtpResource h;
  h.LoadFromXml(hex.Root());
  EXPECT_EQ(ReadAll(h.Data()), (std::vector<uint8_t>{10, 11, 12}));
  EXPECT_EQ(hex.BinaryEncoding(), xbeBase64);  // restored
  d->WriteString("Filter", "Base64");
  d->NodeByName("Buffer")->SetValue("AQID");
  TdtpResource b;
  b.LoadFromXml(hex.Root());
  EXPECT_EQ(ReadAll(b.Data()), (std::vector<uint8_t>{1, 2, 3}));
  // A size larger than the text reads only what is there.
  d->WriteInteger("Size", 1000000000);
  TdtpResource big;
  big.LoadFromXml(hex.Root());
  EXPECT_EQ(ReadAll(big.Data()), (std::vector<uint8_t>{1, 2, 3}));
  // Characters outside the alphabet are a read error, not a crash.
  d->WriteInteger("Size", 3);
  d->NodeByName("Buffer")->SetValue("A*ID");
  TdtpResource junk;
  EXPECT_NE(ExpectThrow([&] { junk.LoadFromXml(hex.Root()); }), "<no exception>");
  EXPECT_EQ(hex.BinaryEncoding(), xbeBase64);
  d->NodeByName("Buffer")->SetValue("AQID");
  d->WriteInteger("Size", -5);
  TdtpResource neg;
  neg.LoadFromXml(hex.Root());
  EXPECT_TRUE(neg.IsEmpty());
}

TEST(ResourceTest, ArchiveStorageIsWrittenEmbedded) {
  TXmlDocument xml("Image");
  xml.Root()->WriteString("Storage", "Archive");
  xml.Root()->WriteString("ArchName", "img1");
  TdtpResource r;
  r.LoadFromXml(xml.Root());
  EXPECT_EQ(r.Storage, TdtpResourceStorage::Archive);
  EXPECT_TRUE(r.IsEmpty());
  const std::string file = kdtest::TempDir() + "/arch.bin";
  kdtest::WriteFileBytes(file, {9, 8});
  r.LoadFromFile(file);
  TXmlDocument out("Image");
  r.SaveToXml(out.Root());
  // The archive cannot hold the bytes, so they are embedded and the file says so.
  EXPECT_EQ(out.Root()->ReadString("Storage"), "Embedded");
  EXPECT_EQ(r.Storage, TdtpResourceStorage::Embedded);
  EXPECT_NE(out.Root()->NodeByName("Data"), nullptr);
  TdtpResource back;
  back.LoadFromXml(out.Root());
  EXPECT_EQ(back.Storage, TdtpResourceStorage::Embedded);
  EXPECT_EQ(ReadAll(back.Data()), (std::vector<uint8_t>{9, 8}));
  // A resource that holds no bytes stays "Archive": nothing was stored elsewhere.
  TdtpResource empty;
  empty.LoadFromXml(xml.Root());
  TXmlDocument out2("Image");
  empty.SaveToXml(out2.Root());
  EXPECT_EQ(out2.Root()->ReadString("Storage"), "Archive");
  EXPECT_EQ(out2.Root()->NodeByName("Data"), nullptr);
  // An unknown storage name keeps the current value.
  xml.Root()->WriteString("Storage", "Cloud");
  r.LoadFromXml(xml.Root());
  EXPECT_EQ(r.Storage, TdtpResourceStorage::Embedded);
}

TEST(ResourceTest, ArchiveHeldBytesSurviveSaveReloadAndCopy) {
  const std::string file = kdtest::TempDir() + "/seven.bin";
  const std::vector<uint8_t> seven{1, 2, 3, 4, 5, 6, 7};
  kdtest::WriteFileBytes(file, seven);
  // Resources of every storage kind holding bytes: copies and reloads keep them all.
  for (auto kind : {TdtpResourceStorage::Archive, TdtpResourceStorage::Embedded}) {
    TdtpResource r;
    r.Storage = kind;
    r.LoadFromFile(file);
    ASSERT_EQ(ReadAll(r.Data()), seven);
    TdtpResource copy;
    copy.Assign(&r);
    EXPECT_EQ(ReadAll(copy.Data()), seven) << ResourceStorageName(kind);
    TXmlDocument xml("Image");
    copy.SaveToXml(xml.Root());
    platform::TMemoryStream text;
    xml.SaveToStream(&text);
    text.SetPosition(0);
    TXmlDocument reread;
    reread.LoadFromStream(&text);
    TdtpResource back;
    back.LoadFromXml(reread.Root());
    EXPECT_EQ(ReadAll(back.Data()), seven) << ResourceStorageName(kind);
    EXPECT_EQ(back.Storage, TdtpResourceStorage::Embedded);
  }
}

TEST(ResourceTest, ExternalFiles) {
  const std::string dir = kdtest::TempDir();
  const std::string file = dir + "/res.bin";
  const auto bytes = Pattern(20000);
  kdtest::WriteFileBytes(file, bytes);
  TdtpResource r;
  int changes = 0;
  r.OnChange = [&](TdtpResource*) { ++changes; };
  r.Storage = TdtpResourceStorage::External;
  r.LoadFromFile(file);
  EXPECT_EQ(r.State(), 1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(ReadAll(r.Data()), bytes);
  // Unmodified and present: only the names are written.
  int saves = 0;
  r.OnSaveToFile = [&](TdtpResource*, const std::string&) { ++saves; };
  TXmlDocument xml("Image");
  r.SaveToXml(xml.Root());
  EXPECT_EQ(saves, 0);
  EXPECT_EQ(xml.Root()->ReadString("Storage"), "External");
  EXPECT_EQ(xml.Root()->NodeByName("Data"), nullptr);
  r.Modified = true;
  r.SaveToXml(xml.Root());
  EXPECT_EQ(saves, 1);
  // Embedded storage keeps only the file's name.
  TdtpResource e;
  e.LoadFromFile(file);
  EXPECT_EQ(e.FileName, "res.bin");
  // An import handler reads the file itself.
  TdtpResource imp;
  imp.OnImport = [](TdtpResource* R, const std::string&) {
    const uint8_t x = 42;
    R->Data()->WriteBuffer(&x, 1);
  };
  imp.LoadFromFile(file);
  EXPECT_EQ(ReadAll(imp.Data()), std::vector<uint8_t>{42});
  const std::string missing = dir + "/missing.bin";
  EXPECT_EQ(ExpectThrow([&] { TdtpResource m; m.LoadFromFile(missing); }),
            "Resource load error.\rFile does not exist: " + missing);
}

TEST(ResourceTest, ClassRegistry) {
  InitializeDtpResource();
  const int32_t n = ResourceClassCount();
  const TResourceClassHolder* h = FindResourceClass("TdtpResource");
  ASSERT_NE(h, nullptr);
  InitializeDtpResource();
  EXPECT_EQ(ResourceClassCount(), n);
  EXPECT_EQ(RegisterResourceClass("TdtpResource", nullptr), h);
  EXPECT_EQ(FindResourceClass("TdtpNothing"), nullptr);
  EXPECT_EQ(h->Construct(nullptr)->ClassName(), "TdtpResource");
}

namespace {

// A decoded object that counts how many are alive.
struct TCountedObject : platform::TObject {
  static inline int Alive = 0;
  TCountedObject() { ++Alive; }
  ~TCountedObject() override { --Alive; }
};

void MakeDecodable(TdtpResource& R) {
  const std::string file = kdtest::TempDir() + "/decodable.bin";
  kdtest::WriteFileBytes(file, Pattern(100));
  R.LoadFromFile(file);
  R.OnLoadObject = [](TdtpResource* Res) { Res->SetObject(std::make_unique<TCountedObject>()); };
}

}  // namespace

TEST(ResourceTest, FreeBuffersAllReleasesDecodedObjects) {
  InitializeDtpShape();
  auto parent = NewShape<TdtpShape>();
  TdtpShape* child = parent->GetShape(parent->AddShape(NewShape<TdtpShape>()));
  TdtpResource own(parent.get()), childRes(child), held(child);
  const int before = TCountedObject::Alive;
  for (TdtpResource* r : {&own, &childRes, &held}) {
    MakeDecodable(*r);
    r->Lock();
    EXPECT_EQ(r->State(), 2);
  }
  own.Unlock();
  childRes.Unlock();
  EXPECT_EQ(TCountedObject::Alive, before + 3);
  // Pages call this on every shape they leave: decoded objects go, the stored bytes stay.
  parent->FreeBuffersAll();
  EXPECT_EQ(own.State(), 1);
  EXPECT_EQ(childRes.State(), 1);
  EXPECT_EQ(own.Object(), nullptr);
  EXPECT_EQ(childRes.Object(), nullptr);
  EXPECT_EQ(own.Data()->Size(), 100);
  // A locked resource never loses its object.
  EXPECT_EQ(held.State(), 2);
  EXPECT_NE(held.Object(), nullptr);
  EXPECT_EQ(TCountedObject::Alive, before + 1);
  held.Unlock();
  // The next lock decodes again.
  own.Lock();
  EXPECT_NE(own.Object(), nullptr);
  own.Unlock();
}

TEST(ResourceTest, DestroyedResourceLeavesItsOwnersList) {
  InitializeDtpShape();
  auto s = NewShape<TdtpShape>();
  auto a = std::make_unique<TdtpResource>(s.get());
  TdtpResource b(s.get());
  MakeDecodable(b);
  EXPECT_EQ(s->Resources().size(), 2u);
  a.reset();
  ASSERT_EQ(s->Resources().size(), 1u);
  EXPECT_EQ(s->IndexOfResource(&b), 0);
  // The owner's walk over its resources must not reach the freed one.
  b.Lock();
  b.Unlock();
  s->FreeBuffersAll();
  EXPECT_EQ(b.State(), 1);
}

TEST(ResourceTest, OwnerDestroyedFirstIsForgotten) {
  InitializeDtpShape();
  auto s = NewShape<TdtpShape>();
  auto r = std::make_unique<TdtpResource>(s.get());
  s.reset();
  EXPECT_EQ(r->Owner(), nullptr);
  r.reset();  // must not reach back into the freed shape
}

TEST(ResourceTest, ClearedShapeStillReleasesItsResources) {
  InitializeDtpShape();
  auto s = NewShape<TdtpShape>();
  auto r = std::make_unique<TdtpResource>(s.get());
  MakeDecodable(*r);
  // Copying a shape clears it first; its resources live on and must still be released.
  s->Clear();
  r->Lock();
  r->Unlock();
  s->FreeBuffersAll();
  EXPECT_EQ(r->Object(), nullptr);
  s.reset();
  EXPECT_EQ(r->Owner(), nullptr);
}

TEST(ResourceTest, CopiedBitmapShapeReleasesItsPicture) {
  InitializeDtpShape();
  InitializeDtpEffectShape();
  InitializeDtpBitmapShape();
  raster::InitializeDtpRasterFormats();
  raster::InitializeDtpRasterPNG();
  // A bitmap shape holding a PNG, copied into another one (which clears it first), then
  // painted and left, as a page does with its shapes.
  raster::TBitmap32 pic;
  pic.SetSize(40, 30);
  const std::string file = kdtest::TempDir() + "/picture.png";
  {
    platform::TFileStream f(file, platform::fmCreate);
    raster::TdtpPngFormat().SaveToStream(&f, &pic);
  }
  auto src = NewShape<TdtpBitmapShape>();
  src->Image()->LoadFromFile(file);
  auto copy = NewShape<TdtpBitmapShape>();
  copy->Assign(src.get());
  ASSERT_EQ(copy->IndexOfResource(copy->Image()), 0);
  copy->Image()->Lock();
  ASSERT_NE(copy->Picture(), nullptr);
  EXPECT_EQ(copy->Picture()->Width(), 40);
  copy->Image()->Unlock();
  copy->FreeBuffersAll();
  EXPECT_EQ(copy->Image()->Object(), nullptr);
  EXPECT_EQ(copy->Image()->State(), 1);
}

namespace {
// The decoded object of the counting resource below: the first byte of the data it came from.
struct TFirstByte : platform::TObject {
  uint8_t Value = 0;
};
}  // namespace

// Bytes read in from the XML replace those the decoded object was built from: the next lock
// builds the object anew from them, and a release drops it. A locked resource keeps both.
TEST(ResourceTest, EmbeddedBytesReplaceTheDecodedObject) {
  auto makeXml = [](TXmlDocument& X, uint8_t First) {
    TXmlNode* d = X.Root()->NodeNew("Data");
    d->WriteInteger("Size", 2);
    d->WriteString("Filter", "BinHex");
    const char hex[] = "0123456789ABCDEF";
    d->NodeNew("Buffer")->SetValue(std::string{hex[First >> 4], hex[First & 15], 'F', 'F'});
  };
  TXmlDocument one("Image"), two("Image");
  makeXml(one, 0x11);
  makeXml(two, 0x22);
  int built = 0;
  TdtpResource r;
  r.OnLoadObject = [&](TdtpResource* R) {
    auto o = std::make_unique<TFirstByte>();
    R->Data()->ReadBuffer(&o->Value, 1);
    R->SetObject(std::move(o));
    ++built;
  };
  auto shown = [&] {
    r.Lock();
    const auto* o = dynamic_cast<TFirstByte*>(r.Object());
    const int v = o ? o->Value : -1;
    r.Unlock();
    return v;
  };
  r.LoadFromXml(one.Root());
  EXPECT_EQ(shown(), 0x11);
  EXPECT_EQ(r.State(), 2);
  r.LoadFromXml(two.Root());
  EXPECT_EQ(r.State(), 1);
  EXPECT_EQ(r.Object(), nullptr);
  EXPECT_EQ(shown(), 0x22);
  EXPECT_EQ(built, 2);
  r.ReleaseObject();
  EXPECT_EQ(r.Object(), nullptr);
  // A copy of another resource shows the other's bytes.
  TdtpResource other;
  other.LoadFromXml(one.Root());
  r.Assign(&other);
  EXPECT_EQ(shown(), 0x11);
  // While locked, nothing is replaced.
  r.Lock();
  EXPECT_EQ(ExpectThrow([&] { r.LoadFromXml(two.Root()); }), "Cannot delete object while it is locked.");
  EXPECT_EQ(dynamic_cast<TFirstByte*>(r.Object())->Value, 0x11);
  EXPECT_EQ(ReadAll(r.Data()), (std::vector<uint8_t>{0x11, 0xFF}));
  r.Unlock();
  // Without "Data" the resource stays as it was, object included.
  TXmlDocument none("Image");
  r.LoadFromXml(none.Root());
  EXPECT_EQ(r.State(), 2);
  EXPECT_EQ(dynamic_cast<TFirstByte*>(r.Object())->Value, 0x11);
}

// An external resource whose file is gone (or that was changed) and that has no way to write
// its file keeps its bytes by embedding them, like an archive-held one: the save succeeds and a
// reload finds the same bytes.
TEST(ResourceTest, ExternalBytesWithoutAFileAreEmbedded) {
  const std::string file = kdtest::TempDir() + "/gone.bin";
  const auto bytes = Pattern(30000);
  kdtest::WriteFileBytes(file, bytes);
  for (int modified = 0; modified < 2; ++modified) {
    SCOPED_TRACE(modified);
    TdtpResource r;
    r.Storage = TdtpResourceStorage::External;
    r.LoadFromFile(file);
    r.Modified = modified == 1;
    if (!modified) std::filesystem::remove(file);
    TXmlDocument xml("Image");
    EXPECT_EQ(ExpectThrow([&] { r.SaveToXml(xml.Root()); }), "<no exception>");
    EXPECT_EQ(xml.Root()->ReadString("Storage"), "Embedded");
    EXPECT_EQ(r.Storage, TdtpResourceStorage::Embedded);
    TXmlDocument back;
    back.ReadFromString(xml.WriteToString());
    TdtpResource loaded;
    loaded.LoadFromXml(back.Root());
    EXPECT_EQ(ReadAll(loaded.Data()), bytes);
    kdtest::WriteFileBytes(file, bytes);
  }
  // A resource that can write its file still does so.
  TdtpResource w;
  w.Storage = TdtpResourceStorage::External;
  w.LoadFromFile(file);
  std::filesystem::remove(file);
  int saves = 0;
  w.OnSaveToFile = [&](TdtpResource*, const std::string& Name) {
    ++saves;
    EXPECT_EQ(Name, w.FileName);
  };
  TXmlDocument xml("Image");
  w.SaveToXml(xml.Root());
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(xml.Root()->ReadString("Storage"), "External");
  EXPECT_EQ(xml.Root()->NodeByName("Data"), nullptr);
  // Asked directly, saving to a file without a handler still says so.
  EXPECT_EQ(ExpectThrow([&] { TdtpResource().SaveToFile(file); }),
            "Resource save error:\rNo OnSaveToFile implemented.");
}
