// The document model: construction, "Index.xml", loading, saving, page management, brackets.
#include "document/dtpDocument.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <random>
#include <string>
#include <vector>

#include "../common/TestSupport.h"
#include "document/HugeStreams.h"
#include "document/SingleFileStorage.h"
#include "document/XmlDocuments.h"
#include "document/dtpBitmapShape.h"
#include "document/dtpColorEffects.h"
#include "document/dtpExposedMetafile.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpGroupShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpShadowEffects.h"
#include "document/dtpShapeRenderPriv.h"
#include "document/dtpTextShape.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterPNG.h"
#include "tools/DocumentFixtures.h"

using namespace document;
using kdfixture::TdtpFixtureRect;

namespace {

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    dir = kdtest::TempDir();
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // An archive holding exactly the given streams.
  std::string MakeArchive(const std::string& name, const std::vector<std::pair<std::string, std::string>>& streams) {
    const std::string p = Path(name);
    TSingleStorage a;
    a.SetFileName(p);
    for (const auto& [n, text] : streams) {
      platform::TMemoryStream s;
      if (!text.empty()) s.WriteBuffer(text.data(), int32_t(text.size()));
      s.SetPosition(0);
      a.WriteStream(&s, n);
    }
    a.Flush();
    return p;
  }
  static std::string ReadStream(TSingleStorage* a, const std::string& name) {
    platform::TMemoryStream s;
    a->ReadStream(name, &s);
    return std::string(static_cast<const char*>(s.Memory()), size_t(s.GetSize()));
  }
  static std::string Index(const std::string& body) {
    return "<?xml version=\"1.0\"?>\r\n<Document>" + body + "</Document>\r\n";
  }
  // Expects Fn to raise a platform exception with exactly Message.
  template <class F>
  static void ExpectMessage(F&& Fn, const std::string& Message) {
    try {
      Fn();
      ADD_FAILURE() << "no exception, expected: " << Message;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Message, Message);
    }
  }

  std::string dir;
};

TEST_F(DocumentTest, NewDocumentHoldsOneDefaultPage) {
  TdtpComponent doc(nullptr);
  ASSERT_EQ(doc.PageCount(), 1);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_FLOAT_EQ(doc.GetPage(0)->DocWidth(), 210);
  EXPECT_FLOAT_EQ(doc.GetPage(0)->DocHeight(), 297);
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(doc.Archive(), nullptr);
  EXPECT_EQ(doc.Color(), platform::clAppWorkSpace);
  EXPECT_EQ(doc.HandleColor(), 0xFFFFFFu);
  EXPECT_EQ(doc.ViewStyle(), vsPrintLayout);
  EXPECT_EQ(doc.Quality(), raster::sfLinear2);
  EXPECT_FLOAT_EQ(doc.RenderDPI(), 150.0f);
  EXPECT_EQ(doc.GetPage(1), nullptr);
  EXPECT_EQ(doc.GetPage(-1), nullptr);

  doc.Clear();
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_EQ(doc.CurrentPage(), nullptr);
}

TEST_F(DocumentTest, GoldenIndexOfDefaultDocument) {
  TdtpComponent doc(nullptr);
  doc.SaveToFile(Path("d.hsf"));
  const std::string text = ReadStream(doc.Archive(), "Index.xml");
  const std::string golden =
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
      "<Document>\r\n"
      "  <HandleColor>$00FFFFFF</HandleColor>\r\n"
      "  <HandleEdgeColor>$00000000</HandleEdgeColor>\r\n"
      "  <HotzoneScrolling>0</HotzoneScrolling>\r\n"
      "  <StretchFilter>2</StretchFilter>\r\n"
      "  <ReadOnly>False</ReadOnly>\r\n"
      "  <RenderDpm>5.9055118560791</RenderDpm>\r\n"
      "  <ScreenDpm>5.9055118560791</ScreenDpm>\r\n"
      "  <StoreThumbnails>True</StoreThumbnails>\r\n"
      "  <ShowMargins>True</ShowMargins>\r\n"
      "  <SnapToGrid>False</SnapToGrid>\r\n"
      "  <StepAngle>0</StepAngle>\r\n"
      "  <ViewStyle>0</ViewStyle>\r\n"
      "  <PageCount>1</PageCount>\r\n"
      "  <DefaultPageWidth>210</DefaultPageWidth>\r\n"
      "  <DefaultPageHeight>297</DefaultPageHeight>\r\n"
      "  <DefaultMarginLeft>10</DefaultMarginLeft>\r\n"
      "  <DefaultMarginTop>10</DefaultMarginTop>\r\n"
      "  <DefaultMarginRight>10</DefaultMarginRight>\r\n"
      "  <DefaultMarginBottom>10</DefaultMarginBottom>\r\n"
      "  <DefaultGridSize>5</DefaultGridSize>\r\n"
      "  <DefaultGridColor>$00FFFFC0</DefaultGridColor>\r\n"
      "  <DefaultPageColor>$00FFFFFF</DefaultPageColor>\r\n"
      "  <DefaultBgrTiled>False</DefaultBgrTiled>\r\n"
      "  <ThumbnailWidth>80</ThumbnailWidth>\r\n"
      "  <ThumbnailHeight>60</ThumbnailHeight>\r\n"
      "</Document>";
  EXPECT_EQ(text, golden);
  // The other streams of a saved one-page document.
  EXPECT_TRUE(doc.Archive()->StreamExists("Page0001.xml"));
  EXPECT_TRUE(doc.Archive()->StreamExists("Thumb0001.bmp"));
  EXPECT_EQ(doc.Archive()->Count(), 3);
  const std::string page = ReadStream(doc.Archive(), "Page0001.xml");
  EXPECT_EQ(page.find("<Page>\r\n  <Index>1</Index>\r\n"), page.find("<Page>"));
  EXPECT_NE(page.find("<Index>1</Index>"), std::string::npos);
}

TEST_F(DocumentTest, PropertiesRoundTripThroughIndex) {
  const std::string file = Path("p.hsf");
  {
    TdtpComponent doc(nullptr);
    doc.SetHandleColor(0x123456);
    doc.SetHandleEdgeColor(0x0000FF);
    doc.SetHotZoneScrolling(hzsAlways);
    doc.SetQuality(raster::sfSpline);
    doc.SetRenderDPI(300);
    doc.SetStoreThumbnails(false);
    doc.SetShowMargins(false);
    doc.SetSnapToGrid(true);
    doc.SetStepAngle(15);
    doc.SetViewStyle(vsNormal);
    doc.SetDefaultPageWidth(148);
    doc.SetDefaultMarginLeft(7.5f);
    doc.SetDefaultGridSize(2.5f);
    doc.SetDefaultGridColor(0x00FF00);
    doc.SetDefaultPageColor(0xEEEEEE);
    doc.SetThumbnailWidth(40);
    doc.SetThumbnailHeight(30);
    doc.AddPage(nullptr);
    doc.SaveToFile(file);
  }
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  EXPECT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(doc.HandleColor(), 0x123456u);
  EXPECT_EQ(doc.HandleEdgeColor(), 0x0000FFu);
  EXPECT_EQ(doc.HotZoneScrolling(), hzsAlways);
  EXPECT_EQ(doc.Quality(), raster::sfSpline);
  EXPECT_FLOAT_EQ(doc.RenderDPI(), 300);
  EXPECT_FALSE(doc.StoreThumbnails());
  EXPECT_FALSE(doc.ShowMargins());
  EXPECT_TRUE(doc.SnapToGrid());
  EXPECT_FLOAT_EQ(doc.StepAngle(), 15);
  EXPECT_EQ(doc.ViewStyle(), vsNormal);
  EXPECT_FLOAT_EQ(doc.DefaultPageWidth(), 148);
  EXPECT_FLOAT_EQ(doc.DefaultMarginLeft(), 7.5f);
  EXPECT_FLOAT_EQ(doc.DefaultGridSize(), 2.5f);
  EXPECT_EQ(doc.DefaultGridColor(), 0x00FF00u);
  EXPECT_EQ(doc.DefaultPageColor(), 0xEEEEEEu);
  EXPECT_EQ(doc.ThumbnailWidth(), 40);
  EXPECT_EQ(doc.ThumbnailHeight(), 30);
  EXPECT_FALSE(doc.Modified());
  // A page's own size arrives when it is read.
  doc.SetCurrentPageIndex(1);
  EXPECT_FLOAT_EQ(doc.GetPage(1)->DocWidth(), 148);
}

TEST_F(DocumentTest, MissingPropertiesTakeTheirReadDefaults) {
  // Only the page count: every property returns to its reset value, except those whose read
  // default differs from the reset value.
  const std::string file = MakeArchive("m.hsf", {{"Index.xml", Index("<PageCount>1</PageCount>")}});
  TdtpComponent doc(nullptr);
  doc.SetShowMargins(true);
  doc.SetAllowKeyInput(false);
  doc.LoadFromFile(file);
  EXPECT_EQ(doc.HandleColor(), 0u);  // read default 0, reset $FFFFFF
  EXPECT_FALSE(doc.ShowMargins());   // read default False, reset True
  EXPECT_TRUE(doc.StoreThumbnails());
  EXPECT_TRUE(doc.AllowKeyInput());  // not stored: back to its reset value by Clear
  EXPECT_EQ(doc.Quality(), raster::sfNearest);
  EXPECT_EQ(doc.ViewStyle(), vsPrintLayout);
  EXPECT_FLOAT_EQ(doc.DefaultPageWidth(), 210);
  EXPECT_EQ(doc.DefaultGridColor(), 0xFFFFC0u);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), cDefaultDpm);
  ASSERT_EQ(doc.PageCount(), 1);
  // No page stream: a page without shapes.
  EXPECT_EQ(doc.GetPage(0)->GetShapeCount(), 0);
  EXPECT_TRUE(doc.GetPage(0)->Loaded());

  // Loading the same file twice gives the same result.
  doc.SetHandleColor(0xABCDEF);
  doc.LoadFromFile(file);
  EXPECT_EQ(doc.HandleColor(), 0u);
  EXPECT_EQ(doc.PageCount(), 1);
}

// A stored thumbnail size is believed up to 1024 pixels a side; a document asking for 4096 x 4096
// thumbnails made every save render and write 48 MB per page.
TEST_F(DocumentTest, ThumbnailSizeIsBounded) {
  const struct {
    const char* Width;
    const char* Height;
    int32_t W, H;
  } cases[] = {{"1024", "1", 1024, 1}, {"4096", "4096", 80, 60}, {"1025", "300", 80, 300}};
  for (const auto& c : cases) {
    const std::string file =
        MakeArchive(std::string("thumb") + c.Width + ".hsf",
                    {{"Index.xml", Index(std::string("<ThumbnailWidth>") + c.Width + "</ThumbnailWidth><ThumbnailHeight>" +
                                         c.Height + "</ThumbnailHeight><PageCount>1</PageCount>")}});
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(file);
    EXPECT_EQ(doc.ThumbnailWidth(), c.W) << c.Width;
    EXPECT_EQ(doc.ThumbnailHeight(), c.H) << c.Height;
  }
}

TEST_F(DocumentTest, InvalidIndexValuesFallBackToResetValues) {
  const std::string file = MakeArchive(
      "bad.hsf", {{"Index.xml", Index("<HandleColor>zz</HandleColor><HotzoneScrolling>9</HotzoneScrolling>"
                                      "<StretchFilter>-1</StretchFilter><RenderDpm>500</RenderDpm>"
                                      "<ScreenDpm>NAN</ScreenDpm><ViewStyle>2</ViewStyle>"
                                      "<DefaultPageWidth>0</DefaultPageWidth><DefaultPageHeight>1e30</DefaultPageHeight>"
                                      "<ThumbnailWidth>0</ThumbnailWidth><ThumbnailHeight>100000</ThumbnailHeight>"
                                      "<StepAngle>inf</StepAngle><PageCount>2</PageCount>")}});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  EXPECT_EQ(doc.HandleColor(), 0xFFFFFFu);
  EXPECT_EQ(doc.HotZoneScrolling(), hzsNoScroll);
  EXPECT_EQ(doc.Quality(), raster::sfLinear2);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), cDefaultDpm);
  EXPECT_FLOAT_EQ(doc.ScreenDpm(), cDefaultDpm);
  EXPECT_EQ(doc.ViewStyle(), vsPrintLayout);
  EXPECT_FLOAT_EQ(doc.DefaultPageWidth(), 210);
  EXPECT_FLOAT_EQ(doc.DefaultPageHeight(), 297);
  EXPECT_EQ(doc.ThumbnailWidth(), 80);
  EXPECT_EQ(doc.ThumbnailHeight(), 60);
  EXPECT_FLOAT_EQ(doc.StepAngle(), 0);
  EXPECT_EQ(doc.PageCount(), 2);

  // A page count that cannot be right marks a damaged document, not an empty one: the load is
  // refused and leaves the document cleared and detached, also when the file holds its pages.
  const std::string page = "<?xml version=\"1.0\"?><Page><Index>1</Index></Page>";
  for (const char* count : {"2000000000", "10000", "twee", "-1", ""}) {
    SCOPED_TRACE(count);
    const std::string bad = MakeArchive("count.hsf", {{"Index.xml", Index(std::string("<PageCount>") + count + "</PageCount>")},
                                                      {"Page0001.xml", page},
                                                      {"Page0002.xml", page}});
    ExpectMessage([&] { doc.LoadFromFile(bad); }, "Corrupted archive");
    EXPECT_EQ(doc.PageCount(), 0);
    EXPECT_EQ(doc.Archive(), nullptr);
    EXPECT_FALSE(doc.IsBusy());
  }
  // The largest count stream names can number still opens.
  const std::string most = MakeArchive("most.hsf", {{"Index.xml", Index("<PageCount>9999</PageCount>")}});
  doc.LoadFromFile(most);
  EXPECT_EQ(doc.PageCount(), 9999);
  // 40 pages load although PageCount refuses more than 25.
  const std::string forty = MakeArchive("40.hsf", {{"Index.xml", Index("<PageCount>40</PageCount>")}});
  doc.LoadFromFile(forty);
  EXPECT_EQ(doc.PageCount(), 40);
  ExpectMessage([&] { doc.SetPageCount(26); }, "Invalid page count");
  ExpectMessage([&] { doc.SetPageCount(-1); }, "Invalid page count");
  doc.SetPageCount(25);
  EXPECT_EQ(doc.PageCount(), 25);
  doc.SetPageCount(0);
  EXPECT_EQ(doc.PageCount(), 0);
}

TEST_F(DocumentTest, LoadFailures) {
  TdtpComponent doc(nullptr);
  doc.SetHandleColor(0x111111);
  const std::string missing = Path("nothere.hsf");
  ExpectMessage([&] { doc.LoadFromFile(missing); }, "Cannot find file \"" + missing + "\"");
  // Nothing changed and the busy state ended.
  EXPECT_EQ(doc.PageCount(), 1);
  EXPECT_EQ(doc.HandleColor(), 0x111111u);
  EXPECT_FALSE(doc.IsBusy());

  // No "Index.xml": the parser's message, the document left cleared and detached.
  const std::string noIndex = MakeArchive("noindex.hsf", {{"Other", "x"}});
  ExpectMessage([&] { doc.LoadFromFile(noIndex); }, "No root element found in xml");
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_EQ(doc.HandleColor(), 0xFFFFFFu);
  EXPECT_EQ(doc.Archive(), nullptr);
  EXPECT_FALSE(doc.IsBusy());

  // A file that is not an archive passes the archive's error through.
  const std::string junk = Path("junk.hsf");
  kdtest::WriteFileBytes(junk, {'J', 'U', 'N', 'K', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  EXPECT_THROW(doc.LoadFromFile(junk), platform::Exception);
  EXPECT_FALSE(doc.IsBusy());

  // A broken first page fails the load after some pages were made: cleared all the same.
  const std::string broken = MakeArchive(
      "broken.hsf", {{"Index.xml", Index("<PageCount>3</PageCount><SnapToGrid>True</SnapToGrid>")},
                     {"Page0001.xml", "<?xml version=\"1.0\"?><Page><Index>1</Index><Shape>"}});
  EXPECT_THROW(doc.LoadFromFile(broken), platform::Exception);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_FALSE(doc.SnapToGrid());
  EXPECT_EQ(doc.Archive(), nullptr);
  EXPECT_FALSE(doc.IsBusy());

  // PageCount 0: no pages and the current index stored as 0.
  const std::string empty = MakeArchive("zero.hsf", {{"Index.xml", Index("<PageCount>0</PageCount>")}});
  doc.LoadFromFile(empty);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_EQ(doc.CurrentPage(), nullptr);
}

TEST_F(DocumentTest, BusyRefusesSecondOperation) {
  const std::string file = Path("b.hsf");
  TdtpComponent doc(nullptr);
  doc.AddPage(nullptr);
  doc.SaveToFile(file);
  int refused = 0;
  doc.OnProgress = [&](platform::TObject*, int32_t Type, int32_t, int32_t, float) {
    if (Type != ptLoading) return;
    ExpectMessage([&] { doc.LoadFromFile(file); }, "Working already");
    ExpectMessage([&] { doc.SaveToFile(file); }, "Working already");
    ExpectMessage([&] { doc.PrintPage(0); }, "Working already");
    ++refused;
  };
  doc.LoadFromFile(file);
  EXPECT_GT(refused, 0);
  EXPECT_FALSE(doc.IsBusy());
  EXPECT_EQ(doc.PageCount(), 2);
}

TEST_F(DocumentTest, LazyLoadingAndThumbnails) {
  const std::string file = Path("lazy.hsf");
  {
    TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, file, 3, 5);
  }
  TdtpComponent doc(nullptr);
  // While page 2 is created, page 1 is already current and loaded with its shapes.
  std::vector<std::pair<bool, int32_t>> atProgress;
  doc.OnProgress = [&](platform::TObject*, int32_t Type, int32_t Count, int32_t Total, float) {
    if (Type == ptLoading && Count == 2 && Total == 3)
      atProgress.emplace_back(doc.GetPage(0)->Loaded(), doc.GetPage(0)->GetShapeCount());
  };
  doc.LoadFromFile(file);
  ASSERT_EQ(atProgress.size(), 1u);
  EXPECT_TRUE(atProgress[0].first);
  EXPECT_EQ(atProgress[0].second, 5);

  ASSERT_EQ(doc.PageCount(), 3);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  for (int i = 1; i < 3; ++i) {
    TdtpPage* p = doc.GetPage(i);
    EXPECT_FALSE(p->Loaded());
    EXPECT_EQ(p->GetShapeCount(), 0);
    EXPECT_FALSE(p->ThumbnailStale());
    EXPECT_FALSE(p->Modified());
  }
  // The stored thumbnail is used as it is.
  platform::TBitmap* thumb = doc.GetPage(2)->GetThumbnail();
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->Width(), 80);
  EXPECT_EQ(thumb->Height(), 60);
  EXPECT_FALSE(doc.GetPage(2)->Loaded());

  // Visiting a page reads it once, without recording undo steps.
  doc.SetCurrentPageIndex(2);
  EXPECT_TRUE(doc.GetPage(2)->Loaded());
  EXPECT_EQ(doc.GetPage(2)->GetShapeCount(), 5);
  EXPECT_EQ(doc.GetPage(2)->GetShape(0)->Name(), "Shape1");
  EXPECT_FALSE(doc.GetPage(1)->Loaded());
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_FALSE(doc.Modified());
}

TEST_F(DocumentTest, CorruptThumbnailIsIgnored) {
  // A bitmap header that claims more pixels than the stream holds.
  std::string bmp = "BM";
  bmp.resize(54, '\0');
  bmp[10] = 54;
  bmp[14] = 40;
  bmp[18] = char(0xFF);
  bmp[19] = char(0x7F);  // width 32767
  bmp[22] = 10;
  bmp[26] = 1;
  bmp[28] = 24;
  const std::string file = MakeArchive("thumb.hsf", {{"Index.xml", Index("<PageCount>2</PageCount>")},
                                                      {"Thumb0002.bmp", bmp}});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  ASSERT_EQ(doc.PageCount(), 2);
  // No stored thumbnail: the page draws a fresh one when asked.
  platform::TBitmap* t = doc.GetPage(1)->GetThumbnail();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width(), 80);
}

TEST_F(DocumentTest, PythonWrittenArchive) {
  const std::string file = Path("py.hsf");
  const std::string cmd = "python3 \"" + kdtest::SourcePath("tests/document/stor_writer.py") + "\" \"" + file + "\"";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  ASSERT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(doc.HandleColor(), 0x0000FFu);
  EXPECT_EQ(doc.Quality(), raster::sfLinear);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), 11.811024f);
  EXPECT_FALSE(doc.ShowMargins());
  EXPECT_TRUE(doc.SnapToGrid());
  EXPECT_EQ(doc.ViewStyle(), vsNormal);
  EXPECT_FLOAT_EQ(doc.DefaultPageWidth(), 100);
  EXPECT_EQ(doc.DefaultGridColor(), 0x112233u);
  EXPECT_EQ(doc.ThumbnailWidth(), 8);
  TdtpPage* p0 = doc.GetPage(0);
  EXPECT_FLOAT_EQ(p0->DocWidth(), 100);
  EXPECT_FLOAT_EQ(p0->DocHeight(), 150);
  ASSERT_EQ(p0->GetShapeCount(), 1);
  TdtpShape* s = p0->GetShape(0);
  EXPECT_EQ(s->ClassName(), "TdtpFixtureRect");
  EXPECT_EQ(s->Name(), "Box & co");
  EXPECT_FLOAT_EQ(s->DocLeft(), 10);
  EXPECT_FLOAT_EQ(s->DocHeight(), 40);
  EXPECT_EQ(s->Color(), 0x0000FFu);
  // Page 2: the stored green thumbnail, no page stream.
  platform::TBitmap* t = doc.GetPage(1)->GetThumbnail();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width(), 8);
  EXPECT_EQ(t->Height(), 6);
  EXPECT_EQ(t->Canvas()->Pixel(3, 3) & 0xFFFFFF, 0x00FF00u);
  doc.SetCurrentPageIndex(1);
  EXPECT_EQ(doc.GetPage(1)->GetShapeCount(), 0);
}

TEST_F(DocumentTest, SaveRewritesOnlyModifiedPages) {
  const std::string file = Path("s.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, file, 3, 4);
  doc.LoadFromFile(file);
  doc.SetCurrentPageIndex(1);
  doc.GetPage(1)->GetShape(0)->SetDocLeft(33);
  EXPECT_TRUE(doc.Modified());
  EXPECT_TRUE(doc.GetPage(1)->Modified());
  EXPECT_FALSE(doc.GetPage(2)->Modified());
  EXPECT_GT(doc.UndoCount(), 0);

  std::vector<int32_t> written;
  doc.OnProgress = [&](platform::TObject*, int32_t Type, int32_t Count, int32_t Total, float Percent) {
    if (Type == ptSaving && Count <= Total && Percent < 1.0f) written.push_back(Count);
  };
  TSingleStorage* archive = doc.Archive();
  doc.SaveToFile(file);  // the open archive's own name: the quick path
  EXPECT_EQ(doc.Archive(), archive);
  EXPECT_EQ(written, (std::vector<int32_t>{2, 2, 2}));
  EXPECT_FALSE(doc.Modified());
  EXPECT_FALSE(doc.GetPage(1)->Modified());
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_FALSE(doc.GetPage(2)->Loaded());  // the quick path reads nothing
  EXPECT_LE(double(archive->FreeSpace()), 0.25 * double(archive->TotalSize()));

  // The same file under another spelling of its path also takes the quick path.
  written.clear();
  doc.SaveToFile(dir + "/./s.hsf");
  EXPECT_EQ(doc.Archive(), archive);
  EXPECT_TRUE(written.empty());

  TdtpComponent again(nullptr);
  again.LoadFromFile(file);
  again.SetCurrentPageIndex(1);
  EXPECT_FLOAT_EQ(again.GetPage(1)->GetShape(0)->DocLeft(), 33);
  again.SetCurrentPageIndex(2);
  EXPECT_EQ(again.GetPage(2)->GetShapeCount(), 4);

  // With UndoPastSave the undo list survives the save.
  doc.SetUndoPastSave(true);
  doc.GetPage(1)->GetShape(1)->SetDocTop(3);
  const int32_t undo = doc.UndoCount();
  EXPECT_GT(undo, 0);
  doc.SaveToArchive();
  EXPECT_EQ(doc.UndoCount(), undo);
}

TEST_F(DocumentTest, SaveUnderNewNameWritesEverything) {
  const std::string a = Path("a.hsf"), b = Path("b.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, a, 3, 2);
  doc.LoadFromFile(a);
  // The target exists with unrelated content: it is replaced.
  MakeArchive("b.hsf", {{"Stray", "stray stream"}, {"Page0009.xml", "x"}});
  doc.SaveToFile(b);
  EXPECT_EQ(doc.Archive()->FileName(), b);
  EXPECT_FALSE(doc.Archive()->StreamExists("Stray"));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(doc.GetPage(i)->Loaded());
  TdtpComponent other(nullptr);
  other.LoadFromFile(b);
  ASSERT_EQ(other.PageCount(), 3);
  other.SetCurrentPageIndex(2);
  EXPECT_EQ(other.GetPage(2)->GetShapeCount(), 2);
  ExpectMessage([&] { TdtpComponent d(nullptr); d.SaveToArchive(); }, "Archive must exist");
}

TEST_F(DocumentTest, SaveDeletesTrailingStreams) {
  const std::string file = Path("t.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, file, 5, 1);
  doc.LoadFromFile(file);
  doc.DeletePage(4);
  doc.DeletePage(3);
  doc.SaveToFile(file);
  TSingleStorage* a = doc.Archive();
  EXPECT_TRUE(a->StreamExists("Page0003.xml"));
  EXPECT_FALSE(a->StreamExists("Page0004.xml"));
  EXPECT_FALSE(a->StreamExists("Thumb0004.bmp"));
  EXPECT_FALSE(a->StreamExists("Page0005.xml"));
  EXPECT_FALSE(a->StreamExists("Thumb0005.bmp"));

  // A gap in the numbers does not stop the deletion: nothing past the last page stays.
  kdfixture::MakeSampleDocument(doc, file, 5, 1);
  doc.LoadFromFile(file);
  doc.Archive()->DeleteStream("Page0004.xml");
  doc.DeletePage(4);
  doc.DeletePage(3);
  doc.SaveToArchive();
  for (const char* name : {"Page0004.xml", "Page0005.xml", "Thumb0004.bmp", "Thumb0005.bmp"})
    EXPECT_FALSE(doc.Archive()->StreamExists(name)) << name;
}

TEST_F(DocumentTest, StoreThumbnailsOffKeepsThem) {
  const std::string file = Path("th.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, file, 2, 1);
  doc.LoadFromFile(file);
  const std::string before = ReadStream(doc.Archive(), "Thumb0001.bmp");
  doc.SetStoreThumbnails(false);
  doc.SetThumbnailWidth(20);  // every page modified, thumbnails stale
  doc.SaveToArchive();
  EXPECT_EQ(ReadStream(doc.Archive(), "Thumb0001.bmp"), before);
  // Page 2 was marked modified without being read: its shapes survive the rewrite.
  {
    TdtpComponent other(nullptr);
    other.LoadFromFile(file);
    other.SetCurrentPageIndex(1);
    EXPECT_EQ(other.GetPage(1)->GetShapeCount(), 1);
  }
  doc.SetStoreThumbnails(true);
  doc.SetThumbnailWidth(30);
  doc.SaveToArchive();
  platform::TMemoryStream s;
  doc.Archive()->ReadStream("Thumb0002.bmp", &s);
  s.SetPosition(0);
  platform::TBitmap bmp;
  bmp.LoadFromStream(&s);
  EXPECT_EQ(bmp.Width(), 30);
}

TEST_F(DocumentTest, DeletePageInMemory) {
  const std::string file = Path("del.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, file, 4, 2);
  doc.LoadFromFile(file);
  doc.SetCurrentPageIndex(3);
  std::vector<TdtpPage*> changed;
  doc.OnPageChanged = [&](platform::TObject*, TdtpPage* p) { changed.push_back(p); };
  TdtpPage* third = doc.GetPage(2);
  doc.DeletePage(1);
  ASSERT_EQ(doc.PageCount(), 3);
  EXPECT_EQ(doc.GetPage(1), third);
  // Later pages were read before their numbers moved.
  EXPECT_TRUE(third->Loaded());
  EXPECT_EQ(third->GetShapeCount(), 2);
  EXPECT_EQ(doc.CurrentPageIndex(), 2);
  EXPECT_TRUE(doc.Modified());
  ASSERT_GE(changed.size(), 2u);
  EXPECT_EQ(changed[0], third);
  doc.DeletePage(7);  // no such page
  EXPECT_EQ(doc.PageCount(), 3);
  // The archive still holds four pages until saved.
  EXPECT_TRUE(doc.Archive()->StreamExists("Page0004.xml"));
  doc.SaveToArchive();
  EXPECT_FALSE(doc.Archive()->StreamExists("Page0004.xml"));
}

// A page has one owner: a document's page handed to a shape stays with the document, and a page
// a shape holds goes to a document whole.
TEST_F(DocumentTest, PagesAndShapesNeverShareAPage) {
  for (int way = 0; way < 4; ++way) {  // to a free group, into its document's shape, to another
    SCOPED_TRACE(way);                 // document's page; a group's page to a document
    TdtpComponent doc(nullptr), other(nullptr);
    doc.SetPageCount(2);
    TdtpPage* page = doc.GetPage(1);
    auto group = NewShape<TdtpGroupShape>();
    TdtpShape* parents[] = {group.get(), group.get(), other.GetPage(0)};
    if (way == 1) doc.GetPage(0)->AddShape(std::move(group));
    if (way < 3) parents[way]->InsertShape(0, std::unique_ptr<TdtpShape>(page));
    if (way == 3) {
      group->AddShape(NewShape<TdtpPage>());
      page = static_cast<TdtpPage*>(group->GetShape(0));
      EXPECT_EQ(doc.AddPage(std::unique_ptr<TdtpPage>(page)), 2);
    }
    EXPECT_EQ(page->ParentShape(), nullptr);
    EXPECT_EQ(doc.IndexOfPage(page), way == 3 ? 2 : 1);
  }
}

TEST_F(DocumentTest, DeletePageDirectRenamesStreams) {
  const std::string file = Path("direct.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, file, 4, 1);
  doc.LoadFromFile(file);
  doc.SetArchiveDirect(true);
  const std::string page3 = ReadStream(doc.Archive(), "Page0003.xml");
  const std::string thumb4 = ReadStream(doc.Archive(), "Thumb0004.bmp");
  TdtpPage* fourth = doc.GetPage(3);
  doc.DeletePage(1);
  TSingleStorage* a = doc.Archive();
  EXPECT_EQ(ReadStream(a, "Page0002.xml"), page3);
  EXPECT_EQ(ReadStream(a, "Thumb0003.bmp"), thumb4);
  EXPECT_FALSE(a->StreamExists("Page0004.xml"));
  EXPECT_FALSE(a->StreamExists("Thumb0004.bmp"));
  EXPECT_NE(ReadStream(a, "Index.xml").find("<PageCount>3</PageCount>"), std::string::npos);
  // The unread later pages now read from their new numbers.
  EXPECT_FALSE(fourth->Loaded());
  doc.SetCurrentPageIndex(2);
  EXPECT_EQ(doc.GetPage(2), fourth);
  EXPECT_EQ(fourth->GetShapeCount(), 1);
  EXPECT_EQ(fourth->GetShape(0)->Color(), 0xFF0000u);  // page 4's block (odd pages blue)

  // Deleting the current page shows the next one, read from the archive.
  doc.SetCurrentPageIndex(0);
  doc.DeletePage(0);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_TRUE(doc.CurrentPage()->Loaded());
  EXPECT_EQ(doc.CurrentPage()->GetShapeCount(), 1);
}

TEST_F(DocumentTest, CurrentPageChanges) {
  TdtpComponent doc(nullptr);
  doc.AddPage(nullptr);
  std::vector<TdtpPage*> changed;
  doc.OnPageChanged = [&](platform::TObject*, TdtpPage* p) { changed.push_back(p); };
  doc.SetCurrentPageIndex(0);
  EXPECT_EQ(changed, (std::vector<TdtpPage*>{doc.GetPage(0)}));
  changed.clear();
  doc.SetCurrentPageIndex(1);
  EXPECT_EQ(changed, (std::vector<TdtpPage*>{doc.GetPage(0), doc.GetPage(1)}));
  // An index without a page is stored all the same.
  doc.SetCurrentPageIndex(5);
  EXPECT_EQ(doc.CurrentPageIndex(), 5);
  EXPECT_EQ(doc.CurrentPage(), nullptr);
}

TEST_F(DocumentTest, UpdateBracketsAndPendingEvents) {
  TdtpComponent doc(nullptr);
  std::vector<std::string> events;
  doc.OnShapeChanged = [&](platform::TObject*, TdtpShape* s) { events.push_back(s ? "shape" : "shape:none"); };
  doc.OnSelectionChanged = [&](platform::TObject*) { events.push_back("selection"); };
  doc.OnFocusShape = [&](platform::TObject*, TdtpShape*) { events.push_back("focus"); };
  doc.BeginUpdate();
  doc.ShapeChanged(doc.GetPage(0));
  doc.SelectionChanged();
  doc.SetFocusShape(doc.GetPage(0));
  EXPECT_TRUE(events.empty());
  doc.EndUpdate();
  EXPECT_EQ(events, (std::vector<std::string>{"shape:none", "selection", "focus"}));
  events.clear();
  doc.ShapeChanged(doc.GetPage(0));
  EXPECT_EQ(events, (std::vector<std::string>{"shape"}));
  ExpectMessage([&] { doc.EndUpdate(); }, "dtpDocument: EndUpdate called too many times");
  ExpectMessage([&] { doc.EndPrinting(); }, "dtpDocument: EndPrinting called more often than BeginPrinting");
  ExpectMessage([&] { doc.EndUndo(); }, "dtpDocument: EndUndo called more often than BeginUndo");
  // The counters are usable again after the complaint.
  doc.BeginPrinting();
  EXPECT_TRUE(doc.IsPrinting());
  doc.EndPrinting();
  EXPECT_FALSE(doc.IsPrinting());

  // A destroyed focus shape is forgotten.
  int destroyed = 0;
  doc.OnShapeDestroy = [&](platform::TObject*, TdtpShape*) { ++destroyed; };
  doc.ShapeDestroyed(doc.GetPage(0));
  EXPECT_EQ(doc.FocusShape(), nullptr);
  EXPECT_EQ(destroyed, 1);
}

TEST_F(DocumentTest, UndoRecording) {
  TdtpComponent doc(nullptr);
  TdtpPage* page = doc.GetPage(0);
  auto s = NewShape<TdtpFixtureRect>();
  TdtpShape* shape = s.get();
  page->AddShape(std::move(s));
  const int32_t base = doc.UndoCount();
  shape->SetDocLeft(5);
  shape->SetDocLeft(6);
  // A run of changes to one property keeps the first old value.
  ASSERT_EQ(doc.UndoCount(), base + 1);
  EXPECT_EQ(doc.UndoItem(base)->Name, "DocLeft");
  EXPECT_EQ(doc.UndoItem(base)->Value, "0");
  // Inside a bracket the second command is grouped with the first.
  doc.BeginUndo();
  shape->SetDocTop(1);
  shape->SetDocWidth(2);
  doc.EndUndo();
  ASSERT_EQ(doc.UndoCount(), base + 3);
  EXPECT_FALSE(doc.UndoItem(base + 1)->Grouped);
  EXPECT_TRUE(doc.UndoItem(base + 2)->Grouped);
  // Locked or disabled: nothing recorded.
  doc.LockUndo();
  EXPECT_FALSE(doc.UndoEnabled());
  shape->SetDocHeight(9);
  doc.UnlockUndo();
  EXPECT_EQ(doc.UndoCount(), base + 3);
  doc.SetUndoEnabled(false);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(doc.UndoBytes(), 0);

  // The list is bounded by 10 MB of recorded data.
  doc.SetUndoEnabled(true);
  const std::string big(1 << 20, 'x');
  for (int i = 0; i < 12; ++i)
    doc.AddUndo(std::make_unique<TdtpCommand>(ckShapeAdded, i, "N", big));
  EXPECT_LT(doc.UndoBytes(), 0xA00001);
  EXPECT_EQ(doc.UndoCount(), 9);
  EXPECT_EQ(doc.UndoItem(0)->Target, 3);

  // Two exchanges of the page's children in a row are two steps; undoing all after an
  // addition leaves the page as it was, in its order.
  doc.ClearUndo();
  for (int i = 0; i < 2; ++i) page->AddShape(NewShape<TdtpFixtureRect>());
  for (int32_t i = 0; i < 3; ++i) page->GetShape(i)->SetName("origineel " + platform::IntToStr(i));
  doc.ClearUndo();
  page->AddShape(NewShape<TdtpFixtureRect>());
  page->MoveShapeIndex(3, 0);
  page->MoveShapeIndex(1, 2);
  ASSERT_EQ(doc.UndoCount(), 3);
  for (int32_t i = doc.UndoCount() - 1; i >= 0; --i) EXPECT_TRUE(doc.Undo(doc.UndoItem(i)));
  ASSERT_EQ(page->GetShapeCount(), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(page->GetShape(i)->Name(), "origineel " + platform::IntToStr(i));

  // A shape moved to another parent of the same document is one step: its removal and its
  // addition are undone together.
  doc.ClearUndo();
  page->GetShape(0)->AddShape(std::unique_ptr<TdtpShape>(page->GetShape(2)));
  ASSERT_EQ(doc.UndoCount(), 2);
  EXPECT_TRUE(doc.UndoItem(1)->Grouped);
  for (int32_t i = 1; i >= 0; --i) EXPECT_TRUE(doc.Undo(doc.UndoItem(i)));
  EXPECT_EQ(page->GetShapeCount(), 3);
  EXPECT_EQ(page->GetShape(0)->GetShapeCount(), 0);
}

TEST_F(DocumentTest, DefaultSettersNotify) {
  TdtpComponent doc(nullptr);
  int changes = 0;
  doc.OnDocumentChanged = [&](platform::TObject*) { ++changes; };
  doc.SetDefaultPageWidth(100);
  EXPECT_FLOAT_EQ(doc.GetPage(0)->DocWidth(), 100);
  doc.SetDefaultPageWidth(100);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(doc.Modified());
  doc.GetPage(0)->SetIsDefaultPage(false);
  doc.SetDefaultPageHeight(50);
  EXPECT_FLOAT_EQ(doc.GetPage(0)->DocHeight(), 297);
  EXPECT_EQ(changes, 2);
  doc.SetModified(false);
  doc.SetDefaultPageColor(0x00FF00);
  EXPECT_FALSE(doc.GetPage(0)->Modified());  // not a default page
  EXPECT_EQ(changes, 3);

  // ReadOnly turns edit mode into browse mode, and edit mode is refused while it is set.
  doc.SetReadOnly(true);
  EXPECT_EQ(doc.Mode(), vmBrowse);
  doc.SetMode(vmEdit);
  EXPECT_EQ(doc.Mode(), vmBrowse);
  doc.SetReadOnly(false);
  doc.SetMode(vmEdit);
  EXPECT_EQ(doc.Mode(), vmEdit);
}

TEST_F(DocumentTest, DamagedStreamsFailCleanly) {
  // Random damage to the index, a page and a thumbnail: every load either works or raises the
  // engine's exception, and the document stays usable.
  const std::string good = Path("good.hsf");
  {
    TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, good, 2, 3);
  }
  TSingleStorage src;
  src.SetFileName(good);
  const std::string names[] = {"Index.xml", "Page0001.xml", "Thumb0002.bmp", "Page0002.xml"};
  std::vector<std::string> texts;
  for (const auto& n : names) texts.push_back(ReadStream(&src, n));
  std::mt19937 rng(1234);
  TdtpComponent doc(nullptr);
  int loaded = 0, refused = 0;
  for (int round = 0; round < 120; ++round) {
    std::vector<std::string> t = texts;
    std::string& victim = t[size_t(rng() % t.size())];
    switch (rng() % 4) {
      case 0: victim.resize(rng() % (victim.size() + 1)); break;
      case 1:
        for (int k = 0; k < 8; ++k) victim[rng() % victim.size()] = char(rng());
        break;
      case 2: victim.insert(rng() % victim.size(), std::string(rng() % 40, char(rng() % 128))); break;
      default: victim[rng() % victim.size()] = "<>/&$9-"[rng() % 7]; break;
    }
    const std::string file = MakeArchive("dmg" + std::to_string(round) + ".hsf",
                                         {{names[0], t[0]}, {names[1], t[1]}, {names[2], t[2]}, {names[3], t[3]}});
    try {
      doc.LoadFromFile(file);
      doc.SetCurrentPageIndex(doc.PageCount() - 1);
      for (int32_t i = 0; i < doc.PageCount() && i < 3; ++i) doc.GetPage(i)->GetThumbnail();
      ++loaded;
    } catch (const platform::Exception&) {
      ++refused;
    }
    EXPECT_FALSE(doc.IsBusy());
    EXPECT_FALSE(doc.IsPrinting());
  }
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace

// Text windows-1252 lacks comes back whole from a save; a page whose text fits it is stored in
// 8 bits exactly as before.
TEST_F(DocumentTest, TextBeyondWindows1252IsKept) {
  InitializeDtpEffectShape();
  InitializeDtpTextShape();
  const std::string wide =
      "\xC5\x81ukasz Dvo\xC5\x99\xC3\xA1k \xCE\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x82\xAC";
  for (const std::string& text : {std::string("caf\xC3\xA9 \xE2\x82\xAC \xC5\x92uvre"), wide}) {
    SCOPED_TRACE(text);
    const std::string file = Path("text1252.hsf");
    {
      TdtpComponent doc(nullptr);
      auto t = NewShape<TdtpTextShape>();
      t->SetText(text);
      t->SetName(text);
      doc.CurrentPage()->AddShape(std::move(t));
      doc.SaveToFile(file);
      TXmlDocument xml("Page");  // the page as written in 8 bits
      xml.SetWriteOnDefault(0);
      xml.SetXmlFormat(xfIndented);
      xml.Root()->WriteInteger("Index", 1);
      doc.CurrentPage()->SaveToXml(xml.Root());
      const std::string stored = ReadStream(doc.Archive(), "Page0001.xml");
      EXPECT_EQ(text == wide ? stored.substr(0, 2) : stored, text == wide ? "\xFF\xFE" : platform::Utf8ToCp1252(xml.WriteToString()));
    }
    TdtpComponent again(nullptr);
    again.LoadFromFile(file);
    auto* t = dynamic_cast<TdtpTextShape*>(again.CurrentPage()->GetShape(0));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Text() + "|" + t->Name(), text + "|" + text);
  }
}

// What a host writes into each stored shape comes back to it when the shape is read: from the
// file, from a pasted selection and from the undo of a deletion.
TEST_F(DocumentTest, HostElementsOfShapesComeBack) {
  const std::string file = Path("host.hsf");
  auto tag = [](TdtpShape* S) { return S->ClassName() + ":" + S->Name(); };
  auto writer = [&](platform::TObject*, TdtpShape* S, TXmlNode* Node) {
    Node->WriteString("HostTag", "host " + tag(S));
  };
  TdtpComponent doc(nullptr);
  doc.OnShapeSaveAdditionalInfo = writer;
  TdtpPage* page = doc.GetPage(0);
  for (const char* name : {"A", "B"}) {
    auto s = NewShape<TdtpFixtureRect>();
    s->SetName(name);
    page->AddShape(std::move(s));
  }
  auto child = NewShape<TdtpFixtureRect>();
  child->SetName("C");
  page->GetShape(1)->AddShape(std::move(child));
  doc.SaveToFile(file);

  std::vector<std::string> read;
  auto reader = [&](platform::TObject* Sender, TdtpShape* S, TXmlNode* Node) {
    EXPECT_NE(dynamic_cast<TdtpDocument*>(Sender), nullptr);
    read.push_back(tag(S) + " = " + Node->ReadString("HostTag"));
  };
  TdtpComponent again(nullptr);
  again.OnShapeLoadAdditionalInfo = reader;
  again.OnShapeSaveAdditionalInfo = writer;
  again.LoadFromFile(file);
  // Children are read before their parent's own elements, as they are written.
  EXPECT_EQ(read, (std::vector<std::string>{"TdtpFixtureRect:A = host TdtpFixtureRect:A",
                                            "TdtpFixtureRect:C = host TdtpFixtureRect:C",
                                            "TdtpFixtureRect:B = host TdtpFixtureRect:B",
                                            "TdtpPage: = host TdtpPage:"}));

  // A pasted copy is read for the document it is pasted into.
  read.clear();
  TdtpPage* p = again.GetPage(0);
  p->GetShape(0)->SetSelected(true);
  const std::string selection = again.SelectionToXml();
  TdtpComponent target(nullptr);
  target.OnShapeLoadAdditionalInfo = reader;
  EXPECT_EQ(target.XmlToSelection(selection), 1);
  EXPECT_EQ(read, (std::vector<std::string>{"TdtpFixtureRect:A = host TdtpFixtureRect:A"}));

  // Undoing a deletion reads the shape back from the undo step.
  read.clear();
  again.ClearSelection();
  again.ClearUndo();
  p->DeleteShape(1);
  ASSERT_EQ(again.UndoCount(), 1);
  EXPECT_TRUE(again.Undo(again.UndoItem(0)));
  EXPECT_EQ(read, (std::vector<std::string>{"TdtpFixtureRect:C = host TdtpFixtureRect:C",
                                            "TdtpFixtureRect:B = host TdtpFixtureRect:B"}));
  ASSERT_EQ(p->GetShapeCount(), 2);
  EXPECT_EQ(p->GetShape(1)->Name(), "B");
}

TEST_F(DocumentTest, CreateFromXmlBuildsAndLoads) {
  TdtpComponent doc(nullptr);
  auto s = NewShape<TdtpFixtureRect>();
  s->SetDocBounds(1, 2, 3, 4);
  s->SetName("X");
  auto child = NewShape<TdtpFixtureRect>();
  child->SetName("Y");
  s->AddShape(std::move(child));
  TXmlDocument xml("Shape");
  s->SaveToXml(xml.Root());
  int events = 0;
  doc.OnShapeLoadAdditionalInfo = [&](platform::TObject*, TdtpShape*, TXmlNode*) { ++events; };
  auto made = CreateFromXml(FindShapeClass("TdtpFixtureRect"), xml.Root(), &doc);
  EXPECT_EQ(made->ClassName(), "TdtpFixtureRect");
  EXPECT_EQ(made->Name(), "X");
  EXPECT_FLOAT_EQ(made->DocHeight(), 4);
  ASSERT_EQ(made->GetShapeCount(), 1);
  EXPECT_EQ(made->GetShape(0)->Name(), "Y");
  EXPECT_EQ(made->Document(), nullptr);  // loaded for the document, not attached to it
  EXPECT_EQ(events, 2);
  EXPECT_FALSE(made->Modified());
  // Without a host nothing is told; an unknown class gives the base class.
  auto plain = CreateFromXml(FindShapeClass("NoSuchShape"), xml.Root());
  EXPECT_EQ(plain->ClassName(), "TdtpShape");
  EXPECT_EQ(plain->Name(), "X");
  EXPECT_EQ(events, 2);
}

// The document control's published Constraints and ParentCtl3D.
TEST_F(DocumentTest, ConstraintsAndParentCtl3D) {
  platform::TForm form(nullptr);
  form.SetBounds(0, 0, 500, 400);
  form.SetCtl3D(false);
  auto* doc = new TdtpComponent(&form);
  EXPECT_TRUE(doc->ParentCtl3D());
  doc->SetParent(&form);
  doc->SetBounds(0, 0, 300, 200);
  doc->HandleNeeded();
  // Following the flat form: a one-pixel border instead of the sunken edge.
  EXPECT_FALSE(doc->Ctl3D());
  const int32_t flat = doc->ClientHeight();
  form.SetCtl3D(true);
  EXPECT_TRUE(doc->Ctl3D());
  EXPECT_EQ(flat - doc->ClientHeight(), 2);  // the sunken edge is two pixels, the border one
  doc->SetCtl3D(false);
  EXPECT_FALSE(doc->ParentCtl3D());
  form.SetCtl3D(false);
  form.SetCtl3D(true);
  EXPECT_FALSE(doc->Ctl3D());
  // Constraints hold the control's size.
  doc->Constraints()->SetMinWidth(250);
  doc->Constraints()->SetMaxHeight(150);
  EXPECT_EQ(doc->Width(), 300);
  EXPECT_EQ(doc->Height(), 150);
  doc->SetBounds(0, 0, 100, 100);
  EXPECT_EQ(doc->Width(), 250);
  EXPECT_EQ(doc->Height(), 100);
}

// Moving or resizing a shape by code is a change the next save in place writes.
TEST_F(DocumentTest, GeometrySetByCodeIsSaved) {
  const std::string file = Path("geo.hsf");
  {
    TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, file, 2, 2);
  }
  auto child = NewShape<TdtpFixtureRect>();
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  doc.SetCurrentPageIndex(1);
  doc.GetPage(1)->GetShape(0)->AddShape(std::move(child));
  doc.SaveToFile(file);
  ASSERT_FALSE(doc.Modified());

  doc.GetPage(1)->GetShape(0)->SetDocPosition(41, 42);
  EXPECT_TRUE(doc.GetPage(1)->GetShape(0)->Modified());
  EXPECT_TRUE(doc.GetPage(1)->Modified());
  EXPECT_TRUE(doc.Modified());
  doc.SaveToFile(file);
  doc.GetPage(1)->GetShape(1)->SetDocSize(17, 18);
  doc.GetPage(1)->GetShape(0)->GetShape(0)->SetDocSize(3, 4);
  EXPECT_TRUE(doc.GetPage(1)->Modified());
  EXPECT_FALSE(doc.GetPage(0)->Modified());
  doc.SaveToFile(file);
  // The same values again change nothing.
  doc.GetPage(1)->GetShape(1)->SetDocSize(17, 18);
  doc.GetPage(1)->GetShape(1)->SetDocPosition(doc.GetPage(1)->GetShape(1)->DocLeft(),
                                              doc.GetPage(1)->GetShape(1)->DocTop());
  EXPECT_FALSE(doc.Modified());

  TdtpComponent again(nullptr);
  again.LoadFromFile(file);
  again.SetCurrentPageIndex(1);
  TdtpShape* a = again.GetPage(1)->GetShape(0);
  EXPECT_FLOAT_EQ(a->DocLeft(), 41);
  EXPECT_FLOAT_EQ(a->DocTop(), 42);
  EXPECT_FLOAT_EQ(a->DocWidth(), 80);
  EXPECT_FLOAT_EQ(again.GetPage(1)->GetShape(1)->DocWidth(), 17);
  EXPECT_FLOAT_EQ(again.GetPage(1)->GetShape(1)->DocHeight(), 18);
  ASSERT_EQ(a->GetShapeCount(), 1);
  EXPECT_FLOAT_EQ(a->GetShape(0)->DocWidth(), 3);
  EXPECT_FLOAT_EQ(a->GetShape(0)->DocHeight(), 4);
  EXPECT_FALSE(again.Modified());
}

// Saving under a link writes the file the link names, whether it exists yet or not; the link
// stays a link.
TEST_F(DocumentTest, SaveThroughLinks) {
  namespace fs = std::filesystem;
  const std::string sample = Path("sample.hsf");
  TdtpComponent doc(nullptr);
  kdfixture::MakeSampleDocument(doc, sample, 2, 3);
  doc.LoadFromFile(sample);
  fs::create_directory(Path("sub"));
  struct TCase {
    std::string Link, LinkTarget, Real;
  };
  const std::vector<TCase> cases = {
      {Path("abs.hsf"), Path("sub/new1.hsf"), Path("sub/new1.hsf")},       // absolute, missing target
      {Path("rel.hsf"), "sub/new2.hsf", Path("sub/new2.hsf")},             // relative to the link's folder
      {Path("sub/up.hsf"), "../new3.hsf", Path("new3.hsf")},
      {Path("chain.hsf"), "abs.hsf", Path("sub/new1.hsf")},                // a link to a link
      {Path("old.hsf"), "sample.hsf", Path("sample.hsf")},                 // an existing target
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Link);
    if (!fs::is_symlink(c.Link)) fs::create_symlink(c.LinkTarget, c.Link);
    doc.GetPage(0)->GetShape(0)->SetName("via " + c.Link);
    doc.SaveToFile(c.Link);
    EXPECT_TRUE(fs::is_symlink(c.Link));
    ASSERT_TRUE(fs::is_regular_file(c.Real));
    for (const std::string& name : {c.Link, c.Real}) {
      TdtpComponent back(nullptr);
      back.LoadFromFile(name);
      ASSERT_EQ(back.PageCount(), 2);
      EXPECT_EQ(back.GetPage(0)->GetShape(0)->Name(), "via " + c.Link);
      EXPECT_EQ(back.GetPage(0)->GetShapeCount(), 3);
    }
  }
  // No temporary file is left anywhere.
  for (const auto& e : fs::recursive_directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".~"), std::string::npos) << e.path();
  // A link into a folder that does not exist fails and leaves the link as it was.
  fs::create_symlink(Path("nowhere/x.hsf"), Path("dangling.hsf"));
  EXPECT_THROW(doc.SaveToFile(Path("dangling.hsf")), platform::Exception);
  EXPECT_TRUE(fs::is_symlink(Path("dangling.hsf")));
  // A loop of links is refused, not followed for ever.
  fs::create_symlink(Path("loop2.hsf"), Path("loop1.hsf"));
  fs::create_symlink(Path("loop1.hsf"), Path("loop2.hsf"));
  EXPECT_THROW(doc.SaveToFile(Path("loop1.hsf")), platform::Exception);
  EXPECT_TRUE(fs::is_symlink(Path("loop1.hsf")));
}

TEST_F(DocumentTest, CompactionThroughALinkKeepsTheLink) {
  namespace fs = std::filesystem;
  const std::string real = Path("big.hsf"), link = Path("big-link.hsf");
  {
    TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, real, 2, 300);
  }
  fs::create_symlink("big.hsf", link);
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(link);
  doc.GetPage(0)->ClearShapes();
  doc.SaveToFile(link);  // frees most of the file: it is compacted
  EXPECT_TRUE(fs::is_symlink(link));
  TdtpComponent back(nullptr);
  back.LoadFromFile(real);
  EXPECT_EQ(back.GetPage(0)->GetShapeCount(), 0);
  back.SetCurrentPageIndex(1);
  EXPECT_EQ(back.GetPage(1)->GetShapeCount(), 300);
}

namespace {

// Browse mode comes with a read-only file: the next writable file in the same control opens
// for editing again, also after a load that failed.
TEST_F(DocumentTest, WritableDocumentAfterAReadOnlyOneOpensForEditing) {
  const std::string ro = Path("ro.hsf"), rw = Path("rw.hsf");
  {
    TdtpComponent writer(nullptr);
    writer.SaveToFile(rw);
    writer.SetReadOnly(true);
    writer.SaveToFile(ro);
  }
  TdtpComponent doc(nullptr);
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way);
    doc.LoadFromFile(ro);
    ASSERT_TRUE(doc.ReadOnly());
    ASSERT_EQ(doc.Mode(), vmBrowse);
    if (way == 1) {
      EXPECT_THROW(doc.LoadFromFile(Path("missing.hsf")), platform::Exception);
    }
    doc.LoadFromFile(rw);
    EXPECT_FALSE(doc.ReadOnly());
    EXPECT_EQ(doc.Mode(), vmEdit);
  }
}

}  // namespace

namespace {

// --- every stored property, set by code on an opened document, is saved in place -------------

// The elements a shape stores and their texts. A repeated element is numbered ("Effect#2"); a
// table row names elements without the numbers, and a row's element covers what lies below it.
using TStoredElements = std::map<std::string, std::string>;

void CollectElements(const TXmlNode* Node, const std::string& Prefix, TStoredElements& Out) {
  std::map<std::string, int> seen;
  for (const auto& c : Node->Nodes()) {
    const std::string path = Prefix + c->Name() + "#" + std::to_string(seen[c->Name()]++);
    if (c->Nodes().empty())
      Out[path] = c->Value();
    else
      CollectElements(c.get(), path + "/", Out);
  }
}

TStoredElements StoredElements(TdtpShape* S) {
  TXmlDocument xml("Shape");
  S->SaveToXml(xml.Root());
  TStoredElements out;
  CollectElements(xml.Root(), "", out);
  return out;
}

std::string Unnumbered(const std::string& Path) {
  std::string out;
  for (size_t i = 0; i < Path.size(); ++i) {
    if (Path[i] != '#') {
      out += Path[i];
      continue;
    }
    while (i + 1 < Path.size() && Path[i + 1] != '/') ++i;
  }
  return out;
}

bool Covers(const std::string& Element, const std::string& Path) {
  const std::string p = Unnumbered(Path);
  return p == Element || p.compare(0, Element.size() + 1, Element + "/") == 0;
}

std::string Differences(const TStoredElements& A, const TStoredElements& B) {
  std::string out;
  for (const auto& [k, v] : A)
    if (!B.count(k) || B.at(k) != v)
      out += " " + k + "=" + v.substr(0, 40) + "|" + (B.count(k) ? B.at(k).substr(0, 40) : "<none>");
  for (const auto& [k, v] : B)
    if (!A.count(k)) out += " " + k + " new";
  return out;
}

// One stored property: the class it belongs to (and those derived from it), the elements it is
// stored in, and how code gives it a value other than the one it has. Except: classes on which
// the setter rightly stores nothing new (the value is derived there).
struct TStoredProperty {
  const TShapeClass* Class;
  std::vector<std::string> Elements;
  std::function<void(TdtpShape&)> Set;
  std::vector<std::string> Except;
};

template <class S>
TStoredProperty Prop(std::vector<std::string> Elements, std::function<void(S&)> Set,
                     std::vector<std::string> Except = {}) {
  return {&S::StaticClass(), std::move(Elements), [Set](TdtpShape& Shape) { Set(dynamic_cast<S&>(Shape)); },
          std::move(Except)};
}

template <class E>
E& Fx(TdtpShape& Shape) {
  auto& s = dynamic_cast<TdtpEffectShape&>(Shape);
  for (int32_t i = 0; i < s.EffectCount(); ++i)
    if (s.GetEffect(i)->ClassName() == E::StaticClass().Name) return dynamic_cast<E&>(*s.GetEffect(i));
  throw std::runtime_error("no " + E::StaticClass().Name);
}

std::string SamplePicture(const std::string& Name, TColor32 Color) {
  TBitmap32 b;
  b.SetSize(12, 8);
  b.Clear(Color);
  const std::string file = kdtest::TempDir() + "/" + Name;
  platform::TFileStream f(file, platform::fmCreate);
  raster::TdtpPngFormat().SaveToStream(&f, &b);
  return file;
}

const std::string& Emf() {
  static const std::string file = kdtest::SourcePath("fuzz/corpus/fuzz_emf/lines.emf");
  return file;
}

// The table: a new stored property is one line here.
std::vector<TStoredProperty> StoredProperties() {
  const std::string green = SamplePicture("walk_green.png", 0xFF00FF00u);
  const std::string other = kdtest::SourcePath("fuzz/corpus/fuzz_emf/paths.emf");
  using S = TdtpShape;
  using P = TdtpPolygonShape;
  using T = TdtpTextShape;
  using L = TdtpLineShape;
  const std::vector<std::string> text = {"TdtpTextShape"}, memo = {"TdtpMemoShape"},
                                 lines = {"TdtpLineShape", "TdtpLineShape2"};
  return {
      Prop<S>({"AllowResize"}, [](S& s) { s.SetAllowResize(!s.AllowResize()); }),
      Prop<S>({"AllowRotate"}, [](S& s) { s.SetAllowRotate(!s.AllowRotate()); }),
      Prop<S>({"AllowSelect"}, [](S& s) { s.SetAllowSelect(!s.AllowSelect()); }),
      Prop<S>({"Anchors"}, [](S& s) { s.SetAnchors(anPosXProp | anSizeYProp | anBottomLock); }),
      Prop<S>({"AspectRatio"}, [](S& s) { s.SetAspectRatio(s.AspectRatio() + 1.5f); }),
      Prop<S>({"PreserveAspect"}, [](S& s) { s.SetPreserveAspect(!s.PreserveAspect()); }),
      Prop<S>({"PreserveAspect"}, [](S& s) { s.StoreAspectRatio(); }),
      Prop<S>({"CurbLeft", "CurbTop", "CurbRight", "CurbBottom"}, [](S& s) {
        s.SetPaintOutsets(s.CurbLeft() + 1, s.CurbTop() + 2, s.CurbRight() + 3, s.CurbBottom() + 4);
      }),
      Prop<S>({"ConstraintMinHeight"}, [](S& s) { s.Constraints().MinHeight = 1.25f; }),
      Prop<S>({"ConstraintMinWidth"}, [](S& s) { s.Constraints().MinWidth = 2.5f; }),
      Prop<S>({"ConstraintMaxHeight"}, [](S& s) { s.Constraints().MaxHeight = 900; }),
      Prop<S>({"ConstraintMaxWidth"}, [](S& s) { s.Constraints().MaxWidth = 800; }),
      Prop<S>({"DocAngle"}, [](S& s) { s.SetDocAngle(s.DocAngle() + 30); }, lines),
      Prop<S>({"DocLeft"}, [](S& s) { s.SetDocLeft(s.DocLeft() + 3); }),
      Prop<S>({"DocTop"}, [](S& s) { s.SetDocTop(s.DocTop() + 4); }),
      Prop<S>({"DocWidth"}, [](S& s) { s.SetDocWidth(s.DocWidth() + 5); }, text),
      Prop<S>({"DocHeight"}, [](S& s) { s.SetDocHeight(s.DocHeight() + 6); }, memo),
      Prop<S>({"Flipped"}, [](S& s) { s.SetFlipped(!s.Flipped()); }),
      Prop<S>({"Mirrored"}, [](S& s) { s.SetMirrored(!s.Mirrored()); }),
      Prop<S>({"Name"}, [](S& s) { s.SetName(s.Name() + " \xC3\xA9\xC3\xA9n"); }),
      Prop<S>({"Grouped"}, [](S& s) { s.SetGrouped(!s.Grouped()); }),
      Prop<S>({"SmartHitTest"}, [](S& s) { s.SetSmartHitTest(!s.SmartHitTest()); }),
      Prop<S>({"Visible"}, [](S& s) { s.SetVisible(!s.Visible()); }),
      Prop<S>({"MasterAlpha"}, [](S& s) { s.SetMasterAlpha(s.MasterAlpha() == 128 ? 64 : 128); }),
      Prop<S>({"Shape"}, [](S& s) { s.AddShape(CreateShape(TdtpShape::StaticClass())); }),

      Prop<TdtpEffectShape>({"Effect/ClassName"}, [](auto& s) { s.AddEffect(std::make_unique<TdtpShadowEffect>()); }),
      Prop<TdtpEffectShape>({"Effect/Enabled"}, [](auto& s) { Fx<TdtpShadowEffect>(s).Enabled = false; }),
      Prop<TdtpEffectShape>({"Effect/Source"}, [](auto& s) { Fx<TdtpShadowEffect>(s).Source = -1; }),
      Prop<TdtpEffectShape>({"Effect/Brightness"}, [](auto& s) { Fx<TdtpBrightContrEffect>(s).SetBrightness(12); }),
      Prop<TdtpEffectShape>({"Effect/Contrast"}, [](auto& s) { Fx<TdtpBrightContrEffect>(s).SetContrast(1.5f); }),
      Prop<TdtpEffectShape>({"Effect/Hue"}, [](auto& s) { Fx<TdtpHSLAdjustEffect>(s).Hue = 0.25f; }),
      Prop<TdtpEffectShape>({"Effect/Saturation"}, [](auto& s) { Fx<TdtpHSLAdjustEffect>(s).Saturation = 0.5f; }),
      Prop<TdtpEffectShape>({"Effect/Lightness"}, [](auto& s) { Fx<TdtpHSLAdjustEffect>(s).Lightness = -0.25f; }),
      Prop<TdtpEffectShape>({"Effect/DeltaX"}, [](auto& s) { Fx<TdtpShadowEffect>(s).DeltaX = 4.5f; }),
      Prop<TdtpEffectShape>({"Effect/DeltaY"}, [](auto& s) { Fx<TdtpShadowEffect>(s).DeltaY = -3; }),
      Prop<TdtpEffectShape>({"Effect/Intensity"}, [](auto& s) { Fx<TdtpShadowEffect>(s).Intensity = 0.25f; }),
      Prop<TdtpEffectShape>({"Effect/Blur"}, [](auto& s) { Fx<TdtpShadowEffect>(s).Blur = 3; }),
      Prop<TdtpEffectShape>({"Effect/Color"}, [](auto& s) { Fx<TdtpShadowEffect>(s).Color = 0x336699; }),

      Prop<P>({"OutlineWidth"}, [](P& s) { s.SetOutlineWidth(s.OutlineWidth() + 0.75f); }),
      Prop<P>({"FillAlpha"}, [](P& s) { s.SetFillAlpha(s.FillAlpha() == 100 ? 50 : 100); }),
      Prop<P>({"FillColor"}, [](P& s) { s.SetFillColor(s.FillColor() ^ 0x123456); }),
      Prop<P>({"OutlineColor"}, [](P& s) { s.SetOutlineColor(s.OutlineColor() ^ 0x654321); }),
      Prop<P>({"UseFill"}, [](P& s) { s.SetUseFill(!s.UseFill()); }),
      Prop<P>({"UseOutline"}, [](P& s) { s.SetUseOutline(!s.UseOutline()); }),
      Prop<P>({"IsClosed"}, [](P& s) { s.SetIsClosed(!s.IsClosed()); }),
      Prop<P>({"UseStipple"}, [](P& s) { s.SetUseStipple(!s.UseStipple()); }, {"TdtpLineShape2"}),
      Prop<TdtpFreehandShape>({"Polygon"}, [](auto& s) { s.AddPointXY(7, 3); }),
      Prop<TdtpFreehandShape>({"AutoRestart"}, [](auto& s) { s.SetAutoRestart(!s.AutoRestart()); }),
      Prop<TdtpRoundRectShape>({"CornerWidth"}, [](auto& s) { s.SetCornerWidth(s.CornerWidth() + 2); }),
      Prop<TdtpRoundRectShape>({"CornerHeight"}, [](auto& s) { s.SetCornerHeight(s.CornerHeight() + 3); }),
      Prop<L>({"Arrow0/Style"}, [](L& s) { s.Arrow0()->SetStyle(asOval); }),
      Prop<L>({"Arrow0/Width"}, [](L& s) { s.Arrow0()->Width = s.Arrow0()->Width + 1; }),
      Prop<L>({"Arrow0/Length"}, [](L& s) { s.Arrow0()->Length = s.Arrow0()->Length + 2; }),
      Prop<L>({"Arrow1/Style"}, [](L& s) { s.Arrow1()->SetStyle(asStealthArrow); }),
      Prop<L>({"Arrow1/Width"}, [](L& s) { s.Arrow1()->Width = s.Arrow1()->Width + 3; }),
      Prop<L>({"Arrow1/Length"}, [](L& s) { s.Arrow1()->Length = s.Arrow1()->Length + 4; }),
      Prop<L>({"Points"}, [](L& s) { s.SetLinePoint(1, {90, 75}); }),
      Prop<L>({"LineWidth"}, [](L& s) { s.SetLineWidth(s.LineWidth() + 1); }),

      Prop<T>({"Text"}, [](T& s) { s.SetText(s.Text() + " \xE2\x82\xAC"); }),
      Prop<T>({"Font/Name"}, [](T& s) { s.SetFontName(s.FontName() == "Arial" ? "Verdana" : "Arial"); }),
      Prop<T>({"Font/Bold"}, [](T& s) { s.SetFontStyle(s.FontStyle() ^ 1); }),
      Prop<T>({"Font/Italic"}, [](T& s) { s.SetFontStyle(s.FontStyle() ^ 2); }),
      Prop<T>({"Font/Underline"}, [](T& s) { s.SetFontStyle(s.FontStyle() ^ 4); }),
      Prop<T>({"Font/Strikeout"}, [](T& s) { s.SetFontStyle(s.FontStyle() ^ 8); }),
      Prop<T>({"Font/Color"}, [](T& s) { s.SetFontColor(s.FontColor() ^ 0x2040A0); }),
      // The same values changed through the font itself.
      Prop<T>({"Font/Name"}, [](T& s) { s.Font().SetName(s.FontName() == "Arial" ? "Verdana" : "Arial"); }),
      Prop<T>({"Font/Bold"}, [](T& s) { s.Font().SetStyle(platform::TFontStyles::FromBits(s.FontStyle() ^ 1)); }),
      Prop<T>({"Font/Color"}, [](T& s) { s.Font().SetColor(s.FontColor() ^ 0x2040A0); }),
      Prop<T>({"FontHeight", "Font/Size"}, [](T& s) { s.SetFontHeight(s.FontHeight() * 2); }),
      Prop<T>({"Alignment"}, [](T& s) { s.SetAlignment(platform::taCenter); }),
      Prop<T>({"AutoSize"}, [](T& s) { s.SetAutoSize(!s.AutoSize()); }),
      Prop<TdtpMemoShape>({"WordWrap"}, [](auto& s) { s.SetWordWrap(!s.WordWrap()); }),

      Prop<TdtpBitmapShape>({"Image"}, [green](auto& s) { s.Image()->LoadFromFile(green); }),
      Prop<TdtpExposedMetafile>({"Image"}, [other](auto& s) { s.Image()->LoadFromFile(other); }),
      Prop<TdtpExposedMetafile>({"OverridePen"}, [](auto& s) { s.SetOverridePen(!s.OverridePen()); }),
      Prop<TdtpExposedMetafile>({"OverrideBrush"}, [](auto& s) { s.SetOverrideBrush(!s.OverrideBrush()); }),
      Prop<TdtpExposedMetafile>({"Pen"}, [](auto& s) { s.Pen()->SetColor(s.Pen()->Color() ^ 0x0000FF); }),
      Prop<TdtpExposedMetafile>({"Brush"}, [](auto& s) { s.Brush()->SetColor(s.Brush()->Color() ^ 0x00FF00); }),
      Prop<TdtpExposedMetafile>({"BrushBitmap"}, [](auto& s) {
        platform::TBitmap b;
        b.SetSize(8, 8);
        s.Brush()->SetBitmap(&b);
      }),

      Prop<TdtpFixtureRect>({"Color"}, [](auto& s) { s.SetColor(s.Color() ^ 0x102030); }),
      Prop<TdtpPage>({"IsDefaultPage"}, [](auto& s) { s.SetIsDefaultPage(!s.IsDefaultPage()); }),
      Prop<TdtpPage>({"MarginLeft", "MarginTop", "MarginRight", "MarginBottom"}, [](auto& s) {
        s.SetMargins(s.MarginLeft() + 1, s.MarginTop() + 2, s.MarginRight() + 3, s.MarginBottom() + 4);
      }),
      Prop<TdtpPage>({"GridSize"}, [](auto& s) { s.SetGridSize(s.GridSize() + 1); }),
      Prop<TdtpPage>({"GridColor"}, [](auto& s) { s.SetGridColor(s.GridColor() ^ 0x111111); }),
      Prop<TdtpPage>({"PageColor"}, [](auto& s) { s.SetPageColor(s.PageColor() ^ 0x222222); }),
      Prop<TdtpPage>({"PageWidth"}, [](auto& s) { s.SetPageWidth(s.DocWidth() + 10); }),
      Prop<TdtpPage>({"PageHeight"}, [](auto& s) { s.SetPageHeight(s.DocHeight() + 10); }),
      Prop<TdtpPage>({"BackgroundImage"}, [](auto& s) {
        auto b = std::make_unique<TBitmap32>();
        b->SetSize(4, 4);
        b->Clear(0xFF336699u);
        s.SetBackgroundImage(std::move(b));
      }),
      Prop<TdtpPage>({"BackgroundTiled"}, [](auto& s) { s.SetBackgroundTiled(!s.BackgroundTiled()); }),
  };
}

// A shape of Cls as code makes one: placed, with content, and carrying every kind of part.
std::unique_ptr<TdtpShape> SampleShape(const TShapeClass& Cls, const std::string& Red) {
  auto s = CreateShape(Cls);
  if (auto* l = dynamic_cast<TdtpLineShape*>(s.get())) {
    l->SetLinePoint(0, {20, 20});
    l->SetLinePoint(1, {60, 50});
  } else {
    s->SetDocBounds(20, 20, 40, 30);
  }
  if (auto* t = dynamic_cast<TdtpTextShape*>(s.get())) t->SetText("Tekst");
  if (auto* f = dynamic_cast<TdtpFreehandShape*>(s.get())) {
    f->AddPointXY(0, 0);
    f->AddPointXY(10, 5);
    f->AddPointXY(20, 30);
  }
  if (auto* e = dynamic_cast<TdtpEffectShape*>(s.get())) {
    e->AddEffect(std::make_unique<TdtpEffect>());
    e->AddEffect(std::make_unique<TdtpBrightContrEffect>());
    e->AddEffect(std::make_unique<TdtpHSLAdjustEffect>());
    e->AddEffect(std::make_unique<TdtpShadowEffect>());
  }
  if (auto* b = dynamic_cast<TdtpBitmapShape*>(s.get())) b->Image()->LoadFromFile(Red);
  if (auto* m = dynamic_cast<TdtpExposedMetafile*>(s.get())) {
    m->Image()->LoadFromFile(Emf());
    m->SetOverridePen(true);
    m->SetOverrideBrush(true);
  }
  return s;
}

}  // namespace

// Every stored property of every registered shape class (the page's own too), set by code on an
// opened document, is written by a save in place: the reloaded shape stores exactly what the
// edited one does. The table must name every element a shape of each class stores.
TEST_F(DocumentTest, EveryStoredPropertySetByCodeIsSaved) {
  raster::InitializeDtpRasterFormats();
  raster::InitializeDtpRasterPNG();
  InitializeDtpResource();
  InitializeDtpEffectShape();
  InitializeDtpColorEffects();
  InitializeDtpShadowEffects();
  InitializeDtpBitmapShape();
  InitializeDtpGroupShape();
  InitializeDtpTextShape();
  InitializeDtpMemoShape();
  InitializeDtpExposedMetafile();
  InitializeDtpPolygonShape();
  InitializeDtpLineShape();
  InitializeDtpFreehandShape();
  std::vector<std::string> classes = {"TdtpShape",          "TdtpEffectShape",   "TdtpBitmapShape",
                                      "TdtpPage",           "TdtpGroupShape",    "TdtpTextShape",
                                      "TdtpExposedMetafile", "TdtpLineShape",    "TdtpLineShape2",
                                      "TdtpMemoShape",      "TdtpFreehandShape", "TdtpFreehandShape2",
                                      "TdtpFixtureRect"};
  for (const TShapeClass* c : PolygonShapeClasses()) classes.push_back(c->Name);
  // Every class of the registry is walked, every effect class is carried.
  ASSERT_EQ(ShapeClassCount(), int32_t(classes.size()));
  ASSERT_EQ(EffectClassCount(), 4);
  // Thousands of saves: what reaches the disk matters here, not when.
  struct TFlushScope {
    TFlushScope() { FileFaults().NoDiskFlush = true; }
    ~TFlushScope() { FileFaults().NoDiskFlush = false; }
  } noFlush;
  const auto table = StoredProperties();
  const std::string red = SamplePicture("walk_red.png", 0xFFFF0000u);
  const std::string base = Path("walk_base.hsf"), work = Path("walk.hsf");

  for (const std::string& name : classes) {
    SCOPED_TRACE(name);
    const TShapeClass& cls = FindShapeClass(name);
    ASSERT_EQ(cls.Name, name);
    const bool isPage = name == "TdtpPage";
    {
      TdtpComponent doc(nullptr);
      // Thumbnails are not stored properties; leaving them out keeps the walk quick.
      doc.SetStoreThumbnails(false);
      if (isPage)
        doc.CurrentPage()->SetIsDefaultPage(false);
      else
        doc.CurrentPage()->AddShape(SampleShape(cls, red));
      doc.SaveToFile(base);
    }
    auto target = [&](TdtpComponent& Doc) -> TdtpShape* {
      return isPage ? Doc.CurrentPage() : Doc.CurrentPage()->GetShape(0);
    };
    // The rows of the class; those it is excepted from still name elements it stores.
    std::vector<const TStoredProperty*> rows, owned;
    {
      auto probe = CreateShape(cls);
      for (const auto& row : table) {
        if (!probe->InheritsFrom(*row.Class)) continue;
        owned.push_back(&row);
        if (std::find(row.Except.begin(), row.Except.end(), name) == row.Except.end()) rows.push_back(&row);
      }
    }
    std::set<std::string> seen;
    for (const TStoredProperty* row : rows) {
      SCOPED_TRACE(row->Elements[0]);
      std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
      TdtpComponent doc(nullptr);
      doc.LoadFromFile(work);
      TdtpShape* s = target(doc);
      ASSERT_NE(s, nullptr);
      const TStoredElements before = StoredElements(s);
      for (const auto& [path, text] : before) seen.insert(Unnumbered(path));
      ASSERT_FALSE(doc.Modified());
      row->Set(*s);
      EXPECT_TRUE(doc.Modified());
      const TStoredElements after = StoredElements(s);
      for (const auto& [path, text] : after) seen.insert(Unnumbered(path));
      // The setter changed what the row says it stores.
      for (const std::string& element : row->Elements) {
        bool changed = false;
        for (const auto& [path, text] : after)
          changed |= Covers(element, path) && (!before.count(path) || before.at(path) != text);
        for (const auto& [path, text] : before) changed |= Covers(element, path) && !after.count(path);
        EXPECT_TRUE(changed) << element << ":" << Differences(before, after);
      }
      doc.SaveToFile(work);
      TdtpComponent again(nullptr);
      again.LoadFromFile(work);
      TdtpShape* back = target(again);
      ASSERT_NE(back, nullptr);
      const TStoredElements reloaded = StoredElements(back);
      EXPECT_TRUE(reloaded == after) << Differences(after, reloaded);
    }
    // The table names every element the class stores (a child shape's are its own class's).
    for (const std::string& path : seen) {
      if (path == "ClassName" || path.compare(0, 6, "Shape/") == 0) continue;
      bool covered = false;
      for (const TStoredProperty* row : owned)
        for (const std::string& element : row->Elements) covered |= Covers(element, path);
      EXPECT_TRUE(covered) << "no row in the table for the stored element " << path;
    }
  }
}

namespace {

// --- every other way code changes stored content, on an opened document, is saved in place ----

// What a document stores: its "Index.xml" properties and every page with its shapes.
TStoredElements DocumentContent(TdtpComponent& Doc) {
  TStoredElements out;
  {
    TXmlDocument xml("Document");
    Doc.SavePropertiesToXml(xml.Root());
    CollectElements(xml.Root(), "Index/", out);
  }
  for (int32_t i = 0; i < Doc.GetPageCount(); ++i) {
    TdtpPage* p = Doc.GetPage(i);
    p->EnsureLoaded();
    TXmlDocument xml("Page");
    p->SaveToXml(xml.Root());
    CollectElements(xml.Root(), "Page" + std::to_string(i) + "/", out);
  }
  return out;
}

// One way in: what code does to the opened document, whose second page is current. Shown, when
// set, is the shape of that page whose middle must then paint in Colour.
struct TStoredChange {
  std::string Name;
  std::function<void(TdtpComponent&, TdtpPage&)> Apply;
  int32_t Shown = -1;
  uint32_t Colour = 0;
};

}  // namespace

// Beside the setters: assigning, clearing, adding, inserting, extracting and exchanging shapes,
// a resource's Assign, LoadFromFile and stored fields, line and outline points, the document's
// own properties and its pages. Each is marked modified, shown, and written by a save in place.
TEST_F(DocumentTest, EveryChangeByCodeIsSaved) {
  raster::InitializeDtpRasterFormats();
  raster::InitializeDtpRasterPNG();
  InitializeDtpResource();
  InitializeDtpEffectShape();
  InitializeDtpColorEffects();
  InitializeDtpShadowEffects();
  InitializeDtpBitmapShape();
  InitializeDtpGroupShape();
  InitializeDtpTextShape();
  InitializeDtpMemoShape();
  InitializeDtpExposedMetafile();
  InitializeDtpPolygonShape();
  InitializeDtpLineShape();
  InitializeDtpFreehandShape();
  const std::string red = SamplePicture("change_red.png", 0xFFFF0000u);
  const std::string green = SamplePicture("change_green.png", 0xFF00FF00u);
  const std::string paths = kdtest::SourcePath("fuzz/corpus/fuzz_emf/paths.emf");
  const std::string base = Path("change_base.hsf"), work = Path("change.hsf");
  enum { kRed, kGreen, kLines, kPaths, kText, kOther, kLine, kGroup, kMemo, kRect, kStroke };
  {
    TdtpComponent doc(nullptr);
    doc.SetStoreThumbnails(false);
    doc.AddPage(nullptr);
    TdtpPage* page = doc.GetPage(1);
    auto add = [&](const char* Class, float L, float T, float W, float H) {
      auto s = CreateShape(FindShapeClass(Class));
      TdtpShape* raw = s.get();
      page->AddShape(std::move(s));
      raw->SetDocBounds(L, T, W, H);
      return raw;
    };
    static_cast<TdtpBitmapShape*>(add("TdtpBitmapShape", 20, 20, 40, 30))->Image()->LoadFromFile(red);
    static_cast<TdtpBitmapShape*>(add("TdtpBitmapShape", 70, 20, 40, 30))->Image()->LoadFromFile(green);
    static_cast<TdtpExposedMetafile*>(add("TdtpExposedMetafile", 20, 60, 40, 30))->Image()->LoadFromFile(Emf());
    static_cast<TdtpExposedMetafile*>(add("TdtpExposedMetafile", 70, 60, 40, 30))->Image()->LoadFromFile(paths);
    static_cast<TdtpTextShape*>(add("TdtpTextShape", 20, 100, 40, 10))->SetText("Tekst");
    static_cast<TdtpTextShape*>(add("TdtpTextShape", 70, 100, 50, 12))->SetText("Ander");
    auto* line = static_cast<TdtpLineShape*>(add("TdtpLineShape", 0, 0, 1, 1));
    line->SetLinePoint(0, {20, 130});
    line->SetLinePoint(1, {60, 150});
    TdtpShape* group = add("TdtpGroupShape", 20, 160, 60, 40);
    auto child = CreateShape(TdtpTextShape::StaticClass());
    static_cast<TdtpTextShape*>(child.get())->SetText("Kind \xE2\x86\x92 \xC5\xB5 \xF0\x9F\x98\x80");
    group->AddShape(std::move(child));
    group->GetShape(0)->SetDocBounds(0, 0, 30, 10);
    group->AddShape(CreateShape(FindShapeClass("TdtpRectangleShape")));
    group->GetShape(1)->SetDocBounds(30, 20, 30, 20);
    static_cast<TdtpMemoShape*>(add("TdtpMemoShape", 90, 160, 40, 30))->SetLines({"een", "twee"});
    add("TdtpRectangleShape", 70, 130, 30, 20);
    auto* stroke = static_cast<TdtpFreehandShape*>(add("TdtpFreehandShape", 110, 130, 30, 20));
    stroke->AddPointXY(0, 0);
    stroke->AddPointXY(10, 5);
    stroke->AddPointXY(20, 15);
    auto* rect = static_cast<TdtpEffectShape*>(page->GetShape(kRect));
    rect->AddEffect(std::make_unique<TdtpShadowEffect>());
    rect->AddEffect(std::make_unique<TdtpBrightContrEffect>());
    doc.SaveToFile(base);
  }
  auto S = [](TdtpPage& P, int32_t I) { return P.GetShape(I); };
  auto Bitmap = [](TdtpPage& P, int32_t I) { return static_cast<TdtpBitmapShape*>(P.GetShape(I)); };
  auto Meta = [](TdtpPage& P, int32_t I) { return static_cast<TdtpExposedMetafile*>(P.GetShape(I)); };
  auto Stroke = [](TdtpPage& P) { return static_cast<TdtpFreehandShape*>(P.GetShape(kStroke)); };
  auto Rect = [] { return CreateShape(FindShapeClass("TdtpRectangleShape")); };
  auto Effects = [](TdtpPage& P, int32_t I) { return static_cast<TdtpEffectShape*>(P.GetShape(I)); };
  // A page's own settings are stored once it no longer takes the document's: a saved page of
  // that kind first.
  auto Own = [&](TdtpComponent& D, TdtpPage& P) {
    P.SetIsDefaultPage(false);
    D.SaveToFile(work);
  };
  const std::vector<TStoredChange> changes = {
      // Shapes as a whole.
      {"Assign text", [&](auto&, auto& P) { S(P, kText)->Assign(S(P, kOther)); }},
      {"Assign bitmap", [&](auto&, auto& P) { S(P, kRed)->Assign(S(P, kGreen)); }, kRed, 0x00FF00},
      {"Assign metafile", [&](auto&, auto& P) { S(P, kLines)->Assign(S(P, kPaths)); }},
      {"Assign group",
       [&](auto&, auto& P) {
         auto copy = CreateShape(TdtpGroupShape::StaticClass());
         copy->Assign(S(P, kGroup));
         copy->GetShape(0)->SetDocLeft(5);
         S(P, kGroup)->Assign(copy.get());
       }},
      {"Clear bitmap", [&](auto&, auto& P) { S(P, kRed)->Clear(); }},
      {"Clear text", [&](auto&, auto& P) { S(P, kText)->Clear(); }},
      {"Clear group", [&](auto&, auto& P) { S(P, kGroup)->Clear(); }},
      // Geometry through the operations that place a shape.
      {"SetDocPosition", [&](auto&, auto& P) { S(P, kText)->SetDocPosition(33, 44); }},
      {"SetDocSize", [&](auto&, auto& P) { S(P, kRed)->SetDocSize(22, 11); }},
      {"SetDocBoundsAngle", [&](auto&, auto& P) { S(P, kRect)->SetDocBoundsAngle(60, 120, 20, 25, 45); }},
      {"SetDocBoundsConstrained", [&](auto&, auto& P) { S(P, kRect)->SetDocBoundsConstrained(60, 120, 20, 25); }},
      {"SetBoundsFromRect", [&](auto&, auto& P) { S(P, kRect)->SetBoundsFromRect({61, 121, 81, 141}); }},
      {"InflateBy", [&](auto&, auto& P) { S(P, kOther)->InflateBy(2, 3); }},
      {"CenterAt", [&](auto&, auto& P) { S(P, kGroup)->CenterAt(100, 200); }},
      {"RotateAboutCentre", [&](auto&, auto& P) { S(P, kRect)->RotateAboutCentre(30); }},
      {"SetParentLeft", [&](auto&, auto& P) { S(P, kGroup)->GetShape(1)->SetParentLeft(12); }},
      {"SetParentTop", [&](auto&, auto& P) { S(P, kGroup)->GetShape(1)->SetParentTop(7); }},
      {"SetPaintOutset", [&](auto&, auto& P) { S(P, kRect)->SetPaintOutset(2); }},
      {"SetPropertyByName", [&](auto&, auto& P) { S(P, kRect)->SetPropertyByName("DocLeft", "33"); }},
      {"Constraints assigned", [&](auto&, auto& P) {
         auto other = CreateShape(TdtpShape::StaticClass());
         other->Constraints().MaxWidth = 500;
         S(P, kRect)->Constraints() = other->Constraints();
       }},
      {"Arrow assigned", [&](auto&, auto& P) {
         auto other = NewShape<TdtpLineShape>();
         other->Arrow0()->SetStyle(asOval);
         other->Arrow0()->Width = 7;
         *static_cast<TdtpLineShape*>(S(P, kLine))->Arrow0() = *other->Arrow0();
       }},
      {"FitPoints", [&](auto&, auto& P) { Stroke(P)->FitPoints({0, 0, 10, 40}); }},
      {"Page width", [&](auto&, auto& P) { P.SetPageWidth(300); }},
      // Children.
      {"AddShape", [&](auto&, auto& P) { P.AddShape(Rect()); }},
      {"AddShape to a group", [&](auto&, auto& P) { S(P, kGroup)->AddShape(Rect()); }},
      {"InsertShape", [&](auto&, auto& P) { P.InsertShape(0, Rect()); }},
      {"InsertShape into a group", [&](auto&, auto& P) { S(P, kGroup)->InsertShape(1, Rect()); }},
      {"DeleteShape", [&](auto&, auto& P) { P.DeleteShape(kPaths); }},
      {"RemoveShape", [&](auto&, auto& P) { P.RemoveShape(S(P, kLine)); }},
      {"ExtractShape", [&](auto&, auto& P) { P.ExtractShape(S(P, kOther)); }},
      {"ExtractShape from a group", [&](auto&, auto& P) { S(P, kGroup)->ExtractShape(S(P, kGroup)->GetShape(0)); }},
      {"ClearShapes of a group", [&](auto&, auto& P) { S(P, kGroup)->ClearShapes(); }},
      {"MoveShapeIndex", [&](auto&, auto& P) { P.MoveShapeIndex(kRed, kMemo); }},
      {"MoveShapeIndex in a group", [&](auto&, auto& P) { S(P, kGroup)->MoveShapeIndex(0, 1); }},
      // Resources.
      {"Image Assign from a shape", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->Assign(Bitmap(P, kGreen)->Image()); },
       kRed, 0x00FF00},
      {"Image Assign from a bare resource",
       [&](auto&, auto& P) {
         TdtpResource bare;
         bare.LoadFromFile(green);
         bare.Ext = ".png";
         Bitmap(P, kRed)->Image()->Assign(&bare);
       },
       kRed, 0x00FF00},
      {"Image LoadFromFile", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->LoadFromFile(green); }, kRed, 0x00FF00},
      {"Metafile image Assign", [&](auto&, auto& P) { Meta(P, kLines)->Image()->Assign(Meta(P, kPaths)->Image()); }},
      {"Image FileName", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->FileName = "ander.png"; }},
      {"Image ArchName", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->ArchName = "img7"; }},
      {"Image Ext", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->Ext = ".PNG"; }},
      {"Image Storage", [&](auto&, auto& P) { Bitmap(P, kRed)->Image()->Storage = TdtpResourceStorage::None; }},
      {"Metafile image FileName", [&](auto&, auto& P) { Meta(P, kLines)->Image()->FileName = "ander.emf"; }},
      // Points.
      {"AddLinePoint", [&](auto&, auto& P) { static_cast<TdtpLineShape*>(S(P, kLine))->AddLinePoint({170, 150}); }},
      {"AddPoint", [&](auto&, auto& P) { Stroke(P)->AddPoint({25, 5}); }},
      {"NewContour", [&](auto&, auto& P) {
         Stroke(P)->NewContour();
         Stroke(P)->AddPointXY(3, 17);
       }},
      {"ClearPoints", [&](auto&, auto& P) { Stroke(P)->ClearPoints(); }},
      {"OffsetPoints", [&](auto&, auto& P) { Stroke(P)->OffsetPoints(2, 3); }},
      {"ScalePoints", [&](auto&, auto& P) { Stroke(P)->ScalePoints(0.5f, 0.75f); }},
      {"SetLines", [&](auto&, auto& P) { static_cast<TdtpMemoShape*>(S(P, kMemo))->SetLines({"drie"}); }},
      {"AppendPoint", [&](auto&, auto& P) { Stroke(P)->AppendPoint({12, 19}); }},
      // Effects.
      {"AddEffect", [&](auto&, auto& P) { Effects(P, kRed)->AddEffect(std::make_unique<TdtpHSLAdjustEffect>()); }},
      {"Effect Enabled", [&](auto&, auto& P) { Effects(P, kRect)->GetEffect(0)->Enabled = false; }},
      {"Effect Source", [&](auto&, auto& P) { Effects(P, kRect)->GetEffect(1)->Source = 0; }},
      {"Shadow DeltaX", [&](auto&, auto& P) { static_cast<TdtpShadowEffect*>(Effects(P, kRect)->GetEffect(0))->DeltaX = 4; }},
      {"Brightness", [&](auto&, auto& P) { static_cast<TdtpBrightContrEffect*>(Effects(P, kRect)->GetEffect(1))->SetBrightness(0.5f); }},
      {"Effects cleared", [&](auto&, auto& P) { Effects(P, kRect)->Clear(); }},
      // Editing operations of the document.
      {"DeleteSelection", [&](auto& D, auto& P) {
         S(P, kRect)->SetSelected(true);
         D.DeleteSelection();
       }},
      {"XmlToSelection", [&](auto& D, auto& P) {
         S(P, kRect)->SetSelected(true);
         D.XmlToSelection(D.SelectionToXml());
       }},
      // The page's own settings.
      {"Page height", [](auto&, auto& P) { P.SetPageHeight(200); }},
      {"Page size", [](auto&, auto& P) { P.SetDocSize(150, 150); }},
      {"Page not default", [](auto&, auto& P) { P.SetIsDefaultPage(false); }},
      {"Page colour", [&](auto& D, auto& P) {
         Own(D, P);
         P.SetPageColor(0x00FFFF);
       }},
      {"Page margins", [&](auto& D, auto& P) {
         Own(D, P);
         P.SetMargins(1, 2, 3, 4);
       }},
      {"Page grid size", [&](auto& D, auto& P) {
         Own(D, P);
         P.SetGridSize(7);
       }},
      {"Page grid colour", [&](auto& D, auto& P) {
         Own(D, P);
         P.SetGridColor(0x123456);
       }},
      {"Page tiled", [&](auto& D, auto& P) {
         Own(D, P);
         P.SetBackgroundTiled(true);
       }},
      {"Page background", [&](auto& D, auto& P) {
         Own(D, P);
         auto image = std::make_unique<TBitmap32>();
         image->SetSize(4, 4);
         image->Clear(0xFF00FF00u);
         P.SetBackgroundImage(std::move(image));
       }},
      // The document and its pages.
      {"ShowMargins", [](auto& D, auto&) { D.SetShowMargins(!D.ShowMargins()); }},
      {"SnapToGrid", [](auto& D, auto&) { D.SetSnapToGrid(!D.SnapToGrid()); }},
      {"StepAngle", [](auto& D, auto&) { D.SetStepAngle(D.StepAngle() + 15); }},
      {"HandleColor", [](auto& D, auto&) { D.SetHandleColor(D.HandleColor() ^ 0x123456); }},
      {"HandleEdgeColor", [](auto& D, auto&) { D.SetHandleEdgeColor(D.HandleEdgeColor() ^ 0x654321); }},
      {"StoreThumbnails", [](auto& D, auto&) { D.SetStoreThumbnails(!D.StoreThumbnails()); }},
      {"ReadOnly", [](auto& D, auto&) { D.SetReadOnly(true); }},
      {"DefaultPageWidth", [](auto& D, auto&) { D.SetDefaultPageWidth(D.DefaultPageWidth() + 10); }},
      {"DefaultPageHeight", [](auto& D, auto&) { D.SetDefaultPageHeight(D.DefaultPageHeight() + 10); }},
      {"DefaultMarginLeft", [](auto& D, auto&) { D.SetDefaultMarginLeft(D.DefaultMarginLeft() + 1); }},
      {"DefaultMarginTop", [](auto& D, auto&) { D.SetDefaultMarginTop(D.DefaultMarginTop() + 1); }},
      {"DefaultMarginRight", [](auto& D, auto&) { D.SetDefaultMarginRight(D.DefaultMarginRight() + 1); }},
      {"DefaultMarginBottom", [](auto& D, auto&) { D.SetDefaultMarginBottom(D.DefaultMarginBottom() + 1); }},
      {"DefaultGridSize", [](auto& D, auto&) { D.SetDefaultGridSize(D.DefaultGridSize() + 1); }},
      {"DefaultGridColor", [](auto& D, auto&) { D.SetDefaultGridColor(D.DefaultGridColor() ^ 0x101010); }},
      {"DefaultPageColor", [](auto& D, auto&) { D.SetDefaultPageColor(D.DefaultPageColor() ^ 0x202020); }},
      {"ThumbnailWidth", [](auto& D, auto&) { D.SetThumbnailWidth(D.ThumbnailWidth() + 8); }},
      {"ThumbnailHeight", [](auto& D, auto&) { D.SetThumbnailHeight(D.ThumbnailHeight() + 6); }},
      {"AddPage", [](auto& D, auto&) { D.AddPage(nullptr); }},
      {"DeletePage", [](auto& D, auto&) { D.DeletePage(0); }},
      {"SetPageCount", [](auto& D, auto&) { D.SetPageCount(4); }},
      {"AddPage of another document's page", [&](auto& D, auto&) {
         TdtpComponent other(nullptr);
         other.LoadFromFile(base);  // its second page not read yet
         D.AddPage(std::unique_ptr<TdtpPage>(other.GetPage(1)));
         ASSERT_EQ(other.GetPageCount(), 1);
         EXPECT_EQ(D.GetPage(2)->GetShapeCount(), kStroke + 1);
       }},
  };
  // The colour in the middle of a shape as its page paints.
  auto middle = [](TdtpPage& Page, TdtpShape* S) {
    TdtpFloatPoint c;
    S->LocalToScreen({S->DocWidth() / 2, S->DocHeight() / 2}, c);
    TBitmap32 target;
    target.SetSize(int32_t(c.X) + 10, int32_t(c.Y) + 10);
    Page.PaintToCanvas(detail::TBitmap32Canvas(&target).Canvas());
    return target.Pixel(int32_t(c.X), int32_t(c.Y)) & 0xFFFFFFu;
  };
  for (const TStoredChange& change : changes) {
    SCOPED_TRACE(change.Name);
    std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(work);
    doc.SetCurrentPageIndex(1);
    TdtpPage* page = doc.CurrentPage();
    ASSERT_EQ(page->GetShapeCount(), kStroke + 1);
    const TStoredElements before = DocumentContent(doc);
    TdtpShape* shown = change.Shown >= 0 ? page->GetShape(change.Shown) : nullptr;
    if (shown) {
      EXPECT_NE(middle(*page, shown), change.Colour);
    }
    ASSERT_FALSE(doc.Modified());
    change.Apply(doc, *page);
    EXPECT_TRUE(doc.Modified());
    if (shown) {
      EXPECT_EQ(middle(*doc.CurrentPage(), shown), change.Colour);
    }
    const TStoredElements after = DocumentContent(doc);
    EXPECT_FALSE(after == before) << "nothing stored changed";
    doc.SaveToFile(work);
    TdtpComponent again(nullptr);
    again.LoadFromFile(work);
    const TStoredElements reloaded = DocumentContent(again);
    EXPECT_TRUE(reloaded == after) << Differences(after, reloaded);
  }
  // The other way round: looking at a document, also at text windows-1252 lacks and at pictures
  // decoded on their first paint, changes nothing that a save would write.
  auto paint = [](TdtpComponent& D) {
    platform::TBitmap bmp;
    bmp.SetPixelFormat(platform::pf32bit);
    bmp.SetSize(400, 300);
    D.PaintDocument(bmp.Canvas());
    D.PaintSelection(bmp.Canvas());
    bmp.Canvas()->Release();
  };
  const std::vector<TStoredChange> views = {
      {"paint", [&](auto& D, auto&) { paint(D); }},
      {"page through", [&](auto& D, auto&) {
         for (int32_t i : {0, 1, 0, 1}) D.SetCurrentPageIndex(i), paint(D);
       }},
      {"zoom", [&](auto& D, auto&) {
         D.ZoomIn(), paint(D), D.ZoomOut(), D.SetZoomPercent(150), paint(D);
         D.ZoomFitPage(), D.ZoomFitWidth(), D.ZoomPageWidth(), D.SetScreenDpm(3), paint(D);
       }},
      {"view style", [&](auto& D, auto&) { D.SetViewStyle(vsNormal), paint(D); }},
      {"render resolution", [&](auto& D, auto&) { D.SetRenderDPI(300), paint(D), D.SetRenderAtScreenRes(true), paint(D); }},
      {"select", [&](auto& D, auto& P) {
         for (int32_t i = 0; i <= kStroke; ++i) S(P, i)->SetSelected(true);
         paint(D);
         D.ToggleSelection(S(P, kRed));
         D.ClearSelection();
         TdtpShape* hit = nullptr;
         D.HitTest({200, 150}, hit);
       }},
      {"copy", [&](auto& D, auto& P) { S(P, kGroup)->SetSelected(true), D.CopyToClipboard(); }},
      {"edit left unchanged", [&](auto& D, auto& P) {
         D.EditShape(S(P, kGroup)->GetShape(0)), paint(D), D.EndShapeEdit(true);
         D.EditShape(S(P, kMemo)), D.EndShapeEdit(false);
       }},
      {"thumbnails and ticks", [&](auto& D, auto&) {
         for (int32_t i = 0; i < D.GetPageCount(); ++i) D.GetPage(i)->GetThumbnail();
         while (D.DoAutoPageUpdate()) {
         }
         D.TimerTick(nullptr);
       }},
      {"buffers freed", [&](auto& D, auto& P) { paint(D), P.FreeBuffersAll(), paint(D); }},
  };
  for (const TStoredChange& view : views) {
    SCOPED_TRACE(view.Name);
    std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(work);
    doc.SetCurrentPageIndex(1);
    TdtpPage* page = doc.CurrentPage();
    view.Apply(doc, *page);
    EXPECT_FALSE(doc.Modified());
    for (int32_t i = 0; i < doc.GetPageCount(); ++i) EXPECT_FALSE(doc.GetPage(i)->Modified()) << i;
  }
}
