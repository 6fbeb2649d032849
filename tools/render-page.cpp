// Renders one page of a document as the view shows it at 100 %, into a PNG:
//   render-page FILE PAGE DPI OUT.png
// Prints the document's page count. A file the engine refuses gives its message and exit 1.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <QApplication>
#include <QImage>

#include "document/dtpDocument.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "tools/DocumentFixtures.h"

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
  try {
    kdfixture::InitializeFixtures();
    document::TdtpComponent doc(nullptr);
    doc.LoadFromFile(argv[1]);
    std::printf("%d\n", doc.PageCount());
    if (page < 1 || page > doc.PageCount()) {
      std::fprintf(stderr, "No page %d\n", page);
      return 1;
    }
    doc.SetCurrentPageIndex(page - 1);
    doc.SetScreenDpm(float(dpi / 25.4));
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
    if (!bmp.Image().save(QString::fromStdString(argv[4]), "PNG")) {
      std::fprintf(stderr, "Cannot write %s\n", argv[4]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
