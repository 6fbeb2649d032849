// Writes the sample catalogue (documents and movies) into a folder:
//   make-sample-catalogue FOLDER [--force]
// Files already there are kept unless --force is given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <QApplication>

#include "app/Startup.h"
#include "tools/samplecontent/SampleContent.h"
// The generator is shared with the application's tests, which compile it in the same way; the
// catalogue table it follows comes from the application library.
#include "tools/samplecontent/SampleContent.cpp"  // NOLINT(bugprone-suspicious-include)

int main(int argc, char** argv) {
  if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "--force") != 0) || argc > 3) {
    std::fprintf(stderr, "usage: make-sample-catalogue FOLDER [--force]\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  try {
    samplecontent::InitializeSampleContent();
    const int32_t n = samplecontent::WriteSampleCatalogue(argv[1], argc == 3);
    std::printf("%d files written to %s\n", n, argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-sample-catalogue: %s\n", e.what());
    return 1;
  }
  return 0;
}
