// Writes a fixture document: make-sample-document FILE [PAGES] [SHAPES-PER-PAGE]
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QApplication>

#include "tools/DocumentFixtures.h"

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
  try {
    kdfixture::InitializeFixtures();
    document::TdtpComponent doc(nullptr);
    kdfixture::MakeSampleDocument(doc, argv[1], pages, shapes);
    std::printf("%d\n", doc.PageCount());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
