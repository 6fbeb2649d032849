// The fixture generator and the page-to-PNG tool, run as programs.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <QImage>

#include "../common/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using kdtest::RunTool;
using kdtest::ToolPath;

class ToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    make = ToolPath("make-sample-document");
    render = ToolPath("render-page");
    if (!fs::exists(make) || !fs::exists(render)) GTEST_SKIP() << "tools not built";
    dir = kdtest::TempDir();
  }
  fs::path make, render;
  std::string dir;
};

TEST_F(ToolsTest, RendersPageAtChosenResolution) {
  const std::string doc = dir + "/tool.hsf", png = kdtest::OutputDir() + "/render_page_tool.png";
  std::string out;
  ASSERT_EQ(RunTool(make.string() + " " + doc + " 3 10", out), 0) << out;
  ASSERT_EQ(RunTool(render.string() + " " + doc + " 2 50.8 " + png, out), 0) << out;
  EXPECT_NE(out.find("3\n"), std::string::npos);
  QImage img(QString::fromStdString(png));
  ASSERT_FALSE(img.isNull());
  // 2 pixels a millimetre: the page's painted size plus the 10-pixel border on each side.
  EXPECT_GE(img.width(), 420 + 20);
  EXPECT_LE(img.width(), 420 + 20 + 10);
  // Page 2's first block is blue: 20..100 mm across, 20..120 mm down, 10 pixels in.
  EXPECT_EQ(img.pixel(10 + 2 * 25, 10 + 2 * 110) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(ToolsTest, BadFilesGiveTheEngineMessage) {
  std::string out;
  const std::string junk = dir + "/junk.hsf";
  kdtest::WriteFileBytes(junk, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e', '!', '!'});
  EXPECT_NE(RunTool(render.string() + " " + junk + " 1 72 " + dir + "/x.png", out), 0);
  EXPECT_FALSE(out.empty());
  EXPECT_NE(RunTool(render.string() + " " + dir + "/missing.hsf 1 72 " + dir + "/x.png", out), 0);
  EXPECT_NE(out.find("Cannot find file"), std::string::npos);
  // An empty file is an empty archive without "Index.xml".
  kdtest::WriteFileBytes(dir + "/empty.hsf", {});
  EXPECT_NE(RunTool(render.string() + " " + dir + "/empty.hsf 1 72 " + dir + "/x.png", out), 0);
  EXPECT_NE(out.find("No root element found in xml"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "/x.png"));
}

}  // namespace
