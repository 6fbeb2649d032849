// The sample catalogue: every file the catalogue names is written, documents load with their
// pages and registered shape classes, the introduction, explanation and copyright pages hold
// their words, and movies carry a Flash header.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <set>

#include "app/Catalogue.h"
#include "document/dtpDocument.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPage.h"
#include "document/dtpTextShape.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "platform/FlashPlayer.h"
#include "platform/SysUtils.h"
#include "tests/app/AppSupport.h"
#include "tests/common/TestSupport.h"
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
    if (f.Pages == 0 || samplecontent::FindSampleText(f.Name)) continue;
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

namespace {
// The page as the view paints it at Dpi, with the page's top-left corner at (10, 10).
QImage RenderPage(document::TdtpComponent& Doc, double Dpi) {
  Doc.SetScreenDpm(float(Dpi / 25.4));
  Doc.UpdateLayout();
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(int32_t(platform::Round(double(Doc.VirtualWidth()))), int32_t(platform::Round(double(Doc.VirtualHeight()))));
  Doc.PaintDocument(bmp.Canvas());
  bmp.Canvas()->Release();
  return bmp.Image().copy();
}
// Pixels within a band of millimetres (top..bottom, inside the 20 mm side margins) whose colour
// is near C.
int InkIn(const QImage& Img, double Dpi, double TopMm, double BottomMm, QRgb C) {
  const double px = Dpi / 25.4;
  int n = 0;
  for (int y = 10 + int(TopMm * px); y < 10 + int(BottomMm * px) && y < Img.height(); ++y)
    for (int x = 10 + int(20 * px); x < 10 + int(190 * px) && x < Img.width(); ++x) {
      const QRgb p = Img.pixel(x, y);
      n += std::abs(qRed(p) - qRed(C)) < 40 && std::abs(qGreen(p) - qGreen(C)) < 40 && std::abs(qBlue(p) - qBlue(C)) < 40;
    }
  return n;
}
}  // namespace

TEST(SampleCatalogue, IntroductionExplanationAndCopyrightShowATitleAndAParagraph) {
  const std::string& folder = apptest::SampleFolder();
  bool accented = false;
  for (int32_t item : {0, 1, 106}) {
    const std::string name = app::CatalogueContentFile(item);
    const samplecontent::TSampleText* text = samplecontent::FindSampleText(name);
    ASSERT_NE(text, nullptr) << name;
    document::TdtpComponent doc(nullptr);
    doc.LoadFromFile(folder + name);
    ASSERT_GE(doc.PageCount(), 2) << name;
    for (int32_t p = 0; p < doc.PageCount(); ++p) {
      doc.SetCurrentPageIndex(p);
      document::TdtpPage* page = doc.CurrentPage();
      ASSERT_NE(page, nullptr);
      ASSERT_EQ(page->GetShapeCount(), 2) << name << " page " << p;
      // Exact classes: a memo is a text shape too.
      auto* title = page->GetShape(0);
      auto* paragraph = dynamic_cast<document::TdtpMemoShape*>(page->GetShape(1));
      ASSERT_EQ(title->ClassName(), "TdtpTextShape");
      ASSERT_NE(paragraph, nullptr);
      // The words come back as they were written, accents and all.
      EXPECT_EQ(static_cast<document::TdtpTextShape*>(title)->Text(), text->Title);
      const std::string& words = text->Paragraphs[size_t(p) % text->Paragraphs.size()];
      EXPECT_EQ(paragraph->Text(), words) << name << " page " << p;
      EXPECT_TRUE(paragraph->WordWrap());
      for (unsigned char c : words) accented = accented || c >= 0x80;
    }
    // Drawn: the navy title in its band, the black paragraph below it.
    doc.SetCurrentPageIndex(0);
    const double dpi = 96;
    const QImage img = RenderPage(doc, dpi);
    img.save(QString::fromStdString(kdtest::OutputDir() + "/sample-text-" + std::to_string(item) + ".png"));
    EXPECT_GT(InkIn(img, dpi, 20, 36, qRgb(0, 0, 0x80)), 200) << name;
    EXPECT_GT(InkIn(img, dpi, 40, 100, qRgb(0, 0, 0)), 500) << name;
    EXPECT_LT(InkIn(img, dpi, 120, 280, qRgb(0, 0, 0)), 10) << name;  // nothing else on the page
  }
  EXPECT_TRUE(accented);
}
