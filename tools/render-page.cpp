// Renders one page of a document as the view shows it at 100 %, into a PNG:
//   render-page FILE PAGE DPI OUT.png
// Prints the document's page count. A file the engine refuses gives its message and exit 1.
// The units start as in the program, so every shape class the program draws is drawn.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <QApplication>
#include <QImage>

#include "app/Startup.h"
#include "document/dtpDocument.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"

namespace {

int Render(const char* File, int Page, double Dpi, const char* Out) {
  document::TdtpComponent doc(nullptr);
  doc.LoadFromFile(File);
  std::printf("%d\n", doc.PageCount());
  if (Page < 1 || Page > doc.PageCount()) {
    std::fprintf(stderr, "No page %d\n", Page);
    return 1;
  }
  doc.SetCurrentPageIndex(Page - 1);
  doc.SetScreenDpm(float(Dpi / 25.4));
  doc.UpdateLayout();
  const int64_t w = platform::Round(double(doc.VirtualWidth())), h = platform::Round(double(doc.VirtualHeight()));
  if (w <= 0 || h <= 0 || w * h > 400000000) {
    std::fprintf(stderr, "Image size out of range\n");
    return 1;
  }
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(int32_t(w), int32_t(h));
  doc.PaintDocument(bmp.Canvas());
  bmp.Canvas()->Release();
  if (!bmp.Image().save(QString::fromStdString(Out), "PNG")) {
    std::fprintf(stderr, "Cannot write %s\n", Out);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: render-page FILE PAGE DPI OUT.png\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int page = std::atoi(argv[2]);
  const double dpi = std::atof(argv[3]);
  if (!(dpi >= 1 && dpi <= 2400)) {
    std::fprintf(stderr, "DPI out of range (1..2400)\n");
    return 2;
  }
  int code = 1;
  try {
    app::InitializeUnits();
    code = Render(argv[1], page, dpi, argv[4]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    code = 1;
  }
  app::FinalizeUnits();
  return code;
}
