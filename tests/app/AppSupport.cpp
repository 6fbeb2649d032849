#include "tests/app/AppSupport.h"

#include <cstdlib>
#include <filesystem>

#include "app/Startup.h"
#include "tests/common/TestSupport.h"
#include "tools/samplecontent/SampleContent.cpp"  // NOLINT(bugprone-suspicious-include)

namespace apptest {

void StartUnits() {
  // The program keeps its graph log in the user's cache folder: tests keep theirs apart.
  static const bool cache = [] {
    const std::string f = kdtest::TempDir() + "/cache";
    std::filesystem::create_directories(f);
    return setenv("XDG_CACHE_HOME", f.c_str(), 1) == 0;
  }();
  (void)cache;
  app::InitializeUnits();
}

const std::string& SampleFolder() {
  static const std::string folder = [] {
    StartUnits();
    const std::string f = kdtest::TempDir() + "/sample-catalogue";
    std::filesystem::create_directories(f);
    samplecontent::WriteSampleCatalogue(f, true);
    return f + "/";
  }();
  return folder;
}

}  // namespace apptest
