// Pictures written by Debian's EMF library (the emf-samples program beside this file), played
// by our player and compared with an independent rendering of the same files: Debian's
// EMF-to-SVG converter, drawn by librsvg's converter. The two draw edges differently
// (antialiasing, the platform's pixel rules), so the comparison is of the mean colour of each
// 16 x 16 pixel cell, within a tolerance. Where the converter itself is wrong, the cells are
// left out and the test says why.
#include <QImage>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Graphics.h"
#include "platform/Metafile.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

constexpr int cScale = 2;  // the 320 x 240 pixel pictures are drawn at 640 x 480
constexpr int cW = 320 * cScale, cH = 240 * cScale, cCell = 16;

bool Have(const char* Tool) {
  std::string out;
  return kdtest::RunTool(std::string("command -v ") + Tool, out) == 0;
}

struct TSample {
  const char* Name;
  std::vector<QRect> Wrong;  // picture pixels where the converter's drawing is wrong
  int Tolerance = 40;        // of 255, per channel, on a cell's mean colour
};

QImage Ours(const std::string& File) {
  TMetafile m;
  const std::vector<uint8_t> bytes = kdtest::ReadFileBytes(File);
  m.LoadFromBytes(bytes.data(), bytes.size());
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(cW, cH);
  b.Canvas()->Brush()->SetColor(clWhite);
  b.Canvas()->FillRect(TRect{0, 0, cW, cH});
  EXPECT_TRUE(PlayEnhMetaFile(b.Canvas(), m, TRect{0, 0, cW, cH}));
  return b.Image().convertToFormat(QImage::Format_RGB32);
}

// Mean colour of a cell as three channel sums.
void Mean(const QImage& Img, int X, int Y, double Out[3]) {
  Out[0] = Out[1] = Out[2] = 0;
  for (int y = Y; y < Y + cCell; ++y)
    for (int x = X; x < X + cCell; ++x) {
      const QRgb p = Img.pixel(x, y);
      Out[0] += qRed(p);
      Out[1] += qGreen(p);
      Out[2] += qBlue(p);
    }
  for (int i = 0; i < 3; ++i) Out[i] /= cCell * cCell;
}

class MetafileReference : public ::testing::TestWithParam<TSample> {
 protected:
  static void SetUpTestSuite() {
#ifdef KD_EMF_SAMPLES
    if (!Have("emf2svg-conv") || !Have("rsvg-convert")) return;
    sDir = kdtest::TempDir();
    std::string out;
    ASSERT_EQ(kdtest::RunTool(std::string(KD_EMF_SAMPLES) + " " + sDir, out), 0) << out;
    sReady = true;
#endif
  }
  static std::string sDir;
  static bool sReady;
};
std::string MetafileReference::sDir;
bool MetafileReference::sReady = false;

TEST_P(MetafileReference, MatchesTheConvertersRendering) {
  if (!sReady) GTEST_SKIP() << "the EMF library, emf2svg-conv or rsvg-convert is not installed";
  const TSample& s = GetParam();
  const std::string emf = sDir + "/" + s.Name + ".emf", svg = sDir + "/" + s.Name + ".svg",
                    png = sDir + "/" + s.Name + ".png";
  std::string out;
  ASSERT_EQ(kdtest::RunTool("emf2svg-conv -i " + emf + " -o " + svg, out), 0) << out;
  ASSERT_EQ(kdtest::RunTool("rsvg-convert -b white -w " + std::to_string(cW) + " -h " + std::to_string(cH) + " " +
                                svg + " -o " + png,
                            out),
            0)
      << out;
  QImage ref(QString::fromStdString(png));
  ASSERT_FALSE(ref.isNull());
  ref = ref.convertToFormat(QImage::Format_RGB32);
  const QImage ours = Ours(emf);
  ASSERT_EQ(ref.size(), ours.size());
  ours.save(QString::fromStdString(kdtest::OutputDir() + "/emf-ref-" + s.Name + "-ours.png"));
  ref.save(QString::fromStdString(kdtest::OutputDir() + "/emf-ref-" + s.Name + "-converter.png"));
  int compared = 0, inked = 0;
  for (int y = 0; y < cH; y += cCell)
    for (int x = 0; x < cW; x += cCell) {
      const QRect cell(x / cScale, y / cScale, cCell / cScale, cCell / cScale);
      bool skip = false;
      for (const QRect& w : s.Wrong) skip |= w.intersects(cell);
      if (skip) continue;
      double a[3], b[3];
      Mean(ours, x, y, a);
      Mean(ref, x, y, b);
      ++compared;
      if (b[0] + b[1] + b[2] < 3 * 250) ++inked;
      for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(a[c] - b[c]), s.Tolerance)
            << s.Name << ": cell at " << x << "," << y << " channel " << c << " ours " << a[c] << " converter "
            << b[c];
    }
  // The comparison means something: a good part of the picture is compared, and it holds ink.
  EXPECT_GT(compared, (cW / cCell) * (cH / cCell) / 4);
  EXPECT_GT(inked, 10);
}

// The converter draws hatched brushes solid, so the library's hatch picture is checked on its
// own: a black cross-hatch over yellow (opaque background) on the left, red diagonals over the
// untouched page (transparent background) on the right.
TEST_F(MetafileReference, HatchesOfTheLibrarysPicture) {
  if (!sReady) GTEST_SKIP() << "the EMF library, emf2svg-conv or rsvg-convert is not installed";
  const QImage ours = Ours(sDir + "/hatch.emf");
  int black = 0, yellow = 0, red = 0, white = 0, other = 0;
  for (int y = 40; y < 440; ++y) {
    for (int x = 40; x < 280; ++x) {
      const QRgb p = ours.pixel(x, y) & 0xFFFFFF;
      (p == 0 ? black : p == 0xFFFF00 ? yellow : other) += 1;
    }
    for (int x = 360; x < 600; ++x) {
      const QRgb p = ours.pixel(x, y) & 0xFFFFFF;
      (p == 0xC80000 ? red : p == 0xFFFFFF ? white : other) += 1;
    }
  }
  EXPECT_EQ(other, 0);
  EXPECT_GT(black, 10000);
  EXPECT_GT(yellow, 3 * black);
  EXPECT_GT(red, 8000);
  EXPECT_GT(white, 4 * red);
}

// The parts of the library's bitmap picture the converter gets wrong: a stretched bitmap's
// source rectangle (the bottom row's middle blocks, magenta and black, at 40 x 40 each) and
// bitmaps set to the device one to one (quarters of red, green, blue and yellow, 32 x 24 each,
// then its bottom right quarter alone), in picture pixels at twice the size.
TEST_F(MetafileReference, BitmapsOfTheLibrarysPicture) {
  if (!sReady) GTEST_SKIP() << "the EMF library, emf2svg-conv or rsvg-convert is not installed";
  const QImage ours = Ours(sDir + "/bitmaps.emf");
  auto wrong = [&](int X, int Y, int W, int H, QRgb Colour) {
    int n = 0;
    for (int y = 2 * Y; y < 2 * (Y + H); ++y)
      for (int x = 2 * X; x < 2 * (X + W); ++x) n += (ours.pixel(x, y) & 0xFFFFFF) != Colour;
    return n;
  };
  const QRgb back = 0xDCDCFF;
  EXPECT_EQ(wrong(128, 128, 40, 40, 0xC800C8), 0);
  EXPECT_EQ(wrong(168, 128, 40, 40, 0x000000), 0);
  EXPECT_EQ(wrong(128, 168, 80, 8, back), 0);
  EXPECT_EQ(wrong(224, 16, 32, 24, 0xFF0000), 0);
  EXPECT_EQ(wrong(256, 16, 32, 24, 0x00C800), 0);
  EXPECT_EQ(wrong(224, 40, 32, 24, 0x0000FF), 0);
  EXPECT_EQ(wrong(256, 40, 32, 24, 0xFFDC00), 0);
  EXPECT_EQ(wrong(288, 16, 16, 48, back), 0);
  EXPECT_EQ(wrong(224, 128, 32, 24, 0xFFDC00), 0);
  EXPECT_EQ(wrong(256, 128, 32, 24, back), 0);
  EXPECT_EQ(wrong(224, 152, 32, 24, back), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, MetafileReference,
    ::testing::Values(
        TSample{"lines", {}},
        // The converter fills both poly-polygons by the nonzero rule (it writes no fill rule),
        // so the alternate rule's hole (150..190, 120..160) shows filled there.
        TSample{"polygons", {QRect(150, 120, 40, 40)}},
        // The converter leaves out ArcTo's line from the current position to the arc (160..180
        // along y 175, which runs under the arc to its start at 300).
        TSample{"curves", {QRect(155, 165, 150, 20)}},
        // The converter closes the stroked open path (y 170..220) with a line back to its start,
        // and fills the square's hole (200..280, 40..80) by the nonzero rule.
        TSample{"paths", {QRect(0, 160, 320, 80), QRect(200, 40, 80, 40)}},
        // Text: both sides map Arial to the same face. The converter ignores the spacing array
        // of the last line (50 units a letter: "S T E P").
        TSample{"text", {QRect(0, 160, 320, 80)}},
        // The converter ignores the viewport origin in the metric mode (it draws the green
        // rectangle above the picture) and grows the isotropic viewport instead of shrinking
        // it (the blue circle comes out twice as large).
        TSample{"mapping", {QRect(170, 0, 150, 240), QRect(0, 130, 170, 110)}},
        TSample{"world", {}},
        TSample{"extpens", {}},
        // The converter draws a stretched bitmap whole, not the source rectangle it names
        // (128..208, 128..168), and leaves out bitmaps set to the device (224..288, 16..64 and
        // 224..256, 128..152); those are checked on their own below.
        TSample{"bitmaps", {QRect(128, 128, 80, 40), QRect(224, 16, 64, 48), QRect(224, 128, 32, 24)}}),
    [](const ::testing::TestParamInfo<TSample>& I) { return std::string(I.param.Name); });

}  // namespace
