// GIF files checked against two other readers: giflib decodes what we write to the same indices,
// tables and control blocks, and Qt's reader shows the same pictures; files that ImageMagick makes
// (interlaced, local tables, transparency, every disposal method, many frames, odd sizes) decode
// here frame by frame to giflib's indices.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <cstring>
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

std::string Tmp(const std::string& name) {
  static const std::string dir = kdtest::TempDir();
  return dir + "/" + name;
}
bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

struct LibFrame {
  int Left, Top, Width, Height;
  bool Interlaced;
  Bytes LocalMap;  // RGB triples as in the file (padded)
  Bytes Raster;    // row order
  int Disposal = -1, Delay = -1, TransparentIndex = -1;  // -1: no graphic control block
};

struct LibImage {
  int Width = 0, Height = 0, Background = 0;
  Bytes GlobalMap;
  std::vector<LibFrame> Frames;
  int Loops = -1;
  int Error = 0;
};

struct MemReader {
  const Bytes* B;
  size_t At = 0;
};

int ReadMem(GifFileType* g, GifByteType* buf, int n) {
  auto* r = static_cast<MemReader*>(g->UserData);
  const int k = static_cast<int>(std::min<size_t>(n, r->B->size() - r->At));
  std::memcpy(buf, r->B->data() + r->At, k);
  r->At += k;
  return k;
}

Bytes MapBytes(const ColorMapObject* m) {
  Bytes b;
  if (!m) return b;
  for (int i = 0; i < m->ColorCount; ++i) {
    b.push_back(m->Colors[i].Red);
    b.push_back(m->Colors[i].Green);
    b.push_back(m->Colors[i].Blue);
  }
  return b;
}

// giflib's reading of a whole file (DGifSlurp puts interlaced rows in order).
LibImage GiflibRead(const Bytes& file) {
  LibImage out;
  MemReader r{&file};
  int err = 0;
  GifFileType* g = DGifOpen(&r, ReadMem, &err);
  if (!g) {
    out.Error = err ? err : -1;
    return out;
  }
  if (DGifSlurp(g) != GIF_OK) out.Error = g->Error ? g->Error : -1;
  out.Width = g->SWidth;
  out.Height = g->SHeight;
  out.Background = g->SBackGroundColor;
  out.GlobalMap = MapBytes(g->SColorMap);
  for (int i = 0; i < g->ImageCount; ++i) {
    const SavedImage& s = g->SavedImages[i];
    LibFrame f{s.ImageDesc.Left, s.ImageDesc.Top, s.ImageDesc.Width, s.ImageDesc.Height, s.ImageDesc.Interlace != 0,
               MapBytes(s.ImageDesc.ColorMap), {}};
    if (s.RasterBits) f.Raster.assign(s.RasterBits, s.RasterBits + size_t(f.Width) * f.Height);
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(g, i, &gcb) == GIF_OK) {
      f.Disposal = gcb.DisposalMode;
      f.Delay = gcb.DelayTime;
      f.TransparentIndex = gcb.TransparentColor;
    }
    for (int k = 0; k + 1 < s.ExtensionBlockCount; ++k) {
      const ExtensionBlock& e = s.ExtensionBlocks[k];
      if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 &&
          std::memcmp(e.Bytes, "NETSCAPE2.0", 11) == 0) {
        const ExtensionBlock& d = s.ExtensionBlocks[k + 1];
        if (d.ByteCount >= 3 && d.Bytes[0] == 1) out.Loops = d.Bytes[1] | d.Bytes[2] << 8;
      }
    }
    out.Frames.push_back(std::move(f));
  }
  DGifCloseFile(g, &err);
  return out;
}

Bytes Padded(const TGIFColorMap& m) {
  Bytes b(m.Data(), m.Data() + m.Count() * 3);
  if (m.Count() > 0) b.resize(size_t(3) << m.BitsPerPixel(), 0);
  return b;
}

// Every frame of GIF against giflib's reading of FILE.
void ExpectSameAsGiflib(TGifGraphic& gif, const Bytes& file, const std::string& what) {
  const LibImage lib = GiflibRead(file);
  ASSERT_EQ(lib.Error, 0) << what;
  EXPECT_EQ(lib.Width, gif.Width()) << what;
  EXPECT_EQ(lib.Height, gif.Height()) << what;
  EXPECT_EQ(lib.GlobalMap, Padded(gif.GlobalColorMap())) << what;
  EXPECT_EQ(lib.Loops, gif.Loops()) << what;
  ASSERT_EQ(static_cast<int>(lib.Frames.size()), gif.Count()) << what;
  for (int i = 0; i < gif.Count(); ++i) {
    const LibFrame& l = lib.Frames[i];
    TGIFSubImage* f = gif.Images(i);
    EXPECT_EQ(l.Left, f->Left()) << what << " frame " << i;
    EXPECT_EQ(l.Top, f->Top()) << what << " frame " << i;
    EXPECT_EQ(l.Width, f->Width()) << what << " frame " << i;
    EXPECT_EQ(l.Height, f->Height()) << what << " frame " << i;
    EXPECT_EQ(l.LocalMap, Padded(f->ColorMap)) << what << " frame " << i;
    EXPECT_TRUE(l.Raster == f->Data) << what << " frame " << i;
    auto* g = f->GraphicControlExtension();
    EXPECT_EQ(l.Disposal, g ? g->Disposal() : -1) << what << " frame " << i;
    EXPECT_EQ(l.Delay, g ? g->Delay() : -1) << what << " frame " << i;
    EXPECT_EQ(l.TransparentIndex, g ? (g->Transparent() ? g->TransparentColorIndex() : -1) : -1)
        << what << " frame " << i;
  }
}

Bytes SaveBytes(TGifGraphic& gif) {
  platform::TMemoryStream s;
  gif.SaveToStream(&s);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  if (!b.empty()) s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

void LoadBytes(TGifGraphic& gif, const Bytes& b) {
  platform::TMemoryStream s;
  if (!b.empty()) s.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  s.SetPosition(0);
  gif.LoadFromStream(&s);
}

// Qt's composed pictures, one per frame, as $AARRGGBB.
std::vector<std::vector<uint32_t>> QtFrames(const std::string& file, int& w, int& h) {
  std::vector<std::vector<uint32_t>> out;
  QImageReader r(QString::fromStdString(file), "gif");
  for (;;) {
    QImage img = r.read();
    if (img.isNull()) break;
    img = img.convertToFormat(QImage::Format_ARGB32);
    w = img.width();
    h = img.height();
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y) std::memcpy(px.data() + size_t(y) * w, img.constScanLine(y), size_t(w) * 4);
    out.push_back(std::move(px));
    if (!r.canRead()) break;
  }
  return out;
}

// ImageMagick's composed pictures (-coalesce), one per frame, as $AARRGGBB.
std::vector<std::vector<uint32_t>> MagickFrames(const std::string& file, int w, int h) {
  const std::string out = Tmp("coalesced.rgba");
  EXPECT_TRUE(Shell("convert '" + file + "' -coalesce -depth 8 rgba:" + out));
  const Bytes b = kdtest::ReadFileBytes(out);
  std::vector<std::vector<uint32_t>> frames;
  const size_t n = size_t(w) * h;
  for (size_t at = 0; n > 0 && at + n * 4 <= b.size(); at += n * 4) {
    std::vector<uint32_t> px(n);
    for (size_t p = 0; p < n; ++p) {
      const uint8_t* q = &b[at + p * 4];
      px[p] = uint32_t(q[3]) << 24 | uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2];
    }
    frames.push_back(std::move(px));
  }
  return frames;
}

struct MagickCase {
  const char* name;
  const char* args;
};

// Files with the features a reader has to get right.
const MagickCase MagickCases[] = {
    {"one", "-size 1x1 xc:red"},
    {"column", "-size 1x300 gradient:red-blue -colors 200"},
    {"row", "-size 300x1 gradient:red-blue -colors 200"},
    {"odd", "-size 37x23 plasma:fractal -seed 3 -colors 256"},
    {"interlaced", "-size 61x45 plasma:fractal -seed 5 -colors 60 -interlace GIF"},
    {"interlaced_thin", "-size 13x3 plasma:fractal -seed 6 -colors 9 -interlace GIF"},
    {"two", "-size 33x17 pattern:checkerboard -monochrome"},
    {"noise", "-size 400x300 xc: +noise Random -colors 256"},
    {"transparent", "-size 40x30 xc:red -fill blue -draw 'circle 20,15 20,5' -transparent red"},
    {"dispose_bg", "-dispose Background -delay 7 -size 20x20 xc:red -page +5+5 -size 8x8 xc:blue "
                   "-page +0+0 -size 4x4 xc:green -loop 0"},
    {"dispose_prev", "-delay 3 -dispose None -size 20x20 xc:red -dispose Previous -page +5+5 -size 8x8 xc:blue "
                     "-page +2+9 -size 4x4 xc:none -page +1+1 -size 3x3 xc:green -loop 5"},
    {"dispose_none", "-dispose None -delay 120 -size 20x20 xc:yellow -page +3+2 -size 9x5 xc:none "
                     "-fill black -draw 'point 1,1' -loop 2"},
    {"locals", "-size 30x20 xc:red -size 30x20 gradient:yellow-green -size 30x20 plasma:fractal -seed 2 "
               "-colors 100 +map"},
    {"beyond", "-comment 'made for a test' -delay 5 -size 20x20 xc:white -page 20x20+15+12 -size 10x10 xc:blue "
               "-page 20x20+0+0 -size 20x20 plasma:fractal -seed 4 -transparent-color white -colors 30 -interlace GIF"},
    {"mixed", "-delay 4 -dispose None -size 24x18 plasma:fractal -seed 7 -dispose Background -page +3+4 -size 7x5 "
              "xc:none -fill red -draw 'point 2,2' -dispose Previous -page +10+2 -size 9x9 xc:green "
              "-dispose None -page +0+0 -size 5x5 xc:orange -loop 0"},
    {"many", "-size 16x9 -delay 2 xc:red xc:orange xc:yellow xc:green xc:blue xc:purple xc:white xc:black "
             "xc:red xc:orange xc:yellow xc:green xc:blue xc:purple xc:white xc:black xc:gray xc:pink "
             "xc:red xc:orange xc:yellow xc:green xc:blue xc:purple xc:white xc:black xc:gray xc:pink "
             "xc:red xc:orange xc:yellow xc:green xc:blue xc:purple xc:white xc:black xc:gray xc:pink"},
};

// Made once per run.
std::string MakeMagick(const MagickCase& c) {
  const std::string f = Tmp(std::string(c.name) + ".gif");
  static std::vector<std::string> made;
  if (std::find(made.begin(), made.end(), f) != made.end()) return f;
  EXPECT_TRUE(Shell(std::string("convert ") + c.args + " " + f)) << c.name;
  made.push_back(f);
  return f;
}

}  // namespace

TEST(GifCross, MagickFilesDecodeLikeGiflib) {
  for (const MagickCase& c : MagickCases) {
    const std::string f = MakeMagick(c);
    const Bytes file = kdtest::ReadFileBytes(f);
    TGifGraphic gif;
    LoadBytes(gif, file);
    ExpectSameAsGiflib(gif, file, c.name);
  }
}

TEST(GifCross, WhatWeWriteDecodesLikeGiflibAndQt) {
  for (const MagickCase& c : MagickCases) {
    const std::string f = MakeMagick(c);
    TGifGraphic gif;
    LoadBytes(gif, kdtest::ReadFileBytes(f));
    for (TGIFCompression comp : {gcLZW, gcRLE}) {
      gif.Compression = comp;
      const Bytes ours = SaveBytes(gif);
      const std::string what = std::string(c.name) + (comp == gcRLE ? " rle" : " lzw");
      ExpectSameAsGiflib(gif, ours, what);
      const std::string again = Tmp("ours.gif");
      kdtest::WriteFileBytes(again, ours);
      int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
      const auto theirs = QtFrames(f, w1, h1);
      const auto mine = QtFrames(again, w2, h2);
      EXPECT_EQ(theirs.size(), mine.size()) << what;
      EXPECT_EQ(w1, w2) << what;
      EXPECT_EQ(h1, h2) << what;
      EXPECT_TRUE(theirs == mine) << what;
    }
  }
}

namespace {

struct StepClock : TGIFClock {
  int64_t now = 1000;
  int64_t Now() override { return now; }
  void Sleep(int32_t ms) override { now += ms; }
  void Schedule(TGIFPainter*, int32_t) override {}
  void Cancel(TGIFPainter*) override {}
  StepClock() { SetGIFClock(this); }
  ~StepClock() override { SetGIFClock(nullptr); }
};

}  // namespace

TEST(GifCross, PaintedFramesLookLikeMagicks) {
  // Frame by frame, disposal methods included, over a canvas that shows through.
  StepClock clock;
  for (const MagickCase& c : MagickCases) {
    const std::string f = MakeMagick(c);
    TGifGraphic gif;
    LoadBytes(gif, kdtest::ReadFileBytes(f));
    if (gif.Count() < 2) continue;
    const auto magick = MagickFrames(f, gif.Width(), gif.Height());
    const uint32_t under = 0xFF090909;
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf24bit);
    b.SetSize(gif.Width(), gif.Height());
    b.Canvas()->Brush()->SetColor(platform::RGB(9, 9, 9));
    b.Canvas()->FillRect(platform::Rect(0, 0, gif.Width(), gif.Height()));
    std::vector<std::vector<uint32_t>> ours;
    gif.OnFramePainted = [&](platform::TObject*) {
      std::vector<uint32_t> px;
      for (int y = 0; y < b.Height(); ++y) {
        const uint8_t* d = static_cast<uint8_t*>(b.ScanLine(y));
        for (int x = 0; x < b.Width(); ++x) px.push_back(0xFF000000u | d[x * 3 + 2] << 16 | d[x * 3 + 1] << 8 | d[x * 3]);
      }
      ours.push_back(std::move(px));
    };
    // A cleared area shows what was under the picture, as ImageMagick's transparent one.
    gif.DrawOptions = goAnimate | goDirectDraw | goTransparent;
    gif.Draw(b.Canvas(), platform::Rect(0, 0, gif.Width(), gif.Height()));
    ASSERT_EQ(ours.size(), magick.size()) << c.name;
    for (size_t i = 0; i < magick.size(); ++i) {
      int bad = 0;
      for (size_t p = 0; p < magick[i].size(); ++p) {
        const uint32_t q = magick[i][p] >> 24 == 0 ? under : magick[i][p];
        bad += q != ours[i][p];
      }
      EXPECT_EQ(bad, 0) << c.name << " frame " << i;
    }
  }
}

TEST(GifCross, BitmapsWeWriteReadTheSameInQtAndGiflib) {
  // Up to 255 colours come back exact; alpha below the threshold is the transparent colour.
  struct Case {
    int w, h, colours, seeThrough;  // seeThrough: 1 in N pixels below the threshold (0: none)
  } cases[] = {{1, 1, 1, 0}, {1, 1, 1, 1}, {17, 5, 3, 2}, {64, 48, 255, 3}, {300, 2, 255, 0}, {2, 300, 40, 7},
               {5, 5, 1, 5}, {16, 16, 256, 0}};
  for (const Case& c : cases) {
    std::mt19937 rng(c.w * 7 + c.h);
    std::vector<uint32_t> colours;
    for (int i = 0; i < c.colours; ++i) colours.push_back(rng() & 0xFFFFFF);
    TBitmap32 bmp;
    bmp.SetSize(c.w, c.h);
    for (int i = 0; i < c.w * c.h; ++i) {
      const bool see = c.seeThrough && rng() % c.seeThrough == 0;
      const uint32_t alpha = see ? rng() % 32 : 32 + rng() % 224;
      bmp.Bits()[i] = alpha << 24 | colours[rng() % colours.size()];
    }
    platform::TMemoryStream s;
    TdtpGifFormat fmt;
    fmt.SaveToStream(&s, &bmp);
    Bytes file(static_cast<size_t>(s.GetSize()));
    s.SetPosition(0);
    s.ReadBuffer(file.data(), static_cast<int32_t>(file.size()));
    const std::string name = std::to_string(c.w) + "x" + std::to_string(c.h);
    const std::string f = Tmp("bmp.gif");
    kdtest::WriteFileBytes(f, file);
    int qw = 0, qh = 0;
    const auto qt = QtFrames(f, qw, qh);
    ASSERT_EQ(qt.size(), 1u) << name;
    ASSERT_EQ(qw, c.w);
    ASSERT_EQ(qh, c.h);
    TBitmap32 back;
    s.SetPosition(0);
    fmt.LoadFromStream(&s, &back, {0, 0}, 0);
    int bad = 0;
    for (int i = 0; i < c.w * c.h; ++i) {
      const uint32_t p = bmp.Bits()[i];
      const uint32_t want = (p >> 24) < 32 ? 0 : 0xFF000000u | (p & 0xFFFFFF);
      bad += (qt[0][i] >> 24 == 0 ? 0u : qt[0][i]) != want;
      bad += back.Bits()[i] != want;
    }
    EXPECT_EQ(bad, 0) << name;
    TGifGraphic gif;
    LoadBytes(gif, file);
    ExpectSameAsGiflib(gif, file, name);
  }
}

TEST(GifCross, RandomStreamsDecodeInGiflib) {
  // Both coders, every code size, runs from single pixels to whole rows, both row orders.
  std::mt19937 rng(1234);
  int fails = 0;
  for (int it = 0; it < 150 && fails < 5; ++it) {
    const int w = 1 + rng() % 3000, h = 1 + rng() % 300;
    const int bits = 1 + rng() % 8;
    const int colours = 1 + rng() % (1 << bits);
    Bytes d(size_t(w) * h);
    const int maxrun = 1 << (rng() % 21);
    for (size_t i = 0; i < d.size();) {
      const uint8_t v = static_cast<uint8_t>(rng() % colours);
      const size_t run = 1 + rng() % maxrun;
      for (size_t k = 0; k < run && i < d.size(); ++k) d[i++] = v;
    }
    TGifGraphic gif;
    for (int c = 0; c < (1 << bits); ++c) gif.GlobalColorMap().Add(platform::RGB(c, c, c));
    TGIFSubImage* f = gif.Add();
    f->SetBounds(0, 0, w, h);
    f->SetInterlaced(rng() % 2);
    f->Data = d;
    gif.Compression = (rng() % 2) ? gcRLE : gcLZW;
    const Bytes file = SaveBytes(gif);
    const LibImage lib = GiflibRead(file);
    if (lib.Error || lib.Frames.size() != 1 || lib.Frames[0].Raster != d) {
      ++fails;
      ADD_FAILURE() << it << " " << w << "x" << h << " bits " << bits << " colours " << colours << " maxrun " << maxrun
                    << " rle " << (gif.Compression == gcRLE) << " err " << lib.Error;
    }
    TGifGraphic back;
    LoadBytes(back, file);
    if (back.Images(0)->Data != d) {
      ++fails;
      ADD_FAILURE() << "ours " << it;
    }
  }
}

TEST(GifCross, RandomAnimationsPaintLikeMagick) {
  // Frames at random places, every disposal method, some see-through: each painted picture is
  // ImageMagick's composed one.
  StepClock clock;
  std::mt19937 rng(77);
  int failures = 0;
  for (int it = 0; it < 150 && failures < 3; ++it) {
    TGifGraphic gif;
    const int sw = 1 + rng() % 12, sh = 1 + rng() % 9;
    gif.Header.ScreenWidth = static_cast<uint16_t>(sw);
    gif.Header.ScreenHeight = static_cast<uint16_t>(sh);
    for (int c = 0; c < 8; ++c) gif.GlobalColorMap().Add(platform::RGB(c * 30, 255 - c * 20, (c * 77) & 255));
    const int frames = 2 + rng() % 5;
    for (int i = 0; i < frames; ++i) {
      TGIFSubImage* f = gif.Add();
      // ImageMagick starts from the background colour where the first frame leaves the screen
      // bare: the first frame covers it, opaque.
      const int l = i ? rng() % sw : 0, t = i ? rng() % sh : 0;
      f->SetBounds(l, t, i ? 1 + rng() % (sw - l) : sw, i ? 1 + rng() % (sh - t) : sh);
      for (auto& p : f->Data) p = static_cast<uint8_t>(rng() % 8);
      {
        // ImageMagick carries a disposal over to frames without a control block, and goes back
        // to its background colour before the first frame: every frame has one, the first
        // never restores to the previous picture.
        auto g = std::make_unique<TGIFGraphicControlExtension>(f);
        g->SetDisposal(static_cast<uint8_t>(rng() % (i ? 4 : 3)));
        g->SetDelay(5);
        if (i && rng() % 2) {
          g->SetTransparentColorIndex(static_cast<int32_t>(rng() % 8));
          g->SetTransparent(true);
        }
        f->AddExtension(std::move(g));
      }
    }
    const std::string file = Tmp("anim.gif");
    kdtest::WriteFileBytes(file, SaveBytes(gif));
    const auto magick = MagickFrames(file, sw, sh);
    const uint32_t under = 0xFF090909;
    platform::TBitmap b;
    b.SetPixelFormat(platform::pf24bit);
    b.SetSize(sw, sh);
    b.Canvas()->Brush()->SetColor(platform::RGB(9, 9, 9));
    b.Canvas()->FillRect(platform::Rect(0, 0, sw, sh));
    std::vector<std::vector<uint32_t>> ours;
    gif.OnFramePainted = [&](platform::TObject*) {
      std::vector<uint32_t> px;
      for (int y = 0; y < b.Height(); ++y) {
        const uint8_t* d = static_cast<uint8_t*>(b.ScanLine(y));
        for (int x = 0; x < b.Width(); ++x) px.push_back(0xFF000000u | d[x * 3 + 2] << 16 | d[x * 3 + 1] << 8 | d[x * 3]);
      }
      ours.push_back(std::move(px));
    };
    gif.DrawOptions = goAnimate | goDirectDraw | goTransparent;
    gif.Draw(b.Canvas(), platform::Rect(0, 0, sw, sh));
    if (ours.size() != magick.size()) {
      ++failures;
      ADD_FAILURE() << it << " frames " << ours.size() << " vs " << magick.size();
      continue;
    }
    for (size_t i = 0; i < magick.size(); ++i) {
      int bad = 0;
      for (size_t p = 0; p < magick[i].size(); ++p) bad += (magick[i][p] >> 24 == 0 ? under : magick[i][p]) != ours[i][p];
      if (bad) {
        ++failures;
        std::string desc;
        for (int k = 0; k < gif.Count(); ++k) {
          auto* f = gif.Images(k);
          auto* g = f->GraphicControlExtension();
          desc += " [" + std::to_string(f->Left()) + "," + std::to_string(f->Top()) + " " + std::to_string(f->Width()) +
                  "x" + std::to_string(f->Height()) + " d" + std::to_string(g ? g->Disposal() : -1) + " t" +
                  std::to_string(f->TransparentIndex()) + "]";
        }
        ADD_FAILURE() << it << " frame " << i << " bad " << bad << " screen " << sw << "x" << sh << desc;
        break;
      }
    }
  }
}
