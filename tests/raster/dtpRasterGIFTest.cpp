// The GIF row of the raster registry: frame 0 lands with its transparency as alpha, written
// bitmaps carry low alpha as the transparent index.
#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"
#include "raster/dtpRasterGIF.h"
#include "tests/common/TestSupport.h"

using namespace raster;

namespace {

std::string Tmp(const std::string& name) { return kdtest::TempDir() + "/dtpgif_" + name; }
bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

void LoadFile(const std::string& f, TBitmap32& bmp) {
  platform::TFileStream s(f, platform::fmOpenRead);
  TdtpGifFormat fmt;
  fmt.LoadFromStream(&s, &bmp, {0, 0}, 0);
}

void SaveAndReload(TBitmap32& bmp, TGifGraphic& gif) {
  platform::TMemoryStream s;
  TdtpGifFormat fmt;
  fmt.SaveToStream(&s, &bmp);
  s.SetPosition(0);
  gif.LoadFromStream(&s);
}

}  // namespace

TEST(dtpRasterGIF, Registration) {
  InitializeDtpRasterGIF();
  bool found = false;
  for (int32_t i = 0; i < RasterFormatCount(); ++i)
    if (RasterFormat(i)->RasterClass == TdtpGifFormat::Class()) {
      found = true;
      EXPECT_EQ(RasterFormat(i)->Description, "Compuserve GIF");
      EXPECT_EQ(RasterFormat(i)->Extensions, ".gif;");
      EXPECT_EQ(RasterFormat(i)->Flags, 0x086F);
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(FindRasterClass("x.GIF"), TdtpGifFormat::Class());
  TBitmap32 bmp;
  platform::TMemoryStream s;
  TdtpGifFormat fmt;
  try {
    fmt.LoadFromStream(&s, &bmp, {0, 0}, 1);
    FAIL();
  } catch (const ERasterError& e) {
    EXPECT_EQ(e.Message, SRequestedNonExistingPage);
  }
}

TEST(dtpRasterGIF, LoadsFirstFrame) {
  const std::string transp = Tmp("t.gif"), anim = Tmp("a.gif");
  ASSERT_TRUE(Shell("convert -size 40x30 xc:red -fill blue -draw 'circle 20,15 20,5' -transparent red " + transp));
  ASSERT_TRUE(Shell("convert -size 10x8 xc:red -fill blue -draw 'point 2,2' -transparent red -size 10x8 xc:green "
                    "-loop 0 " + anim));
  TBitmap32 bmp;
  LoadFile(transp, bmp);
  ASSERT_EQ(bmp.Width(), 40);
  ASSERT_EQ(bmp.Height(), 30);
  // Alpha 0 exactly where ImageMagick sees transparency, opaque blue elsewhere.
  const std::string raw = Tmp("t.rgba");
  ASSERT_TRUE(Shell("convert " + transp + " -depth 8 rgba:" + raw));
  const auto m = kdtest::ReadFileBytes(raw);
  ASSERT_EQ(m.size(), 40u * 30 * 4);
  for (int i = 0; i < 40 * 30; ++i) {
    const TColor32 c = bmp.Bits()[i];
    if (m[i * 4 + 3] == 0) {
      EXPECT_EQ(c, 0u) << i;
    } else {
      EXPECT_EQ(c, Color32(m[i * 4], m[i * 4 + 1], m[i * 4 + 2])) << i;
    }
  }
  // An animation lands as frame 0, opaque, black where transparent.
  TBitmap32 a;
  LoadFile(anim, a);
  ASSERT_EQ(a.Width(), 10);
  EXPECT_EQ(a.Bits()[0], 0xFF000000u);
  EXPECT_EQ(a.Bits()[2 * 10 + 2], 0xFF0000FFu);
}

TEST(dtpRasterGIF, Saves) {
  // Opaque: no graphic control extension, colours exact.
  TBitmap32 bmp;
  bmp.SetSize(7, 5);
  for (int i = 0; i < 35; ++i) bmp.Bits()[i] = Color32(i * 7, 255 - i, i % 3 * 100);
  TGifGraphic gif;
  SaveAndReload(bmp, gif);
  ASSERT_EQ(gif.Count(), 1);
  EXPECT_FALSE(gif.Images(0)->HasGraphicControl());
  for (int i = 0; i < 35; ++i) {
    const platform::TColor c = gif.Images(0)->ActiveColorMap().Colors(gif.Images(0)->Data[i]);
    EXPECT_EQ(Color32(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF), bmp.Bits()[i]);
  }
  // Everything below the threshold: every index the transparent one, its entry white.
  bmp.Clear(0x1F123456);
  TGifGraphic all;
  SaveAndReload(bmp, all);
  TGIFSubImage* f = all.Images(0);
  ASSERT_TRUE(f->Transparent());
  for (uint8_t i : f->Data) EXPECT_EQ(i, f->TransparentIndex());
  EXPECT_EQ(f->ActiveColorMap().Colors(f->TransparentIndex()), 0xFFFFFFu);
  // A picture of more than 256 colours with a transparent corner survives through the loader.
  TBitmap32 many;
  many.SetSize(40, 40);
  for (int i = 0; i < 1600; ++i) many.Bits()[i] = Color32(i % 256, i / 7, 90);
  many.Bits()[0] = 0;
  platform::TMemoryStream s;
  TdtpGifFormat fmt;
  fmt.SaveToStream(&s, &many);
  s.SetPosition(0);
  TBitmap32 back;
  fmt.LoadFromStream(&s, &back, {0, 0}, 0);
  EXPECT_EQ(back.Bits()[0], 0u);
  EXPECT_EQ(back.Bits()[1] >> 24, 0xFFu);
}

TEST(dtpRasterGIF, TransparentIndexRuleAndMagickReadsWhatWeWrite) {
  // 256 colours, all used, colour 77 once only, one pixel transparent: the picture is reduced to
  // 255 colours so that the transparent index is one no opaque pixel has.
  TBitmap32 bmp;
  bmp.SetSize(32, 16);
  for (int i = 0; i < 512; ++i) {
    const int c = i < 256 ? i : (i == 256 + 77 ? 78 : i - 256);
    bmp.Bits()[i] = Color32(c, 255 - c, (c * 7) & 0xFF);
  }
  bmp.Bits()[511] = (bmp.Bits()[511] & 0xFFFFFF) | 0x10000000;  // alpha below 32
  platform::TMemoryStream s;
  TdtpGifFormat fmt;
  fmt.SaveToStream(&s, &bmp);
  s.SetPosition(0);
  TGifGraphic gif;
  gif.LoadFromStream(&s);
  TGIFSubImage* f = gif.Images(0);
  ASSERT_TRUE(f->Transparent());
  const int ti = f->TransparentIndex();
  EXPECT_EQ(f->Data[511], ti);
  EXPECT_EQ(std::count(f->Data.begin(), f->Data.end(), ti), 1);
  EXPECT_LE(f->ActiveColorMap().Count(), 256);
  EXPECT_EQ(f->ActiveColorMap().Colors(ti), 0xFFFFFFu);
  // ImageMagick sees the same pixels.
  const std::string file = Tmp("w.gif"), raw = Tmp("w.rgba");
  s.SetPosition(0);
  {
    platform::TFileStream out(file, platform::fmCreate);
    out.CopyFrom(&s, 0);
  }
  ASSERT_TRUE(Shell("convert " + file + " -depth 8 rgba:" + raw));
  const auto m = kdtest::ReadFileBytes(raw);
  ASSERT_EQ(m.size(), 512u * 4);
  TBitmap32 back;
  s.SetPosition(0);
  fmt.LoadFromStream(&s, &back, {0, 0}, 0);
  int off = 0;
  for (int i = 0; i < 512; ++i) {
    const TColor32 c = back.Bits()[i];
    if (i == 511) {
      EXPECT_EQ(m[i * 4 + 3], 0) << i;
      EXPECT_EQ(c, 0u) << i;
      continue;
    }
    // Opaque, near its colour (256 colours in 255 entries), and read alike by ImageMagick.
    EXPECT_EQ(m[i * 4 + 3], 255) << i;
    EXPECT_EQ(Color32(m[i * 4], m[i * 4 + 1], m[i * 4 + 2]), c) << i;
    for (int shift : {0, 8, 16}) {
      const int d = std::abs(int((c >> shift) & 0xFF) - int((bmp.Bits()[i] >> shift) & 0xFF));
      EXPECT_LE(d, 8) << i;
    }
    off += c != bmp.Bits()[i];
  }
  EXPECT_LT(off, 16);
  // An empty bitmap is refused; a 35-byte file with a 16000 x 16000 screen never sizes one.
  TBitmap32 empty;
  platform::TMemoryStream e;
  EXPECT_THROW(fmt.SaveToStream(&e, &empty), GIFException);
  const uint8_t tiny[35] = {'G', 'I', 'F', '8', '9', 'a', 0x80, 0x3E, 0x80, 0x3E, 0x80, 0, 0, 0, 0, 0, 255, 255,
                            255, ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
  platform::TMemoryStream t;
  t.WriteBuffer(tiny, 35);
  t.SetPosition(0);
  TBitmap32 big;
  EXPECT_THROW(fmt.LoadFromStream(&t, &big, {0, 0}, 0), GIFException);
  EXPECT_TRUE(big.Empty());
}

TEST(dtpRasterGIF, HugeScreenGetsThePixelLimitMessage) {
  // A 35-byte file: a 65535 x 65535 screen around one pixel in its far corner.
  const uint8_t tiny[35] = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 255, 255,
                            255, ',', 0xFE, 0xFF, 0xFE, 0xFF, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
  platform::TMemoryStream t;
  t.WriteBuffer(tiny, 35);
  t.SetPosition(0);
  TBitmap32 big;
  TdtpGifFormat fmt;
  std::string message;
  try {
    fmt.LoadFromStream(&t, &big, {0, 0}, 0);
  } catch (const GIFException& e) {
    message = e.Message;
  }
  EXPECT_EQ(message, ImageTooLargeText(65535, 65535));
  EXPECT_TRUE(big.Empty());
}

TEST(dtpRasterGIF, OpaquePixelsStayOpaqueBesideTransparentOnes) {
  // 128 x 128 with thousands of colours and a transparent diagonal band: every pixel keeps
  // whether it is opaque, for every threshold.
  TBitmap32 bmp;
  bmp.SetSize(128, 128);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const uint32_t a = std::abs(x - y) < 3 ? 0x10 : (x + y) % 7 == 0 ? 0x60 : 0xFF;
      bmp.Bits()[y * 128 + x] = a << 24 | (Color32(x * 2, y * 2, x + y) & 0xFFFFFF);
    }
  for (uint8_t threshold : {uint8_t(32), uint8_t(0x61)}) {
    platform::TMemoryStream s;
    TdtpGifFormat fmt;
    fmt.AlphaThreshold = threshold;
    fmt.SaveToStream(&s, &bmp);
    s.SetPosition(0);
    TBitmap32 back;
    fmt.LoadFromStream(&s, &back, {0, 0}, 0);
    ASSERT_EQ(back.Width(), 128);
    int lost = 0, kept = 0;
    for (int i = 0; i < 128 * 128; ++i) {
      const bool transparent = (bmp.Bits()[i] >> 24) < threshold;
      if (transparent) kept += back.Bits()[i] != 0u;
      else lost += (back.Bits()[i] >> 24) != 0xFF;
    }
    EXPECT_EQ(lost, 0) << int(threshold);
    EXPECT_EQ(kept, 0) << int(threshold);
  }
}

TEST(dtpRasterGIF, SeenThroughPixelsTakeNoColoursFromTheOthers) {
  // 200 opaque colours fit the table as they are; the colours left in the transparent pixels
  // are never seen and must neither take table places nor shift the others by dithering.
  TBitmap32 bmp;
  bmp.SetSize(20, 16);
  std::mt19937 rng(7);
  for (int i = 0; i < 320; ++i) {
    const bool opaque = i % 8 != 3 && i < 228;
    const uint32_t c = opaque ? (uint32_t(i) * 0x010305u + 0x102030u) & 0xFFFFFF : rng() & 0xFFFFFF;
    bmp.Bits()[i] = (opaque ? 0xFF000000u : 0x00000000u) | c;
  }
  for (int i = 228; i < 320; ++i) bmp.Bits()[i] = rng() & 0x1FFFFFFF;  // alpha below 32
  platform::TMemoryStream s;
  TdtpGifFormat fmt;
  fmt.SaveToStream(&s, &bmp);
  s.SetPosition(0);
  TBitmap32 back;
  fmt.LoadFromStream(&s, &back, {0, 0}, 0);
  ASSERT_EQ(back.Width(), 20);
  int changed = 0;
  for (int i = 0; i < 320; ++i) {
    if ((bmp.Bits()[i] >> 24) == 0xFF)
      changed += back.Bits()[i] != bmp.Bits()[i];
    else
      EXPECT_EQ(back.Bits()[i], 0u) << i;
  }
  EXPECT_EQ(changed, 0);
}

// Pictures of every kind the format reads, loaded, saved and loaded again: the first load
// shows what ImageMagick shows (alpha 0 where it sees through, the same colour elsewhere), and
// the second load gives back every pixel and alpha of the first.
TEST(dtpRasterGIF, EveryKindOfPictureComesBackThroughASave) {
  if (!Shell("command -v convert >/dev/null 2>&1")) GTEST_SKIP() << "ImageMagick is not installed";
  const std::string base = Tmp("sweep-base.png");
  ASSERT_TRUE(Shell("convert -size 33x21 gradient:'#ff2000-#0030ff' -fill '#20c040' -draw 'rectangle 2,2 9,8' "
                    "-fill '#c86432' -draw 'circle 22,10 26,14' " + base));
  const struct {
    const char* Name;
    std::string Options;
  } kinds[] = {
      {"2 colours", "-colors 2"},
      {"4 colours", "-colors 4"},
      {"8 colours", "-colors 8"},
      {"16 colours", "-colors 16"},
      {"32 colours", "-colors 32"},
      {"64 colours", "-colors 64"},
      {"128 colours", "-colors 128"},
      {"256 colours", "-colors 256"},
      {"interlaced", "-colors 64 -interlace GIF"},
      {"2 colours, one seen through", "-colors 2 -transparent-color white -fill none -draw 'color 0,0 floodfill'"},
      {"16 colours, a corner seen through", "-colors 16 -fill none -draw 'rectangle 0,0 5,4'"},
      {"255 colours and a transparent one", "-colors 255 -fill none -draw 'rectangle 28,16 32,20'"},
      {"interlaced, seen through", "-colors 40 -fill none -draw 'rectangle 10,10 14,19' -interlace GIF"},
      {"frame inside a larger screen", "-colors 30 -repage 41x30+5+6"},
      {"grey, 2 levels", "-colorspace gray -colors 2"},
  };
  int n = 0;
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.Name);
    const std::string gif = Tmp("sweep-" + std::to_string(n) + ".gif"), raw = Tmp("sweep-" + std::to_string(n++) + ".rgba");
    ASSERT_TRUE(Shell("convert " + base + " " + k.Options + " " + gif));
    // The screen outside the frame is seen through, as the picture leaves it untouched.
    ASSERT_TRUE(Shell("convert " + gif + " -background none -flatten -depth 8 rgba:" + raw));
    TBitmap32 first;
    LoadFile(gif, first);
    const auto m = kdtest::ReadFileBytes(raw);
    ASSERT_EQ(m.size(), size_t(first.Width()) * first.Height() * 4);
    for (int i = 0; i < first.Width() * first.Height(); ++i) {
      const TColor32 c = first.Bits()[i];
      if (m[i * 4 + 3] == 0)
        ASSERT_EQ(c, 0u) << "first load, pixel " << i;
      else
        ASSERT_EQ(c, Color32(m[i * 4], m[i * 4 + 1], m[i * 4 + 2])) << "first load, pixel " << i;
    }
    platform::TMemoryStream s;
    TdtpGifFormat fmt;
    fmt.SaveToStream(&s, &first);
    s.SetPosition(0);
    TBitmap32 again;
    fmt.LoadFromStream(&s, &again, {0, 0}, 0);
    ASSERT_EQ(again.Width(), first.Width());
    ASSERT_EQ(again.Height(), first.Height());
    int differ = 0;
    for (int i = 0; i < first.Width() * first.Height(); ++i) differ += again.Bits()[i] != first.Bits()[i];
    EXPECT_EQ(differ, 0) << "pixels that changed through the save";
  }
}
