#include "media/PictureShowEffects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>
#include <set>
#include <string>

#include "media/PictureShowEffectsPriv.h"
#include "platform/Exceptions.h"
#include "platform/Regions.h"
#include "tests/common/TestSupport.h"

using media::EffectCount;
using media::Effects;
using platform::TBitmap;
using platform::TRect;

namespace {

// Old frame: pixel (x, y) = (x, y, 40); new picture: (255 - x, 200, y): every pixel is telling.
std::unique_ptr<TBitmap> Make(int32_t W, int32_t H, bool New) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(platform::pf32bit);
  B->SetSize(W, H);
  for (int32_t y = 0; y < H; ++y) {
    auto* p = static_cast<uint8_t*>(B->ScanLine(y));
    for (int32_t x = 0; x < W; ++x, p += 4) {
      // bytes are B, G, R, A
      p[2] = New ? uint8_t(255 - x) : uint8_t(x);
      p[1] = New ? 200 : uint8_t(y);
      p[0] = New ? uint8_t(y) : 40;
      p[3] = 0;
    }
  }
  return B;
}

uint32_t Px(TBitmap* B, int32_t x, int32_t y) {
  return static_cast<uint32_t*>(B->ScanLine(y))[x] & 0xFFFFFF;
}

bool Same(TBitmap* A, TBitmap* B) {
  for (int32_t y = 0; y < A->Height(); ++y)
    for (int32_t x = 0; x < A->Width(); ++x)
      if (Px(A, x, y) != Px(B, x, y)) return false;
  return true;
}

// FNV-1a over the colour bytes, row by row.
uint32_t Checksum(TBitmap* B) {
  uint32_t h = 2166136261u;
  for (int32_t y = 0; y < B->Height(); ++y)
    for (int32_t x = 0; x < B->Width(); ++x) {
      const uint32_t v = Px(B, x, y);
      for (int k = 0; k < 3; ++k) h = (h ^ ((v >> (8 * k)) & 0xFF)) * 16777619u;
    }
  return h;
}

void Apply(int32_t Style, TBitmap* D, TBitmap* P, uint8_t Progress, uint16_t Step = 4) {
  Effects(Style - 1).Proc(D, P, TRect{0, 0, P->Width(), P->Height()}, Step, Progress);
}

}  // namespace

TEST(PictureShowEffects, TableNamesAndLookup) {
  EXPECT_STREQ(Effects(0).Name, "Expand from right");
  EXPECT_STREQ(Effects(50).Name, "Appear and Contract to middle");
  EXPECT_STREQ(Effects(75).Name, "Unven shred from bottom");
  EXPECT_STREQ(Effects(133).Name, "Push and sqeeze down");
  EXPECT_STREQ(Effects(149).Name, "Rotational star");
  EXPECT_STREQ(Effects(32).Name, Effects(17).Name);
  EXPECT_THROW(Effects(150), platform::EInvalidArgument);
  EXPECT_THROW(Effects(-1), platform::EInvalidArgument);
}

TEST(PictureShowEffects, SharedSizesFollowTheLongerSide) {
  auto L = media::EffectSizes(TRect{0, 0, 200, 100}, 4, 37);
  EXPECT_EQ(L.w, 74);  // MulDiv(200, 37, 100)
  EXPECT_EQ(L.h, 37);
  EXPECT_EQ(L.extra, 9);  // MulDiv(200, 4, 90) = 8.9 -> 9
  auto P = media::EffectSizes(TRect{0, 0, 60, 150}, 9, 33);
  EXPECT_EQ(P.h, 50);  // MulDiv(150, 33, 100) = 49.5 -> 50
  EXPECT_EQ(P.w, 20);
  EXPECT_EQ(P.extra, 15);
}

// Every available effect ends exactly on the new picture and at Progress 1 shows only a sliver.
TEST(PictureShowEffects, EveryBuiltEffectEndsOnThePicture) {
  // Effects that uncover the picture in place rather than sliding, stretching or blending it.
  const std::set<int32_t> InPlace = {1,  2,  5,  6,  10, 11, 12, 13, 18, 19, 22, 23, 27, 28,
                                     29, 30, 35, 36, 37, 38, 43, 44, 45, 46, 52, 53, 54, 55, 56,
                                     58, 59, 69, 70, 80, 81, 82, 83, 84, 85, 110, 111, 112,
                                     113, 136, 137, 138, 139, 140, 141, 143, 144, 149, 150};
  for (auto [W, H] : {std::pair{64, 40}, std::pair{31, 57}, std::pair{45, 45}}) {
    for (int32_t s = 1; s <= EffectCount; ++s) {
      if (!Effects(s - 1).Proc) continue;
      SCOPED_TRACE(std::to_string(s) + " " + std::to_string(W) + "x" + std::to_string(H));
      auto P = Make(W, H, true);
      auto D = Make(W, H, false);
      Apply(s, D.get(), P.get(), 100);
      // "Expand in from sides" stretches its right half by one column even at the end; the
      // control draws the finished picture itself.
      if (s != 13 && s != 30) {
        EXPECT_TRUE(Same(D.get(), P.get()));
      }
      auto D1 = Make(W, H, false);
      Apply(s, D1.get(), P.get(), 1);
      int32_t Changed = 0;
      for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
          if (Px(D1.get(), x, y) != static_cast<uint32_t>(x << 16 | y << 8 | 40)) ++Changed;
      if (InPlace.count(s)) {
        EXPECT_LE(Changed, W * H / 10);
      }
    }
  }
}

TEST(PictureShowEffects, ExactFramesFromTheFormulas) {
  const int32_t W = 100, H = 50;
  auto P = Make(W, H, true);
  {  // Reveal from left at 37: columns below 37 are new, the rest old.
    auto D = Make(W, H, false);
    Apply(5, D.get(), P.get(), 37);
    for (int32_t x : {0, 36, 37, 99}) {
      const uint32_t Expect = x < 37 ? uint32_t((255 - x) << 16 | 200 << 8 | 7)
                                     : uint32_t(x << 16 | 7 << 8 | 40);
      EXPECT_EQ(Px(D.get(), x, 7), Expect) << x;
    }
  }
  {  // Fade at 30: (d * 70 + s * 30) div 100 per byte.
    auto D = Make(W, H, false);
    Apply(118, D.get(), P.get(), 30);
    const int x = 10, y = 20;
    const uint32_t r = (x * 70 + (255 - x) * 30) / 100, g = (y * 70 + 200 * 30) / 100,
                   b = (40 * 70 + y * 30) / 100;
    EXPECT_EQ(Px(D.get(), x, y), r << 16 | g << 8 | b);
  }
  {  // Push right at 50: the picture's right half enters on the left, the old left half moves right.
    auto D = Make(W, H, false);
    Apply(128, D.get(), P.get(), 50);
    EXPECT_EQ(Px(D.get(), 0, 3), uint32_t((255 - 50) << 16 | 200 << 8 | 3));
    EXPECT_EQ(Px(D.get(), 49, 3), uint32_t((255 - 99) << 16 | 200 << 8 | 3));
    EXPECT_EQ(Px(D.get(), 50, 3), uint32_t(0 << 16 | 3 << 8 | 40));
    EXPECT_EQ(Px(D.get(), 99, 3), uint32_t(49 << 16 | 3 << 8 | 40));
  }
  {  // Pivot from top left at 50: 45 degrees about (-1, -1); sin = cos = trunc(0.7071 * 65536).
    auto D = Make(W, H, false);
    Apply(119, D.get(), P.get(), 50);
    const int64_t c = 46340;
    for (auto [x, y] : {std::pair{30, 10}, std::pair{5, 40}, std::pair{60, 2}}) {
      const int64_t dx = x + 1, dy = y + 1;
      const int64_t sx = ((dx * c - dy * c) >> 16) - 1, sy = ((dx * c + dy * c) >> 16) - 1;
      const uint32_t Expect = (sx >= 0 && sx < W && sy >= 0 && sy < H)
                                  ? uint32_t((255 - sx) << 16 | 200 << 8 | sy)
                                  : uint32_t(x << 16 | y << 8 | 40);
      EXPECT_EQ(Px(D.get(), x, y), Expect) << x << "," << y;
    }
  }
}

// Share of the frame that shows the new picture (its green byte is 200; the old frame's is
// the row number).
double Covered(TBitmap* D) {
  int64_t n = 0;
  for (int32_t y = 0; y < D->Height(); ++y)
    for (int32_t x = 0; x < D->Width(); ++x) n += ((Px(D, x, y) >> 8) & 0xFF) == 200;
  return 100.0 * double(n) / (double(D->Width()) * D->Height());
}

// Each style's frames grow toward the whole picture: nearly complete at 99 (no jump at 100),
// and the covered share never shrinks, except where slats move or a shape turns by design.
TEST(PictureShowEffects, EveryStyleGrowsToTheWholePicture) {
  const std::set<int32_t> Moving = {138, 139, 140, 141, 145, 146, 147, 148};
  for (auto [W, H] : {std::pair{97, 61}, std::pair{61, 97}}) {
    auto P = Make(W, H, true);
    for (int32_t s = 1; s <= EffectCount; ++s) {
      if (s == 118) continue;  // a blend: no pixel is the picture's before 100
      SCOPED_TRACE(std::to_string(s) + " " + std::to_string(W) + "x" + std::to_string(H));
      double Prev = 0, WorstDrop = 0, At99 = 0;
      for (int32_t p = 1; p <= 99; ++p) {
        auto D = Make(W, H, false);
        media::SetEffectRandSeed(7);
        Apply(s, D.get(), P.get(), uint8_t(p));
        const double c = Covered(D.get());
        WorstDrop = std::max(WorstDrop, Prev - c);
        Prev = At99 = c;
      }
      EXPECT_GE(At99, 96.0);
      const double Allowed = Moving.count(s) ? 5.0 : (s == 149 || s == 150) ? 3.0 : 0.5;
      EXPECT_LE(WorstDrop, Allowed);
    }
  }
  // A wide picture: the rectangular shred's grid pitch is not twice its growth step there.
  auto P = Make(300, 100, true), D = Make(300, 100, false);
  Apply(142, D.get(), P.get(), 99);
  EXPECT_GE(Covered(D.get()), 96.0);
}

// The same at the steps an application may choose and at larger and upright pictures: the grid
// effects (triangular and rectangular shred) take their cell count from the step, up to more
// cells than pixels; their grid must still reach the right and bottom edges before 100.
TEST(PictureShowEffects, EveryStyleGrowsToTheWholePictureAtEveryStep) {
#ifdef KD_SANITIZED
  const bool Sanitized = true;
#else
  const bool Sanitized = false;
#endif
  const std::set<int32_t> Moving = {138, 139, 140, 141, 145, 146, 147, 148, 149, 150};
  const std::vector<uint8_t> Progresses = {1, 10, 25, 40, 55, 70, 85, 95, 99};
  for (auto [W, H] : {std::pair{640, 480}, std::pair{320, 240}, std::pair{120, 400}, std::pair{300, 100},
                      std::pair{61, 97}}) {
    auto P = Make(W, H, true);
    for (uint16_t Step : {1, 9, 20, 37, 60, 100}) {
      for (int32_t s = 1; s <= EffectCount; ++s) {
        if (s == 118) continue;
        const bool Grid = s == 117 || s == 142;
        // The largest picture for the grids only; the sanitizer build samples the others on one.
        if (!Grid && (W == 640 || (Sanitized && (W != 300 || Step % 20 != 0)))) continue;
        SCOPED_TRACE("style " + std::to_string(s) + " step " + std::to_string(Step) + " " +
                     std::to_string(W) + "x" + std::to_string(H));
        double Prev = 0;
        for (uint8_t p : Progresses) {
          auto D = Make(W, H, false);
          media::SetEffectRandSeed(7);
          Apply(s, D.get(), P.get(), p, Step);
          const double c = Covered(D.get());
          if (!Moving.count(s)) {
            EXPECT_GE(c, Prev - 0.5) << "progress " << int(p);
          }
          Prev = c;
          if (p != 99) continue;
          EXPECT_GE(c, 96.0);
          if (!Grid) continue;
          // The last column and the last row show the picture too.
          int32_t Right = 0, Bottom = 0;
          for (int32_t y = 0; y < H; ++y) Right += ((Px(D.get(), W - 1, y) >> 8) & 0xFF) == 200;
          for (int32_t x = 0; x < W; ++x) Bottom += ((Px(D.get(), x, H - 1) >> 8) & 0xFF) == 200;
          EXPECT_GE(Right * 100, H * 96);
          EXPECT_GE(Bottom * 100, W * 96);
        }
      }
    }
  }
}

// All 150 styles draw different frames.
TEST(PictureShowEffects, AllStylesDiffer) {
  const int32_t W = 72, H = 52;
  auto P = Make(W, H, true);
  std::map<uint32_t, int32_t> Seen;
  for (int32_t s = 1; s <= EffectCount; ++s) {
    uint32_t Sum = 0;
    for (uint8_t p : {13, 38, 71}) {
      auto D = Make(W, H, false);
      media::SetEffectRandSeed(11);
      Apply(s, D.get(), P.get(), p);
      Sum = Sum * 31 + Checksum(D.get());
    }
    const auto [It, New] = Seen.emplace(Sum, s);
    EXPECT_TRUE(New) << s << " draws the frames of " << It->second;
  }
}

// Which part of the picture each style uncovers first: at Progress 30 the points of New show
// the picture and the points of Old still the former frame (points as percent of W and H).
TEST(PictureShowEffects, EachStyleRevealsFromItsSide) {
  struct Case {
    int32_t Style;
    std::vector<std::pair<int, int>> New, Old;
    uint8_t Progress = 30;
  };
  const std::pair<int, int> L{3, 50}, Rt{97, 50}, T{50, 3}, B{50, 97}, C{50, 50}, TL{3, 3},
      TR{97, 3}, BL{3, 97}, BR{97, 97};
  const std::vector<Case> Cases = {
      {1, {Rt}, {L}},    {2, {L}, {Rt}},    {3, {Rt}, {L}},    {4, {L}, {Rt}},
      {5, {L}, {Rt}},    {6, {Rt}, {L}},    {10, {C}, {L, Rt}}, {11, {C}, {L, Rt}},
      {12, {L, Rt}, {C}}, {13, {L, Rt}, {C}}, {14, {L}, {Rt}},  {15, {Rt}, {L}},
      {18, {B}, {T}},    {19, {T}, {B}},    {20, {B}, {T}},    {21, {T}, {B}},
      {22, {T}, {B}},    {23, {B}, {T}},    {27, {C}, {T, B}}, {28, {C}, {T, B}},
      {29, {T, B}, {C}}, {30, {T, B}, {C}}, {31, {T}, {B}},    {32, {B}, {T}},
      {35, {BR}, {TL}},  {36, {TR}, {BL}},  {37, {TL}, {BR}},  {38, {BL}, {TR}},
      {39, {BR}, {TL}},  {40, {TR}, {BL}},  {41, {TL}, {BR}},  {42, {BL}, {TR}},
      {43, {TL}, {BR}},  {44, {BL}, {TR}},  {45, {BR}, {TL}},  {46, {TR}, {BL}},
      {52, {C}, {TL, BR}}, {53, {C}, {TL, BR}}, {54, {TL, BR}, {C}}, {55, {TL, BR}, {C}},
      {56, {TL, BR}, {C}}, {57, {TL, BR}, {C}}, {58, {L}, {Rt}}, {59, {Rt}, {L}},
      {69, {T}, {B}},    {70, {B}, {T}},    {80, {TL}, {BR}},  {81, {TR}, {BL}},
      {82, {BL}, {TR}},  {83, {BR}, {TL}},  {84, {C}, {TL, BR}}, {85, {TL, BR}, {C}, 70},
      {110, {TL}, {BR}}, {111, {TR}, {BL}}, {112, {BL}, {TR}}, {113, {BR}, {TL}},
      {123, {Rt}, {L}},  {124, {L}, {Rt}},  {125, {B}, {T}},   {126, {T}, {B}},
      {128, {L}, {Rt}},  {129, {Rt}, {L}},  {130, {L}, {Rt}},  {131, {Rt}, {L}},
      {132, {T}, {B}},   {133, {B}, {T}},   {134, {T}, {B}},   {135, {B}, {T}},
      {149, {C}, {TL, BR}}, {150, {C}, {TL, BR}}};
  const int32_t W = 100, H = 80;
  auto P = Make(W, H, true);
  for (const Case& K : Cases) {
    auto D = Make(W, H, false);
    Apply(K.Style, D.get(), P.get(), K.Progress);
    auto IsNew = [&](std::pair<int, int> Q) {
      const int32_t x = std::min(W - 1, Q.first * W / 100), y = std::min(H - 1, Q.second * H / 100);
      return ((Px(D.get(), x, y) >> 8) & 0xFF) == 200;
    };
    for (auto Q : K.New) EXPECT_TRUE(IsNew(Q)) << K.Style << " at " << Q.first << "," << Q.second;
    for (auto Q : K.Old) EXPECT_FALSE(IsNew(Q)) << K.Style << " at " << Q.first << "," << Q.second;
  }
  // Strip effects: the first pass reaches across by half-way; the gaps then fill from the
  // side each row names (same side, far side or opposite of the strip).
  struct Gap {
    int32_t Style;
    int GapSide;  // 0 left/top, 1 right/bottom
  };
  for (const Gap& G : std::vector<Gap>{{60, 1}, {61, 0}, {62, 1}, {63, 0}, {71, 1}, {72, 0},
                                       {73, 1}, {74, 0}}) {
    auto D = Make(W, H, false);
    Apply(G.Style, D.get(), P.get(), 60);  // first pass done, gaps a fifth of the way
    const bool Vert = G.Style >= 71;
    // A gap line: rows 5..9 (columns 5..9 for the vertical bars), away from any strip.
    auto NewAt = [&](int32_t along) {
      const int32_t x = Vert ? 7 : along, y = Vert ? along : 7;
      return ((Px(D.get(), x, y) >> 8) & 0xFF) == 200;
    };
    const int32_t L = Vert ? H : W;
    EXPECT_EQ(NewAt(2), G.GapSide == 0) << G.Style;
    EXPECT_EQ(NewAt(L - 3), G.GapSide == 1) << G.Style;
    EXPECT_FALSE(NewAt(L / 2)) << G.Style;
  }
}

// The fast drawing gives every pixel, all four bytes, exactly as the reference drawing does.
TEST(PictureShowEffects, FastDrawingMatchesTheReference) {
  struct Reference {
    explicit Reference(bool On) { media::SetEffectReferencePath(On); }
    ~Reference() { media::SetEffectReferencePath(false); }
  };
  for (auto [W, H] : {std::pair{97, 61}, std::pair{61, 97}, std::pair{128, 96}}) {
    auto P = Make(W, H, true);
    for (int32_t s = 1; s <= EffectCount; ++s)
      for (uint16_t Step : {4, 37, 100})
        for (uint8_t p : {1, 17, 50, 83, 99}) {
          auto Fast = Make(W, H, false), Slow = Make(W, H, false);
          media::SetEffectRandSeed(5);
          Apply(s, Fast.get(), P.get(), p, Step);
          {
            Reference On(true);
            media::SetEffectRandSeed(5);
            Apply(s, Slow.get(), P.get(), p, Step);
          }
          bool Equal = true;
          for (int32_t y = 0; y < H && Equal; ++y)
            Equal = std::memcmp(Fast->ScanLine(y), Slow->ScanLine(y), size_t(W) * 4) == 0;
          EXPECT_TRUE(Equal) << "style " << s << " step " << Step << " progress " << int(p) << " "
                             << W << "x" << H;
        }
  }
}

TEST(PictureShowEffects, RandomSquaresOnlyAddUp) {
  auto P = Make(70, 50, true);
  auto Prev = Make(70, 50, false);
  Apply(127, Prev.get(), P.get(), 10);
  for (uint8_t Progress : {20, 45, 80, 99}) {
    auto D = Make(70, 50, false);
    Apply(127, D.get(), P.get(), Progress);
    for (int32_t y = 0; y < 50; ++y)
      for (int32_t x = 0; x < 70; ++x)
        if (Px(Prev.get(), x, y) == Px(P.get(), x, y)) {
          ASSERT_EQ(Px(D.get(), x, y), Px(P.get(), x, y)) << int(Progress) << " " << x << "," << y;
        }
    Prev = std::move(D);
  }
}

TEST(PictureShowEffects, BlindSlatsFollowTheFormula) {
  // 100 x 50, Step 9: extra = MulDiv(100, 9, 90) = 10, pitch 10, slats 10 * 30 div 100 = 3.
  auto P = Make(100, 50, true), D = Make(100, 50, false);
  Apply(136, D.get(), P.get(), 30, 9);
  for (int32_t x = 0; x < 100; ++x) {
    const bool New = x % 10 < 3;
    EXPECT_EQ(Px(D.get(), x, 20) == Px(P.get(), x, 20), New) << x;
  }
}

TEST(PictureShowEffects, BarsCoverTheirStrips) {
  auto P = Make(64, 40, true);
  auto D = Make(64, 40, false);
  Apply(61, D.get(), P.get(), 25);  // from the left, reaching 2w = 32 pixels
  for (int32_t y : {0, 4, 5, 9, 10, 14})
    for (int32_t x : {0, 31, 32}) {
      const bool New = y % 10 < 5 && x < 32;
      EXPECT_EQ(Px(D.get(), x, y) == Px(P.get(), x, y), New) << x << "," << y;
    }
  auto B = Make(64, 40, false);
  Apply(62, B.get(), P.get(), 75);  // past W the gaps fill back from the right: 96 - 64 = 32
  EXPECT_EQ(Px(B.get(), 63, 0), Px(P.get(), 63, 0));
  EXPECT_EQ(Px(B.get(), 32, 7), Px(P.get(), 32, 7));
  EXPECT_NE(Px(B.get(), 31, 7), Px(P.get(), 31, 7));
}

// The shred and speckle effects draw from the shared generator: the same seed, the same frame.
TEST(PictureShowEffects, RandomEffectsFollowTheSeed) {
  auto P = Make(90, 60, true);
  for (int32_t s : {65, 78, 104, 109, 123, 126}) {
    auto A = Make(90, 60, false), B = Make(90, 60, false), C = Make(90, 60, false);
    media::SetEffectRandSeed(1234);
    Apply(s, A.get(), P.get(), 40);
    media::SetEffectRandSeed(1234);
    Apply(s, B.get(), P.get(), 40);
    media::SetEffectRandSeed(99);
    Apply(s, C.get(), P.get(), 40);
    EXPECT_EQ(Checksum(A.get()), Checksum(B.get())) << s;
    EXPECT_NE(Checksum(A.get()), Checksum(C.get())) << s;
  }
}

namespace {

// The pixels of (0, 0, W, H) a set of rectangles covers, one byte a pixel.
std::vector<uint8_t> Cover(const std::vector<TRect>& Rects, int32_t W, int32_t H) {
  std::vector<uint8_t> M(size_t(W) * size_t(H), 0);
  for (const TRect& R : Rects)
    for (int32_t y = std::max(R.Top, 0); y < std::min(R.Bottom, H); ++y)
      for (int32_t x = std::max(R.Left, 0); x < std::min(R.Right, W); ++x) M[size_t(y) * W + x] = 1;
  return M;
}

}  // namespace

// The scan the fast drawing uses must give exactly the polygon region's pixels: random
// polygons (self-crossing, repeated and level points, reaching far outside the box, near the
// limit where the region cuts) against the region, in boxes smaller and larger than them.
#ifdef KD_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(PictureShowEffects, PolygonSpansMatchTheRegion) {
  uint32_t Seed = 12345;
  auto Next = [&Seed](int32_t n) {
    Seed = Seed * 134775813u + 1;
    return static_cast<int32_t>((uint64_t(Seed) * uint32_t(n)) >> 32);
  };
  const int32_t Spreads[] = {8, 40, 300, 1000};
  // KD_POLYGON_CASES asks for a longer run.
  const char* More = std::getenv("KD_POLYGON_CASES");
  const int32_t Cases = More ? std::atoi(More) : kSanitized ? 200 : 1000;
  std::vector<TRect> Spans;
  int32_t Compared = 0;
  for (int32_t Case = 0; Case < Cases; ++Case) {
    const int32_t W = 1 + Next(70), H = 1 + Next(70);
    const int32_t Spread = Case % 60 == 59 ? 34000 : Spreads[Case % 4];
    const int32_t Count = Spread > 1000 ? 3 + Next(2) : Next(10) + (Case % 7 == 0 ? 1 : 3);
    std::vector<platform::TPoint> Pts(static_cast<size_t>(Count));
    for (auto& p : Pts) {
      p = {Next(2 * Spread + 1) - Spread + W / 2, Next(2 * Spread + 1) - Spread + H / 2};
      if (Next(6) == 0 && &p != &Pts[0]) p.Y = (&p)[-1].Y;  // level edges
      if (Next(9) == 0 && &p != &Pts[0]) p = (&p)[-1];      // repeated points
    }
    const bool Scanned = media::PolygonSpans(Pts, W, H, Spans);
    const bool Inside = std::all_of(Pts.begin(), Pts.end(), [](const platform::TPoint& p) {
      return std::abs(p.X) <= (1 << 15) && std::abs(p.Y) <= (1 << 15);
    });
    ASSERT_EQ(Scanned, Inside) << Case;
    if (!Scanned) continue;
    ++Compared;
    const auto Rgn = platform::TRegion::Polygon(Pts, platform::WINDING);
    const auto A = Cover(Spans, W, H), B = Cover(Rgn.Rects(), W, H);
    if (A != B) {
      std::string Msg;
      for (const auto& p : Pts) Msg += "(" + std::to_string(p.X) + "," + std::to_string(p.Y) + ")";
      for (size_t i = 0; i < A.size() && Msg.size() < 2000; ++i)
        if (A[i] != B[i])
          Msg += " [" + std::to_string(i % W) + "," + std::to_string(i / W) +
                 (A[i] ? " scan]" : " region]");
      FAIL() << "case " << Case << " " << W << "x" << H << " " << Msg;
    }
    for (size_t i = 1; i < Spans.size(); ++i) ASSERT_LE(Spans[i - 1].Top, Spans[i].Top);
  }
  EXPECT_GT(Compared, Cases * 7 / 8);
  // Beyond the cut the caller draws through the region.
  EXPECT_FALSE(media::PolygonSpans({{0, 0}, {(1 << 15) + 1, 0}, {0, 5}}, 10, 10, Spans));
  EXPECT_TRUE(Spans.empty());
  EXPECT_TRUE(media::PolygonSpans({{0, 0}, {1 << 15, 0}, {0, 5}}, 10, 10, Spans));
  EXPECT_EQ(Spans.size(), 5u);
}

// The polygon and grid effects at full picture sizes (every Progress for the starburst,
// whose rays reach far beyond the picture; the grids at many pitches): fast and reference
// drawing give the same frame.
TEST(PictureShowEffects, FastDrawingMatchesTheReferenceAtLargeSizes) {
  struct Reference {
    explicit Reference(bool On) { media::SetEffectReferencePath(On); }
    ~Reference() { media::SetEffectReferencePath(false); }
  };
  auto Check = [](int32_t s, int32_t W, int32_t H, uint8_t p, TBitmap* P, uint16_t Step = 4) {
    auto Fast = Make(W, H, false), Slow = Make(W, H, false);
    Apply(s, Fast.get(), P, p, Step);
    {
      Reference On(true);
      Apply(s, Slow.get(), P, p, Step);
    }
    bool Equal = true;
    for (int32_t y = 0; y < H && Equal; ++y)
      Equal = std::memcmp(Fast->ScanLine(y), Slow->ScanLine(y), size_t(W) * 4) == 0;
    EXPECT_TRUE(Equal) << "style " << s << " step " << Step << " progress " << int(p) << " " << W
                       << "x" << H;
  };
  for (auto [W, H] : {std::pair{1280, 1024}, std::pair{333, 1001}, std::pair{2, 3}}) {
    if (kSanitized && W == 1280) continue;
    auto P = Make(W, H, true);
    for (int32_t p = 1; p <= 99; p += kSanitized ? 7 : 1) Check(116, W, H, uint8_t(p), P.get());
    for (int32_t s : {110, 111, 112, 113, 114, 115, 117, 136, 142, 143, 144, 149, 150})
      for (uint8_t p : {1, 33, 50, 67, 99}) Check(s, W, H, p, P.get());
    // The grids, from a few large cells to one a pixel or two.
    for (uint16_t Step : {1, 9, 37, 100})
      for (int32_t s : {117, 136, 142})
        for (uint8_t p : {1, 50, 99})
          if (s == 117 || p == 50) Check(s, W, H, p, P.get(), Step);
  }
}

// A picture without area (no columns or no rows) gets nothing drawn by any style, also by the
// pixel operations, which walk its rows.
TEST(PictureShowEffects, PicturesWithoutAreaDrawNothing) {
  for (auto [W, H] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    for (int32_t s = 1; s <= EffectCount; ++s) {
      if (!Effects(s - 1).Proc) continue;
      for (uint8_t p : {1, 50, 99}) {
        TBitmap D, P;
        for (TBitmap* B : {&D, &P}) {
          B->SetPixelFormat(platform::pf32bit);
          B->SetSize(W, H);
        }
        EXPECT_NO_THROW(Apply(s, &D, &P, p)) << "style " << s << " " << W << "x" << H;
      }
    }
  }
}

// Rotational rectangle and star frames on ordinary pictures stay as they were drawn (checksums).
TEST(PictureShowEffects, RotationalFramesOfOrdinaryPicturesStay) {
  const std::pair<int32_t, int32_t> Sizes[] = {{97, 61}, {61, 97}, {128, 96}, {640, 480}, {1024, 768}};
  for (auto [s, Want] : {std::pair{149, 4106133568u}, {150, 2102008704u}}) {
    uint32_t Sum = 0;
    for (auto [W, H] : Sizes) {
      auto P = Make(W, H, true);
      for (uint16_t Step : {4, 37})
        for (uint8_t p : {1, 17, 35, 50, 66, 83, 99}) {
          auto D = Make(W, H, false);
          Apply(s, D.get(), P.get(), p, Step);
          Sum = Sum * 31 + Checksum(D.get());
        }
    }
    EXPECT_EQ(Sum, Want) << s;
  }
}

// On long, thin pictures the frames are exactly the polygon's pixels (nonzero winding), fast and reference.
TEST(PictureShowEffects, RotationalShapesOnLongPicturesAreExact) {
  struct Case {
    int32_t W, H, Style;
    uint8_t Progress;
  };
  int32_t Far = 0;
  for (const Case& K : std::vector<Case>{{4000, 100, 150, 35}, {4000, 100, 149, 70}, {1920, 30, 150, 35},
                                         {1920, 30, 149, 99}, {20, 3000, 149, 35}, {20, 3000, 150, 5},
                                         {30000, 2, 149, 99}, {30000, 2, 150, 50}}) {
    SCOPED_TRACE(testing::Message() << K.Style << " " << K.W << "x" << K.H << " at " << int(K.Progress));
    const auto Pts = media::RotationalPolygon(K.Style, TRect{0, 0, K.W, K.H}, 4, K.Progress);
    int64_t Reach = 0;
    for (const auto& p : Pts) Reach = std::max({Reach, std::abs(int64_t(p.X)), std::abs(int64_t(p.Y))});
    Far += Reach > (1 << 15);
    EXPECT_LE(Reach, media::kExactScanLimit);
    auto P = Make(K.W, K.H, true), Fast = Make(K.W, K.H, false), Slow = Make(K.W, K.H, false);
    Apply(K.Style, Fast.get(), P.get(), K.Progress);
    media::SetEffectReferencePath(true);
    Apply(K.Style, Slow.get(), P.get(), K.Progress);
    media::SetEffectReferencePath(false);
    int64_t Wrong = 0, Shown = 0;
    for (int32_t y = 0; y < K.H; ++y)
      for (int32_t x = 0; x < K.W; ++x) {
        int32_t Wind = 0;  // of the edges crossing row y at or left of x
        for (size_t i = 0; i < Pts.size(); ++i) {
          const platform::TPoint a = Pts[i], b = Pts[(i + 1) % Pts.size()], t = a.Y < b.Y ? a : b, u = a.Y < b.Y ? b : a;
          if (a.Y != b.Y && y >= t.Y && y < u.Y &&
              int64_t(y - t.Y) * (int64_t(u.X) - t.X) <= (int64_t(x) - t.X) * (int64_t(u.Y) - t.Y))
            Wind += a.Y < b.Y ? 1 : -1;
        }
        Shown += Wind != 0;
        const uint32_t Expect = Wind ? Px(P.get(), x, y) : uint32_t(uint8_t(x) << 16 | uint8_t(y) << 8 | 40);
        Wrong += (Px(Fast.get(), x, y) != Expect) + (Px(Slow.get(), x, y) != Expect);
      }
    EXPECT_EQ(Wrong, 0);
    EXPECT_GT(Shown, 0);
  }
  EXPECT_GE(Far, 6);  // most cases reach past the region's window
}
