#include "document/dtpBitmapShape.h"

#include <gtest/gtest.h>

#include <map>

#include "DocumentTestSupport.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpShapeRenderPriv.h"
#include "document/dtpShadowEffects.h"
#include "raster/GifGraphic.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterGIF.h"
#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"
#include "tools/DocumentFixtures.h"

using namespace document;

namespace {

class BitmapShapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    raster::InitializeDtpRasterFormats();
    raster::InitializeDtpRasterPNG();
    raster::InitializeDtpRasterGIF();
    InitializeDtpShape();
    InitializeDtpEffectShape();
    InitializeDtpBitmapShape();
  }
};

// Left half red, right half blue, a green top row.
void MakePicture(TBitmap32& B, int W, int H) {
  B.SetSize(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) B.SetPixel(x, y, y == 0 ? 0xFF00FF00u : x < W / 2 ? 0xFFFF0000u : 0xFF0000FFu);
}

std::string WritePng(const std::string& Name, int W, int H) {
  TBitmap32 b;
  MakePicture(b, W, H);
  const std::string file = kdtest::TempDir() + "/" + Name;
  platform::TFileStream f(file, platform::fmCreate);
  raster::TdtpPngFormat().SaveToStream(&f, &b);
  return file;
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

TEST_F(BitmapShapeTest, ImportSizesTheShapeAndKeepsTheBytes) {
  const std::string file = WritePng("pic.PNG", 300, 150);
  auto s = NewShape<TdtpBitmapShape>();
  EXPECT_EQ(s->Cursor(), -38);
  EXPECT_EQ(s->IndexOfResource(s->Image()), 0);
  s->SetDocSize(0, 0);
  s->Image()->LoadFromFile(file);
  EXPECT_NEAR(s->DocWidth(), 50.8f, 1e-3f);
  EXPECT_NEAR(s->DocHeight(), 25.4f, 1e-3f);
  EXPECT_EQ(s->Image()->Ext, ".png");
  EXPECT_EQ(s->Image()->LockCount(), 0);
  const auto bytes = kdtest::ReadFileBytes(file);
  std::vector<uint8_t> held(size_t(s->Image()->Data()->Size()));
  s->Image()->Data()->SetPosition(0);
  s->Image()->Data()->ReadBuffer(held.data(), int32_t(held.size()));
  EXPECT_EQ(held, bytes);
  // A shape with a size keeps it.
  auto t = NewShape<TdtpBitmapShape>();
  t->SetDocSize(12, 34);
  t->Image()->LoadFromFile(file);
  EXPECT_EQ(t->DocWidth(), 12);
  EXPECT_EQ(t->DocHeight(), 34);

  // A picture replaced by code on an opened document keeps the size, shows, and is saved in place.
  std::string pictures[2];
  for (int i = 0; i < 2; ++i) {
    TBitmap32 b;
    b.SetSize(60, 40);
    b.Clear(i ? 0xFF00FF00u : 0xFFFF0000u);
    platform::TFileStream out(pictures[i] = kdtest::TempDir() + "/plain" + std::to_string(i) + ".png", platform::fmCreate);
    raster::TdtpPngFormat().SaveToStream(&out, &b);
  }
  const std::string path = kdtest::TempDir() + "/replaced_picture.hsf";
  kdfixture::InitializeFixtures();
  {
    TdtpComponent doc(nullptr);
    auto b = NewShape<TdtpBitmapShape>();
    b->SetDocBounds(10, 10, 30, 20);
    b->Image()->LoadFromFile(pictures[0]);
    doc.CurrentPage()->AddShape(std::move(b));
    doc.SaveToFile(path);
  }
  auto middle = [](TdtpComponent& Doc) {  // the colour in the middle of the shape as the page paints
    TdtpShape* s = Doc.CurrentPage()->GetShape(0);
    TdtpFloatPoint c;
    s->LocalToScreen({s->DocWidth() / 2, s->DocHeight() / 2}, c);
    TBitmap32 target;
    target.SetSize(int32_t(c.X) + 10, int32_t(c.Y) + 10);
    Doc.CurrentPage()->PaintToCanvas(detail::TBitmap32Canvas(&target).Canvas());
    return target.Pixel(int32_t(c.X), int32_t(c.Y)) & 0xFFFFFFu;
  };
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(path);
  auto* b = dynamic_cast<TdtpBitmapShape*>(doc.CurrentPage()->GetShape(0));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(middle(doc), 0xFF0000u);
  b->Image()->LoadFromFile(pictures[1]);
  EXPECT_EQ(b->DocWidth(), 30);
  EXPECT_EQ(b->DocHeight(), 20);
  EXPECT_TRUE(doc.Modified());
  EXPECT_EQ(middle(doc), 0x00FF00u);
  doc.SaveToFile(path);
  TdtpComponent again(nullptr);
  again.LoadFromFile(path);
  EXPECT_EQ(middle(again), 0x00FF00u);
  EXPECT_EQ(again.CurrentPage()->GetShape(0)->DocWidth(), 30);
}

TEST_F(BitmapShapeTest, StoredShapeDecodesOnFirstPaint) {
  // A BMP written by the engine, stored in the XML and read back.
  TBitmap32 b;
  MakePicture(b, 240, 120);
  const std::string file = kdtest::TempDir() + "/pic.bmp";
  {
    platform::TFileStream f(file, platform::fmCreate);
    b.SaveToStream(&f);
  }
  auto s = NewShape<TdtpBitmapShape>();
  s->SetDocSize(0, 0);
  s->Image()->LoadFromFile(file);
  s->Image()->ReleaseObject();
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  EXPECT_EQ(xml.Root()->ReadString("ClassName"), "TdtpBitmapShape");
  ASSERT_NE(xml.Root()->NodeByName("Image"), nullptr);
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());

  kdtest::TTestDocumentHost doc;
  auto r = CreateShape(FindShapeClass("TdtpBitmapShape"));
  auto* bs = dynamic_cast<TdtpBitmapShape*>(r.get());
  ASSERT_NE(bs, nullptr);
  bs->LoadFromXml(back.Root());
  EXPECT_EQ(bs->Image()->State(), 1);  // bytes only
  EXPECT_EQ(bs->Image()->Ext, ".bmp");
  bs->SetDocument(&doc);
  TBitmap32 target;
  target.SetSize(bs->ScreenRight() + 40, bs->ScreenBottom() + 40);
  target.Clear(0);
  bs->PaintShape(&target);
  EXPECT_EQ(bs->Image()->State(), 2);
  EXPECT_EQ(bs->Image()->LockCount(), 0);
  const int cx = (bs->ScreenLeft() + bs->ScreenRight()) / 2;
  const int cy = (bs->ScreenTop() + bs->ScreenBottom()) / 2;
  EXPECT_EQ(target.Pixel(bs->ScreenLeft() + 2, cy), 0xFFFF0000u);
  EXPECT_EQ(target.Pixel(bs->ScreenRight() - 3, cy), 0xFF0000FFu);
  EXPECT_EQ(target.Pixel(cx, bs->ScreenBottom() + 1), 0u);
  // With a drop shadow, for a person to look at.
  TdtpShadowEffect shadow;
  shadow.DeltaX = 3;
  shadow.DeltaY = 2;
  shadow.ApplyAtDpm(&target, doc.Render);
  EXPECT_GT(target.Pixel(bs->ScreenRight() + 5, cy) >> 24, 0u);
  {
    platform::TFileStream out(kdtest::OutputDir() + "/bitmap_shape.png", platform::fmCreate);
    raster::TdtpPngFormat().SaveToStream(&out, &target);
  }
  // Without a document nothing is decoded.
  auto n = NewShape<TdtpBitmapShape>();
  n->LoadFromXml(back.Root());
  n->PaintShape(&target);
  EXPECT_EQ(n->Image()->State(), 1);
}

TEST_F(BitmapShapeTest, MissingImageAndHostileData) {
  kdtest::TTestDocumentHost doc;
  TXmlDocument xml("Shape");
  auto s = NewShape<TdtpBitmapShape>();
  s->SaveToXml(xml.Root());
  xml.Root()->NodeDelete(xml.Root()->NodeIndexByName("Image"));
  auto r = NewShape<TdtpBitmapShape>();
  r->LoadFromXml(xml.Root());
  r->SetDocument(&doc);
  TBitmap32 target;
  target.SetSize(10, 10);
  target.Clear(0);
  r->PaintShape(&target);
  EXPECT_EQ(r->Image()->State(), 0);
  EXPECT_EQ(target.Pixel(5, 5), 0u);

  // Garbage bytes under a known extension, and an unknown extension.
  TXmlDocument bad("Shape");
  TXmlNode* img = bad.Root()->NodeNew("Image");
  img->WriteString("Ext", ".png");
  TXmlNode* d = img->NodeNew("Data");
  d->WriteInteger("Size", 4);
  d->WriteString("Filter", "BinHex");
  d->NodeNew("Buffer")->SetValue("DEADBEEF");
  auto g = NewShape<TdtpBitmapShape>();
  g->LoadFromXml(bad.Root());
  g->SetDocument(&doc);
  EXPECT_NE(ExpectThrow([&] { g->PaintShape(&target); }), "<no exception>");
  EXPECT_EQ(g->Image()->LockCount(), 0);
  img->WriteString("Ext", ".zzz");
  auto u = NewShape<TdtpBitmapShape>();
  u->LoadFromXml(bad.Root());
  u->SetDocument(&doc);
  EXPECT_EQ(ExpectThrow([&] { u->PaintShape(&target); }), "Unknown raster format \".zzz\"");
  const std::string missing = kdtest::TempDir() + "/nothing.png";
  EXPECT_EQ(ExpectThrow([&] { NewShape<TdtpBitmapShape>()->Image()->LoadFromFile(missing); }),
            "Resource load error.\rFile does not exist: " + missing);
}

namespace {

// A clock that moves only when told: any GIF player left running would be due on it.
struct FakeGifClock : raster::TGIFClock {
  int64_t now = 1000;
  std::map<raster::TGIFPainter*, int64_t> due;
  int64_t Now() override { return now; }
  void Sleep(int32_t ms) override { now += ms; }
  void Schedule(raster::TGIFPainter* p, int32_t ms) override { due[p] = now + ms; }
  void Cancel(raster::TGIFPainter* p) override { due.erase(p); }
  FakeGifClock() { raster::SetGIFClock(this); }
  ~FakeGifClock() override { raster::SetGIFClock(nullptr); }
};

}  // namespace

// The shape holds a decoded bitmap: an animated GIF shows its first frame, opaque, and stays
// still; decoding leaves no player behind.
TEST_F(BitmapShapeTest, AnimatedGifPaintsItsFirstFrameStill) {
  FakeGifClock clock;
  raster::TGifGraphic gif;
  gif.Header.ScreenWidth = 40;
  gif.Header.ScreenHeight = 20;
  gif.GlobalColorMap().Add(platform::RGB(255, 0, 0));
  gif.GlobalColorMap().Add(platform::RGB(0, 0, 255));
  for (uint8_t index : {0, 1}) {
    raster::TGIFSubImage* f = gif.Add();
    f->SetBounds(0, 0, 40, 20);
    std::fill(f->Data.begin(), f->Data.end(), index);
    auto g = std::make_unique<raster::TGIFGraphicControlExtension>(f);
    g->SetDelay(5);
    f->AddExtension(std::move(g));
  }
  gif.Images(0)->AddExtension(std::make_unique<raster::TGIFAppExtNSLoop>(gif.Images(0)));
  const std::string file = kdtest::TempDir() + "/anim.gif";
  gif.SaveToFile(file);

  kdtest::TTestDocumentHost doc;
  auto s = NewShape<TdtpBitmapShape>();
  s->SetDocSize(0, 0);
  s->Image()->LoadFromFile(file);
  EXPECT_EQ(s->Image()->Ext, ".gif");
  s->SetDocument(&doc);
  TBitmap32 target;
  target.SetSize(s->ScreenRight() + 10, s->ScreenBottom() + 10);
  for (int pass = 0; pass < 2; ++pass) {
    target.Clear(0);
    s->PaintShape(&target);
    const int cx = (s->ScreenLeft() + s->ScreenRight()) / 2;
    const int cy = (s->ScreenTop() + s->ScreenBottom()) / 2;
    EXPECT_EQ(target.Pixel(cx, cy), 0xFFFF0000u) << pass;
    EXPECT_TRUE(clock.due.empty()) << pass;
    clock.now += 10000;
  }
}

TEST_F(BitmapShapeTest, CopyOfAnArchiveHeldPictureKeepsItsBytes) {
  const std::string file = WritePng("held.png", 30, 20);
  const auto bytes = kdtest::ReadFileBytes(file);
  auto s = NewShape<TdtpBitmapShape>();
  s->Image()->Storage = TdtpResourceStorage::Archive;
  s->Image()->LoadFromFile(file);
  ASSERT_EQ(s->Image()->Data()->Size(), int64_t(bytes.size()));
  auto copy = NewShape<TdtpBitmapShape>();
  copy->Assign(s.get());
  EXPECT_EQ(copy->Image()->Data()->Size(), int64_t(bytes.size()));
  EXPECT_EQ(copy->Image()->Storage, TdtpResourceStorage::Embedded);
  // And through a stored document's text.
  TXmlDocument xml("Shape");
  copy->SaveToXml(xml.Root());
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  auto r = NewShape<TdtpBitmapShape>();
  r->LoadFromXml(back.Root());
  std::vector<uint8_t> held(size_t(r->Image()->Data()->Size()));
  r->Image()->Data()->SetPosition(0);
  if (!held.empty()) r->Image()->Data()->ReadBuffer(held.data(), int32_t(held.size()));
  EXPECT_EQ(held, bytes);
}

namespace {

// A stand-in JPEG 2000 codec: every file is a 3 x 2 picture of known colours.
uint8_t gJ2KData[3 * 2 * 3];
int32_t StandInJ2KLoad(const char*, const char*, raster::TImageContainer* R) {
  R->Width = 3;
  R->Height = 2;
  R->Format = 3;
  for (int i = 0; i < int(sizeof gJ2KData); ++i) gJ2KData[i] = uint8_t(i * 13 + 7);
  R->Data = gJ2KData;
  return 0;
}
int32_t StandInJ2KFree(raster::TImageContainer*) { return 0; }

}  // namespace

// A format that cannot be read from a stream is stored re-encoded, every pixel kept.
TEST_F(BitmapShapeTest, JpegTwoThousandImportIsStoredAsPng) {
  raster::InitializeDtpRasterJ2K();
  struct TRestore {
    ~TRestore() { raster::BindJasperLibrary(); }
  } restore;
  raster::SetJasperEntryPoints(StandInJ2KLoad, nullptr, StandInJ2KFree);
  const std::string file = kdtest::TempDir() + "/pic.jp2";
  kdtest::WriteFileBytes(file, {0, 0, 0, 12, 'j', 'P', ' ', ' '});
  ASSERT_FALSE(raster::GetRasterFlags(raster::FindRasterClass(file)) & raster::rfStreamReader);
  TBitmap32 expected;
  {
    raster::TdtpImageFiler reader;
    reader.FileName = file;
    reader.Load(&expected);
  }
  ASSERT_EQ(expected.Width(), 3);

  auto s = NewShape<TdtpBitmapShape>();
  s->SetDocSize(0, 0);
  s->Image()->LoadFromFile(file);
  EXPECT_EQ(s->Image()->Ext, ".png");
  EXPECT_GT(s->Image()->Data()->Size(), 0);
  EXPECT_NEAR(s->DocWidth(), 3 / 5.905511811, 1e-4);
  EXPECT_NEAR(s->DocHeight(), 2 / 5.905511811, 1e-4);
  // Stored with the shape and read back from the stored bytes alone.
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  auto r = NewShape<TdtpBitmapShape>();
  r->LoadFromXml(back.Root());
  r->Image()->Lock();
  TBitmap32* pic = r->Picture();
  ASSERT_NE(pic, nullptr);
  ASSERT_EQ(pic->Width(), 3);
  ASSERT_EQ(pic->Height(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(pic->Pixel(x, y), expected.Pixel(x, y)) << x << "," << y;
  r->Image()->Unlock();

  // Without the codec the import says so and stores nothing.
  raster::SetJasperEntryPoints(nullptr, nullptr, nullptr);
  auto t = NewShape<TdtpBitmapShape>();
  EXPECT_EQ(ExpectThrow([&] { t->Image()->LoadFromFile(file); }), raster::SLibraryNotLoaded);
  EXPECT_EQ(t->Image()->Data()->Size(), 0);
}

// An import that fails (here a JPEG 2000 file without its library) keeps the picture the shape
// had: its bytes, its names and its decoded picture, also through a save and a reload.
TEST_F(BitmapShapeTest, FailedImportKeepsThePictureItReplaces) {
  raster::InitializeDtpRasterJ2K();
  struct TRestore {
    ~TRestore() { raster::BindJasperLibrary(); }
  } restore;
  raster::SetJasperEntryPoints(nullptr, nullptr, nullptr);
  const std::string png = WritePng("keep.png", 30, 20);
  const std::string jp2 = kdtest::TempDir() + "/other.jp2";
  kdtest::WriteFileBytes(jp2, {0, 0, 0, 12, 'j', 'P', ' ', ' '});
  const auto bytes = kdtest::ReadFileBytes(png);
  auto s = NewShape<TdtpBitmapShape>();
  s->SetDocSize(0, 0);
  s->Image()->LoadFromFile(png);
  s->Image()->Lock();  // decoded
  s->Image()->Unlock();
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(ExpectThrow([&] { s->Image()->LoadFromFile(jp2); }), raster::SLibraryNotLoaded);
    EXPECT_EQ(s->Image()->FileName, "keep.png");
    EXPECT_EQ(s->Image()->Ext, ".png");
    std::vector<uint8_t> held(size_t(s->Image()->Data()->Size()));
    s->Image()->Data()->SetPosition(0);
    if (!held.empty()) s->Image()->Data()->ReadBuffer(held.data(), int32_t(held.size()));
    EXPECT_EQ(held, bytes);
    ASSERT_NE(s->Picture(), nullptr);
    EXPECT_EQ(s->Picture()->Width(), 30);
  }
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  auto r = NewShape<TdtpBitmapShape>();
  r->LoadFromXml(back.Root());
  EXPECT_EQ(r->Image()->Data()->Size(), int64_t(bytes.size()));
  r->Image()->Lock();
  ASSERT_NE(r->Picture(), nullptr);
  EXPECT_EQ(r->Picture()->Pixel(0, 5), 0xFFFF0000u);
  r->Image()->Unlock();
  // A locked resource refuses the import before anything changes.
  s->Image()->Lock();
  EXPECT_EQ(ExpectThrow([&] { s->Image()->LoadFromFile(png); }), "Cannot delete object while it is locked.");
  s->Image()->Unlock();
  EXPECT_EQ(s->Image()->Data()->Size(), int64_t(bytes.size()));
}

// A file that holds no picture (empty, or damaged under a known extension) is refused at
// import: the shape keeps the picture, bytes and names it had, also through a save and a
// reload, and a shape without a picture stays without one.
TEST_F(BitmapShapeTest, ImportOfAFileWithoutAPictureIsRefused) {
  const std::string png = WritePng("good.png", 30, 20);
  const auto bytes = kdtest::ReadFileBytes(png);
  const std::string empty = kdtest::TempDir() + "/empty.png";
  kdtest::WriteFileBytes(empty, {});
  const std::string damaged = kdtest::TempDir() + "/damaged.png";
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 12);
  kdtest::WriteFileBytes(damaged, cut);
  auto held = [](TdtpBitmapShape* S) {
    std::vector<uint8_t> v(size_t(S->Image()->Data()->Size()));
    S->Image()->Data()->SetPosition(0);
    if (!v.empty()) S->Image()->Data()->ReadBuffer(v.data(), int32_t(v.size()));
    return v;
  };
  for (const std::string& bad : {empty, damaged}) {
    SCOPED_TRACE(bad);
    // A sized shape with a picture.
    auto s = NewShape<TdtpBitmapShape>();
    s->SetDocSize(40, 30);
    s->Image()->LoadFromFile(png);
    s->Image()->Lock();
    s->Image()->Unlock();
    const std::string message = ExpectThrow([&] { s->Image()->LoadFromFile(bad); });
    EXPECT_NE(message, "<no exception>");
    if (bad == empty) {
      EXPECT_EQ(message, raster::SBitmapIsEmpty);
    }
    EXPECT_EQ(s->Image()->FileName, "good.png");
    EXPECT_EQ(held(s.get()), bytes);
    ASSERT_NE(s->Picture(), nullptr);
    EXPECT_EQ(s->Picture()->Width(), 30);
    EXPECT_EQ(s->DocWidth(), 40);
    TXmlDocument xml("Shape");
    s->SaveToXml(xml.Root());
    TXmlDocument back;
    back.ReadFromString(xml.WriteToString());
    auto r = NewShape<TdtpBitmapShape>();
    r->LoadFromXml(back.Root());
    EXPECT_EQ(held(r.get()), bytes);
    r->Image()->Lock();
    ASSERT_NE(r->Picture(), nullptr);
    EXPECT_EQ(r->Picture()->Pixel(0, 5), 0xFFFF0000u);
    r->Image()->Unlock();
    // A new shape gets neither bytes nor a size.
    auto n = NewShape<TdtpBitmapShape>();
    n->SetDocSize(0, 0);
    EXPECT_NE(ExpectThrow([&] { n->Image()->LoadFromFile(bad); }), "<no exception>");
    EXPECT_TRUE(n->Image()->IsEmpty());
    EXPECT_EQ(n->Image()->State(), 0);
    EXPECT_EQ(n->Image()->FileName, "");
    EXPECT_EQ(n->Image()->LockCount(), 0);
    EXPECT_EQ(n->DocWidth(), 0);
  }
}

// A shape assigned from another shows the other's picture, and no picture when the other has
// none; the picture it had before is gone.
TEST_F(BitmapShapeTest, AssignedShapeShowsOnlyTheSourcesPicture) {
  const std::string png = WritePng("mine.png", 30, 20);
  auto withPicture = [&] {
    auto s = NewShape<TdtpBitmapShape>();
    s->SetDocSize(0, 0);
    s->Image()->LoadFromFile(png);
    s->Image()->Lock();
    s->Image()->Unlock();
    return s;
  };
  auto target = withPicture();
  auto none = NewShape<TdtpBitmapShape>();
  none->SetDocSize(12, 8);
  target->Assign(none.get());
  EXPECT_TRUE(target->Image()->IsEmpty());
  EXPECT_EQ(target->Image()->State(), 0);
  EXPECT_EQ(target->Image()->FileName, "");
  EXPECT_EQ(target->Image()->Ext, "");
  EXPECT_EQ(target->DocWidth(), 12);
  kdtest::TTestDocumentHost doc;
  target->SetDocument(&doc);
  TBitmap32 canvas;
  canvas.SetSize(target->ScreenRight() + 4, target->ScreenBottom() + 4);
  canvas.Clear(0);
  target->PaintShape(&canvas);
  EXPECT_EQ(target->Picture(), nullptr);
  EXPECT_EQ(canvas.Pixel(target->ScreenLeft() + 2, target->ScreenTop() + 2), 0u);
  // Saved and reloaded it still has none.
  TXmlDocument xml("Shape");
  target->SaveToXml(xml.Root());
  TXmlDocument back;
  back.ReadFromString(xml.WriteToString());
  auto r = NewShape<TdtpBitmapShape>();
  r->LoadFromXml(back.Root());
  EXPECT_TRUE(r->Image()->IsEmpty());
  // And a copy of a shape with a picture shows that picture.
  auto source = withPicture();
  target->Assign(source.get());
  target->Image()->Lock();
  ASSERT_NE(target->Picture(), nullptr);
  EXPECT_EQ(target->Picture()->Width(), 30);
  target->Image()->Unlock();
  EXPECT_EQ(target->Image()->FileName, "mine.png");
}
