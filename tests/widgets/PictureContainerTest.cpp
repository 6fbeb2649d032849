// Pictures by location: GIF frames found by walking the blocks (fixtures made by ImageMagick),
// frame selection, locations, the cache, and hostile data.
#include "widgets/PictureContainer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "tests/common/TestSupport.h"
#include "widgets/MiniHtml.h"

using namespace platform;
using namespace widgets;

namespace {

std::string Fixture(const std::string& name, const std::string& args) {
  const std::string path = kdtest::TempDir() + "/" + name;
  const std::string cmd = "convert " + args + " '" + path + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  return path;
}

// Three 20 x 10 frames: red, lime, blue.
std::string ThreeFrames() {
  static const std::string path = Fixture("three.gif", "-delay 10 -size 20x10 xc:red xc:lime xc:blue -loop 0");
  return path;
}

uint32_t Rgb(const THTMLPicture& p, int x, int y) { return p.Decoded().PixelARGB(x, y) & 0xFFFFFF; }

TEST(GifLayout, FramesOfAnAnimation) {
  const std::string path = ThreeFrames();
  ASSERT_FALSE(path.empty()) << "ImageMagick convert is needed";
  const std::vector<uint8_t> bytes = kdtest::ReadFileBytes(path);
  const TGifLayout layout = ScanGifLayout(bytes.data(), bytes.size());
  ASSERT_TRUE(layout.IsGif);
  EXPECT_EQ(layout.ScreenWidth, 20);
  EXPECT_EQ(layout.ScreenHeight, 10);
  ASSERT_EQ(layout.Frames.size(), 3u);
  for (const TGifFrameInfo& f : layout.Frames) {
    EXPECT_EQ(bytes[f.Start], 0x21);  // each frame starts at its graphic-control extension
    EXPECT_EQ(bytes[f.Start + 1], 0xF9);
  }
  // Every prefix of the file is walked without reading past it.
  for (size_t n = 0; n <= bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
    const TGifLayout l = ScanGifLayout(cut.data(), cut.size());
    EXPECT_LE(l.Frames.size(), 3u);
  }
  EXPECT_FALSE(ScanGifLayout(reinterpret_cast<const uint8_t*>("GIF8"), 4).IsGif);
  EXPECT_FALSE(ScanGifLayout(nullptr, 0).IsGif);
}

TEST(HTMLPicture, FrameSelection) {
  const std::string path = ThreeFrames();
  ASSERT_FALSE(path.empty());
  THTMLPicture pic;
  int frameChanges = 0;
  pic.OnFrameChange = [&](TObject*) { ++frameChanges; };
  pic.LoadFromFile(path);
  EXPECT_FALSE(pic.Empty());
  EXPECT_EQ(pic.FrameCount(), 3);
  EXPECT_EQ(pic.Width(), 20);
  EXPECT_EQ(pic.Height(), 10);
  EXPECT_EQ(Rgb(pic, 5, 5), 0x0000FFu);  // red as $BBGGRR
  pic.SetFrame(2);
  EXPECT_EQ(frameChanges, 1);
  EXPECT_EQ(Rgb(pic, 5, 5), 0x00FF00u);
  EXPECT_EQ(pic.Width(), 20);
  pic.SetFrame(9);  // clamped to the last frame
  EXPECT_EQ(pic.Frame(), 3);
  EXPECT_EQ(Rgb(pic, 5, 5), 0xFF0000u);
  pic.SetFrame(-4);
  EXPECT_EQ(pic.Frame(), 1);
  EXPECT_EQ(pic.FrameWidth(), 20);
  // Copies carry the bytes and start at frame 1.
  pic.SetFrame(2);
  THTMLPicture copy;
  copy.Assign(&pic);
  EXPECT_EQ(copy.Frame(), 1);
  EXPECT_EQ(copy.Data(), pic.Data());
  EXPECT_EQ(Rgb(copy, 5, 5), 0x0000FFu);
}

TEST(HTMLPicture, OtherFormatsAndErrors) {
  const std::string png = Fixture("small.png", "-size 7x3 xc:blue");
  ASSERT_FALSE(png.empty());
  THTMLPicture pic;
  pic.LoadFromFile(png);
  EXPECT_EQ(pic.FrameCount(), -1);
  EXPECT_EQ(pic.Width(), 7);
  EXPECT_EQ(pic.Height(), 3);
  try {
    pic.LoadFromBytes({1, 2, 3, 4});
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Could not load image. Invalid format");
  }
  EXPECT_TRUE(pic.Empty());
  // A GIF whose one frame claims 65535 x 65535 pixels is refused before decoding.
  std::vector<uint8_t> huge = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                               0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
  try {
    pic.LoadFromBytes(huge);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Could not allocate memory for image");
  }
  // Damaged GIFs never crash: each either decodes or raises.
  const std::vector<uint8_t> good = kdtest::ReadFileBytes(ThreeFrames());
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> bad = good;
    for (int k = 0; k < 4; ++k) bad[6 + rng() % (bad.size() - 6)] = static_cast<uint8_t>(rng());
    bad.resize(6 + rng() % (bad.size() - 6));
    THTMLPicture p;
    try {
      p.LoadFromBytes(bad);
      p.SetFrame(static_cast<int32_t>(rng() % 5));
    } catch (const Exception&) {
    }
  }
}

TEST(HTMLPicture, Locations) {
  const std::string path = ThreeFrames();
  ASSERT_FALSE(path.empty());
  THTMLPicture a, b, remote, res, missing;
  a.SetLocation("file://" + path);
  EXPECT_FALSE(a.Empty());
  b.SetLocation("FiLe://" + path);
  EXPECT_FALSE(b.Empty());
  remote.SetAsynchronous(false);
  remote.SetLocation("http://example.org/x.gif");
  EXPECT_TRUE(remote.Empty());
  EXPECT_EQ(remote.ID(), "http://example.org/x.gif");
  EXPECT_EQ(remote.Width(), 0);
  TBitmap bmp;
  bmp.SetSize(4, 4);
  remote.Draw(bmp.Canvas(), {0, 0, 4, 4});  // draws nothing
  EXPECT_EQ(bmp.Canvas()->Pixel(1, 1), clWhite);
  RegisterPictureResource("LOGO", kdtest::ReadFileBytes(path));
  res.SetLocation("res://logo");
  EXPECT_FALSE(res.Empty());
  missing.SetLocation("RES://NOSUCH");
  EXPECT_TRUE(missing.Empty());
}

TEST(HTMLPictureCache, LookUpByExactLocation) {
  THTMLPictureCache cache;
  THTMLPicture* p = cache.AddPicture();
  p->SetAsynchronous(false);
  p->SetLocation("http://host/A.gif");
  EXPECT_EQ(cache.FindPicture("http://host/A.gif"), p);
  EXPECT_EQ(cache.FindPicture("http://host/A.gif"), p);
  EXPECT_EQ(cache.FindPicture("http://host/a.gif"), nullptr);
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.Items(0), p);
  EXPECT_THROW(cache.Items(1), EListError);
}

TEST(HTMLPictureCache, RendererAddsAndDrawsPictures) {
  const std::string path = ThreeFrames();
  ASSERT_FALSE(path.empty());
  THTMLPictureCache cache;
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(60, 30);
  TMiniHtmlParams p;
  p.PictureCache = &cache;
  TMiniHtmlResult r;
  TRect rect{0, 0, 60, 30};
  const std::string text = "<IMG src=\"file://" + path + "\">";
  RenderMiniHtml(bmp.Canvas(), text, rect, p, r);
  EXPECT_EQ(r.Width, 20);
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(bmp.Canvas()->Pixel(10, r.Height - 3), static_cast<TColor>(0x0000FF));
  RenderMiniHtml(bmp.Canvas(), text + "<IMG src=\"http://nowhere/x.gif\">", rect, p, r);
  EXPECT_EQ(cache.Count(), 2);  // the same file is found again; the remote one stays empty
  EXPECT_TRUE(cache.Items(1)->Empty());
}

}  // namespace
