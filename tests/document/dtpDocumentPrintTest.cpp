// Printing through the PDF printer, checked with pdfinfo and pdftoppm.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QImage>

#include "../common/TestSupport.h"
#include "document/dtpDocument.h"
#include "platform/Printers.h"
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

}  // namespace
