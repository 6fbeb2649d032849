// The metafile player: pictures written by a tiny EMF writer, played into a bitmap with and
// without the pen and brush override; damaged files raise EEmfError with exact messages.
#include <cstring>
#include <string>
#include <vector>

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include "document/dtpEmfPlayer.h"
#include "platform/Graphics.h"
#include "tests/common/TestSupport.h"

using namespace document;
using namespace platform;
using platform::TColor;

namespace {

// Writes records and patches the header's size and count at the end.
class TEmfWriter {
 public:
  TEmfWriter(int32_t W, int32_t H, uint32_t Handles) {
    Rec(EMR_HEADER, {0, 0, uint32_t(W - 1), uint32_t(H - 1), 0, 0, uint32_t(W * 26), uint32_t(H * 26),
                     0x464D4520, 0x10000, 0, 0, Handles, 0, 0, 0, 0, 0, 0, 0});
  }
  void Rec(uint32_t Type, const std::vector<uint32_t>& Words) {
    Put(Type);
    Put(uint32_t(8 + 4 * Words.size()));
    for (uint32_t w : Words) Put(w);
    ++Count;
  }
  void Pen(uint32_t Index, uint32_t Width, platform::TColor Color) { Rec(EMR_CREATEPEN, {Index, 0, Width, 0, uint32_t(Color)}); }
  void Brush(uint32_t Index, platform::TColor Color) { Rec(EMR_CREATEBRUSHINDIRECT, {Index, 0, uint32_t(Color), 0}); }
  void Select(uint32_t Index) { Rec(EMR_SELECTOBJECT, {Index}); }
  void Box(uint32_t Type, int32_t L, int32_t T, int32_t R, int32_t B) { Rec(Type, {uint32_t(L), uint32_t(T), uint32_t(R), uint32_t(B)}); }
  void Poly(uint32_t Type, const std::vector<std::pair<int32_t, int32_t>>& Pts) {
    std::vector<uint32_t> w = {0, 0, 0, 0, uint32_t(Pts.size())};
    for (auto [x, y] : Pts) {
      w.push_back(uint32_t(x));
      w.push_back(uint32_t(y));
    }
    Rec(Type, w);
  }
  std::vector<uint8_t> Finish() {
    Rec(EMR_EOF, {0, 16, 20});
    std::vector<uint8_t> out = Bytes;
    const uint32_t size = uint32_t(out.size());
    std::memcpy(out.data() + 48, &size, 4);
    std::memcpy(out.data() + 52, &Count, 4);
    return out;
  }

 private:
  void Put(uint32_t V) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&V);
    Bytes.insert(Bytes.end(), p, p + 4);
  }
  std::vector<uint8_t> Bytes;
  uint32_t Count = 0;
};

constexpr TColor cRed = 0x0000FF, cBlue = 0xFF0000, cGreen = 0x008000, cYellow = 0x00FFFF;

// A 100 x 50 picture: a red rectangle, a blue triangle, a thick green polyline with its own
// pen, a yellow ellipse with the stock black pen.
std::vector<uint8_t> SamplePicture() {
  TEmfWriter w(100, 50, 5);
  w.Brush(1, cRed);
  w.Select(1);
  w.Pen(2, 1, 0);
  w.Select(2);
  w.Box(EMR_RECTANGLE, 5, 5, 45, 45);
  w.Brush(3, cBlue);
  w.Select(3);
  w.Poly(EMR_POLYGON, {{55, 45}, {75, 5}, {95, 45}});
  w.Pen(4, 3, cGreen);
  w.Select(4);
  w.Poly(EMR_POLYLINE, {{5, 48}, {95, 48}});
  w.Rec(EMR_DELETEOBJECT, {4});
  w.Select(0x80000007);  // black pen
  w.Brush(1, cYellow);
  w.Select(1);
  w.Box(EMR_ELLIPSE, 15, 15, 35, 35);
  return w.Finish();
}

struct TCanvasFixture {
  platform::TBitmap Bitmap;
  TCanvasFixture(int W, int H) {
    Bitmap.SetPixelFormat(platform::pf32bit);
    Bitmap.SetSize(W, H);
    Bitmap.Canvas()->Brush()->SetColor(platform::clWhite);
    Bitmap.Canvas()->FillRect(platform::TRect{0, 0, W, H});
  }
  TColor At(int X, int Y) { return Bitmap.Canvas()->Pixel(X, Y) & 0xFFFFFF; }
};

TEST(EmfPlayer, LoadsTheHeaderAndRecords) {
  TEmfPicture pic;
  const auto data = SamplePicture();
  pic.LoadFromBytes(data.data(), data.size());
  EXPECT_EQ(pic.Width(), 100);
  EXPECT_EQ(pic.Height(), 50);
  EXPECT_EQ(pic.Header().Handles, 5u);
  ASSERT_EQ(pic.Records().size(), 18u);
  EXPECT_EQ(pic.Records().front().iType, EMR_HEADER);
  EXPECT_EQ(pic.Records().back().iType, EMR_EOF);
  kdtest::WriteFileBytes(kdtest::OutputDir() + "/emf-sample.emf", data);
}

TEST(EmfPlayer, PlaysScaledIntoTheTargetRectangle) {
  TEmfPicture pic;
  const auto data = SamplePicture();
  pic.LoadFromBytes(data.data(), data.size());
  TCanvasFixture c(200, 100);
  TEmfPlayer(pic, c.Bitmap.Canvas(), platform::TRect{0, 0, 200, 100}).Play();
  EXPECT_EQ(c.At(20, 20), cRed);      // rectangle, outside the ellipse
  EXPECT_EQ(c.At(50, 50), cYellow);   // ellipse centre
  EXPECT_EQ(c.At(150, 70), cBlue);    // triangle
  EXPECT_EQ(c.At(10, 10), TColor(0)); // the rectangle's black frame
  EXPECT_EQ(c.At(100, 96), cGreen);   // the thick line, 6 pixels wide at this scale
  EXPECT_EQ(c.At(195, 5), platform::clWhite);
  EXPECT_TRUE(c.Bitmap.Image().save(QString::fromStdString(kdtest::OutputDir() + "/emf-sample.png")));
}

TEST(EmfPlayer, OverridePenAndBrushReachEveryDrawingRecord) {
  TEmfPicture pic;
  const auto data = SamplePicture();
  pic.LoadFromBytes(data.data(), data.size());
  platform::TPen pen;
  pen.SetColor(0x800080);
  pen.SetWidth(3);
  platform::TBrush brush;
  brush.SetColor(0x00C000);
  TCanvasFixture c(200, 100);
  TEmfPlayer(pic, c.Bitmap.Canvas(), platform::TRect{0, 0, 200, 100}).Play(&pen, &brush);
  EXPECT_EQ(c.At(20, 20), TColor(0x00C000));
  EXPECT_EQ(c.At(50, 50), TColor(0x00C000));
  EXPECT_EQ(c.At(150, 70), TColor(0x00C000));
  EXPECT_EQ(c.At(100, 96), TColor(0x800080));  // the picture's own green pen never draws
  EXPECT_EQ(c.At(10, 10), TColor(0x800080));
  EXPECT_TRUE(c.Bitmap.Image().save(QString::fromStdString(kdtest::OutputDir() + "/emf-override.png")));
  // Only the pen: the picture's own fills come back.
  TCanvasFixture d(200, 100);
  TEmfPlayer(pic, d.Bitmap.Canvas(), platform::TRect{0, 0, 200, 100}).Play(&pen, nullptr);
  EXPECT_EQ(d.At(20, 20), cRed);
  EXPECT_EQ(d.At(150, 70), cBlue);
  EXPECT_EQ(d.At(100, 96), TColor(0x800080));
}

TEST(EmfPlayer, EmptyPictureOrRectangleDrawsNothing) {
  TEmfPicture empty;
  TCanvasFixture c(20, 20);
  TEmfPlayer(empty, c.Bitmap.Canvas(), platform::TRect{0, 0, 20, 20}).Play();
  EXPECT_EQ(c.At(10, 10), platform::clWhite);
  TEmfPicture pic;
  const auto data = SamplePicture();
  pic.LoadFromBytes(data.data(), data.size());
  TEmfPlayer(pic, c.Bitmap.Canvas(), platform::TRect{5, 5, 5, 20}).Play();
  EXPECT_EQ(c.At(5, 10), platform::clWhite);
}

std::string LoadError(std::vector<uint8_t> Data) {
  try {
    TEmfPicture p;
    p.LoadFromBytes(Data.data(), Data.size());
    TCanvasFixture c(10, 10);
    TEmfPlayer(p, c.Bitmap.Canvas(), platform::TRect{0, 0, 10, 10}).Play();
  } catch (const EEmfError& e) {
    return e.Message;
  }
  return "";
}

void Set32(std::vector<uint8_t>& D, size_t At, uint32_t V) { std::memcpy(D.data() + At, &V, 4); }

TEST(EmfPlayer, DamagedFilesRaiseCleanErrors) {
  const auto good = SamplePicture();
  EXPECT_EQ(LoadError(good), "");
  EXPECT_EQ(LoadError({good.begin(), good.begin() + 40}), "Metafile is too short");
  auto d = good;
  d[41] = 'X';
  EXPECT_EQ(LoadError(d), "Not an enhanced metafile");
  d = good;
  Set32(d, 4, 90);
  EXPECT_EQ(LoadError(d), "Invalid metafile header size");
  d = good;
  Set32(d, 48, uint32_t(good.size() + 4));
  EXPECT_EQ(LoadError(d), "Invalid metafile size");
  d = good;
  Set32(d, 8, 200);  // left beyond right
  EXPECT_EQ(LoadError(d), "Invalid metafile bounds");
  d = good;
  Set32(d, 16, 0x7FFFFFFF);
  EXPECT_EQ(LoadError(d), "Invalid metafile bounds");
  const size_t first = 88;  // the brush record after the header
  d = good;
  Set32(d, first + 4, 6);
  EXPECT_EQ(LoadError(d), "Invalid metafile record size");
  d = good;
  Set32(d, first + 4, 0xFFFFFFF0);
  EXPECT_EQ(LoadError(d), "Invalid metafile record size");
  d = good;
  Set32(d, first + 4, 8);
  EXPECT_EQ(LoadError(d), "Metafile record is too short");
  d = good;
  Set32(d, first, EMR_HEADER);
  EXPECT_EQ(LoadError(d), "Unexpected metafile header");
  d = good;
  Set32(d, first + 8, 5);  // beyond the 5-entry table
  EXPECT_EQ(LoadError(d), "Metafile object index out of range");
  d = good;
  Set32(d, first + 8, 0);  // entry 0 is the picture itself
  EXPECT_EQ(LoadError(d), "Metafile object index out of range");
  // A point count that overflows 32 bits when multiplied stays caught.
  TEmfWriter w(10, 10, 1);
  w.Poly(EMR_POLYLINE, {{1, 1}, {2, 2}});
  auto p = w.Finish();
  Set32(p, 88 + 24, 0x20000000);
  EXPECT_EQ(LoadError(p), "Metafile point count exceeds its record");
  // A cut-off file ends inside a record.
  d = good;
  Set32(d, 48, uint32_t(good.size() - 6));
  EXPECT_EQ(LoadError({d.begin(), d.end() - 6}), "Invalid metafile record size");
}

TEST(EmfPlayer, SixteenBitPointsAndStream) {
  TEmfWriter w(10, 10, 1);
  std::vector<uint32_t> words = {0, 0, 0, 0, 3, (2u << 16) | 1u, (8u << 16) | 5u, (8u << 16) | 9u};
  w.Rec(EMR_POLYGON16, words);
  const auto data = w.Finish();
  platform::TMemoryStream s;
  s.WriteBuffer(data.data(), int32_t(data.size()));
  s.SetPosition(0);
  TEmfPicture pic;
  pic.LoadFromStream(&s);
  TCanvasFixture c(10, 10);
  c.Bitmap.Canvas()->Brush()->SetColor(cBlue);
  TEmfPlayer(pic, c.Bitmap.Canvas(), platform::TRect{0, 0, 10, 10}).Play();
  EXPECT_EQ(c.At(5, 6), platform::clWhite);  // the stock white brush of a fresh player
  platform::TBrush b;
  b.SetColor(cRed);
  TEmfPlayer(pic, c.Bitmap.Canvas(), platform::TRect{0, 0, 10, 10}).Play(nullptr, &b);
  EXPECT_EQ(c.At(5, 6), cRed);
  EXPECT_EQ(c.At(1, 8), platform::clWhite);
}

}  // namespace
