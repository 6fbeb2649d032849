// Pictures by location: GIF frames found by walking the blocks (fixtures made by ImageMagick),
// frame selection, locations, the cache, and hostile data.
#include "widgets/PictureContainer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <tuple>

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
  // A frame chosen before the bytes arrive is the one shown once they are loaded, and loading
  // other bytes keeps the chosen frame (within the frames they have).
  THTMLPicture later;
  later.SetFrame(2);
  EXPECT_EQ(later.Frame(), 2);
  later.LoadFromFile(path);
  EXPECT_EQ(later.Frame(), 2);
  EXPECT_EQ(Rgb(later, 5, 5), 0x00FF00u);
  later.SetFrame(3);
  later.LoadFromFile(path);
  EXPECT_EQ(later.Frame(), 3);
  EXPECT_EQ(Rgb(later, 5, 5), 0xFF0000u);
  later.SetFrame(0);
  EXPECT_EQ(later.Frame(), 1);
}

TEST(HTMLPicture, OtherFormatsAndErrors) {
  const std::string png = Fixture("small.png", "-size 7x3 xc:blue");
  ASSERT_FALSE(png.empty());
  THTMLPicture pic;
  pic.LoadFromFile(png);
  EXPECT_EQ(pic.FrameCount(), -1);
  EXPECT_EQ(pic.Width(), 7);
  EXPECT_EQ(pic.Height(), 3);
  // A 16-bit RGB image with a colour key leaves out only the pixel holding the key's samples.
  const std::string key16 = Fixture("key16.png", "-size 1x1 xc:'#123456789ABC' xc:'#123456789ABD' +append "
                                                 "-depth 16 -transparent '#123456789ABC'");
  ASSERT_FALSE(key16.empty());
  THTMLPicture keyed;
  keyed.LoadFromFile(key16);
  EXPECT_EQ(keyed.Decoded().PixelARGB(0, 0) >> 24, 0u);
  EXPECT_EQ(keyed.Decoded().PixelARGB(1, 0), 0xFF9A5612u);
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

// A GIF of a 20 x 10 screen (global colours red, black) whose frames are given as (left, top,
// width, height, pixels), each with a local table (blue, black); pixels are 0 (blue) or 1
// (black). The pixel data uses 2-bit codes with a clear code after every two pixels, so no code
// grows past 3 bits.
std::vector<uint8_t> GifOfFrames(const std::vector<std::tuple<int, int, int, int, std::vector<int>>>& Frames) {
  std::vector<uint8_t> d = {'G', 'I', 'F', '8', '9', 'a', 20, 0, 10, 0, 0x80, 0, 0, 255, 0, 0, 0, 0, 0};
  for (const auto& [L, T, W, H, Pixels] : Frames) {
    for (int v : {0x21, 0xF9, 4, 0, 0, 0, 0, 0}) d.push_back(static_cast<uint8_t>(v));  // no transparency
    for (int v : {0x2C, L, 0, T, 0, W, 0, H, 0, 0x80, 0, 0, 255, 0, 0, 0}) d.push_back(static_cast<uint8_t>(v));
    std::vector<int> codes{4};
    for (size_t i = 0; i < Pixels.size(); ++i) {
      codes.push_back(Pixels[i]);
      if (i % 2 == 1) codes.push_back(4);
    }
    codes.push_back(5);
    std::vector<uint8_t> lzw;
    uint32_t acc = 0, bits = 0;
    for (int c : codes) {
      acc |= static_cast<uint32_t>(c) << bits;
      bits += 3;
      for (; bits >= 8; bits -= 8, acc >>= 8) lzw.push_back(static_cast<uint8_t>(acc));
    }
    if (bits) lzw.push_back(static_cast<uint8_t>(acc));
    d.push_back(2);
    d.push_back(static_cast<uint8_t>(lzw.size()));
    d.insert(d.end(), lzw.begin(), lzw.end());
    d.push_back(0);
  }
  d.push_back(0x3B);
  return d;
}

// Where a frame does not cover the GIF's screen, the picture holds nothing: those pixels are
// transparent, the same at every load, and drawing leaves the canvas there as it was.
TEST(HTMLPicture, ScreenOutsideTheFrameIsTransparent) {
  const std::vector<int> Blue(8, 0);
  const std::vector<uint8_t> one = GifOfFrames({{5, 3, 4, 2, Blue}});
  const std::vector<uint8_t> two = GifOfFrames({{0, 0, 20, 10, std::vector<int>(200, 1)}, {5, 3, 4, 2, Blue}});
  for (int load = 0; load < 3; ++load) {
    THTMLPicture a, b;
    a.LoadFromBytes(one);
    b.LoadFromBytes(two);
    b.SetFrame(2);
    for (THTMLPicture* p : {&a, &b}) {
      ASSERT_EQ(p->Width(), 20);
      ASSERT_EQ(p->Decoded().Width(), 20);
      EXPECT_EQ(p->Decoded().PixelARGB(6, 4), 0xFFFF0000u);  // blue, opaque
      for (const auto& [x, y] : {std::pair{0, 0}, std::pair{4, 4}, std::pair{9, 4}, std::pair{6, 2},
                                 std::pair{6, 5}, std::pair{19, 9}})
        EXPECT_EQ(p->Decoded().PixelARGB(x, y), 0u) << x << "," << y;
      TBitmap bmp;
      bmp.SetPixelFormat(pf24bit);
      bmp.SetSize(20, 10);
      bmp.Canvas()->Brush()->SetColor(clWhite);
      bmp.Canvas()->FillRect({0, 0, 20, 10});
      p->Draw(bmp.Canvas(), {0, 0, 20, 10});
      EXPECT_EQ(bmp.Canvas()->Pixel(1, 1), clWhite);
      EXPECT_EQ(bmp.Canvas()->Pixel(6, 4), static_cast<TColor>(0xFF0000));
    }
    // The first frame of the second file covers its screen: black everywhere.
    b.SetFrame(1);
    EXPECT_EQ(b.Decoded().PixelARGB(0, 0), 0xFF000000u);
    // A frame whose data ends early: the rest of its rectangle shows the file's background
    // colour (the first of the frame's colours), not whatever memory held.
    THTMLPicture c;
    c.LoadFromBytes(GifOfFrames({{5, 3, 4, 2, {1, 1, 1}}}));
    EXPECT_EQ(c.Decoded().PixelARGB(6, 3), 0xFF000000u);
    for (int x = 5; x < 9; ++x) EXPECT_EQ(c.Decoded().PixelARGB(x, 4), 0xFFFF0000u) << x;
    EXPECT_EQ(c.Decoded().PixelARGB(8, 3), 0xFFFF0000u);
    EXPECT_EQ(c.Decoded().PixelARGB(4, 4), 0u);
  }
  // Interlaced frames of three and four rows keep their rows in place (the file holds rows 0,
  // 2, 1, 3).
  for (int rows : {3, 4}) {
    std::vector<uint8_t> il = GifOfFrames({{2, 2, 1, rows, rows == 3 ? std::vector<int>{0, 0, 1} : std::vector<int>{0, 0, 1, 1}}});
    ASSERT_EQ(il[27], 0x2C);
    il[27 + 9] |= 0x40;
    THTMLPicture p;
    p.LoadFromBytes(il);
    for (int y = 0; y < rows; ++y)
      EXPECT_EQ(p.Decoded().PixelARGB(2, 2 + y), y % 2 ? 0xFF000000u : 0xFFFF0000u) << rows << "/" << y;
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
