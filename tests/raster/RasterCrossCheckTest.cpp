// Cross-checks of the codecs with independent decoders on this machine (Qt's image readers,
// ImageMagick): every PNG colour type, bit depth and interlace method at the small sizes where
// passes and padding bits run out, written by us and read by Qt, and the transparent sample of
// greyscale and RGB images; JPEG files of every sampling and progressive coding at odd sizes;
// JPEG 2000 read and written at odd sizes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QByteArray>
#include <QImage>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/JpegGraphic.h"
#include "raster/PngGraphic.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;
namespace {
void PutBE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void PutChunk(Bytes& f, const std::string& name, const Bytes& data) {
  PutBE(f, uint32_t(data.size()));
  f.insert(f.end(), name.begin(), name.end());
  f.insert(f.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  PutBE(f, uint32_t(crc));
}
int Channels(int ct) { return ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1; }
Bytes FilterRow(int type, const Bytes& row, const Bytes& prev, size_t d) {
  Bytes out(row.size());
  for (size_t i = 0; i < row.size(); ++i) {
    int a = i >= d ? row[i - d] : 0, b = prev[i], c = i >= d ? prev[i - d] : 0, pred = 0;
    switch (type) {
      case 1:
        pred = a;
        break;
      case 2:
        pred = b;
        break;
      case 3:
        pred = (a + b) / 2;
        break;
      case 4: {
        int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        break;
      }
    }
    out[i] = uint8_t(row[i] - pred);
  }
  return out;
}
const uint32_t sr[7] = {0, 0, 4, 0, 2, 0, 1}, sc[7] = {0, 4, 0, 2, 0, 1, 0}, rs[7] = {8, 8, 8, 4, 4, 2, 2},
               cs[7] = {8, 8, 4, 4, 2, 2, 1};

// random image samples: sample(x,y,ch) per channel as stored at bd bits
Bytes MakeFile(int ct, int bd, int il, int w, int h, std::mt19937& rng, int plteCount) {
  int ch = Channels(ct);
  std::vector<uint32_t> s(size_t(w) * h * ch);
  int maxv = bd == 16 ? 255 : (1 << bd) - 1;
  for (auto& v : s) {
    v = rng() % (maxv + 1);
    if (ct == 3 && int(v) >= plteCount) v = v % plteCount;
    if (bd == 16) v *= 257;
  }
  size_t d = size_t(std::max(1, ch * bd / 8));
  Bytes raw;
  auto emitRow = [&](int y, const std::vector<int>& cols, Bytes& prev) {
    Bytes row((size_t(cols.size()) * ch * bd + 7) / 8, 0);
    size_t bit = 0;
    for (int x : cols)
      for (int c = 0; c < ch; ++c) {
        uint32_t v = s[(size_t(y) * w + x) * ch + c];
        if (bd == 16) {
          row[bit / 8] = uint8_t(v >> 8);
          row[bit / 8 + 1] = uint8_t(v);
        } else if (bd == 8)
          row[bit / 8] = uint8_t(v);
        else
          row[bit / 8] |= uint8_t(v << (8 - bd - bit % 8));
        bit += bd;
      }
    if (prev.size() != row.size()) prev.assign(row.size(), 0);
    int type = int(rng() % 5);
    raw.push_back(uint8_t(type));
    Bytes f = FilterRow(type, row, prev, d);
    raw.insert(raw.end(), f.begin(), f.end());
    prev = row;
  };
  if (!il) {
    Bytes prev;
    std::vector<int> cols;
    for (int x = 0; x < w; ++x) cols.push_back(x);
    for (int y = 0; y < h; ++y) emitRow(y, cols, prev);
  } else {
    for (int p = 0; p < 7; ++p) {
      std::vector<int> cols;
      for (uint32_t x = sc[p]; x < uint32_t(w); x += cs[p]) cols.push_back(int(x));
      if (cols.empty()) continue;
      Bytes prev;
      for (uint32_t y = sr[p]; y < uint32_t(h); y += rs[p]) emitRow(int(y), cols, prev);
    }
  }
  Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ih;
  PutBE(ih, w);
  PutBE(ih, h);
  ih.insert(ih.end(), {uint8_t(bd), uint8_t(ct), 0, 0, uint8_t(il)});
  PutChunk(f, "IHDR", ih);
  if (ct == 3) {
    Bytes pl;
    for (int i = 0; i < plteCount * 3; ++i) pl.push_back(uint8_t(rng()));
    PutChunk(f, "PLTE", pl);
  }
  uLongf n = compressBound(uLong(raw.size()));
  Bytes z(n);
  compress2(z.data(), &n, raw.data(), uLong(raw.size()), 6);
  z.resize(n);
  PutChunk(f, "IDAT", z);
  PutChunk(f, "IEND", {});
  return f;
}

std::vector<uint32_t> QtRead(const Bytes& f, int& w, int& h) {
  QImage im = QImage::fromData(QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())), "PNG");
  w = im.width();
  h = im.height();
  im = im.convertToFormat(QImage::Format_ARGB32);
  std::vector<uint32_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.push_back(im.pixel(x, y));
  return out;
}
uint32_t Expect(uint32_t q, bool alpha) {
  // Straight colours, as Qt's ARGB32 holds them.
  return alpha ? q : 0xFF000000u | (q & 0xFFFFFF);
}
std::vector<uint32_t> Ours(const Bytes& f, int& w, int& h) {
  platform::TMemoryStream s;
  s.WriteBuffer(f.data(), int32_t(f.size()));
  s.SetPosition(0);
  TdtpPngFormat fmt;
  TBitmap32 bmp;
  fmt.LoadFromStream(&s, &bmp, {0, 0}, 0);
  w = bmp.Width();
  h = bmp.Height();
  return std::vector<uint32_t>(bmp.Bits(), bmp.Bits() + size_t(w) * h);
}
}  // namespace

TEST(RasterCrossCheck, PngDecodesAsQt) {
  std::mt19937 rng(5);
  int forms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                    {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  int bad = 0;
  for (auto& fm : forms)
    for (int il = 0; il < 2; ++il)
      for (int w = 1; w <= 17; ++w)
        for (int h = 1; h <= 10; ++h) {
          int ct = fm[0], bd = fm[1];
          int pc = ct == 3 ? int(1 + rng() % (1 << bd)) : 0;
          Bytes f = MakeFile(ct, bd, il, w, h, rng, pc);
          int qw, qh, ow, oh;
          auto q = QtRead(f, qw, qh);
          std::vector<uint32_t> o;
          try {
            o = Ours(f, ow, oh);
          } catch (std::exception& e) {
            ADD_FAILURE() << ct << "/" << bd << " il" << il << " " << w << "x" << h << " " << e.what();
            if (++bad > 20) return;
            continue;
          }
          ASSERT_EQ(qw, w);
          ASSERT_EQ(ow, w);
          ASSERT_EQ(oh, h);
          bool alpha = ct == 4 || ct == 6;
          for (size_t i = 0; i < o.size(); ++i)
            if (o[i] != Expect(q[i], alpha)) {
              ADD_FAILURE() << ct << "/" << bd << " il" << il << " " << w << "x" << h << " px " << i << std::hex
                            << " ours " << o[i] << " qt " << q[i];
              if (++bad > 20) {
                return;
              }
              break;
            }
        }
}

TEST(RasterCrossCheck, PngWrittenReadsBackInQt) {
  std::mt19937 rng(9);
  int forms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                    {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  int bad = 0;
  for (auto& fm : forms)
    for (int il = 0; il < 2; ++il)
      for (int w = 1; w <= 17; ++w)
        for (int h = 1; h <= 10; ++h) {
          int ct = fm[0], bd = fm[1];
          int pc = ct == 3 ? int(1 + rng() % (1 << bd)) : 0;
          Bytes f = MakeFile(ct, bd, 0, w, h, rng, pc);
          TPngGraphic png;
          {
            platform::TMemoryStream s;
            s.WriteBuffer(f.data(), int32_t(f.size()));
            s.SetPosition(0);
            png.LoadFromStream(&s);
          }
          png.InterlaceMethod = uint8_t(il);
          png.Filters = uint8_t(rng() % 32);
          platform::TMemoryStream o;
          png.SaveToStream(&o);
          Bytes out(size_t(o.GetSize()));
          o.SetPosition(0);
          o.ReadBuffer(out.data(), int32_t(out.size()));
          int qw, qh, ow, oh, qw2, qh2;
          auto q = QtRead(out, qw, qh);
          auto q0 = QtRead(f, qw2, qh2);
          auto mine = Ours(out, ow, oh);
          ASSERT_EQ(qw, w) << ct << "/" << bd << " il" << il << " " << w << "x" << h;
          for (size_t i = 0; i < q.size(); ++i)
            if ((bd != 16 && q[i] != q0[i]) || mine[i] != Expect(q0[i], ct == 4 || ct == 6)) {
              ADD_FAILURE() << ct << "/" << bd << " il" << il << " " << w << "x" << h << " px " << i << std::hex
                            << " qt(out) " << q[i] << " qt(in) " << q0[i] << " ours " << mine[i];
              if (++bad > 20) {
                return;
              }
              break;
            }
        }
}

TEST(RasterCrossCheck, PngFormatSaveReadsBackInQt) {
  std::mt19937 rng(11);
  int bad = 0;
  for (int w = 1; w <= 19; ++w)
    for (int h = 1; h <= 6; ++h)
      for (int mode = 0; mode < 3; ++mode) {
        TBitmap32 b;
        b.SetSize(w, h);
        for (int i = 0; i < w * h; ++i) {
          uint32_t a = mode == 0 ? 255 : mode == 1 ? (rng() % 2 ? 0 : 255) : rng() % 256;
          b.Bits()[i] = (a << 24) | (rng() & 0xFFFFFF);
        }
        platform::TMemoryStream s;
        TdtpPngFormat fmt;
        fmt.SaveToStream(&s, &b);
        Bytes out(size_t(s.GetSize()));
        s.SetPosition(0);
        s.ReadBuffer(out.data(), int32_t(out.size()));
        int qw, qh;
        auto q = QtRead(out, qw, qh);
        ASSERT_EQ(qw, w);
        ASSERT_EQ(qh, h);
        for (int i = 0; i < w * h; ++i) {
          uint32_t want = b.Bits()[i];
          if ((want >> 24) == 0) want = 0;
          uint32_t got = q[size_t(i)];
          if ((got >> 24) == 0) got = 0;
          if (got != want) {
            ADD_FAILURE() << w << "x" << h << " m" << mode << " px " << i << std::hex << " " << got << " want " << want;
            if (++bad > 10) {
              return;
            }
            break;
          }
        }
      }
}

TEST(RasterCrossCheck, PngTransparentSampleAsQt) {
  std::mt19937 rng(21);
  // Qt mis-reads a 16-bit RGB image with tRNS (ImageMagick leaves out exactly the sample), so
  // RGB is checked at 8 bits.
  int forms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}};
  int bad = 0;
  for (auto& fm : forms)
    for (int il = 0; il < 2; ++il)
      for (int w = 1; w <= 9; w += 2) {
        int ct = fm[0], bd = fm[1];
        Bytes f = MakeFile(ct, bd, il, w, 5, rng, 0);
        // The transparent sample is pixel 0's, as Qt reads it at 16 bits.
        QImage im = QImage::fromData(QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())), "PNG");
        QImage g16 = im.convertToFormat(ct == 0 ? QImage::Format_Grayscale16 : QImage::Format_RGBX64);
        Bytes t;
        if (ct == 0) {
          uint16_t v = reinterpret_cast<const uint16_t*>(g16.constScanLine(0))[0];
          uint32_t s = bd == 16 ? v : (uint32_t(v) * ((1u << bd) - 1) + 32767) / 65535;
          t = {uint8_t(s >> 8), uint8_t(s)};
        } else {
          const uint16_t* p = reinterpret_cast<const uint16_t*>(g16.constScanLine(0));
          for (int c = 0; c < 3; ++c) {
            uint32_t s = bd == 16 ? p[c] : p[c] >> 8;
            t.push_back(uint8_t(s >> 8));
            t.push_back(uint8_t(s));
          }
        }
        Bytes tr;
        PutChunk(tr, "tRNS", t);
        f.insert(f.begin() + 33, tr.begin(), tr.end());
        int qw, qh, ow, oh;
        auto q = QtRead(f, qw, qh);
        auto o = Ours(f, ow, oh);
        for (size_t i = 0; i < o.size(); ++i) {
          uint32_t want = (q[i] >> 24) == 0 ? 0 : (0xFF000000u | q[i]);
          if (o[i] != want) {
            ADD_FAILURE() << ct << "/" << bd << " il" << il << " w" << w << " px " << i << std::hex << " ours " << o[i]
                          << " qt " << q[i];
            if (++bad > 10) {
              return;
            }
            break;
          }
        }
      }
}

TEST(RasterCrossCheck, JpegDecodesAsQt) {
  int bad = 0;
  int sizes[][2] = {{1, 1}, {1, 17}, {17, 1}, {7, 9}, {33, 5}, {16, 16}, {9, 8}};
  const char* modes[] = {"-colorspace Gray", "-sampling-factor 2x2", "-sampling-factor 1x1", "-interlace JPEG",
                         "-sampling-factor 2x1 -interlace JPEG"};
  int k = 0;
  for (auto& sz : sizes)
    for (auto* m : modes) {
      std::string path = kdtest::TempDir() + "/j" + std::to_string(k++) + ".jpg";
      std::string cmd = "convert -size " + std::to_string(sz[0]) + "x" + std::to_string(sz[1]) +
                        " plasma:fractal -seed 4 " + m + " -quality 80 " + path;
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
      QImage q(QString::fromStdString(path));
      ASSERT_FALSE(q.isNull());
      q = q.convertToFormat(QImage::Format_RGB32);
      for (int pf = 0; pf < 2; ++pf) {
        TJPEGImage j;
        platform::TFileStream fs(path, platform::fmOpenRead);
        j.LoadFromStream(&fs);
        TBitmap32 b;
        if (pf) {
          j.Bitmap();
        }
        j.DecodeTo32(&b);
        ASSERT_EQ(b.Width(), sz[0]);
        ASSERT_EQ(b.Height(), sz[1]);
        for (int y = 0; y < sz[1]; ++y)
          for (int x = 0; x < sz[0]; ++x) {
            uint32_t o = b.Pixel(x, y), t = q.pixel(x, y);
            bool near = true;
            for (int c = 0; c < 24; c += 8) near = near && std::abs(int((o >> c) & 255) - int((t >> c) & 255)) <= 1;
            if (!near || (o >> 24) != 255) {
              ADD_FAILURE() << cmd << " pf" << pf << " " << x << "," << y << std::hex << " ours " << o << " qt " << t;
              if (++bad > 10) {
                return;
              }
              goto next;
            }
          }
      next:;
      }
    }
}

TEST(RasterCrossCheck, J2KDecodesAsImageMagick) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {13, 5}, {64, 3}};
  const char* types[] = {"-type TrueColor -depth 8",  "-type Grayscale -depth 8",      "-type Grayscale -depth 16",
                         "-type TrueColor -depth 16", "-type TrueColorAlpha -depth 8", "-type Grayscale -depth 4"};
  int k = 0, bad = 0;
  for (auto& sz : sizes)
    for (auto* t : types) {
      std::string base = kdtest::TempDir() + "/k" + std::to_string(k++);
      std::string cmd =
          "convert -size " + std::to_string(sz[0]) + "x" + std::to_string(sz[1]) + " plasma:fractal -seed 2 " +
          (std::string(t).find("Alpha") != std::string::npos ? "-alpha set -channel A -fx 'i/w' +channel " : "") + t +
          " -quality 0 " + base + ".jp2 && convert " + base + ".jp2 -depth 8 rgba:" + base + ".rgba";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
      Bytes want = kdtest::ReadFileBytes(base + ".rgba");
      TdtpImageFiler r;
      r.FileName = base + ".jp2";
      TBitmap32 b;
      try {
        r.Load(&b);
      } catch (std::exception& e) {
        ADD_FAILURE() << cmd << " " << e.what();
        continue;
      }
      ASSERT_EQ(b.Width(), sz[0]) << cmd;
      ASSERT_EQ(b.Height(), sz[1]);
      for (int i = 0; i < sz[0] * sz[1]; ++i) {
        uint32_t o = b.Bits()[i];
        int d = 0;
        for (int c = 0; c < 3; ++c)
          d = std::max(d, std::abs(int((o >> (16 - 8 * c)) & 255) - int(want[size_t(4 * i + c)])));
        d = std::max(d, std::abs(int(o >> 24) - int(want[size_t(4 * i + 3)])));
        if (d > 1) {
          ADD_FAILURE() << cmd << " px " << i << std::hex << " ours " << o << " im " << int(want[4 * i]) << " "
                        << int(want[4 * i + 1]) << " " << int(want[4 * i + 2]) << " " << int(want[4 * i + 3]);
          if (++bad > 10) {
            return;
          }
          break;
        }
      }
    }
}

TEST(RasterCrossCheck, J2KWrittenReadsBackInImageMagick) {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
  if (!JasperLibraryBound()) GTEST_SKIP() << "libopenjp2 not installed";
  std::mt19937 rng(1);
  int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {13, 5}, {3, 3}};
  int k = 0;
  for (auto& sz : sizes) {
    TBitmap32 b;
    b.SetSize(sz[0], sz[1]);
    for (int i = 0; i < sz[0] * sz[1]; ++i) b.Bits()[i] = 0xFF000000u | (rng() & 0xFFFFFF);
    std::string path = kdtest::TempDir() + "/s" + std::to_string(k++) + ".jp2";
    TdtpImageFiler w;
    w.FileName = path;
    w.Save(&b);
    ASSERT_EQ(std::system(("convert " + path + " -depth 8 rgb:" + path + ".rgb").c_str()), 0);
    Bytes got = kdtest::ReadFileBytes(path + ".rgb");
    ASSERT_EQ(got.size(), size_t(sz[0] * sz[1] * 3));
    for (int i = 0; i < sz[0] * sz[1]; ++i) {
      uint32_t o = b.Bits()[i];
      ASSERT_EQ((uint32_t(got[3 * i]) << 16) | (uint32_t(got[3 * i + 1]) << 8) | got[3 * i + 2], o & 0xFFFFFF)
          << sz[0] << "x" << sz[1] << " " << i;
    }
  }
}
