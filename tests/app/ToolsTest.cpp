// The document tools run as programs and start like the program: render-page draws the real
// shape classes of a document written here, and make-sample-document writes real shapes that
// the program (and render-page) can show.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include <QImage>

#include "document/dtpDocument.h"
#include "document/dtpLineShape.h"
#include "document/dtpPage.h"
#include "document/dtpPolygonShape.h"
#include "tests/app/AppSupport.h"
#include "tests/common/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using kdtest::RunTool;
using kdtest::ToolPath;

std::string Quote(const std::string& S) { return "'" + S + "'"; }

// The last line a tool printed (Qt may have warned before it).
std::string LastLine(std::string Out) {
  while (!Out.empty() && Out.back() == '\n') Out.pop_back();
  const size_t nl = Out.rfind('\n');
  return nl == std::string::npos ? Out : Out.substr(nl + 1);
}

// Pixels of exactly colour C ($00BBGGRR) in the image.
int Count(const QImage& Img, uint32_t C) {
  const QRgb want = qRgb(C & 0xFF, (C >> 8) & 0xFF, (C >> 16) & 0xFF);
  const QImage i = Img.convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < i.height(); ++y)
    for (int x = 0; x < i.width(); ++x) n += (i.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF);
  return n;
}

class AppTools : public ::testing::Test {
 protected:
  void SetUp() override {
    make = ToolPath("make-sample-document");
    render = ToolPath("render-page");
    if (!fs::exists(make) || !fs::exists(render)) GTEST_SKIP() << "tools not built";
    apptest::StartUnits();
    dir = kdtest::TempDir();
  }
  fs::path make, render;
  std::string dir;
};

}  // namespace

TEST_F(AppTools, RenderPageDrawsRectangleEllipseAndLine) {
  constexpr uint32_t kRect = 0x2020E0, kEllipse = 0x20B020, kLine = 0xC02020;
  const std::string file = dir + "/drie vormen.hsf";
  {
    document::TdtpComponent doc(nullptr);
    doc.Clear();
    document::TdtpPage* page = doc.GetPage(doc.AddPage(nullptr));
    auto rect = document::NewShape<document::TdtpRectangleShape>();
    auto* r = rect.get();
    page->AddShape(std::move(rect));
    r->SetDocBounds(20, 20, 60, 40);
    r->SetFillColor(kRect);
    r->SetUseOutline(false);
    auto ellipse = document::NewShape<document::TdtpEllipseShape>();
    auto* e = ellipse.get();
    page->AddShape(std::move(ellipse));
    e->SetDocBounds(100, 20, 60, 40);
    e->SetFillColor(kEllipse);
    e->SetUseOutline(false);
    auto line = document::NewShape<document::TdtpLineShape>();
    auto* l = line.get();
    page->AddShape(std::move(line));
    l->SetDocBounds(20, 100, 140, 10);
    l->SetLinePoint(0, {20, 105});
    l->SetLinePoint(1, {160, 105});
    l->SetFillColor(kLine);
    l->SetLineWidth(3);
    doc.SaveToFile(file);
  }
  const std::string png = kdtest::OutputDir() + "/render-page-three-shapes.png";
  std::string out;
  ASSERT_EQ(RunTool(render.string() + " " + Quote(file) + " 1 72 " + Quote(png), out), 0) << out;
  EXPECT_EQ(LastLine(out), "1");
  const QImage img(QString::fromStdString(png));
  ASSERT_FALSE(img.isNull());
  // Antialiased edges blend; the insides hold the exact colours.
  EXPECT_GT(Count(img, kRect), 1000);
  EXPECT_GT(Count(img, kEllipse), 1000);
  EXPECT_GT(Count(img, kLine), 50);
  // Each where it was put: the rectangle left of the ellipse, the line below both.
  const double px = 72 / 25.4;
  auto at = [&](double Xmm, double Ymm) { return img.pixel(10 + int(Xmm * px), 10 + int(Ymm * px)) & 0xFFFFFF; };
  EXPECT_EQ(at(50, 40), qRgb(0xE0, 0x20, 0x20) & 0xFFFFFF);
  EXPECT_EQ(at(130, 40), qRgb(0x20, 0xB0, 0x20) & 0xFFFFFF);
  EXPECT_EQ(at(90, 105), qRgb(0x20, 0x20, 0xC0) & 0xFFFFFF);
}

TEST_F(AppTools, SampleDocumentHoldsRealShapesThatRender) {
  const std::string file = dir + "/voorbeeld.hsf";
  std::string out;
  ASSERT_EQ(RunTool(make.string() + " " + Quote(file) + " 2 9", out), 0) << out;
  EXPECT_EQ(LastLine(out), "2");
  // The program opens it and sees shape classes it knows.
  document::TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  ASSERT_EQ(doc.PageCount(), 2);
  std::map<std::string, int> classes;
  for (int32_t k = 0; k < doc.CurrentPage()->GetShapeCount(); ++k) ++classes[doc.CurrentPage()->GetShape(k)->ClassName()];
  EXPECT_EQ(classes, (std::map<std::string, int>{{"TdtpRectangleShape", 4}, {"TdtpEllipseShape", 3}, {"TdtpLineShape", 2}}));
  // Page 2's first block is blue (page 1's red), as before.
  const std::string png = kdtest::OutputDir() + "/make-sample-document-page2.png";
  ASSERT_EQ(RunTool(render.string() + " " + Quote(file) + " 2 50.8 " + Quote(png), out), 0) << out;
  const QImage img(QString::fromStdString(png));
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.pixel(10 + 2 * 25, 10 + 2 * 110) & 0xFFFFFF, 0x0000FFu);
  // Besides the block, the other shapes paint more colours than page and grid.
  std::set<QRgb> seen;
  for (int y = 0; y < img.height(); y += 2)
    for (int x = 0; x < img.width(); x += 2) seen.insert(img.pixel(x, y) & 0xFFFFFF);
  EXPECT_GT(seen.size(), 12u);
}
