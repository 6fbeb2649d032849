#include "tests/app/AppSupport.h"

#include <filesystem>

#include "app/Startup.h"
#include "tests/common/TestSupport.h"
#include "tools/samplecontent/SampleContent.cpp"  // NOLINT(bugprone-suspicious-include)

namespace apptest {

void StartUnits() { app::InitializeUnits(); }

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
