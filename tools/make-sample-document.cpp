// Writes a sample document of rectangles, ellipses and lines:
//   make-sample-document FILE [PAGES] [SHAPES-PER-PAGE]
// Prints the page count. The units start as in the program, so the file holds shapes it shows.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QApplication>

#include "app/Startup.h"
#include "tools/ShapeSamples.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-sample-document FILE [PAGES] [SHAPES-PER-PAGE]\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int pages = argc > 2 ? std::atoi(argv[2]) : 3;
  const int shapes = argc > 3 ? std::atoi(argv[3]) : 20;
  if (pages < 0 || pages > 9999 || shapes < 0 || shapes > 1000000) {
    std::fprintf(stderr, "page or shape count out of range\n");
    return 2;
  }
  int code = 0;
  try {
    app::InitializeUnits();
    document::TdtpComponent doc(nullptr);
    tools::MakeShapesDocument(doc, argv[1], pages, shapes);
    std::printf("%d\n", doc.PageCount());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    code = 1;
  }
  app::FinalizeUnits();
  return code;
}
