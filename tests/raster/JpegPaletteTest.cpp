// JPEG decoding into palette bitmaps (236 quantised colours, exact greys), the progress event
// and the pass-by-pass display of progressive files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

extern "C" {
#include <jpeglib.h>
}

#include "platform/Graphics.h"
#include "raster/JpegGraphic.h"
#include "raster/Raster32.h"

using namespace raster;

namespace {

// A photograph-like picture: gradients with noise.
std::unique_ptr<platform::TBitmap> Photo(int w, int h) {
  auto b = std::make_unique<platform::TBitmap>();
  b->SetPixelFormat(platform::pf24bit);
  b->SetSize(w, h);
  std::mt19937 rng(5);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) {
      int n = static_cast<int>(rng() % 21) - 10;
      row[3 * x] = static_cast<uint8_t>(std::clamp(x * 255 / w + n, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(y * 255 / h - n, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp((x + y) * 128 / (w + h) + 60 + n, 0, 255));
    }
  }
  return b;
}

std::vector<uint8_t> Encode(int w, int h, bool grey, bool progressive) {
  TJPEGImage j;
  auto b = Photo(w, h);
  j.SetGrayscale(grey);  // options first: changing one drops a held bitmap
  j.SetProgressiveEncoding(progressive);
  j.Assign(b.get());
  platform::TMemoryStream s;
  j.SaveToStream(&s);
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.Size()};
}

void Load(TJPEGImage& j, const std::vector<uint8_t>& f) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  j.LoadFromStream(&s);
}

// libjpeg's own grey output of a file.
std::vector<uint8_t> LibjpegGrey(const std::vector<uint8_t>& f, int& w, int& h) {
  jpeg_decompress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, f.data(), static_cast<unsigned long>(f.size()));
  jpeg_read_header(&c, TRUE);
  c.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&c);
  w = static_cast<int>(c.output_width);
  h = static_cast<int>(c.output_height);
  std::vector<uint8_t> px(static_cast<size_t>(w) * h);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = px.data() + static_cast<size_t>(c.output_scanline) * w;
    jpeg_read_scanlines(&c, &row, 1);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return px;
}

struct TEvent {
  platform::TProgressStage Stage;
  int Percent;
  bool Redraw;
  platform::TRect R;
};

}  // namespace

TEST(JpegPalette, EightBitHasAtMost236ColoursAndIsDeterministic) {
  const std::vector<uint8_t> f = Encode(96, 64, false, false);
  std::vector<std::vector<uint8_t>> runs;
  platform::TPaletteEntries firstPalette;
  for (int run = 0; run < 2; ++run) {
    TJPEGImage j;
    Load(j, f);
    j.SetPixelFormat(jf8Bit);
    platform::TBitmap* b = j.Bitmap();
    ASSERT_EQ(b->PixelFormat(), platform::pf8bit);
    const size_t n = b->Palette().size();
    EXPECT_LE(n, 236u);
    EXPECT_GT(n, 100u);  // a colourful picture uses most of them
    std::vector<uint8_t> idx;
    std::set<uint8_t> used;
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        uint8_t i = b->PixelIndex(x, y);
        ASSERT_LT(i, n);
        idx.push_back(i);
        used.insert(i);
      }
    EXPECT_LE(used.size(), 236u);
    runs.push_back(idx);
    if (run == 0) firstPalette = b->Palette();
    else EXPECT_EQ(b->Palette(), firstPalette);
    // Close to the 24-bit decode: mean absolute error per channel below 8.
    TJPEGImage full;
    Load(full, f);
    platform::TBitmap* t = full.Bitmap();
    double sum = 0;
    for (int y = 0; y < t->Height(); ++y) {
      auto* row = static_cast<const uint8_t*>(t->ScanLine(y));
      for (int x = 0; x < t->Width(); ++x) {
        uint32_t c = static_cast<uint32_t>(b->Palette()[b->PixelIndex(x, y)]);
        sum += std::abs(int(c & 0xFF) - row[3 * x + 2]) + std::abs(int((c >> 8) & 0xFF) - row[3 * x + 1]) +
               std::abs(int((c >> 16) & 0xFF) - row[3 * x]);
      }
    }
    EXPECT_LT(sum / (3.0 * t->Width() * t->Height()), 8.0);
    // The raster surface shows the same quantised colours.
    TBitmap32 s;
    j.DecodeTo32(&s);
    uint32_t c = static_cast<uint32_t>(b->Palette()[b->PixelIndex(5, 7)]);
    EXPECT_EQ(s.Pixel(5, 7), 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
  }
  EXPECT_EQ(runs[0], runs[1]);
}

TEST(JpegPalette, GreyOutputIsAnEightBitGreyRampWithLibjpegsValues) {
  struct Case {
    bool GreyFile;
    bool GreyOption;
    TJPEGPixelFormat Format;
  };
  for (Case c : {Case{true, false, jf24Bit}, Case{true, false, jf8Bit}, Case{false, true, jf24Bit}}) {
    SCOPED_TRACE(c.GreyFile);
    const std::vector<uint8_t> f = Encode(37, 21, c.GreyFile, false);
    TJPEGImage j;
    Load(j, f);
    EXPECT_EQ(j.Data().Grayscale, c.GreyFile);
    j.SetGrayscale(c.GreyOption);
    j.SetPixelFormat(c.Format);
    platform::TBitmap* b = j.Bitmap();
    ASSERT_EQ(b->PixelFormat(), platform::pf8bit);
    ASSERT_EQ(b->Palette().size(), 256u);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(b->Palette()[i], static_cast<platform::TColor>(platform::RGB(i, i, i)));
    int w = 0, h = 0;
    std::vector<uint8_t> ref = LibjpegGrey(f, w, h);
    ASSERT_EQ(b->Width(), w);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(b->PixelIndex(x, y), ref[static_cast<size_t>(y) * w + x]) << x << "," << y;
  }
}

TEST(JpegPalette, ProgressFiresWithIncreasingValues) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    const std::vector<uint8_t> f = Encode(200, 160, false, progressive);
    TJPEGImage j;
    Load(j, f);
    j.ProgressInterval = 0;
    std::vector<TEvent> ev;
    j.OnProgress = [&](platform::TObject* Sender, platform::TProgressStage S, uint8_t P, bool Redraw,
                       const platform::TRect& R, const std::string&) {
      EXPECT_EQ(Sender, &j);
      ev.push_back({S, P, Redraw, R});
    };
    j.Bitmap();
    ASSERT_GE(ev.size(), 5u);
    EXPECT_EQ(ev.front().Stage, platform::psStarting);
    EXPECT_EQ(ev.front().Percent, 0);
    EXPECT_EQ(ev.back().Stage, platform::psEnding);
    EXPECT_EQ(ev.back().Percent, 100);
    int running = 0;
    for (size_t i = 1; i < ev.size(); ++i) {
      EXPECT_GE(ev[i].Percent, ev[i - 1].Percent) << i;
      if (ev[i].Stage == platform::psRunning) {
        ++running;
        EXPECT_FALSE(ev[i].Redraw);  // no progressive display asked for
      }
    }
    EXPECT_GE(running, 3);
  }
}

TEST(JpegPalette, ProgressiveDisplayShowsPassesAndEndsExact) {
  const std::vector<uint8_t> f = Encode(120, 90, false, true);
  TJPEGImage plain;
  Load(plain, f);
  EXPECT_TRUE(plain.ProgressiveEncoding());
  platform::TBitmap* ref = plain.Bitmap();
  TJPEGImage j;
  Load(j, f);
  j.SetProgressiveDisplay(true);
  int passes = 0;
  j.OnProgress = [&](platform::TObject*, platform::TProgressStage S, uint8_t, bool Redraw, const platform::TRect& R,
                     const std::string&) {
    if (S == platform::psRunning && Redraw) {
      ++passes;
      EXPECT_EQ(R.Bottom, 90);
      EXPECT_EQ(j.Bitmap()->Width(), 120);  // the pass is in the bitmap already
    }
  };
  platform::TBitmap* b = j.Bitmap();
  EXPECT_GE(passes, 2);
  ASSERT_EQ(b->PixelFormat(), ref->PixelFormat());
  for (int y = 0; y < 90; ++y)
    ASSERT_EQ(std::memcmp(b->ScanLine(y), ref->ScanLine(y), 120 * 3), 0) << y;
  // A file of one scan is decoded in one go.
  TJPEGImage one;
  Load(one, Encode(120, 90, false, false));
  one.SetProgressiveDisplay(true);
  passes = 0;
  one.OnProgress = [&](platform::TObject*, platform::TProgressStage S, uint8_t, bool Redraw, const platform::TRect&,
                       const std::string&) { passes += S == platform::psRunning && Redraw; };
  one.Bitmap();
  EXPECT_EQ(passes, 0);
}

TEST(JpegPalette, AThrowingListenerStopsTheDecodeCleanly) {
  const std::vector<uint8_t> f = Encode(64, 64, false, true);
  for (bool display : {false, true}) {
    TJPEGImage j;
    Load(j, f);
    j.ProgressInterval = 0;
    j.SetProgressiveDisplay(display);
    int endings = 0;
    j.OnProgress = [&](platform::TObject*, platform::TProgressStage S, uint8_t P, bool, const platform::TRect&,
                       const std::string&) {
      if (S == platform::psEnding) {
        ++endings;
        EXPECT_EQ(P, 0);
      }
      if (S == platform::psRunning) throw platform::Exception("stop");
    };
    EXPECT_THROW(j.Bitmap(), platform::Exception);
    EXPECT_EQ(endings, 1);
    j.OnProgress = nullptr;
    j.SetScale(jsHalf);  // a new decode works
    EXPECT_EQ(j.Bitmap()->Width(), 32);
  }
}
