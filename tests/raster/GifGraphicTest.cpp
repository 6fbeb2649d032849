// GIF model, reader and writer: ImageMagick-made files decoded pixel-exact, byte-exact round trips
// of every extension kind, LZW and run-length streams read back by ImageMagick, the messages,
// hostile data, drawing and animation on a fake clock, colour reduction and optimising.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterGIF.h"
#include "tests/common/TestSupport.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Tmp(const std::string& name) { return kdtest::TempDir() + "/gif_" + name; }
bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

void LoadBytes(TGifGraphic& gif, const Bytes& b) {
  platform::TMemoryStream s;
  if (!b.empty()) s.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  s.SetPosition(0);
  gif.LoadFromStream(&s);
}

Bytes SaveBytes(TGifGraphic& gif) {
  platform::TMemoryStream s;
  gif.SaveToStream(&s);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  if (!b.empty()) s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const GIFException& e) {
    return e.Message;
  }
  return "";
}

// Frame I as RGBA the way ImageMagick decodes it (frame geometry, transparent = alpha 0).
Bytes MagickFrame(const std::string& file, int i, int w, int h) {
  const std::string out = Tmp("frame.rgba");
  EXPECT_TRUE(Shell("convert '" + file + "[" + std::to_string(i) + "]' +repage -depth 8 rgba:" + out));
  Bytes b = kdtest::ReadFileBytes(out);
  EXPECT_EQ(b.size(), static_cast<size_t>(w) * h * 4);
  return b;
}

// Compares every frame of FILE, decoded by us, with ImageMagick's decoding.
void ExpectMatchesMagick(const std::string& file, TGifGraphic& gif) {
  for (int i = 0; i < gif.Count(); ++i) {
    TGIFSubImage* f = gif.Images(i);
    const Bytes m = MagickFrame(file, i, f->Width(), f->Height());
    if (m.size() != f->Data.size() * 4) return;
    const TGIFColorMap& map = f->ActiveColorMap();
    int bad = 0;
    for (size_t p = 0; p < f->Data.size(); ++p) {
      const uint8_t idx = f->Data[p];
      if (f->Transparent() && idx == f->TransparentIndex()) {
        if (m[p * 4 + 3] != 0) ++bad;
        continue;
      }
      const platform::TColor c = map.Colors(idx);
      if (m[p * 4 + 3] != 255 || m[p * 4] != (c & 0xFF) || m[p * 4 + 1] != ((c >> 8) & 0xFF) ||
          m[p * 4 + 2] != ((c >> 16) & 0xFF))
        ++bad;
    }
    EXPECT_EQ(bad, 0) << file << " frame " << i;
  }
}

Bytes RandomIndices(size_t n, int colors, uint32_t seed, int runs = 1) {
  std::mt19937 rng(seed);
  Bytes d(n);
  for (size_t i = 0; i < n; i += runs) {
    const uint8_t v = static_cast<uint8_t>(rng() % colors);
    for (size_t k = i; k < std::min(n, i + runs); ++k) d[k] = v;
  }
  return d;
}

// An image of one frame with a global table of COLORS grey entries.
void MakeImage(TGifGraphic& gif, int w, int h, int colors, const Bytes& data, bool interlaced = false) {
  for (int c = 0; c < colors; ++c) gif.GlobalColorMap().Add(platform::RGB(c, 255 - c, c / 2));
  TGIFSubImage* f = gif.Add();
  f->SetBounds(0, 0, w, h);
  f->SetInterlaced(interlaced);
  f->Data = data;
}

// FILE (one frame, a global table) with its pixel data in sub-blocks of the lengths in CUTS, cycled.
Bytes Recut(const Bytes& file, const std::vector<int>& cuts) {
  const size_t start = 13 + (3u << ((file[10] & 7) + 1)) + 11;  // past the code size
  Bytes out(file.begin(), file.begin() + start), data;
  for (size_t p = start; file.at(p) != 0; p += 1 + file[p]) data.insert(data.end(), &file[p + 1], &file[p + 1] + file[p]);
  for (size_t i = 0, k = 0; i < data.size(); ++k) {
    const size_t n = std::min<size_t>(cuts[k % cuts.size()], data.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    i += n;
  }
  out.insert(out.end(), {0, ';'});
  return out;
}

}  // namespace

TEST(GifGraphic, DecodesImageMagickFilesPixelExact) {
  const std::string plain = Tmp("noise.gif"), inter = Tmp("inter.gif"), transp = Tmp("transp.gif"),
                    anim = Tmp("anim.gif");
  ASSERT_TRUE(Shell("convert -size 197x131 xc: +noise Random -colors 256 " + plain));
  ASSERT_TRUE(Shell("convert -size 61x45 plasma:fractal -seed 5 -colors 60 -interlace GIF " + inter));
  ASSERT_TRUE(Shell("convert -size 40x30 xc:red -fill blue -draw 'circle 20,15 20,5' -transparent red " + transp));
  ASSERT_TRUE(Shell("convert -size 30x20 xc:red -size 30x20 gradient:yellow-green "
                    "\\( -size 9x7 xc:none -fill '#123456' -draw 'point 4,3' -repage +5+6 \\) -loop 3 " + anim));
  for (const std::string& f : {plain, inter, transp, anim}) {
    TGifGraphic gif;
    gif.LoadFromFile(f);
    ASSERT_GT(gif.Count(), 0) << f;
    ExpectMatchesMagick(f, gif);
  }
  TGifGraphic i;
  i.LoadFromFile(inter);
  EXPECT_TRUE(i.Images(0)->Interlaced());
  TGifGraphic t;
  t.LoadFromFile(transp);
  EXPECT_TRUE(t.Images(0)->Transparent());
  TGifGraphic a;
  a.LoadFromFile(anim);
  ASSERT_EQ(a.Count(), 3);
  EXPECT_EQ(a.Loops(), 2);  // ImageMagick stores -loop 3 as two repeats
  EXPECT_EQ(a.Images(2)->Left(), 5);
  EXPECT_EQ(a.Images(2)->Top(), 6);
  int locals = 0;
  for (int k = 0; k < a.Count(); ++k) locals += a.Images(k)->ColorMap.Count() > 0;
  EXPECT_GT(locals, 0);  // the frames' own palettes were exercised
  // What we write back reads the same in ImageMagick.
  for (const std::string& f : {plain, inter, transp, anim}) {
    TGifGraphic gif;
    gif.LoadFromFile(f);
    const std::string again = Tmp("again.gif");
    gif.SaveToFile(again);
    ExpectMatchesMagick(again, gif);
  }
}

TEST(GifGraphic, LzwRoundTrips) {
  struct Case {
    int w, h, colors, runs;
    bool interlaced;
  } cases[] = {{1, 1, 2, 1, false},     {300, 200, 256, 1, false}, {300, 200, 256, 1, true}, {513, 77, 4, 3, false},
               {1000, 300, 2, 500, true}, {64, 1, 16, 1, true},     {255, 255, 7, 9, false},  {1200, 900, 1, 1, false},
               {40, 30, 4, 1, false},     {40, 30, 16, 1, false},    {40, 30, 256, 1, true}};
  for (const Case& c : cases) {
    TGifGraphic gif;
    const Bytes data = RandomIndices(size_t(c.w) * c.h, c.colors, c.w * 31 + c.h, c.runs);
    MakeImage(gif, c.w, c.h, std::max(c.colors, 2), data, c.interlaced);
    const Bytes file = SaveBytes(gif);
    TGifGraphic back;
    LoadBytes(back, file);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.Images(0)->Data, data) << c.w << "x" << c.h;
    EXPECT_EQ(back.Images(0)->Interlaced(), c.interlaced);
    // Short sub-blocks: a code of 9 or more bits may span three of them.
    for (const std::vector<int>& cuts : {std::vector<int>{1}, {2}, {3}, {7}, {1, 1, 2, 255, 1, 3}}) {
      TGifGraphic recut;
      LoadBytes(recut, Recut(file, cuts));
      ASSERT_EQ(recut.Count(), 1);
      EXPECT_EQ(recut.Images(0)->Data, data) << c.w << "x" << c.h << " cut " << cuts.size() << "/" << cuts[0];
    }
    const std::string f = Tmp("rt.gif");
    kdtest::WriteFileBytes(f, file);
    ExpectMatchesMagick(f, back);
  }
}

TEST(GifGraphic, CoderDetails) {
  // A code size of 1 is written as 2; an empty frame writes code size, end code, terminator.
  platform::TMemoryStream s;
  GIFEncode(&s, 1, 2, nullptr, false, 0, 0);
  ASSERT_EQ(s.GetSize(), 4);
  uint8_t b[4];
  s.SetPosition(0);
  s.ReadBuffer(b, 4);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(b[1], 1);
  EXPECT_EQ(b[2], 5);  // end code 5 in 3 bits
  EXPECT_EQ(b[3], 0);
  // A pixel beyond the colour count.
  const uint8_t px[2] = {0, 9};
  platform::TMemoryStream s2;
  EXPECT_EQ(MessageOf([&] { GIFEncode(&s2, 2, 4, px, false, 2, 1); }), sColorNotInTable);
  // Interlaced frame one pixel high: row 0 only.
  TGifGraphic gif;
  MakeImage(gif, 5, 1, 4, {1, 2, 3, 0, 1}, true);
  TGifGraphic back;
  LoadBytes(back, SaveBytes(gif));
  EXPECT_EQ(back.Images(0)->Data, (Bytes{1, 2, 3, 0, 1}));
}

namespace {

// GIF87a, 4x1 screen, 2-colour global table, one 4x1 frame; the LZW data comes from CODE.
Bytes HandMade(const Bytes& code, bool trailer = true) {
  Bytes b = {'G', 'I', 'F', '8', '7', 'a', 4, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
             ',', 0,   0,   0,   0,   4,   0, 1, 0, 0};
  b.insert(b.end(), code.begin(), code.end());
  if (trailer) b.push_back(';');
  return b;
}

struct Warnings {
  std::vector<std::string> list;
  void Attach(TGifGraphic& g) {
    g.OnWarning = [this](platform::TObject*, int32_t, const std::string& m) { list.push_back(m); };
  }
  bool Has(const std::string& m) const { return std::find(list.begin(), list.end(), m) != list.end(); }
};

}  // namespace

TEST(GifGraphic, ReadingRules) {
  TGifGraphic src;
  MakeImage(src, 4, 1, 2, {1, 0, 1, 1});
  Bytes good = SaveBytes(src);
  // Four bytes before "GIF", lower case, any version.
  Bytes pre = {1, 2, 3, 4};
  pre.insert(pre.end(), good.begin(), good.end());
  pre[4] = 'g';
  pre[9] = 'z';
  TGifGraphic g;
  LoadBytes(g, pre);
  EXPECT_EQ(g.Images(0)->Data, (Bytes{1, 0, 1, 1}));
  // Width 0 takes the screen size with a warning.
  Bytes zero = HandMade({2, 2, 0x4C, 0x01, 0});  // clear, then codes
  zero[24] = 0;
  Warnings w;
  TGifGraphic z;
  w.Attach(z);
  LoadBytes(z, zero);
  EXPECT_EQ(z.Images(0)->Width(), 4);
  EXPECT_TRUE(w.Has(sScreenSizeExceeded));
  // An unknown block after a frame keeps the frame.
  Bytes unk = good;
  unk.back() = 'x';
  Warnings w2;
  TGifGraphic u;
  w2.Attach(u);
  LoadBytes(u, unk);
  EXPECT_EQ(u.Count(), 1);
  EXPECT_TRUE(w2.Has(sUnknownBlock));
  EXPECT_TRUE(w2.Has(sBadTrailer));
  // A 3-colour global table is written as 4 entries.
  TGifGraphic three;
  MakeImage(three, 2, 1, 3, {2, 1});
  Bytes t = SaveBytes(three);
  EXPECT_EQ(t[10] & 0x87, 0x81);
  EXPECT_EQ(t[13 + 9], 0);
  EXPECT_EQ(t[13 + 10], 0);
  EXPECT_EQ(t[13 + 11], 0);
  EXPECT_EQ(t[13 + 12], ',');
  // An application block of size 10 is written back with size 11; comments survive.
  Bytes app = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 9, 9, 9,
               '!', 0xFF, 10, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', 2, 7, 8, 0,
               '!', 0xFE, 3, 'h', 'e', 'y', 0, ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
  TGifGraphic ap;
  LoadBytes(ap, app);
  Bytes out = SaveBytes(ap);
  const std::string os(out.begin(), out.end());
  EXPECT_NE(os.find(std::string("!\xFF\x0B" "ABCDEFGH12\0\x02\x07\x08\0", 17)), std::string::npos);
  EXPECT_NE(os.find(std::string("!\xFE\x03hey\0", 7)), std::string::npos);
  // Sub-blocks after the end code are skipped up to the terminator.
  Bytes extra = good;
  extra.pop_back();  // ';'
  extra.pop_back();  // 0 terminator
  extra.insert(extra.end(), {3, 1, 2, 3, 0, ';'});
  TGifGraphic ex;
  Warnings w3;
  w3.Attach(ex);
  LoadBytes(ex, extra);
  EXPECT_EQ(ex.Images(0)->Data, (Bytes{1, 0, 1, 1}));
  EXPECT_TRUE(w3.list.empty());
  // Short pixel data: warning, the rest keeps the fill value.
  TGifGraphic big;
  MakeImage(big, 50, 50, 4, RandomIndices(2500, 4, 7));
  const Bytes whole = SaveBytes(big);
  ASSERT_GT(whole.size(), 200u);
  // Copy the prefix rather than resize: g++ 12 warns on a shrinking resize it cannot bound.
  const Bytes cut(whole.begin(), whole.end() - 200);
  TGifGraphic c;
  Warnings w4;
  w4.Attach(c);
  LoadBytes(c, cut);
  EXPECT_TRUE(w4.Has(sPrematureEOF));
  EXPECT_EQ(c.Images(0)->Data.back(), 0);
}

TEST(GifGraphic, Messages) {
  TGifGraphic g;
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, {'G', 'I'}); }), sPrematureEOF);
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, {'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}); }), sBadSignature);
  EXPECT_EQ(MessageOf([&] { SaveBytes(g); }), sUnsupportedVersion);
  const Bytes hdr = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  auto with = [&](const Bytes& tail) {
    Bytes b = hdr;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, with({'!', 0x77, 0})); }), sUnknownExtension);
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, with({'!', 0xFF, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0})); }), sBadAppBlockSize);
  Bytes loop = {'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 5, 0};
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, with(loop)); }), sBadGIFData);
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, with({',', 0, 0, 0, 0, 1, 0, 1})); }), sPrematureEOF);
  // A prefix entry pointing to itself: N=2, clear, 0, then code 6 (defined by the next step as
  // prefix 0) ... built so that entry 6's prefix is 6.
  {
    // Codes (3 bits): clear(4), 6 (unknown yet: KwKwK case sets prefix[6]=old=6? no: old=first)
    // Simplest: first code after clear is 6, old = 6; next code 7 >= max code 6? no, 7>=6:
    // push first, code = old = 6; prefix[6] = 0... A loop needs prefix[6] = 6: old code 6 when
    // entry 6 is defined: codes clear, 6, 1 define prefix[6] = 6 and 6 is then decoded.
    Bytes code = {2};
    // bits: 4 (100), 6 (110), 1 (001), 6 (110) packed LSB first
    uint32_t acc = 4 | 6 << 3 | 1 << 6 | 6 << 9;
    code.push_back(2);
    code.push_back(static_cast<uint8_t>(acc));
    code.push_back(static_cast<uint8_t>(acc >> 8));
    code.push_back(0);
    Bytes b = HandMade(code);
    EXPECT_EQ(MessageOf([&] { LoadBytes(g, b); }), sCircularTable);
  }
  TGIFColorMap map(&g);
  for (int i = 0; i < 256; ++i) map.Add(platform::RGB(i, 0, 0));
  EXPECT_EQ(MessageOf([&] { map.Add(0); }), sColorTableOverflow);
  EXPECT_EQ(MessageOf([&] { map.Delete(256); }), sBadColorIndex);
  EXPECT_EQ(MessageOf([&] { map.SetColors(-1, 0); }), sBadColorIndex);
  EXPECT_EQ(map.IndexOf(platform::RGB(7, 0, 0)), 7);
  Warnings w;
  w.Attach(g);
  EXPECT_EQ(map.Colors(999), platform::RGB(0, 0, 0));
  EXPECT_TRUE(w.Has(sBadColorIndex));
  TGIFColorMap empty(&g);
  EXPECT_EQ(MessageOf([&] { empty.Colors(0); }), sColorTableEmpty);
  TGifGraphic img;
  TGIFSubImage* f = img.Add();
  EXPECT_EQ(MessageOf([&] { f->GetPixel(0, 0); }), sBadPixelCoordinates);
  f->Descriptor[5] = 2;
  f->Descriptor[7] = 2;
  EXPECT_EQ(MessageOf([&] { f->GetPixel(1, 1); }), sImageEmpty);
  EXPECT_EQ(MessageOf([&] { f->Scanline(2); }), sBadPixelCoordinates);
  f->SetBounds(3, 0, 4, 4);
  EXPECT_EQ(img.Width(), 7);
  EXPECT_EQ(MessageOf([&] { img.SetWidth(6); }), sWidthTooSmall);
  EXPECT_EQ(MessageOf([&] { img.SetHeight(3); }), sHeightTooSmall);
}

TEST(GifGraphic, HostileDataNeverCrashes) {
  TGifGraphic src;
  MakeImage(src, 37, 23, 16, RandomIndices(37 * 23, 16, 3));
  for (int c = 0; c < 16; ++c) src.Images(0)->ColorMap.Add(platform::RGB(c, 2, 3));
  const Bytes good = SaveBytes(src);
  std::mt19937 rng(11);
  auto attempt = [](const Bytes& b) {
    TGifGraphic g;
    try {
      LoadBytes(g, b);
    } catch (const platform::Exception&) {
    }
  };
  for (size_t n = 0; n < good.size(); ++n) attempt(Bytes(good.begin(), good.begin() + n));
  for (int i = 0; i < 3000; ++i) {
    Bytes b = good;
    for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k) b[rng() % b.size()] = static_cast<uint8_t>(rng());
    attempt(b);
  }
  // A huge frame on a tiny file is refused rather than allocated.
  Bytes huge = HandMade({2, 0});
  huge[24] = 0xFF;
  huge[25] = 0xFF;
  huge[26] = 0xFF;
  huge[27] = 0xFF;
  TGifGraphic h;
  EXPECT_EQ(MessageOf([&] { LoadBytes(h, huge); }), ImageTooLargeText(65535, 65535));
}

TEST(GifGraphic, DrawsFrameZeroThroughItsTransparency) {
  InitializeGifGraphic();
  ASSERT_TRUE(platform::FindFileFormat("gif"));
  EXPECT_EQ(platform::FindFileFormat("gif")()->ClassName(), "TGifGraphic");
  TGifGraphic gif;
  MakeImage(gif, 3, 2, 4, {0, 1, 2, 3, 1, 0});
  auto g = std::make_unique<TGIFGraphicControlExtension>(gif.Images(0));
  g->SetTransparentColorIndex(1);
  g->SetTransparent(true);
  gif.Images(0)->AddExtension(std::move(g));
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf24bit);
  bmp.SetSize(3, 2);
  for (int y = 0; y < 2; ++y) {
    uint8_t* d = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 3; ++x) {
      d[x * 3] = 10;
      d[x * 3 + 1] = 20;
      d[x * 3 + 2] = 30;
    }
  }
  gif.Draw(bmp.Canvas(), platform::Rect(0, 0, 3, 2));
  const Bytes data = {0, 1, 2, 3, 1, 0};
  for (int p = 0; p < 6; ++p) {
    const uint8_t* d = static_cast<uint8_t*>(bmp.ScanLine(p / 3)) + (p % 3) * 3;
    const int i = data[p];
    if (i == 1) {
      EXPECT_EQ(d[0] * 65536 + d[1] * 256 + d[2], 10 * 65536 + 20 * 256 + 30) << p;
    } else {  // MakeImage's table: R = i, G = 255 - i, B = i / 2
      EXPECT_EQ(d[2] * 65536 + d[1] * 256 + d[0], i * 65536 + (255 - i) * 256 + i / 2) << p;
    }
  }
  FinalizeGifGraphic();
  EXPECT_FALSE(platform::FindFileFormat("gif"));
}

namespace {

// A 35-byte GIF: logical screen SW x SH, a 2-colour global table, one 1 x 1 frame.
Bytes TinyFrameOnScreen(int sw, int sh) {
  return {'G', 'I', 'F', '8', '9', 'a', static_cast<uint8_t>(sw), static_cast<uint8_t>(sw >> 8),
          static_cast<uint8_t>(sh), static_cast<uint8_t>(sh >> 8), 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
          ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
}

// LZW data of W x H indices as our encoder writes it.
Bytes Lzw(int bpp, const Bytes& px, int w, int h, bool interlaced = false) {
  platform::TMemoryStream s;
  GIFEncode(&s, bpp, 1 << bpp, px.data(), interlaced, w, h);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

void Append(Bytes& b, const Bytes& tail) { b.insert(b.end(), tail.begin(), tail.end()); }

}  // namespace

TEST(GifGraphic, DeclaredSizesMustBeBackedByData) {
  // The screen of a 35-byte file cannot be 16000 x 16000 when its only frame is 1 x 1.
  const Bytes tiny = TinyFrameOnScreen(16000, 16000);
  ASSERT_EQ(tiny.size(), 35u);
  TGifGraphic g;
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, tiny); }),
            "Logical screen of 16000 x 16000 pixels is larger than its frames and data can fill");
  // A modest screen around a small frame stays legal.
  TGifGraphic ok;
  LoadBytes(ok, TinyFrameOnScreen(40, 30));
  EXPECT_EQ(ok.Width(), 40);
  EXPECT_EQ(ok.Images(0)->Data, Bytes{0});
  // A frame declaring more pixels than its bytes could ever decode to.
  Bytes big = TinyFrameOnScreen(1, 1);
  big[24] = big[25] = big[26] = big[27] = 0x30;  // frame 12336 x 12336
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, big); }),
            "Frame of 12336 x 12336 pixels is larger than its 2 bytes of data can fill");
}

TEST(GifGraphic, RoundTripKeepsEveryExtensionByteExact) {
  // Frame 0: two graphic controls, a comment, a plain text block, the loop block, an unknown
  // application block, a sorted local table; frame 1: interlaced on the global table.
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 6, 0, 5, 0, 0x91, 2, 0};
  Append(b, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  Append(b, {'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 7, 0, 0});
  Append(b, {'!', 0xF9, 4, 0x09, 12, 0, 3, 0});
  Append(b, {'!', 0xF9, 4, 0x0D, 34, 1, 3, 0});  // readers differ on which one counts: same index
  Append(b, {'!', 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 2, '\r', '\n', 0});
  Append(b, {'!', 0x01, 12, 1, 0, 2, 0, 30, 0, 8, 0, 6, 8, 1, 0, 3, 'a', 'b', 'c', 0});
  Append(b, {'!', 0xFF, 11, 'X', 'Y', 'Z', 'W', 'V', 'U', 'T', 'S', '1', '2', '3', 2, 9, 8, 1, 7, 0});
  Append(b, {',', 1, 0, 1, 0, 3, 0, 2, 0, 0xA1});
  Append(b, {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3});
  Append(b, Lzw(2, {0, 1, 2, 3, 3, 2}, 3, 2));
  Append(b, {'!', 0xF9, 4, 0x00, 5, 0, 0, 0});
  Append(b, {',', 0, 0, 0, 0, 6, 0, 5, 0, 0x40});
  Bytes px(30);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 % 4);
  Append(b, Lzw(2, px, 6, 5, true));
  b.push_back(';');
  TGifGraphic g;
  LoadBytes(g, b);
  ASSERT_EQ(g.Count(), 2);
  EXPECT_EQ(g.Images(1)->Data, px);
  EXPECT_EQ(g.Loops(), 7);
  const Bytes out = SaveBytes(g);
  EXPECT_EQ(out, b);
  const std::string f = Tmp("ext.gif");
  kdtest::WriteFileBytes(f, out);
  ExpectMatchesMagick(f, g);
  // A sorted flag on an empty table is not written, so it makes no 89a file: an empty local
  // table of a frame with pixels, and a global table emptied by sorting when no frame uses it.
  for (int global = 0; global < 2; ++global) {
    SCOPED_TRACE(global ? "global" : "local");
    TGifGraphic s;
    MakeImage(s, 2, 1, 2, {0, 1});
    if (global) {
      s.Images(0)->ColorMap.ImportPalette({platform::clRed, platform::clBlue});
      s.Header.BackgroundColorIndex = 7;  // beyond the table: nothing keeps an entry
      ASSERT_TRUE(s.GlobalColorMap().Optimize());
      ASSERT_EQ(s.GlobalColorMap().Count(), 0);
    } else {
      s.Images(0)->ColorMap.Optimized = true;
    }
    const Bytes first = SaveBytes(s);
    EXPECT_EQ(std::string(first.begin(), first.begin() + 6), "GIF87a");
    TGifGraphic again;
    LoadBytes(again, first);
    EXPECT_EQ(SaveBytes(again), first);
  }
}

// ---------------------------------------------------------------------------------------------
// Drawing and animation

namespace {

platform::TColor PixelOf(platform::TBitmap& b, int x, int y) {
  const uint8_t* d = static_cast<uint8_t*>(b.ScanLine(y)) + x * 3;
  return platform::RGB(d[2], d[1], d[0]);
}

void Checkerboard(platform::TBitmap& b, int w, int h) {
  b.SetPixelFormat(platform::pf24bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* d = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) d[x * 3] = d[x * 3 + 1] = d[x * 3 + 2] = ((x + y) & 1) ? 255 : 0;
  }
}

TGIFGraphicControlExtension* AddGce(TGIFSubImage* f, int delay, int disposal, int transparent = -1) {
  auto g = std::make_unique<TGIFGraphicControlExtension>(f);
  g->SetDelay(static_cast<uint16_t>(delay));
  g->SetDisposal(static_cast<uint8_t>(disposal));
  if (transparent >= 0) {
    g->SetTransparentColorIndex(transparent);
    g->SetTransparent(true);
  }
  return static_cast<TGIFGraphicControlExtension*>(f->AddExtension(std::move(g)));
}

// A clock that only moves when told; wake-ups fire at their due time.
struct FakeClock : TGIFClock {
  int64_t now = 1000;
  std::vector<int32_t> sleeps, scheduled;
  std::map<TGIFPainter*, int64_t> due;
  int64_t Now() override { return now; }
  void Sleep(int32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  void Schedule(TGIFPainter* p, int32_t ms) override {
    due[p] = now + ms;
    scheduled.push_back(ms);
  }
  void Cancel(TGIFPainter* p) override { due.erase(p); }
  void Advance(int64_t ms) {
    const int64_t end = now + ms;
    for (;;) {
      auto next = due.end();
      for (auto it = due.begin(); it != due.end(); ++it)
        if (it->second <= end && (next == due.end() || it->second < next->second)) next = it;
      if (next == due.end()) break;
      TGIFPainter* p = next->first;
      now = next->second;
      due.erase(next);
      p->Tick();
    }
    now = end;
  }
  FakeClock() { SetGIFClock(this); }
  ~FakeClock() override { SetGIFClock(nullptr); }
};

// Screen 4 x 1, global table red, green, blue, white; frames as given (left, width, colour).
struct Frame {
  int left, width, colour, delay, disposal;
};
void MakeAnimation(TGifGraphic& gif, const std::vector<Frame>& frames) {
  for (platform::TColor c : {platform::RGB(255, 0, 0), platform::RGB(0, 255, 0), platform::RGB(0, 0, 255),
                             platform::RGB(255, 255, 255)})
    gif.GlobalColorMap().Add(c);
  gif.Header.ScreenWidth = 4;
  gif.Header.ScreenHeight = 1;
  for (const Frame& fr : frames) {
    TGIFSubImage* f = gif.Add();
    f->SetBounds(fr.left, 0, fr.width, 1);
    std::fill(f->Data.begin(), f->Data.end(), static_cast<uint8_t>(fr.colour));
    AddGce(f, fr.delay, fr.disposal);
  }
}

std::string Row(platform::TBitmap& b) {
  std::string s;
  for (int x = 0; x < b.Width(); ++x) {
    const platform::TColor c = PixelOf(b, x, 0);
    s += c == platform::RGB(255, 0, 0) ? 'R' : c == platform::RGB(0, 255, 0) ? 'G' : c == platform::RGB(0, 0, 255) ? 'B'
       : c == platform::RGB(9, 9, 9) ? '.' : '?';
  }
  return s;
}

void Canvas4(platform::TBitmap& b) {
  b.SetPixelFormat(platform::pf24bit);
  b.SetSize(4, 1);
  b.Canvas()->Brush()->SetColor(platform::RGB(9, 9, 9));
  b.Canvas()->FillRect(platform::Rect(0, 0, 4, 1));
}

}  // namespace

TEST(GifGraphic, FrameRectangleScalesRoundedToTheNearestPixel) {
  // A 3 x 1 screen drawn 4, 5 and 8 pixels wide: a frame's edges are x * width / 3 rounded to the
  // nearest pixel (4/3 -> 1, 8/3 -> 3; 5/3 -> 2, 10/3 -> 3; 8/3 -> 3, 16/3 -> 5), and so is the
  // area a disposal clears.
  struct Case {
    int width;
    const char *still, *second, *third;
  } cases[] = {{4, ".GG.", "RGGR", "R..B"}, {5, "..G..", "RRGRR", "RR.BB"}, {8, "...GG...", "RRRGGRRR", "RRR..BBB"}};
  for (const Case& c : cases) {
    // One frame: green in the middle of the screen.
    TGifGraphic gif;
    MakeAnimation(gif, {{1, 1, 1, 1, 1}});
    gif.Header.ScreenWidth = 3;
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf24bit);
    b.SetSize(c.width, 1);
    b.Canvas()->Brush()->SetColor(platform::RGB(9, 9, 9));
    b.Canvas()->FillRect(platform::Rect(0, 0, c.width, 1));
    gif.Draw(b.Canvas(), platform::Rect(0, 0, c.width, 1));
    EXPECT_EQ(Row(b), c.still) << c.width;
    // Animated: red screen; green middle, restored to the background; blue right pixel.
    FakeClock clock;
    TGifGraphic anim;
    MakeAnimation(anim, {{0, 3, 0, 1, 1}, {1, 1, 1, 1, 2}, {2, 1, 2, 1, 1}});
    anim.Header.ScreenWidth = 3;
    anim.BackgroundColor = platform::RGB(9, 9, 9);
    anim.DrawOptions = (GIFDefaultDrawOptions & ~goTransparent) | goDirectDraw;
    anim.Draw(b.Canvas(), platform::Rect(0, 0, c.width, 1));
    clock.Advance(36);
    EXPECT_EQ(Row(b), c.second) << c.width;
    clock.Advance(36);
    EXPECT_EQ(Row(b), c.third) << c.width;
    anim.StopDraw();
  }
}

TEST(GifGraphic, DrawIntoLargerRectKeepsCanvasUnderTransparency) {
  TGifGraphic gif;
  MakeImage(gif, 2, 2, 4, {1, 0, 0, 1});
  AddGce(gif.Images(0), 0, 0, 0);
  platform::TBitmap bmp;
  Checkerboard(bmp, 4, 4);
  gif.Draw(bmp.Canvas(), platform::Rect(0, 0, 4, 4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const platform::TColor c = PixelOf(bmp, x, y);
      if ((x < 2) == (y < 2)) {
        EXPECT_EQ(c, platform::RGB(1, 254, 0)) << x << "," << y;
      } else {
        EXPECT_EQ(c, ((x + y) & 1) ? platform::RGB(255, 255, 255) : platform::RGB(0, 0, 0)) << x << "," << y;
      }
    }
  // Tiled at its own size across a 5 x 3 rectangle, clipped to it.
  TGifGraphic t;
  MakeImage(t, 2, 1, 4, {2, 3});
  platform::TBitmap tb;
  Checkerboard(tb, 6, 3);
  t.DrawOptions |= goTile;
  t.Draw(tb.Canvas(), platform::Rect(0, 0, 5, 3));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) {
      const int i = x < 5 ? (x % 2 ? 3 : 2) : -1;
      EXPECT_EQ(PixelOf(tb, x, y), i < 0 ? (((x + y) & 1) ? platform::RGB(255, 255, 255) : platform::RGB(0, 0, 0))
                                         : platform::RGB(i, 255 - i, i / 2))
          << x << "," << y;
    }
}

TEST(GifGraphic, AnimationFollowsDelaysLoopsAndSpeed) {
  struct Case {
    const char* name;
    uint16_t options;
    int loops;  // -1: no looping extension
    int speed;
    std::vector<int32_t> waits;  // the waits scheduled while playing
    int restarts;
  } cases[] = {
      {"once", GIFDefaultDrawOptions | goDirectDraw, -1, 100, {36, 60}, 0},
      {"two passes", GIFDefaultDrawOptions | goDirectDraw, 2, 100, {36, 60, 120, 36, 60}, 1},
      {"double speed", GIFDefaultDrawOptions | goDirectDraw, -1, 200, {18, 30}, 0},
      {"no goLoop", (GIFDefaultDrawOptions | goDirectDraw) & ~goLoop, 2, 100, {36, 60}, 0},
  };
  for (const Case& c : cases) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 5, 1}, {0, 4, 2, 0, 1}});
    if (c.loops >= 0) {
      auto l = std::make_unique<TGIFAppExtNSLoop>(gif.Images(0));
      l->Loops = static_cast<uint16_t>(c.loops);
      gif.Images(0)->AddExtension(std::move(l));
    }
    gif.DrawOptions = c.options;
    gif.AnimationSpeed = c.speed;
    int starts = 0, ends = 0, restarts = 0;
    std::string painted;
    gif.OnPaintStart = [&](platform::TObject*) { ++starts; };
    gif.OnPaintEnd = [&](platform::TObject*) { ++ends; };
    gif.OnLoopRestart = [&](platform::TObject*) { ++restarts; };
    gif.OnFramePainted = [&](platform::TObject* s) {
      painted += static_cast<char>('0' + static_cast<TGIFPainter*>(s)->ActiveImage);
    };
    platform::TBitmap b;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    EXPECT_EQ(Row(b), "RRRR") << c.name;  // the first frame at once
    ASSERT_NE(gif.Painter(), nullptr) << c.name;
    clock.Advance(c.waits[0] - 1);
    EXPECT_EQ(Row(b), "RRRR") << c.name;
    clock.Advance(1);
    EXPECT_EQ(Row(b), "GGGG") << c.name;
    clock.Advance(10000);
    EXPECT_EQ(clock.scheduled, c.waits) << c.name;
    EXPECT_EQ(restarts, c.restarts) << c.name;
    EXPECT_EQ(starts, 1) << c.name;
    EXPECT_EQ(ends, 1) << c.name;
    EXPECT_EQ(gif.Painter(), nullptr) << c.name;
    EXPECT_EQ(Row(b), "BBBB") << c.name;
    EXPECT_EQ(painted, c.restarts ? "012012" : "012") << c.name;
  }
}

TEST(GifGraphic, AnimationStopsAndCatchesUp) {
  FakeClock clock;
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 5, 1}, {0, 4, 2, 0, 1}});
  gif.Images(0)->AddExtension(std::make_unique<TGIFAppExtNSLoop>(gif.Images(0)));  // loops without end
  gif.DrawOptions |= goDirectDraw;
  int ends = 0;
  gif.OnPaintEnd = [&](platform::TObject*) { ++ends; };
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  // A frame drawn 10 ms late shortens the next wait by half of that.
  TGIFPainter* p = gif.Painter();
  clock.due.clear();
  clock.now += 46;
  p->Tick();
  EXPECT_EQ(clock.scheduled.back(), 60 - 5);
  clock.Advance(100000);
  EXPECT_NE(gif.Painter(), nullptr);  // still playing
  EXPECT_EQ(ends, 0);
  // Drawing again at the same place while it plays does nothing.
  const size_t waits = clock.scheduled.size();
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(clock.scheduled.size(), waits);
  gif.StopDraw();
  EXPECT_EQ(gif.Painter(), nullptr);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(clock.due.empty());
  // Speed 0 pauses after the first frame until stopped.
  gif.AnimationSpeed = 0;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(Row(b), "RRRR");
  EXPECT_TRUE(clock.due.empty());
  gif.Clear();
  EXPECT_EQ(ends, 2);
}

TEST(GifGraphic, SynchronousAnimationWaitsInsideDraw) {
  FakeClock clock;
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 2000, 1}, {0, 4, 2, 0, 1}});
  auto l = std::make_unique<TGIFAppExtNSLoop>(gif.Images(0));
  l->Loops = 0;  // without end only in the background: once here
  gif.Images(0)->AddExtension(std::move(l));
  gif.DrawOptions = (GIFDefaultDrawOptions & ~goAsync) | goLoopForever;
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(Row(b), "BBBB");
  EXPECT_EQ(gif.Painter(), nullptr);
  // 12 ms before the first frame, 36 after it, the 2000 delay cut to 1000 (12 s) in 100 ms steps.
  int64_t total = 0;
  for (int32_t s : clock.sleeps) total += s;
  EXPECT_EQ(total, 12 + 36 + 12000);
  EXPECT_EQ(clock.sleeps.front(), 12);
}

TEST(GifGraphic, DisposalMethods) {
  struct Case {
    int disposal;
    const char* after;  // after frame 2
  } cases[] = {{0, "GGBB"}, {1, "GGBB"}, {2, "..BB"}, {3, "RRBB"}};
  for (const Case& c : cases) {
    for (bool direct : {true, false}) {
      FakeClock clock;
      TGifGraphic gif;
      MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 2, 1, 1, c.disposal}, {2, 2, 2, 1, 1}});
      gif.BackgroundColor = platform::RGB(9, 9, 9);
      gif.DrawOptions = (GIFDefaultDrawOptions & ~goTransparent) | (direct ? goDirectDraw : 0);
      platform::TBitmap b;
      Canvas4(b);
      gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
      clock.Advance(36);
      if (!direct) gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));  // shows the off-screen copy
      EXPECT_EQ(Row(b), "GGRR") << c.disposal << direct;
      clock.Advance(36);
      if (!direct) gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
      EXPECT_EQ(Row(b), c.after) << c.disposal << direct;
      gif.StopDraw();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Run-length code stream

TEST(GifGraphic, RunLengthStreamsReadBackEverywhere) {
  struct Case {
    int w, h, colors, runs;
    bool interlaced;
  } cases[] = {{1, 1, 2, 1, false}, {300, 200, 256, 1, false}, {300, 200, 4, 40, true}, {4000, 3, 2, 3000, false},
               {257, 31, 16, 7, false}, {640, 50, 1, 1, false}, {100, 100, 8, 2, true}};
  for (const Case& c : cases) {
    TGifGraphic gif;
    const Bytes data = RandomIndices(size_t(c.w) * c.h, c.colors, c.w + c.h * 7, c.runs);
    MakeImage(gif, c.w, c.h, std::max(c.colors, 2), data, c.interlaced);
    gif.Compression = gcRLE;
    const Bytes rle = SaveBytes(gif);
    gif.Compression = gcLZW;
    const Bytes lzw = SaveBytes(gif);
    if (c.w * c.h > 1) {
      EXPECT_NE(rle, lzw) << c.w;
    }
    TGifGraphic back;
    LoadBytes(back, rle);
    EXPECT_EQ(back.Images(0)->Data, data) << c.w << "x" << c.h;
    const std::string f = Tmp("rle.gif");
    kdtest::WriteFileBytes(f, rle);
    ExpectMatchesMagick(f, back);
  }
}

// ---------------------------------------------------------------------------------------------
// Colour reduction

TEST(GifGraphic, ReductionLookupsAndDitherers) {
  auto reduce = [](const std::vector<uint32_t>& px, int w, TColorReduction m, TDitherMode d, int bits = 8) {
    return ReduceColors(px.data(), w, static_cast<int>(px.size()) / w, m, d, bits);
  };
  // Cube: 128 grey is level 2 (102) in each channel.
  TGIFReduced c = reduce({0x808080}, 1, rmCube216, dmNearest);
  ASSERT_EQ(c.Indices.size(), 1u);
  EXPECT_EQ(c.Indices[0], 86);
  EXPECT_EQ(c.Palette[86], platform::RGB(102, 102, 102));
  // Monochrome: pure green is white; grey scale by luminance.
  EXPECT_EQ(reduce({0x00FF00, 0x0000FF}, 2, rmMonochrome, dmNearest).Indices, (Bytes{1, 0}));
  EXPECT_EQ(reduce({0x102030}, 1, rmGrayScale, dmNearest).Indices, (Bytes{(77 * 16 + 150 * 32 + 29 * 48) >> 8}));
  // Four greys, nearest by channel distance.
  EXPECT_EQ(reduce({0x404040, 0x505050, 0xB0B0B0, 0xF0F0F0}, 4, rmGrayScale4, dmNearest).Indices,
            (Bytes{0, 1, 2, 3}));
  // Floyd-Steinberg on 100-grey in black and white: 7/16 of the error goes ahead, with rounding.
  // Row 0 left to right: 100 -> 0 (err 100); 100 + (700 + 8) / 16 = 144 -> 255 (err -111);
  // 100 + (-777 + 8) / 16 = 52 -> 0. Row 1 right to left, with 3, 5, 1 sixteenths from above:
  // column 2: 100 + (149 + 8) / 16 = 109 -> 0; column 1: 100 + (-299 + 763 + 8) / 16 = 129 -> 255;
  // column 0: 100 + (167 - 882 + 8) / 16 = 56 -> 0.
  const std::vector<uint32_t> grey(6, 0x646464);
  EXPECT_EQ(reduce(grey, 3, rmMonochrome, dmFloydSteinberg).Indices, (Bytes{0, 1, 0, 0, 1, 0}));
  // Four wide shows the serpentine order: row 1 starts at column 3 with 100 + (667 + 8) / 16 = 142.
  const std::vector<uint32_t> grey4(8, 0x646464);
  EXPECT_EQ(reduce(grey4, 4, rmMonochrome, dmFloydSteinberg).Indices, (Bytes{0, 1, 0, 0, 1, 0, 0, 1}));
  // Row 1 runs right to left (serpentine): the error of each row shows in its neighbours.
  TGIFReduced mono = reduce(std::vector<uint32_t>(64, 0x808080), 8, rmMonochrome, dmFloydSteinberg);
  int white = 0;
  for (uint8_t i : mono.Indices) white += i;
  EXPECT_NEAR(white, 32, 4);  // half grey dithers to about half white
  TGIFReduced flat = reduce(std::vector<uint32_t>(64, 0x808080), 8, rmMonochrome, dmNearest);
  EXPECT_EQ(std::count(flat.Indices.begin(), flat.Indices.end(), 1), 64);
  // Every ditherer keeps the mean of a smooth ramp close and is deterministic.
  std::vector<uint32_t> ramp(32 * 8);
  for (int i = 0; i < 32 * 8; ++i) {
    const uint32_t v = static_cast<uint32_t>((i % 32) * 8);
    ramp[i] = v << 16 | v << 8 | v;
  }
  for (int d = dmNearest; d <= dmBurkes; ++d) {
    TGIFReduced a = reduce(ramp, 32, rmGrayScale4, static_cast<TDitherMode>(d));
    TGIFReduced b = reduce(ramp, 32, rmGrayScale4, static_cast<TDitherMode>(d));
    EXPECT_EQ(a.Indices, b.Indices) << d;
    const int levels[4] = {0, 128, 192, 255};
    double sum = 0, want = 0;
    for (size_t i = 0; i < ramp.size(); ++i) {
      sum += levels[a.Indices[i]];
      want += ramp[i] & 0xFF;
    }
    EXPECT_NEAR(sum / ramp.size(), want / ramp.size(), d == dmNearest ? 40 : 6) << d;
  }
  // Octree: at most 2^bits colours, exact for few colours, deterministic.
  std::vector<uint32_t> noise(4096);
  std::mt19937 rng(5);
  for (uint32_t& p : noise) p = rng() & 0xFFFFFF;
  EXPECT_LE(OctreeQuantize(noise.data(), 4096, 16).size(), 16u);
  EXPECT_EQ(OctreeQuantize(noise.data(), 4096, 256), OctreeQuantize(noise.data(), 4096, 256));
  const std::vector<uint32_t> three = {0x102030, 0x102030, 0xFF0000, 0x00FF00};
  const TGIFPaletteEntries q = OctreeQuantize(three.data(), 4, 256);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_NE(std::find(q.begin(), q.end(), platform::RGB(0x10, 0x20, 0x30)), q.end());
  TGIFReduced r4 = reduce(noise, 64, rmQuantize, dmFloydSteinberg, 4);
  EXPECT_LE(r4.Palette.size(), 16u);
  for (uint8_t i : r4.Indices) EXPECT_LT(i, r4.Palette.size());
}

// ---------------------------------------------------------------------------------------------
// The model

TEST(GifGraphic, DefaultsAssignAndPalette) {
  TGifGraphic g;
  EXPECT_EQ(g.DrawOptions, 0x060F);
  EXPECT_EQ(g.ColorReduction, rmCube216);
  EXPECT_EQ(g.ReductionBits, 8);
  EXPECT_EQ(g.DitherMode, dmNearest);
  EXPECT_EQ(g.Compression, gcLZW);
  EXPECT_EQ(g.ThreadPriority, 3);
  EXPECT_EQ(g.AnimationSpeed, 100);
  EXPECT_EQ(g.BackgroundColor, 0x1FFFFFFFu);
  EXPECT_TRUE(g.Empty());
  // A copy is equal byte for byte, reports through the source's handler while copying, and
  // keeps no handler afterwards; Equals means the same object.
  TGifGraphic src;
  MakeImage(src, 5, 3, 6, RandomIndices(15, 6, 2));
  AddGce(src.Images(0), 7, 2, 4);
  auto c = std::make_unique<TGIFCommentExtension>(src.Images(0));
  c->Text = {"one", std::string(300, 'x')};
  src.Images(0)->AddExtension(std::move(c));
  src.Images(0)->ColorMap.Add(platform::RGB(1, 2, 3));
  src.Images(0)->ColorMap.Add(platform::RGB(4, 5, 6));
  src.Images(0)->ColorMap.Add(platform::RGB(7, 8, 9));
  src.Images(0)->ColorMap.Add(platform::RGB(7, 8, 9));
  src.Images(0)->ColorMap.Add(platform::RGB(1, 1, 1));
  src.Images(0)->ColorMap.Add(platform::RGB(2, 2, 2));
  src.DrawOptions = goLoop;
  std::vector<std::string> progress;
  src.OnProgress = [&](platform::TObject*, int32_t stage, int32_t pct, bool, const platform::TRect&,
                       const std::string& m) { progress.push_back(m + std::to_string(stage) + ":" + std::to_string(pct)); };
  TGifGraphic copy;
  copy.Assign(&src);
  EXPECT_EQ(SaveBytes(copy), SaveBytes(src));
  EXPECT_EQ(copy.DrawOptions, goLoop);
  EXPECT_FALSE(copy.OnWarning);
  EXPECT_TRUE(copy.Equals(&copy));
  EXPECT_FALSE(copy.Equals(&src));
  EXPECT_EQ(copy.Images(0)->TransparentIndex(), 4);
  ASSERT_EQ(copy.Images(0)->ExtensionCount(), 2);
  EXPECT_EQ(static_cast<TGIFCommentExtension*>(copy.Images(0)->Extensions(1))->Text[1].size(), 300u);
  // Long comment lines go out in 255-byte pieces and come back as two lines.
  TGifGraphic back;
  LoadBytes(back, SaveBytes(src));
  EXPECT_EQ(static_cast<TGIFCommentExtension*>(back.Images(0)->Extensions(1))->Text.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"Saving...0:0", "Saving...1:100", "Saving...2:100"}),
            std::vector<std::string>(progress.end() - 3, progress.end()));
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
  // The palette: the global table, or the cube when dithering is asked for.
  TGIFPaletteEntries p = src.GetPalette();
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[5], platform::RGB(5, 250, 2));
  TGifGraphic cube;
  MakeImage(cube, 1, 1, 2, {0});
  cube.DrawOptions = goDither;
  EXPECT_EQ(cube.GetPalette().size(), 216u);
  cube.SetPalette({platform::RGB(1, 1, 1)});
  EXPECT_EQ(cube.GetPalette(), (TGIFPaletteEntries{platform::RGB(1, 1, 1)}));
  EXPECT_TRUE(cube.Modified());
  // A frame taken from a class-library bitmap, and a frame given back as a bitmap.
  platform::TBitmap bmp;
  src.Images(0)->AssignTo(&bmp);
  ASSERT_EQ(bmp.Width(), 5);
  ASSERT_EQ(bmp.PixelFormat(), platform::pf8bit);
  EXPECT_EQ(bmp.PixelIndex(1, 0), src.Images(0)->Data[1]);
  EXPECT_EQ(bmp.Palette(), src.Images(0)->ActiveColorMap().ExportPalette());
  bmp.SetPixelFormat(platform::pf24bit);
  EXPECT_EQ(PixelOf(bmp, 1, 0), src.Images(0)->ActiveColorMap().Colors(src.Images(0)->Data[1]));
  // Near colours in one 15-bit cell each find their own exact entry.
  for (int i = 0; i < 15; ++i) {
    uint8_t* d = static_cast<uint8_t*>(bmp.ScanLine(i / 5)) + (i % 5) * 3;
    d[0] = 0;
    d[1] = static_cast<uint8_t>(100 + i % 3);
    d[2] = static_cast<uint8_t>(200 + i / 3);
  }
  TGifGraphic fromBmp;
  fromBmp.ColorReduction = rmQuantize;
  fromBmp.Assign(&bmp);
  ASSERT_EQ(fromBmp.Count(), 1);
  for (int i = 0; i < 15; ++i) {
    TGIFSubImage* f = fromBmp.Images(0);
    EXPECT_EQ(f->ActiveColorMap().Colors(f->Data[i]), PixelOf(bmp, i % 5, i / 5)) << i;
  }
  EXPECT_EQ(MessageOf([&] { fromBmp.Add(&progress == nullptr ? nullptr : static_cast<platform::TPersistent*>(&src.Header)); }),
            sUnsupportedObject);
  // A header takes another header, or a colour table as its global table.
  TGIFHeader h(nullptr);
  h.Assign(&src.Header);
  EXPECT_EQ(h.ScreenWidth, 5);
  EXPECT_EQ(h.ColorMap.Count(), 6);
  h.Assign(&src.Images(0)->ColorMap);
  EXPECT_EQ(h.ColorMap.Count(), 6);
  EXPECT_EQ(h.ColorMap.Colors(0), platform::RGB(1, 2, 3));
}

TEST(GifGraphic, ColourTables) {
  TGifGraphic g;
  TGIFColorMap& m = g.GlobalColorMap();
  m.ImportPalette({platform::RGB(1, 2, 3), platform::RGB(4, 5, 6), platform::RGB(1, 2, 3)});
  EXPECT_EQ(m.Count(), 3);
  EXPECT_EQ(m.Capacity(), 16);
  EXPECT_EQ(m.IndexOf(platform::RGB(1, 2, 3)), 2);  // unsorted: the last of equals
  EXPECT_EQ(m.ExportPalette(), (TGIFPaletteEntries{platform::RGB(1, 2, 3), platform::RGB(4, 5, 6), platform::RGB(1, 2, 3)}));
  const uint8_t quads[8] = {30, 20, 10, 0, 60, 50, 40, 0};
  m.ImportColorTable(quads, 2);
  EXPECT_EQ(m.Colors(1), platform::RGB(40, 50, 60));
  for (int i = 2; i < 40; ++i) m.Add(platform::RGB(i, 0, 0));
  EXPECT_EQ(m.Capacity(), 64);
  EXPECT_EQ(m.BitsPerPixel(), 6);
  // Sorting by use: the most used first, unused entries dropped, pixels and the transparent
  // index follow their colours.
  TGifGraphic o;
  MakeImage(o, 6, 1, 4, {3, 3, 3, 1, 1, 0});
  AddGce(o.Images(0), 0, 0, 1);
  const Bytes before = o.Images(0)->Data;
  std::vector<platform::TColor> colours;
  for (uint8_t i : before) colours.push_back(o.GlobalColorMap().Colors(i));
  EXPECT_TRUE(o.GlobalColorMap().Optimize());
  EXPECT_EQ(o.GlobalColorMap().Count(), 3);
  EXPECT_EQ(o.Images(0)->Data, (Bytes{0, 0, 0, 1, 1, 2}));
  EXPECT_EQ(o.Images(0)->TransparentIndex(), 1);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(o.GlobalColorMap().Colors(o.Images(0)->Data[i]), colours[i]);
  EXPECT_TRUE(o.GlobalColorMap().Optimized);
  // The sorted flag makes the file 89a and survives a round trip.
  TGifGraphic back;
  LoadBytes(back, SaveBytes(o));
  EXPECT_TRUE(back.GlobalColorMap().Optimized);
}

TEST(GifGraphic, ExtensionRegistries) {
  // A later registration of a label wins; application blocks are chosen by their 11 bytes.
  struct TMine : TGIFUnknownAppExtension {
    using TGIFUnknownAppExtension::TGIFUnknownAppExtension;
    std::string ClassName() const override { return "TMine"; }
  };
  RegisterAppExtension("MINEMINE1.0", [](TGIFSubImage* o) { return std::make_unique<TMine>(o); });
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 9, 9, 9};
  Append(b, {'!', 0xFF, 11, 'M', 'I', 'N', 'E', 'M', 'I', 'N', 'E', '1', '.', '0', 1, 42, 0});
  Append(b, {'!', 0xFF, 11, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0', 5, 2, 0, 1, 0, 0, 3, 1, 9, 0, 0});
  Append(b, {',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'});
  TGifGraphic g;
  LoadBytes(g, b);
  ASSERT_EQ(g.Images(0)->ExtensionCount(), 2);
  EXPECT_EQ(g.Images(0)->Extensions(0)->ClassName(), "TMine");
  auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(g.Images(0)->Extensions(1));
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->Loops, 9);
  EXPECT_EQ(loop->BufferSize, 256u);
  // The looping block is written loop count first, buffer size after.
  const Bytes out = SaveBytes(g);
  const std::string os(out.begin(), out.end());
  EXPECT_NE(os.find(std::string("ANIMEXTS1.0\x03\x01\x09\x00\x05\x02\x00\x01\x00\x00\x00", 22)), std::string::npos);
  EXPECT_NE(os.find(std::string("MINEMINE1.0\x01\x2A\x00", 14)), std::string::npos);
  // A block longer than 11 bytes keeps its first 11 and is written back with size 11.
  Bytes longer = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 9, 9, 9};
  Append(longer, {'!', 0xFF, 13, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 'x', 'y', 3, 1, 4, 0, 0});
  Append(longer, {',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'});
  TGifGraphic lg;
  LoadBytes(lg, longer);
  EXPECT_EQ(lg.Loops(), 4);
  const Bytes lout = SaveBytes(lg);
  const std::string ls(lout.begin(), lout.end());
  EXPECT_NE(ls.find(std::string("!\xFF\x0BNETSCAPE2.0\x03\x01\x04\x00\x00", 19)), std::string::npos);
  // A new label.
  struct TSeven : TGIFCommentExtension {
    using TGIFCommentExtension::TGIFCommentExtension;
    uint8_t GetLabel() const override { return 0x77; }
  };
  RegisterExtension(0x77, [](TGIFSubImage* o, platform::TStream*) { return std::make_unique<TSeven>(o); });
  Bytes s = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, '!', 0x77, 2, 'o', 'k', 0, ';'};
  TGifGraphic seven;
  LoadBytes(seven, s);
  ASSERT_EQ(seven.Count(), 1);
  EXPECT_EQ(static_cast<TSeven*>(seven.Images(0)->Extensions(0))->Text, std::vector<std::string>{"ok"});
}

TEST(GifGraphic, DitherOptionDrawsInTheCube) {
  // 100-grey on the cube: level 2 (102) everywhere; transparent pixels stay out of it.
  TGifGraphic gif;
  gif.GlobalColorMap().Add(platform::RGB(100, 100, 100));
  gif.GlobalColorMap().Add(platform::RGB(0, 0, 0));
  TGIFSubImage* f = gif.Add();
  f->SetBounds(0, 0, 3, 1);
  f->Data = {0, 1, 0};
  AddGce(f, 0, 0, 1);
  gif.DrawOptions = goDither | goTransparent;
  const std::vector<uint32_t>& px = f->Pixels32();
  EXPECT_EQ(px, (std::vector<uint32_t>{0xFF666666u, 0u, 0xFF666666u}));
  gif.DrawOptions = goDither | goAutoDither | goTransparent;  // never a palette display here
  EXPECT_EQ(f->Pixels32()[0], 0xFF646464u);
}

TEST(GifGraphic, ChangesStopThePainterOfTheOffscreenCopy) {
  FakeClock clock;
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 5, 1}, {0, 4, 2, 0, 1}});
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  ASSERT_NE(gif.Painter(), nullptr);
  ASSERT_NE(gif.Bitmap(), nullptr);
  // Another place shows the off-screen copy; a changed table drops it and its painter.
  platform::TBitmap other;
  Canvas4(other);
  gif.Draw(other.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(Row(other), "RRRR");
  gif.GlobalColorMap().SetColors(3, platform::RGB(1, 1, 1));
  EXPECT_EQ(gif.Bitmap(), nullptr);
  EXPECT_EQ(gif.Painter(), nullptr);
  clock.Advance(1000);  // nothing left to tick
  EXPECT_TRUE(clock.due.empty());
}

namespace {

// What a viewer shows after each frame: opaque pixels drawn, then the frame's disposal
// (2 clears its area, 3 goes back to the picture before it). 0 = nothing shown.
std::vector<std::vector<uint32_t>> Composite(TGifGraphic& g) {
  const int w = g.Width(), h = g.Height();
  std::vector<uint32_t> screen(size_t(w) * h, 0);
  std::vector<std::vector<uint32_t>> shots;
  for (int i = 0; i < g.Count(); ++i) {
    TGIFSubImage* f = g.Images(i);
    const std::vector<uint32_t> before = screen;
    if (!f->Empty()) {
      const std::vector<uint32_t>& px = f->Pixels32();
      for (int y = 0; y < f->Height(); ++y)
        for (int x = 0; x < f->Width(); ++x) {
          const uint32_t c = px[size_t(y) * f->Width() + x];
          if (c >> 24) screen[size_t(y + f->Top()) * w + x + f->Left()] = c;
        }
    }
    shots.push_back(screen);
    const int disposal = f->GraphicControlExtension() ? f->GraphicControlExtension()->Disposal() : 0;
    if (disposal == 2)
      for (int y = f->Top(); y < f->Top() + f->Height(); ++y)
        for (int x = f->Left(); x < f->Left() + f->Width(); ++x) screen[size_t(y) * w + x] = 0;
    if (disposal == 3) screen = before;
  }
  return shots;
}

}  // namespace

TEST(GifGraphic, OptimizeKeepsWhatAViewerShows) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    TGifGraphic g;
    const int w = 3 + rng() % 6, h = 3 + rng() % 6;
    g.Header.ScreenWidth = static_cast<uint16_t>(w);
    g.Header.ScreenHeight = static_cast<uint16_t>(h);
    for (int c = 0; c < 5; ++c) g.GlobalColorMap().Add(platform::RGB(c * 50, 0, 255 - c * 50));
    const int frames = 2 + rng() % 4;
    for (int i = 0; i < frames; ++i) {
      TGIFSubImage* f = g.Add();
      const int fw = 1 + rng() % w, fh = 1 + rng() % h;
      f->SetBounds(rng() % (w - fw + 1), rng() % (h - fh + 1), fw, fh);
      if (rng() % 3 == 0)
        for (int c = 0; c < 3; ++c) f->ColorMap.Add(platform::RGB(c * 50, 0, 255 - c * 50));  // same colours, own table
      const int colours = f->ActiveColorMap().Count();
      for (uint8_t& p : f->Data) p = static_cast<uint8_t>(rng() % 4 ? rng() % 2 : rng() % colours);
      const int disposal = rng() % 4;
      const int transparent = rng() % 2 ? static_cast<int>(rng() % colours) : -1;
      if (disposal || transparent >= 0 || rng() % 2) AddGce(f, rng() % 3, disposal, transparent);
      if (rng() % 4 == 0) {
        auto c = std::make_unique<TGIFCommentExtension>(f);
        c->Text = {"note"};
        f->AddExtension(std::move(c));
      }
    }
    const auto before = Composite(g);
    const Bytes original = SaveBytes(g);
    for (uint8_t opt : {8, 4, 2}) {
      TGifGraphic one;
      LoadBytes(one, original);
      one.Optimize(opt, rmNone, dmNearest, 8);
      EXPECT_EQ(Composite(one), before) << "seed " << seed << " option " << int(opt);
    }
    {
      // Cropping drops transparent borders and frames left empty: the last picture stays.
      TGifGraphic crop;
      LoadBytes(crop, original);
      bool simple = true;
      for (int i = 0; i < crop.Count(); ++i)
        if (auto* gce = crop.Images(i)->GraphicControlExtension()) simple = simple && gce->Disposal() < 2;
      if (simple) {
        crop.Optimize(1 | 2, rmNone, dmNearest, 8);
        ASSERT_GT(crop.Count(), 0);
        EXPECT_EQ(Composite(crop).back(), before.back()) << "seed " << seed;
      }
    }
    g.Optimize(2 | 4 | 8, rmNone, dmNearest, 8);
    ASSERT_EQ(g.Count(), frames) << "seed " << seed;
    EXPECT_EQ(Composite(g), before) << "seed " << seed;
    for (int i = 0; i < g.Count(); ++i)
      for (int k = 0; k < g.Images(i)->ExtensionCount(); ++k)
        EXPECT_EQ(dynamic_cast<TGIFCommentExtension*>(g.Images(i)->Extensions(k)), nullptr);
    // Still a file that reads back the same.
    TGifGraphic back;
    LoadBytes(back, SaveBytes(g));
    EXPECT_EQ(Composite(back), before) << "seed " << seed;
  }
}

TEST(GifGraphic, ClearOnLoopClearsFrameZerosArea) {
  for (bool clear : {false, true}) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 2, 0, 1, 1}, {0, 4, 1, 1, 1}});
    gif.Images(0)->Data = {3, 0};  // white left pixel made transparent below
    gif.Images(0)->GraphicControlExtension()->SetTransparentColorIndex(3);
    gif.Images(0)->GraphicControlExtension()->SetTransparent(true);
    auto l = std::make_unique<TGIFAppExtNSLoop>(gif.Images(0));
    l->Loops = 2;
    gif.Images(0)->AddExtension(std::move(l));
    gif.DrawOptions = GIFDefaultDrawOptions | goDirectDraw | (clear ? goClearOnLoop : 0);
    platform::TBitmap b;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    EXPECT_EQ(Row(b), ".R..") << clear;
    clock.Advance(36);
    EXPECT_EQ(Row(b), "GGGG") << clear;
    clock.Advance(36);
    EXPECT_EQ(Row(b), clear ? ".RGG" : "GRGG") << clear;
    clock.Advance(1000);
    EXPECT_EQ(gif.Painter(), nullptr);
  }
}

TEST(GifGraphic, BackgroundAnimationRunsOnThePlatformTimer) {
  // The system clock: frames follow on the GUI thread's timer while events are processed.
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 2, 1, 1}});
  gif.DrawOptions |= goDirectDraw;
  int ends = 0;
  gif.OnPaintEnd = [&](platform::TObject*) { ++ends; };
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(Row(b), "RRRR");
  // Bounded only so that a broken timer cannot hang the suite.
  for (int i = 0; i < 2000 && ends == 0; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(Row(b), "BBBB");
  EXPECT_EQ(gif.Painter(), nullptr);
  // Stopping a running animation cancels its timer.
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  gif.StopDraw();
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(Row(b), "RRRR");
  EXPECT_EQ(ends, 2);
}

TEST(GifGraphic, TiledDisposalClearsEveryTile) {
  // A 4 x 1 screen tiled three times across 12 pixels; frame 1 (green, left half) restores to
  // the background, so after frame 2 (blue, right half) every tile reads "..BB".
  for (bool transparent : {false, true}) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 2, 1, 1, 2}, {2, 2, 2, 1, 1}});
    gif.BackgroundColor = platform::RGB(9, 9, 9);
    gif.DrawOptions = (GIFDefaultDrawOptions & ~goTransparent) | goDirectDraw | goTile | (transparent ? goTransparent : 0);
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf24bit);
    b.SetSize(12, 1);
    b.Canvas()->Brush()->SetColor(platform::RGB(9, 9, 9));
    b.Canvas()->FillRect(platform::Rect(0, 0, 12, 1));
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 12, 1));
    EXPECT_EQ(Row(b), "RRRRRRRRRRRR") << transparent;
    clock.Advance(36);
    EXPECT_EQ(Row(b), "GGRRGGRRGGRR") << transparent;
    clock.Advance(36);
    EXPECT_EQ(Row(b), "..BB..BB..BB") << transparent;
    gif.StopDraw();
  }
}

TEST(GifGraphic, ValidateCanvasStopsWhenTheDestinationGoes) {
  for (bool validate : {false, true}) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 2, 1, 1}});
    gif.DrawOptions = GIFDefaultDrawOptions | goDirectDraw | (validate ? goValidateCanvas : 0);
    int frames = 0, ends = 0;
    gif.OnFramePaint = [&](platform::TObject*) { ++frames; };
    gif.OnPaintEnd = [&](platform::TObject*) { ++ends; };
    // A destination that stays plays to the end either way.
    platform::TBitmap b;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    clock.Advance(1000);
    EXPECT_EQ(Row(b), "BBBB") << validate;
    EXPECT_EQ(frames, 3) << validate;
    // A destination emptied after the first frame: validated, nothing more is painted.
    frames = ends = 0;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    EXPECT_EQ(frames, 1);
    b.SetSize(0, 0);
    clock.Advance(1000);
    EXPECT_EQ(frames, validate ? 1 : 3) << validate;
    EXPECT_EQ(ends, 1) << validate;
    EXPECT_EQ(gif.Painter(), nullptr) << validate;
    EXPECT_TRUE(clock.due.empty()) << validate;
    if (!validate) continue;
    // A destination freed after the first frame is noticed without reading it: nothing more is painted.
    frames = ends = 0;
    auto gone = std::make_unique<platform::TBitmap>();
    Canvas4(*gone);
    gif.Draw(gone->Canvas(), platform::Rect(0, 0, 4, 1));
    EXPECT_EQ(frames, 1);
    gone.reset();
    clock.Advance(1000);
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(gif.Painter(), nullptr);
  }
}

TEST(GifGraphic, DrawingAFrameReportsRendering) {
  TGifGraphic gif;
  MakeImage(gif, 2, 70, 4, Bytes(140, 1));
  std::vector<std::string> seen;
  gif.OnProgress = [&](platform::TObject* sender, int32_t stage, int32_t percent, bool, const platform::TRect&,
                       const std::string& msg) {
    EXPECT_EQ(sender, gif.Images(0));
    seen.push_back(std::to_string(stage) + ":" + std::to_string(percent) + msg);
  };
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  const std::vector<std::string> once = {"0:0Rendering...", "1:45Rendering...", "1:91Rendering...", "2:100Rendering..."};
  EXPECT_EQ(seen, once);
  // The frame's picture is kept: drawing again renders nothing.
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  EXPECT_EQ(seen, once);
}

TEST(GifGraphic, ShutDownFreesTheExtensionRegistries) {
  struct TEight : TGIFCommentExtension {
    using TGIFCommentExtension::TGIFCommentExtension;
    uint8_t GetLabel() const override { return 0x78; }
  };
  struct TFree : TGIFUnknownAppExtension {
    using TGIFUnknownAppExtension::TGIFUnknownAppExtension;
    std::string ClassName() const override { return "TFree"; }
  };
  InitializeGifGraphic();
  RegisterExtension(0x78, [](TGIFSubImage* o, platform::TStream*) { return std::make_unique<TEight>(o); });
  RegisterAppExtension("FREEFREE1.0", [](TGIFSubImage* o) { return std::make_unique<TFree>(o); });
  const Bytes own = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, '!', 0x78, 2, 'o', 'k', 0, ';'};
  Bytes app = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 9, 9, 9};
  Append(app, {'!', 0xFF, 11, 'F', 'R', 'E', 'E', 'F', 'R', 'E', 'E', '1', '.', '0', 1, 42, 0});
  Append(app, {'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 5, 0, 0});
  Append(app, {',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'});
  TGifGraphic g;
  LoadBytes(g, own);
  LoadBytes(g, app);
  EXPECT_EQ(g.Images(0)->Extensions(0)->ClassName(), "TFree");
  FinalizeGifGraphic();
  // Only the built-in classes are left.
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, own); }), sUnknownExtension);
  LoadBytes(g, app);
  ASSERT_EQ(g.Images(0)->ExtensionCount(), 2);
  EXPECT_EQ(g.Images(0)->Extensions(0)->ClassName(), "TGIFUnknownAppExtension");
  EXPECT_EQ(g.Loops(), 5);
}

TEST(GifGraphic, PaletteOfTheOffscreenPicture) {
  FakeClock clock;
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}});
  const TGIFPaletteEntries table = gif.GlobalColorMap().ExportPalette();
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  ASSERT_NE(gif.Bitmap(), nullptr);
  // Made with the image's palette, and answered from it while it exists.
  EXPECT_EQ(gif.Bitmap()->Palette(), table);
  EXPECT_EQ(gif.GetPalette(), table);
  gif.Bitmap()->SetPalette({platform::RGB(1, 2, 3), platform::RGB(4, 5, 6)});
  EXPECT_EQ(gif.GetPalette(), (TGIFPaletteEntries{platform::RGB(1, 2, 3), platform::RGB(4, 5, 6)}));
  gif.StopDraw();
  EXPECT_EQ(gif.Bitmap(), nullptr);
  // Drawing fixed no palette: a changed table shows.
  gif.GlobalColorMap().SetColors(0, platform::RGB(7, 7, 7));
  EXPECT_EQ(gif.GetPalette()[0], platform::RGB(7, 7, 7));
}

namespace {

// The code bytes of a pixel-data stream (minimum code size, sub-blocks, terminator).
int64_t CodeBytesOf(const Bytes& lzw) {
  int64_t n = 0;
  for (size_t at = 1; at < lzw.size() && lzw[at] != 0; at += 1 + lzw[at]) n += lzw[at];
  return n;
}

// FRAMES frames of W x H on a screen of the first frame's size, each with the code stream CODE.
Bytes ManyFrames(int frames, int w, int h, const Bytes& code) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
             static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8), 0x81, 0, 0};
  Append(b, {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0});
  for (int i = 0; i < frames; ++i) {
    Append(b, {',', 0, 0, 0, 0, static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h),
               static_cast<uint8_t>(h >> 8), 0});
    Append(b, code);
  }
  b.push_back(';');
  return b;
}

}  // namespace

TEST(GifGraphic, EachFrameIsBackedByItsOwnData) {
  // 24 frames whose code streams hold 4096 x 8 pixels each.
  const Bytes px = RandomIndices(4096 * 8, 4, 5, 300);
  const Bytes code = Lzw(2, px, 4096, 8);
  const int64_t own = CodeBytesOf(code);
  const Bytes honest = ManyFrames(24, 4096, 8, code);
  TGifGraphic g;
  LoadBytes(g, honest);
  ASSERT_EQ(g.Count(), 24);
  EXPECT_EQ(g.Images(23)->Data, px);
  // The same file declaring 4096 x 4096 per frame: each frame is judged by its own bytes, not
  // by all the bytes after it, so the first one is refused before anything is allocated.
  const Bytes lying = ManyFrames(24, 4096, 4096, code);
  ASSERT_GT(GIFMaxPixelsFor(static_cast<int64_t>(lying.size()) - 40), int64_t(4096) * 4096);
  TGifGraphic l;
  EXPECT_EQ(MessageOf([&] { LoadBytes(l, lying); }),
            "Frame of 4096 x 4096 pixels is larger than its " + std::to_string(own) + " bytes of data can fill");
  EXPECT_EQ(l.Count(), 0);
}

TEST(GifGraphic, ScreenIsJudgedByTheAreaOfItsFrames) {
  auto at = [](int sw, int sh, int x, int y) {
    Bytes b = TinyFrameOnScreen(sw, sh);
    b[20] = static_cast<uint8_t>(x);
    b[21] = static_cast<uint8_t>(x >> 8);
    b[22] = static_cast<uint8_t>(y);
    b[23] = static_cast<uint8_t>(y >> 8);
    return b;
  };
  // One pixel far out is still one pixel of data.
  TGifGraphic g;
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, at(10000, 10000, 9999, 9999)); }),
            "Logical screen of 10000 x 10000 pixels is larger than its frames and data can fill");
  // Past the pixel limit of every reader: that message, before any frame is read.
  bool gifError = false;
  try {
    LoadBytes(g, at(65535, 65535, 65534, 65534));
  } catch (const GIFException& e) {
    gifError = true;
    EXPECT_EQ(e.Message, ImageTooLargeText(65535, 65535));
  }
  EXPECT_TRUE(gifError);
  // Within the allowance of 4 megapixels a small frame may lie anywhere.
  LoadBytes(g, at(2048, 2048, 2047, 2047));
  EXPECT_EQ(g.Width(), 2048);
  EXPECT_EQ(MessageOf([&] { LoadBytes(g, at(2049, 2048, 0, 0)); }),
            "Logical screen of 2049 x 2048 pixels is larger than its frames and data can fill");
}

TEST(GifGraphic, LateWakeUpShowsTheNextFrameAtOnce) {
  // Delay 3 is waited as 36 ms; a wake-up more than 72 ms late leaves nothing to wait.
  for (int late : {73, 500, 100000}) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 2, 1, 1}});
    gif.DrawOptions |= goDirectDraw;
    int ends = 0;
    gif.OnPaintEnd = [&](platform::TObject*) { ++ends; };
    platform::TBitmap b;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    TGIFPainter* p = gif.Painter();
    ASSERT_NE(p, nullptr);
    clock.due.clear();
    clock.now += 36 + late;  // the program was busy
    p->Tick();
    EXPECT_EQ(Row(b), "GGGG") << late;
    EXPECT_EQ(clock.scheduled.back(), 0) << late;
    clock.Advance(0);
    EXPECT_EQ(Row(b), "BBBB") << late;
    EXPECT_EQ(ends, 1) << late;
    EXPECT_EQ(gif.Painter(), nullptr) << late;
  }
  // An animation that only lost a little keeps its rhythm: after an on-time wake-up the next
  // wait is the full 36 ms again.
  FakeClock clock;
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 2, 1, 1}, {0, 4, 0, 1, 1}});
  gif.DrawOptions |= goDirectDraw;
  platform::TBitmap b;
  Canvas4(b);
  gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
  clock.due.clear();
  clock.now += 36 + 100;
  gif.Painter()->Tick();
  clock.Advance(0);
  EXPECT_EQ(Row(b), "BBBB");
  EXPECT_EQ(clock.scheduled, (std::vector<int32_t>{36, 0, 36}));
}

namespace {

// The pictures a viewer shows in turn, each change once, without the blank start.
std::vector<std::vector<uint32_t>> Changes(const std::vector<std::vector<uint32_t>>& shots) {
  std::vector<std::vector<uint32_t>> out;
  for (const auto& s : shots) {
    if (out.empty() && std::all_of(s.begin(), s.end(), [](uint32_t c) { return c == 0; })) continue;
    if (out.empty() || out.back() != s) out.push_back(s);
  }
  return out;
}

}  // namespace

TEST(GifGraphic, CroppingKeepsFramesWhoseDisposalMatters) {
  // Screen 4 x 1: red, then a frame (green at x = 1 or nowhere) that goes by DISPOSAL, then
  // blue at x = 3.
  struct Case {
    int disposal;
    bool green;
    int frames;  // left after cropping
    const char* last;  // shown at the end
  } cases[] = {{2, false, 3, "...B"}, {2, true, 3, "...B"}, {3, false, 3, "RRRB"}, {3, true, 3, "RRRB"},
               {1, false, 2, "RRRB"}, {1, true, 3, "RGRB"}};
  for (const Case& c : cases) {
    FakeClock clock;
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 1, 1}, {0, 4, 3, 1, c.disposal}, {3, 1, 2, 1, 1}});
    TGIFSubImage* f1 = gif.Images(1);
    f1->GraphicControlExtension()->SetTransparentColorIndex(3);
    f1->GraphicControlExtension()->SetTransparent(true);
    if (c.green) f1->Data[1] = 1;
    gif.BackgroundColor = platform::RGB(9, 9, 9);
    gif.DrawOptions = (GIFDefaultDrawOptions & ~goTransparent) | goDirectDraw;
    const auto before = Composite(gif);
    gif.Optimize(1, rmNone, dmNearest, 8);
    EXPECT_EQ(gif.Count(), c.frames) << c.disposal << c.green;
    EXPECT_EQ(Changes(Composite(gif)), Changes(before)) << c.disposal << c.green;
    // And played: what the painter shows at the end.
    platform::TBitmap b;
    Canvas4(b);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
    clock.Advance(1000);
    EXPECT_EQ(Row(b), std::string(c.last)) << c.disposal << c.green;
  }
}

TEST(GifGraphic, CroppingNeverChangesWhatAViewerShows) {
  int deleted = 0, kept = 0;
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    TGifGraphic g;
    const int w = 3 + rng() % 5, h = 3 + rng() % 5;
    g.Header.ScreenWidth = static_cast<uint16_t>(w);
    g.Header.ScreenHeight = static_cast<uint16_t>(h);
    for (int c = 0; c < 4; ++c) g.GlobalColorMap().Add(platform::RGB(c * 60, 10, 200 - c * 50));
    const int frames = 2 + rng() % 4;
    for (int i = 0; i < frames; ++i) {
      TGIFSubImage* f = g.Add();
      const int fw = 1 + rng() % w, fh = 1 + rng() % h;
      f->SetBounds(rng() % (w - fw + 1), rng() % (h - fh + 1), fw, fh);
      // Mostly the transparent index 0, so that borders and whole frames can go.
      for (uint8_t& p : f->Data) p = static_cast<uint8_t>(rng() % 3 ? 0 : 1 + rng() % 3);
      AddGce(f, 1 + rng() % 3, rng() % 4, rng() % 5 ? 0 : -1);
    }
    const auto before = Changes(Composite(g));
    int empty = 0;
    for (int i = 0; i < g.Count(); ++i)
      empty += g.Images(i)->Transparent() &&
               std::all_of(g.Images(i)->Data.begin(), g.Images(i)->Data.end(), [](uint8_t p) { return p == 0; });
    g.Optimize(1, rmNone, dmNearest, 8);
    EXPECT_EQ(Changes(Composite(g)), before) << "seed " << seed;
    deleted += frames - g.Count();
    kept += empty - (frames - g.Count());
  }
  // Both kinds of empty frame were met.
  EXPECT_GT(deleted, 10);
  EXPECT_GT(kept, 10);
}

namespace {

// What a viewer shows and for how long (hundredths): equal pictures in a row are joined;
// pictures shown for no time are left out.
std::vector<std::pair<std::vector<uint32_t>, int>> Timeline(TGifGraphic& g) {
  const auto shots = Composite(g);
  std::vector<std::pair<std::vector<uint32_t>, int>> out;
  for (size_t i = 0; i < shots.size(); ++i) {
    const auto* gce = g.Images(static_cast<int>(i))->GraphicControlExtension();
    const int delay = gce ? gce->Delay() : 0;
    if (delay == 0) continue;  // never seen
    if (!out.empty() && out.back().first == shots[i])
      out.back().second += delay;
    else
      out.emplace_back(shots[i], delay);
  }
  return out;
}

bool Loops(TGifGraphic& g) {
  for (int i = 0; i < g.Count(); ++i)
    for (int k = 0; k < g.Images(i)->ExtensionCount(); ++k)
      if (dynamic_cast<TGIFAppExtNSLoop*>(g.Images(i)->Extensions(k))) return true;
  return false;
}

}  // namespace

TEST(GifGraphic, CroppingKeepsHowLongEachPictureIsShown) {
  // Red for 10, then an empty frame for 20 after it: red stays 30 whether or not the red frame
  // is transparent or has a control extension at all.
  for (int kind = 0; kind < 3; ++kind) {
    TGifGraphic gif;
    MakeAnimation(gif, {{0, 4, 0, 10, 1}, {0, 4, 3, 20, 1}, {3, 1, 2, 5, 1}});
    if (kind == 1) {
      gif.Images(0)->GraphicControlExtension()->SetTransparentColorIndex(3);
      gif.Images(0)->GraphicControlExtension()->SetTransparent(true);
    }
    if (kind == 2) {
      gif.Images(0)->DeleteExtension(gif.Images(0)->GraphicControlExtension());
      gif.Images(1)->GraphicControlExtension()->SetDelay(30);
    }
    gif.Images(1)->GraphicControlExtension()->SetTransparentColorIndex(3);
    gif.Images(1)->GraphicControlExtension()->SetTransparent(true);
    const auto before = Timeline(gif);
    gif.Optimize(1, rmNone, dmNearest, 8);
    EXPECT_EQ(gif.Count(), 2) << kind;
    EXPECT_EQ(Timeline(gif), before) << kind;
    TGifGraphic back;
    LoadBytes(back, SaveBytes(gif));
    EXPECT_EQ(Timeline(back), before) << kind;
  }
  // Random animations, some looping: every picture keeps its time and the loop stays.
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    TGifGraphic g;
    const int w = 3 + rng() % 5, h = 3 + rng() % 5;
    g.Header.ScreenWidth = static_cast<uint16_t>(w);
    g.Header.ScreenHeight = static_cast<uint16_t>(h);
    for (int c = 0; c < 4; ++c) g.GlobalColorMap().Add(platform::RGB(c * 60, 10, 200 - c * 50));
    const int frames = 2 + rng() % 4;
    for (int i = 0; i < frames; ++i) {
      TGIFSubImage* f = g.Add();
      const int fw = 1 + rng() % w, fh = 1 + rng() % h;
      f->SetBounds(rng() % (w - fw + 1), rng() % (h - fh + 1), fw, fh);
      for (uint8_t& p : f->Data) p = static_cast<uint8_t>(rng() % 3 ? 0 : 1 + rng() % 3);
      if (rng() % 4 == 0) continue;  // no control extension
      AddGce(f, rng() % 4 * 10, rng() % 4, rng() % 5 ? 0 : -1);
    }
    const bool loop = rng() % 2;
    if (loop) g.Images(0)->AddExtension(std::make_unique<TGIFAppExtNSLoop>(g.Images(0)));
    const auto before = Timeline(g);
    g.Optimize(1, rmNone, dmNearest, 8);
    ASSERT_GT(g.Count(), 0) << "seed " << seed;
    EXPECT_EQ(Timeline(g), before) << "seed " << seed;
    EXPECT_EQ(Loops(g), loop) << "seed " << seed;
  }
}

TEST(GifGraphic, CroppingKeepsTheOnlyFrameOfABlankPicture) {
  TGifGraphic gif;
  MakeAnimation(gif, {{0, 4, 3, 0, 1}});
  gif.Images(0)->GraphicControlExtension()->SetTransparentColorIndex(3);
  gif.Images(0)->GraphicControlExtension()->SetTransparent(true);
  gif.Optimize(1, rmNone, dmNearest, 8);
  ASSERT_EQ(gif.Count(), 1);
  TGifGraphic back;
  LoadBytes(back, SaveBytes(gif));
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.Width(), 4);
  EXPECT_EQ(back.Images(0)->Pixels32(), std::vector<uint32_t>(4, 0u));
  // A blank frame that carries the looping block keeps the picture looping.
  TGifGraphic loop;
  MakeAnimation(loop, {{0, 4, 0, 1, 1}, {0, 4, 3, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 0, 1, 1}});
  loop.Images(1)->GraphicControlExtension()->SetTransparentColorIndex(3);
  loop.Images(1)->GraphicControlExtension()->SetTransparent(true);
  auto l = std::make_unique<TGIFAppExtNSLoop>(loop.Images(1));
  l->Loops = 0;
  loop.Images(1)->AddExtension(std::move(l));
  ASSERT_EQ(loop.Loops(), 0);
  loop.Optimize(1, rmNone, dmNearest, 8);
  EXPECT_EQ(loop.Loops(), 0);
  TGifGraphic loopBack;
  LoadBytes(loopBack, SaveBytes(loop));
  EXPECT_EQ(loopBack.Loops(), 0);
  EXPECT_GE(loopBack.Count(), 3);
}

// Optimizing never takes away the last frame, also when it is empty: every option leaves a
// picture that saves and loads again.
TEST(GifGraphic, OptimizeKeepsTheOnlyFrameWhenItIsEmpty) {
  // 0: a bare empty frame; 1: with a control extension and a comment; 2: two empty frames;
  // 3: waiting for user input, which the optimizer keeps.
  auto build = [](TGifGraphic& g, int variant) {
    g.Header.ScreenWidth = 4;
    g.Header.ScreenHeight = 3;
    g.GlobalColorMap().Add(platform::clRed);
    g.GlobalColorMap().Add(platform::clBlue);
    TGIFSubImage* f = g.Add();
    if (variant == 1) {
      AddGce(f, 10, 1);
      auto c = std::make_unique<TGIFCommentExtension>(f);
      c->Text = {"note"};
      f->AddExtension(std::move(c));
    }
    if (variant == 2) AddGce(g.Add(), 5, 0);
    if (variant == 3) AddGce(f, 0, 0)->SetUserInput(true);
  };
  for (int variant = 0; variant < 4; ++variant) {
    for (int opt = 0; opt < 32; ++opt) {
      SCOPED_TRACE("variant " + std::to_string(variant) + " option " + std::to_string(opt));
      TGifGraphic o;
      build(o, variant);
      for (int i = 0; i < o.Count(); ++i) ASSERT_TRUE(o.Images(i)->Empty());
      o.Optimize(static_cast<uint8_t>(opt), rmNone, dmNearest, 8);
      ASSERT_GE(o.Count(), 1);
      Bytes saved;
      ASSERT_NO_THROW(saved = SaveBytes(o));
      TGifGraphic back;
      ASSERT_NO_THROW(LoadBytes(back, saved));
      EXPECT_EQ(back.Width(), 4);
      EXPECT_EQ(back.Height(), 3);
      // Empty frames are written as their extensions only, so the file holds one frame when
      // an extension is left and none otherwise; the user-input wait is kept.
      bool extensions = false;
      for (int i = 0; i < o.Count(); ++i) extensions = extensions || o.Images(i)->ExtensionCount() > 0;
      EXPECT_EQ(back.Count(), extensions ? 1 : 0);
      if (variant == 3) {
        ASSERT_EQ(back.Count(), 1);
        ASSERT_NE(back.Images(0)->GraphicControlExtension(), nullptr);
        EXPECT_TRUE(back.Images(0)->GraphicControlExtension()->UserInput());
      }
      if (back.Count() > 0) {
        EXPECT_EQ(SaveBytes(back), saved);
      }
    }
  }
}

TEST(GifGraphic, HolderMayFreeTheImageFromAPainterEvent) {
  // A background frame's event handler frees the image (its holder shows something else): the
  // painter forgets the image, frees itself and never ticks again.
  const char* events[] = {"FramePaint", "FramePainted", "LoopRestart", "PaintEnd"};
  for (int which = 0; which < 4; ++which) {
    for (bool direct : {true, false}) {
      FakeClock clock;
      auto* gif = new TGifGraphic;
      MakeAnimation(*gif, {{0, 4, 0, 1, 1}, {0, 4, 1, 1, 1}, {0, 4, 2, 1, 1}});
      auto loop = std::make_unique<TGIFAppExtNSLoop>(gif->Images(0));
      loop->Loops = 2;
      gif->Images(0)->AddExtension(std::move(loop));
      if (direct) gif->DrawOptions |= goDirectDraw;
      platform::TBitmap b;
      Canvas4(b);
      bool freed = false;
      int ends = 0;
      auto freeIt = [&](platform::TObject* s) {
        if (!freed && (which >= 2 || static_cast<TGIFPainter*>(s)->ActiveImage == 1)) {
          freed = true;
          delete gif;
        }
      };
      gif->OnPaintEnd = [&](platform::TObject* s) {
        ++ends;
        if (which == 3) freeIt(s);
      };
      if (which == 0) gif->OnFramePaint = freeIt;
      if (which == 1) gif->OnFramePainted = freeIt;
      if (which == 2) gif->OnLoopRestart = freeIt;
      gif->Draw(b.Canvas(), platform::Rect(0, 0, 4, 1));
      clock.Advance(10000);
      EXPECT_TRUE(freed) << events[which] << direct;
      EXPECT_EQ(ends, 1) << events[which] << direct;
      EXPECT_TRUE(clock.due.empty()) << events[which] << direct;
      if (direct) {
        EXPECT_EQ(Row(b), which == 0 ? "RRRR" : which == 1 ? "GGGG" : "BBBB") << events[which];
      }
    }
  }
}

TEST(GifGraphic, FramePixelsShorterThanItsSizeAreNeverReadPastTheirEnd) {
  // A caller that set fewer pixel indices than the frame's width x height: nothing reads beyond
  // them; saving reports it instead of writing whatever memory follows.
  for (size_t n : {size_t(3), size_t(15)}) {
    TGifGraphic gif;
    MakeImage(gif, 4, 4, 4, Bytes(16, 1));
    TGIFSubImage* f = gif.Images(0);
    f->Data.resize(n);
    EXPECT_EQ(MessageOf([&] { f->GetPixel(3, 3); }), sImageEmpty);
    EXPECT_EQ(MessageOf([&] { f->Scanline(3); }), sImageEmpty);
    EXPECT_EQ(MessageOf([&] { SaveBytes(gif); }), "Frame of 4 x 4 pixels holds " + std::to_string(n) + " pixel indices");
    platform::TBitmap b;
    Checkerboard(b, 4, 4);
    gif.Draw(b.Canvas(), platform::Rect(0, 0, 4, 4));
    EXPECT_EQ(PixelOf(b, 3, 3), platform::RGB(0, 0, 0));  // left as it was
    TBitmap32 first;
    RenderGIFFirstFrame(gif, &first);
    EXPECT_EQ(first.Bits()[15], 0u);
    gif.Optimize(31, rmNone, dmNearest, 8);
  }
}

TEST(GifGraphic, AssigningAPictureCopiesTheGifItHolds) {
  // A picture holding an animation: every frame, its indices, tables and blocks come over
  // (not one frame redrawn and reduced to the colour cube).
  TGifGraphic anim;
  MakeAnimation(anim, {{0, 4, 0, 3, 1}, {1, 2, 1, 7, 2}, {3, 1, 3, 9, 1}});
  anim.Images(1)->Data = {1, 3};
  anim.GlobalColorMap().SetColors(3, platform::RGB(17, 34, 51));  // not a cube colour
  platform::TPicture pic;
  pic.SetGraphic(&anim);
  TGifGraphic copy;
  copy.Assign(&pic);
  ASSERT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.Images(1)->Data, (Bytes{1, 3}));
  EXPECT_EQ(SaveBytes(copy), SaveBytes(anim));
  // Another kind of picture becomes one frame; an empty picture empties the image.
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf24bit);
  b.SetSize(2, 1);
  platform::TPicture other;
  other.SetGraphic(&b);
  copy.Assign(&other);
  EXPECT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.Images(0)->Width(), 2);
  platform::TPicture none;
  copy.Assign(&none);
  EXPECT_TRUE(copy.Empty());
}

TEST(GifGraphic, OptimizingTheGlobalTableKeepsTheBackgroundColour) {
  // Sorting the global table by use moves the background entry along; an unused background
  // colour stays in the table. Painting clears to it.
  for (int bg : {0, 3}) {
    TGifGraphic g;
    MakeAnimation(g, {{0, 4, 1, 1, 2}, {0, 1, 0, 1, 1}});  // green (4 pixels), red (1), no white
    g.Header.BackgroundColorIndex = static_cast<uint8_t>(bg);
    const platform::TColor colour = g.GlobalColorMap().Colors(bg);
    Warnings w;
    w.Attach(g);
    g.Optimize(8, rmNone, dmNearest, 8);
    EXPECT_EQ(g.GlobalColorMap().Colors(g.Header.BackgroundColorIndex), colour) << bg;
    EXPECT_TRUE(w.list.empty()) << bg;
    EXPECT_EQ(g.GlobalColorMap().Colors(0), platform::RGB(0, 255, 0)) << bg;  // the most used first
    // Reloaded, the background is the same colour.
    TGifGraphic back;
    LoadBytes(back, SaveBytes(g));
    EXPECT_EQ(back.GlobalColorMap().Colors(back.Header.BackgroundColorIndex), colour) << bg;
  }
}

// Files of every table size (2 to 256 entries) and LZW code size (the smallest one and 8),
// with the table global or local, interlaced or not, with a transparent index, a background
// index, delay, disposal, loop count and comment: loaded, saved and loaded again, each keeps
// its pixels, colours and settings, and what we write decodes in ImageMagick as we read it.
TEST(GifGraphic, EveryTableAndCodeSizeComesBackThroughASave) {
  const bool magick = Shell("command -v convert >/dev/null 2>&1");
  int n = 0;
  for (int bits = 1; bits <= 8; ++bits)
    for (int code : {std::max(2, bits), 8})
      for (int local = 0; local < 2; ++local)
        for (int interlaced = 0; interlaced < 2; ++interlaced) {
          if (code == 8 && bits == 8 && (local || interlaced)) continue;
          SCOPED_TRACE("table bits " + std::to_string(bits) + " code size " + std::to_string(code) +
                       (local ? " local" : " global") + (interlaced ? " interlaced" : ""));
          const int w = 13, h = 11, colours = 1 << bits;
          const uint8_t flags = static_cast<uint8_t>(0x80 | (bits - 1));
          Bytes table;
          for (int c = 0; c < colours; ++c)
            Append(table, {uint8_t(c * 37 + bits), uint8_t(255 - c), uint8_t(c * 11 + 3 * local)});
          Bytes b = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), 0, uint8_t(h), 0,
                     uint8_t(local ? 0x70 : 0x70 | flags), uint8_t(colours - 1), 0};
          if (!local) Append(b, table);
          Append(b, {'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 3, 0, 0});
          Append(b, {'!', 0xFE, 4, 'n', 'o', 't', 'e', 0});
          Append(b, {'!', 0xF9, 4, 0x09, 7, 0, uint8_t(colours - 1), 0});  // disposal 2, transparent
          Append(b, {',', 0, 0, 0, 0, uint8_t(w), 0, uint8_t(h), 0,
                     uint8_t((local ? flags : 0) | (interlaced ? 0x40 : 0))});
          if (local) Append(b, table);
          const Bytes px = RandomIndices(size_t(w) * h, colours, uint32_t(bits * 100 + code), 1 + bits % 3);
          Append(b, Lzw(code, px, w, h, interlaced != 0));
          b.push_back(';');
          TGifGraphic first;
          LoadBytes(first, b);
          ASSERT_EQ(first.Count(), 1);
          EXPECT_EQ(first.Images(0)->Data, px);
          const std::string f = Tmp("sweep" + std::to_string(n++) + ".gif");
          if (magick) {
            kdtest::WriteFileBytes(f, b);
            ExpectMatchesMagick(f, first);
          }
          const Bytes saved = SaveBytes(first);
          TGifGraphic again;
          LoadBytes(again, saved);
          ASSERT_EQ(again.Count(), 1);
          TGIFSubImage* a = again.Images(0);
          TGIFSubImage* o = first.Images(0);
          EXPECT_EQ(a->Data, o->Data);
          // A frame with a local table is written without interlacing, its pixels in row order.
          EXPECT_EQ(a->Interlaced(), o->Interlaced() && !local);
          ASSERT_EQ(a->ActiveColorMap().Count(), o->ActiveColorMap().Count());
          for (int c = 0; c < o->ActiveColorMap().Count(); ++c)
            EXPECT_EQ(a->ActiveColorMap().Colors(c), o->ActiveColorMap().Colors(c)) << c;
          EXPECT_EQ(a->Transparent(), o->Transparent());
          EXPECT_EQ(a->TransparentIndex(), o->TransparentIndex());
          EXPECT_EQ(again.Header.BackgroundColorIndex, first.Header.BackgroundColorIndex);
          EXPECT_EQ(again.Loops(), 3);
          ASSERT_TRUE(a->HasGraphicControl());
          EXPECT_EQ(a->GraphicControlExtension()->Delay(), 7);
          EXPECT_EQ(a->GraphicControlExtension()->Disposal(), 2);
          EXPECT_NE(std::search(saved.begin(), saved.end(), std::begin("note"), std::end("note") - 1), saved.end());
          EXPECT_EQ(SaveBytes(again), saved);
          if (magick) {
            kdtest::WriteFileBytes(f, saved);
            ExpectMatchesMagick(f, again);
          }
        }
}
