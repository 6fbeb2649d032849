// Printing to PDF files, checked with poppler's pdfinfo and pdftoppm.
#include <gtest/gtest.h>

#include <QPrinterInfo>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "platform/Printers.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

// The value of one "Name: value" line of pdfinfo's report.
std::string Field(const std::string& info, const std::string& name) {
  size_t at = ("\n" + info).find("\n" + name + ":");
  if (at == std::string::npos) return {};
  at = info.find_first_not_of(' ', at + name.size() + 2);
  return info.substr(at, info.find('\n', at) - at);
}

struct TGray {
  int W = 0, H = 0;
  std::vector<uint8_t> Px;
  int At(int x, int y) const { return Px[static_cast<size_t>(y) * W + x]; }
};

// Renders one page of a PDF at Dpi into an 8-bit grey image.
TGray RenderPage(const std::string& pdf, int page, int dpi) {
  std::string base = kdtest::TempDir() + "/page";
  RunCommand("pdftoppm -gray -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
      std::to_string(page) + " -singlefile '" + pdf + "' '" + base + "'");
  std::vector<uint8_t> bytes = kdtest::ReadFileBytes(base + ".pgm");
  TGray g;
  // "P5\n<w> <h>\n255\n" then the pixels.
  std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 40));
  int maxv = 0, consumed = 0;
  if (std::sscanf(head.c_str(), "P5 %d %d %d%n", &g.W, &g.H, &maxv, &consumed) != 3) return {};
  size_t off = static_cast<size_t>(consumed) + 1;
  if (bytes.size() < off + static_cast<size_t>(g.W) * g.H) return {};
  g.Px.assign(bytes.begin() + static_cast<ptrdiff_t>(off), bytes.begin() + static_cast<ptrdiff_t>(off) + g.W * g.H);
  return g;
}

}  // namespace

TEST(Printer, PdfPagesHaveTheRequestedSizeAndContent) {
  std::string pdf = kdtest::TempDir() + "/out.pdf";
  TPrinter p;
  p.SetOutputFileName(pdf);
  p.SetPaper(148, 210, 5);  // A5 with a 5 mm unprintable margin; PDF sheets are whole points
  p.SetResolution(300);
  p.SetTitle("Oefening 1");
  p.BeginDoc();
  EXPECT_TRUE(p.Printing());
  EXPECT_EQ(p.PageNumber(), 1);
  TCanvas* c = p.Canvas();
  // 420 x 595 points at 300 dpi; 5 mm is 59.06 pixels.
  EXPECT_EQ(c->GetDeviceCaps(PHYSICALWIDTH), 1750);
  EXPECT_EQ(c->GetDeviceCaps(PHYSICALHEIGHT), 2479);
  int off = c->GetDeviceCaps(PHYSICALOFFSETX);
  EXPECT_NEAR(off, 59, 1);
  EXPECT_EQ(c->GetDeviceCaps(PHYSICALOFFSETY), off);
  EXPECT_EQ(c->GetDeviceCaps(LOGPIXELSX), 300);
  EXPECT_EQ(p.PageWidth(), c->GetDeviceCaps(HORZRES));
  EXPECT_EQ(p.PageWidth(), 1750 - 2 * off);
  EXPECT_EQ(p.PageHeight(), 2479 - 2 * off);
  EXPECT_EQ(c->Font()->PixelsPerInch(), 300);
  c->Pen()->SetColor(clBlack);
  c->Brush()->SetColor(clBlack);
  c->Rectangle(300, 400, 900, 800);
  p.NewPage();
  EXPECT_EQ(p.PageNumber(), 2);
  c->Brush()->SetColor(clBlack);
  c->FillRect(Rect(0, 0, 100, 100));
  p.EndDoc();
  EXPECT_FALSE(p.Printing());

  std::string info = RunCommand("pdfinfo '" + pdf + "'");
  EXPECT_EQ(Field(info, "Pages"), "2") << info;
  EXPECT_EQ(Field(info, "Page size"), "420 x 595 pts (A5)") << info;
  EXPECT_EQ(Field(info, "Title"), "Oefening 1") << info;

  // At 100 dpi the rectangle lies from (58 + 300) / 3 to (58 + 900) / 3 across.
  TGray g = RenderPage(pdf, 1, 100);
  ASSERT_EQ(g.W, 584);  // 420 / 72 * 100, rounded up
  ASSERT_EQ(g.H, 827);
  EXPECT_LT(g.At(200, 200), 64);   // inside
  EXPECT_GT(g.At(110, 200), 192);  // left of it
  EXPECT_GT(g.At(330, 200), 192);  // right of it
  EXPECT_GT(g.At(200, 120), 192);  // above it
  EXPECT_LT(g.At(121, 155), 64);   // near its top-left corner (119.3, 152.7)
  EXPECT_GT(g.At(117, 155), 192);
  TGray g2 = RenderPage(pdf, 2, 100);
  EXPECT_LT(g2.At(25, 25), 64);  // the printable area starts at the margin
  EXPECT_GT(g2.At(10, 10), 192);
  std::filesystem::copy_file(pdf, kdtest::OutputDir() + "/printer-sample.pdf",
                             std::filesystem::copy_options::overwrite_existing);
}

// Canvas text on a printer is text in the PDF (found by pdftotext) and its ink lies where the
// canvas measured it: plain and turned, with DrawText and TextOut.
TEST(Printer, CanvasTextIsTextWhereItWasMeasured) {
  std::string pdf = kdtest::TempDir() + "/text.pdf";
  TPrinter p;
  p.SetOutputFileName(pdf);
  p.SetPaper(100, 100, 0);
  p.SetResolution(300);
  p.BeginDoc();
  TCanvas* c = p.Canvas();
  c->Font()->SetName("Arial");
  c->Font()->SetSize(12);
  c->Font()->SetColor(clBlack);
  c->SetBkMode(TRANSPARENT);
  const std::string line = "Oefening een";
  const TSize ext = c->TextExtent(line);
  EXPECT_NEAR(ext.cy, 56, 3);  // 12 points at 300 dpi, cell height
  c->TextOut(100, 100, line);
  EXPECT_EQ(c->PenPos().X, 100 + ext.cx);
  TRect r{100, 400, 1100, 400 + ext.cy};
  c->DrawText("Tweede regel", r, DT_SINGLELINE | DT_LEFT | DT_TOP);
  c->Font()->SetOrientation(900);  // upwards from (1000, 1100)
  c->TextOut(1000, 1100, "Omhoog");
  p.EndDoc();

  const std::string text = RunCommand("pdftotext -raw '" + pdf + "' -");
  EXPECT_NE(text.find("Oefening een"), std::string::npos) << text;
  EXPECT_NE(text.find("Tweede regel"), std::string::npos) << text;
  EXPECT_NE(text.find("Omhoog"), std::string::npos) << text;
  EXPECT_EQ(RunCommand("pdfimages -list '" + pdf + "' | tail -n +3 | wc -l"), "0\n");

  // Ink of the first line within the measured cell, reaching close to both of its ends.
  TGray g = RenderPage(pdf, 1, 300);
  ASSERT_EQ(g.W, 1180);  // 283 points
  auto inkBox = [&](int x0, int y0, int x1, int y1) {
    TRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int y = std::max(0, y0); y < std::min(g.H, y1); ++y)
      for (int x = std::max(0, x0); x < std::min(g.W, x1); ++x)
        if (g.At(x, y) < 128) box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
    return box;
  };
  const TRect first = inkBox(0, 0, g.W, 300);
  EXPECT_GE(first.Left, 100);
  EXPECT_LE(first.Left, 100 + 6);
  EXPECT_LE(first.Right, 100 + ext.cx);
  EXPECT_GE(first.Right, 100 + ext.cx - 6);
  EXPECT_GE(first.Top, 100);
  EXPECT_LE(first.Bottom, 100 + ext.cy);
  // The turned word rises from its reference point: its cell is ext.cy wide and as tall as the
  // word is long, left of x = 1000 + cy and above y = 1100.
  const int up = c->TextWidth("Omhoog");
  const TRect turned = inkBox(900, 900, g.W, 1200);
  EXPECT_GE(turned.Left, 1000);
  EXPECT_LE(turned.Right, 1000 + ext.cy);
  EXPECT_LE(turned.Bottom, 1100);
  EXPECT_GE(turned.Top, 1100 - up);
  EXPECT_LE(turned.Top, 1100 - up + 6);
}

TEST(Printer, LandscapeTurnsTheSheet) {
  std::string pdf = kdtest::TempDir() + "/land.pdf";
  TPrinter p;
  p.SetOutputFileName(pdf);
  p.SetPaper(210, 297, 0);
  p.SetOrientation(poLandscape);
  EXPECT_EQ(p.Orientation(), poLandscape);
  p.SetResolution(150);
  p.BeginDoc();
  EXPECT_EQ(p.Canvas()->GetDeviceCaps(PHYSICALWIDTH), 1754);
  EXPECT_EQ(p.Canvas()->GetDeviceCaps(PHYSICALHEIGHT), 1240);
  EXPECT_EQ(p.Canvas()->GetDeviceCaps(PHYSICALOFFSETX), 0);
  p.EndDoc();
  std::string info = RunCommand("pdfinfo '" + pdf + "'");
  EXPECT_EQ(Field(info, "Page size"), "842 x 595 pts (A4)") << info;
}

TEST(Printer, JobStateErrors) {
  std::string pdf = kdtest::TempDir() + "/err.pdf";
  TPrinter p;
  auto expectMsg = [](auto fn, const char* msg) {
    try {
      fn();
      ADD_FAILURE() << "no exception for " << msg;
    } catch (const EPrinter& e) {
      EXPECT_EQ(e.Message, msg);
    }
  };
  expectMsg([&] { p.NewPage(); }, "Printer is not currently printing");
  expectMsg([&] { p.EndDoc(); }, "Printer is not currently printing");
  expectMsg([&] { p.Abort(); }, "Printer is not currently printing");
  expectMsg([&] { p.SetPaper(100, 100, 60); }, "Invalid paper size");
  expectMsg([&] { p.SetPaper(1e9, 100, 0); }, "Invalid paper size");
  expectMsg([&] { p.SetPaper(-1, 100, 0); }, "Invalid paper size");
  expectMsg([&] { p.SetResolution(0); }, "Invalid resolution");
  expectMsg([&] { p.SetResolution(100000); }, "Invalid resolution");
  p.SetOutputFileName(pdf);
  p.BeginDoc();
  expectMsg([&] { p.BeginDoc(); }, "Printing in progress");
  expectMsg([&] { p.SetOrientation(poLandscape); }, "Printing in progress");
  expectMsg([&] { p.SetOutputFileName("x.pdf"); }, "Printing in progress");
  p.Canvas()->FillRect(Rect(0, 0, 10, 10));
  p.Abort();
  EXPECT_TRUE(p.Aborted());
  EXPECT_FALSE(p.Printing());
  EXPECT_FALSE(std::filesystem::exists(pdf));
  // A new job clears the aborted state.
  p.BeginDoc();
  EXPECT_FALSE(p.Aborted());
  p.EndDoc();
  EXPECT_TRUE(std::filesystem::exists(pdf));
}

TEST(Printer, WithoutPrinterOrFileTheJobIsRefused) {
  if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
  TPrinter p;
  try {
    p.BeginDoc();
    FAIL();
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message, "Printer selected is not valid");
  }
  EXPECT_FALSE(p.Printing());
}

TEST(Printer, UnwritableOutputFileIsRefused) {
  TPrinter p;
  p.SetOutputFileName(kdtest::TempDir() + "/no-such-folder/out.pdf");
  try {
    p.BeginDoc();
    FAIL() << "no exception";
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message, "Printer selected is not valid");
  }
  EXPECT_FALSE(p.Printing());
}

TEST(Printer, GlobalPrinterCanBeReplaced) {
  TPrinter* first = Printer();
  EXPECT_EQ(Printer(), first);
  auto mine = std::make_unique<TPrinter>();
  TPrinter* raw = mine.get();
  std::unique_ptr<TPrinter> old = SetPrinter(std::move(mine));
  EXPECT_EQ(old.get(), first);
  EXPECT_EQ(Printer(), raw);
  SetPrinter(nullptr);
  EXPECT_NE(Printer(), nullptr);
}
