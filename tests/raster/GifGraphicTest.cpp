// GIF reader and writer: ImageMagick-made files decoded pixel-exact against ImageMagick's own
// decoding, LZW round trips (also read back by ImageMagick), the messages, hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"
#include "raster/Raster32.h"
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
               {1000, 300, 2, 500, true}, {64, 1, 16, 1, true},     {255, 255, 7, 9, false},  {1200, 900, 1, 1, false}};
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
            "Frame of 12336 x 12336 pixels is larger than its 6 bytes of data can fill");
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
}
