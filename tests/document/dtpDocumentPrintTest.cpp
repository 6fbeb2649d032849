// Printing through the PDF printer, checked with pdfinfo and pdftoppm.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QImage>

#include "../common/TestSupport.h"
#include "document/dtpDocument.h"
#include "document/dtpPolygonShape.h"
#include "platform/Printers.h"
#include "platform/SysUtils.h"
#include "tools/DocumentFixtures.h"

using namespace document;

namespace {

std::string Run(const std::string& Cmd) {
  std::string out;
  FILE* p = popen(Cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

int PdfPages(const std::string& Pdf) {
  const std::string info = Run("pdfinfo \"" + Pdf + "\" 2>/dev/null");
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// Page N of the PDF as an image at 20 dots per inch.
QImage PdfSheet(const std::string& Pdf, int N) {
  const std::string prefix = Pdf + "-sheet";
  Run("pdftoppm -r 20 -png -f " + std::to_string(N) + " -l " + std::to_string(N) + " \"" + Pdf + "\" \"" + prefix +
      "\"");
  QImage img(QString::fromStdString(prefix + "-" + std::to_string(N) + ".png"));
  if (img.isNull()) img.load(QString::fromStdString(prefix + "-0" + std::to_string(N) + ".png"));
  return img;
}

// Millimetres on the sheet to pixels at 20 dots per inch.
int Px(double Mm) { return int(Mm / 25.4 * 20 + 0.5); }

bool Near(QRgb P, QRgb Want) {
  return std::abs(qRed(P) - qRed(Want)) < 40 && std::abs(qGreen(P) - qGreen(Want)) < 40 &&
         std::abs(qBlue(P) - qBlue(Want)) < 40;
}

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdfixture::InitializeFixtures();
    auto printer = std::make_unique<platform::TPrinter>();
    printer->SetPaper(210, 297, 10);
    printer->SetResolution(100);
    previous = platform::SetPrinter(std::move(printer));
    pdf = kdtest::OutputDir() + "/document_print_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pdf";
    std::remove(pdf.c_str());
    platform::Printer()->SetOutputFileName(pdf);
    // Page 1 portrait with a red block, page 2 landscape with a blue one, both at 20..100 mm
    // across and 20..120 mm down from the page's top-left corner.
    const std::string file = kdtest::TempDir() + "/print.hsf";
    kdfixture::MakeSampleDocument(doc, file, 2, 1);
    TdtpPage* p2 = doc.GetPage(1);
    p2->SetIsDefaultPage(false);
    p2->SetDocBounds(0, 0, 297, 210);
  }
  void TearDown() override { platform::SetPrinter(std::move(previous)); }

  std::unique_ptr<platform::TPrinter> previous;
  std::string pdf;
  TdtpComponent doc{nullptr};
};

TEST_F(PrintTest, TwoPagesUprightAndTurned) {
  std::vector<float> percents;
  doc.OnProgress = [&](platform::TObject*, int32_t Type, int32_t, int32_t Total, float Percent) {
    EXPECT_EQ(Type, ptPrinting);
    EXPECT_EQ(Total, 2);
    percents.push_back(Percent);
  };
  const float screen = doc.ScreenDpm(), render = doc.RenderDpm();
  doc.SetPrintQuality(pqMedium);
  EXPECT_FLOAT_EQ(doc.PrintQualityDpm(), 11.811024f);
  doc.PrintRange(0, 2);
  EXPECT_FALSE(doc.IsBusy());
  EXPECT_FALSE(doc.IsPrinting());
  EXPECT_FLOAT_EQ(doc.ScreenDpm(), screen);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), render);
  ASSERT_FALSE(percents.empty());
  EXPECT_FLOAT_EQ(percents.front(), 0);
  EXPECT_FLOAT_EQ(percents.back(), 100.0f);

  ASSERT_EQ(PdfPages(pdf), 2);
  const QImage upright = PdfSheet(pdf, 1);
  ASSERT_FALSE(upright.isNull());
  EXPECT_NEAR(upright.width(), Px(210), 1);
  // The portrait page fills the sheet: its block where it is on the page.
  EXPECT_TRUE(Near(upright.pixel(Px(60), Px(70)), qRgb(255, 0, 0)));
  EXPECT_TRUE(Near(upright.pixel(Px(150), Px(200)), qRgb(255, 255, 255)));
  // The landscape page is turned a quarter counter-clockwise, as printers turn landscape
  // pages: page point (x, y) lands on the sheet at (y, 297 - x) millimetres.
  const QImage turned = PdfSheet(pdf, 2);
  ASSERT_FALSE(turned.isNull());
  EXPECT_TRUE(Near(turned.pixel(Px(70), Px(297 - 60)), qRgb(0, 0, 255)));
  EXPECT_TRUE(Near(turned.pixel(Px(210 - 70), Px(60)), qRgb(255, 255, 255)));
  EXPECT_TRUE(Near(turned.pixel(Px(30), Px(297 - 90)), qRgb(0, 0, 255)));
}

TEST_F(PrintTest, IndicesWithoutPagesPrintNothing) {
  doc.PrintRange(0, 3);
  EXPECT_EQ(PdfPages(pdf), 2);
  std::remove(pdf.c_str());
  // A huge count is clamped to the pages there are.
  doc.PrintRange(1, INT_MAX);
  EXPECT_EQ(PdfPages(pdf), 1);
  std::remove(pdf.c_str());
  doc.Print({5, 1, -1});
  EXPECT_EQ(PdfPages(pdf), 1);
}

// A range that starts before the first page prints the pages it reaches, in order.
TEST_F(PrintTest, RangeStartingBeforeTheFirstPagePrintsThePagesItCovers) {
  doc.PrintRange(-1, 3);
  ASSERT_EQ(PdfPages(pdf), 2);
  EXPECT_TRUE(Near(PdfSheet(pdf, 1).pixel(Px(60), Px(70)), qRgb(255, 0, 0)));
  std::remove(pdf.c_str());
  doc.PrintRange(-2, 3);
  ASSERT_EQ(PdfPages(pdf), 1);
  EXPECT_TRUE(Near(PdfSheet(pdf, 1).pixel(Px(60), Px(70)), qRgb(255, 0, 0)));
  std::remove(pdf.c_str());
  doc.PrintRange(INT_MIN, INT_MAX);
  EXPECT_EQ(PdfPages(pdf), -1);  // no job
  doc.PrintRange(-1, INT_MAX);
  EXPECT_EQ(PdfPages(pdf), 2);
}

// A list in which no page prints starts no job: no sheet, not even a blank one.
TEST_F(PrintTest, NoPrintablePageStartsNoJob) {
  doc.GetPage(1)->SetDocBounds(0, 0, 0, 100);  // nothing to print
  const std::vector<std::vector<int32_t>> lists = {{5}, {}, {-1, 2, 7}, {1}, {1, 9, 1}};
  std::vector<float> progress;
  doc.OnProgress = [&](platform::TObject*, int32_t, int32_t, int32_t, float P) { progress.push_back(P); };
  for (const auto& list : lists) {
    progress.clear();
    doc.Print(list);
    EXPECT_FALSE(platform::FileExists(pdf)) << list.size();
    EXPECT_FALSE(platform::Printer()->Printing());
    ASSERT_FALSE(progress.empty());
    EXPECT_FLOAT_EQ(progress.back(), 100.0f);
  }
  // One page that prints among them gives one sheet.
  doc.Print({5, 1, 0, 9});
  EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(PrintTest, SquarePageAndEmptyPage) {
  TdtpPage* p1 = doc.GetPage(0);
  p1->SetIsDefaultPage(false);
  p1->SetDocBounds(0, 0, 150, 150);
  doc.GetPage(1)->SetDocBounds(0, 0, 0, 100);  // nothing to print
  doc.Print({0, 1});
  ASSERT_EQ(PdfPages(pdf), 1);
  // A square page is upright (both scales equal): the block stays top-left.
  const QImage sheet = PdfSheet(pdf, 1);
  const double k = 210.0 / 150.0;
  EXPECT_TRUE(Near(sheet.pixel(Px(60 * k), Px(70 * k)), qRgb(255, 0, 0)));
}

TEST_F(PrintTest, FailureAbortsAndRestoresView) {
  const float screen = doc.ScreenDpm(), render = doc.RenderDpm();
  doc.OnPaintBackground = [](platform::TObject*, platform::TCanvas*, const platform::TRect&) {
    throw platform::Exception("paint failed");
  };
  try {
    doc.PrintPage(0);
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message, "paint failed");
  }
  EXPECT_FALSE(doc.IsBusy());
  EXPECT_FALSE(doc.IsPrinting());
  EXPECT_FALSE(platform::Printer()->Printing());
  EXPECT_FLOAT_EQ(doc.ScreenDpm(), screen);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), render);
  // The document prints normally afterwards.
  doc.OnPaintBackground = nullptr;
  doc.PrintPage(1);
  EXPECT_EQ(PdfPages(pdf), 1);
}

// A page printed at 300 DPI on a sheet of its own size lands pixel for pixel on the sheet:
// the PDF rasterised at 300 DPI equals the page rendered at 300 DPI. Lossy band storage
// (JPEG) would change the pixels along every edge.
TEST_F(PrintTest, PrintedBandsAreLossless) {
  // 2 by 3 inches: 144 x 216 points, 600 x 900 pixels at 300 DPI.
  auto printer = std::make_unique<platform::TPrinter>();
  printer->SetPaper(50.8, 76.2, 0);
  printer->SetResolution(300);
  printer->SetOutputFileName(pdf);
  auto old = platform::SetPrinter(std::move(printer));
  TdtpPage* page = doc.GetPage(0);
  page->SetIsDefaultPage(false);
  page->SetDocBounds(0, 0, 50.8f, 76.2f);
  // Antialiased edges, a hairline and a thick outline in several colours.
  auto ellipse = NewShape<TdtpEllipseShape>();
  ellipse->SetFillColor(0x00C000);
  ellipse->SetOutlineColor(0x800080);
  ellipse->SetOutlineWidth(0.7f);
  TdtpShape* e = ellipse.get();
  page->AddShape(std::move(ellipse));
  e->SetDocBounds(5, 40, 38, 27);
  e->SetDocAngle(17);
  auto ring = NewShape<TdtpEllipseShape>();
  ring->SetUseFill(false);
  ring->SetOutlineWidth(0);
  TdtpShape* r = ring.get();
  page->AddShape(std::move(ring));
  r->SetDocBounds(8, 3, 30, 12);
  doc.SetPrintQuality(pqMedium);
  doc.PrintPage(0);
  platform::SetPrinter(std::move(old));

  platform::TBitmap want;
  want.SetPixelFormat(platform::pf32bit);
  want.SetSize(600, 900);
  page->PaintTo(want.Canvas(), {0, 0, 600, 900}, 11.811024f, 0, false, false);
  want.Canvas()->Release();

  // Rasterised at 1200 DPI every page pixel is a 4 x 4 block: poppler copies images enlarged
  // four times or more without smoothing (below that it interpolates even at 1:1), so each
  // block must hold exactly the rendered pixel.
  const std::string prefix = pdf + "-1200";
  ::Run("pdftoppm -r 1200 -singlefile \"" + pdf + "\" \"" + prefix + "\"");
  const std::vector<uint8_t> ppm = kdtest::ReadFileBytes(prefix + ".ppm");
  int pw = 0, ph = 0, maxv = 0, consumed = 0;
  const std::string head(ppm.begin(), ppm.begin() + std::min<size_t>(ppm.size(), 40));
  ASSERT_EQ(std::sscanf(head.c_str(), "P6 %d %d %d%n", &pw, &ph, &maxv, &consumed), 3);
  ASSERT_EQ(pw, 2400);
  ASSERT_EQ(ph, 3600);
  const size_t data = size_t(consumed) + 1;
  ASSERT_GE(ppm.size(), data + size_t(pw) * ph * 3);
  const QImage& w = want.Image();
  int differing = 0, colours = 0;
  QRgb last = 0;
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x) {
      const uint8_t* px = &ppm[data + (size_t(y) * pw + x) * 3];
      const QRgb b = w.pixel(x / 4, y / 4) & 0xFFFFFF;
      differing += qRgb(px[0], px[1], px[2]) != (b | 0xFF000000u);
      if (x % 4 == 0 && y % 4 == 0) {
        colours += b != last;
        last = b;
      }
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(colours, 200);  // the page has edges worth comparing
}

}  // namespace

// A page not read from its file yet prints with its stored size: a landscape page that was
// never shown is turned like one that was.
TEST_F(PrintTest, PageNotYetLoadedPrintsWithItsOwnSize) {
  const std::string file = kdtest::TempDir() + "/print_unloaded.hsf";
  doc.SaveToFile(file);
  doc.LoadFromFile(file);
  ASSERT_FALSE(doc.GetPage(1)->Loaded());
  doc.PrintPage(1);
  ASSERT_EQ(PdfPages(pdf), 1);
  const QImage turned = PdfSheet(pdf, 1);
  ASSERT_FALSE(turned.isNull());
  EXPECT_TRUE(Near(turned.pixel(Px(70), Px(297 - 60)), qRgb(0, 0, 255)));
  EXPECT_TRUE(Near(turned.pixel(Px(210 - 70), Px(60)), qRgb(255, 255, 255)));
  EXPECT_TRUE(Near(turned.pixel(Px(30), Px(297 - 90)), qRgb(0, 0, 255)));
  EXPECT_FLOAT_EQ(doc.GetPage(1)->DocWidth(), 297);
}
