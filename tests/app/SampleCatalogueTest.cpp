// The sample catalogue: every file the catalogue names is written, documents load with their
// pages and registered shape classes, and movies carry a Flash header.
#include <gtest/gtest.h>

#include <set>

#include "app/Catalogue.h"
#include "document/dtpDocument.h"
#include "document/dtpPage.h"
#include "platform/FlashPlayer.h"
#include "platform/SysUtils.h"
#include "tests/app/AppSupport.h"
#include "tools/samplecontent/SampleContent.h"

TEST(SampleCatalogue, EveryNamedFileIsWritten) {
  const std::string& folder = apptest::SampleFolder();
  std::set<std::string> names;
  for (const auto& f : samplecontent::SampleFiles()) names.insert(f.Name);
  for (int32_t i = 0; i < app::CatalogueCount; ++i) {
    EXPECT_TRUE(names.count(app::CatalogueContentFile(i))) << i;
    EXPECT_TRUE(platform::FileExists(folder + app::CatalogueContentFile(i))) << i;
    const std::string movie = app::CatalogueMovieFile(i);
    if (movie.empty()) continue;
    EXPECT_TRUE(names.count(movie)) << i;
    EXPECT_TRUE(platform::IsFlashMovieFile(folder + movie)) << movie;
  }
  EXPECT_EQ(names.size(), 24u + 7u + 4u);  // group files, other documents, movies
  // A second run keeps what is there.
  EXPECT_EQ(samplecontent::WriteSampleCatalogue(folder, false), 0);
}

TEST(SampleCatalogue, DocumentsLoadWithTheirShapes) {
  const std::string& folder = apptest::SampleFolder();
  for (const auto& f : samplecontent::SampleFiles()) {
    if (f.Pages == 0) continue;
    document::TdtpComponent doc(nullptr);
    doc.LoadFromFile(folder + f.Name);
    EXPECT_EQ(doc.PageCount(), f.Pages) << f.Name;
    ASSERT_NE(doc.CurrentPage(), nullptr) << f.Name;
    // Ladders, feet and arrows: real classes, not the plain base left for unknown names.
    std::set<std::string> classes;
    for (int32_t k = 0; k < doc.CurrentPage()->GetShapeCount(); ++k)
      classes.insert(doc.CurrentPage()->GetShape(k)->ClassName());
    EXPECT_TRUE(classes.count("TdtpRectangleShape")) << f.Name;
    EXPECT_TRUE(classes.count("TdtpLineShape")) << f.Name;
  }
}
