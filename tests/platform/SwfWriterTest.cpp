// The SWF writer, read back by a small independent reader of the header, the tags, shapes and
// placement matrices; the compressed form must inflate to the plain one.
#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tools/SwfWriter.h"

namespace {

struct Reader {
  const std::vector<uint8_t>& D;
  size_t Pos = 0;
  int BitPos = 0;  // bits used of D[Pos]
  explicit Reader(const std::vector<uint8_t>& Data, size_t Start = 0) : D(Data), Pos(Start) {}
  void Align() { if (BitPos) { BitPos = 0; ++Pos; } }
  uint32_t UB(int N) {
    uint32_t V = 0;
    for (int i = 0; i < N; ++i) {
      if (Pos >= D.size()) throw std::out_of_range("bits past the end");
      V = (V << 1) | ((D[Pos] >> (7 - BitPos)) & 1u);
      if (++BitPos == 8) { BitPos = 0; ++Pos; }
    }
    return V;
  }
  int32_t SB(int N) {
    if (N == 0) return 0;
    uint32_t V = UB(N);
    if (N < 32 && ((V >> (N - 1)) & 1u)) V |= ~0u << N;
    return static_cast<int32_t>(V);
  }
  uint8_t U8() { Align(); if (Pos >= D.size()) throw std::out_of_range("byte past the end"); return D[Pos++]; }
  uint16_t U16() { uint16_t L = U8(); return static_cast<uint16_t>(L | (U8() << 8)); }
  uint32_t U32() { uint32_t L = U16(); return L | (static_cast<uint32_t>(U16()) << 16); }
  std::vector<int32_t> Rect() {
    int N = static_cast<int>(UB(5));
    std::vector<int32_t> R = {SB(N), SB(N), SB(N), SB(N)};
    Align();
    return R;
  }
};

struct Tag {
  uint16_t Code;
  bool Long;
  std::vector<uint8_t> Body;
};

struct Movie {
  char Sig;
  uint8_t Version;
  uint32_t Length;
  std::vector<int32_t> Frame;
  uint16_t Rate;
  uint16_t Frames;
  std::vector<Tag> Tags;
};

// The plain bytes of a movie: CWS inflated (the stored length must match), FWS as is.
std::vector<uint8_t> Plain(const std::vector<uint8_t>& File) {
  if (File.size() < 8) throw std::runtime_error("short file");
  if (File[0] == 'F') return File;
  uint32_t Len = File[4] | File[5] << 8 | File[6] << 16 | static_cast<uint32_t>(File[7]) << 24;
  uint32_t Body = Len - 8;
  QByteArray Z;
  Z.append(static_cast<char>(Body >> 24)).append(static_cast<char>(Body >> 16));
  Z.append(static_cast<char>(Body >> 8)).append(static_cast<char>(Body));
  Z.append(reinterpret_cast<const char*>(File.data() + 8), static_cast<qsizetype>(File.size() - 8));
  QByteArray U = qUncompress(Z);
  std::vector<uint8_t> Out(File.begin(), File.begin() + 8);
  Out[0] = 'F';
  Out.insert(Out.end(), U.begin(), U.end());
  return Out;
}

Movie Parse(const std::vector<uint8_t>& File) {
  std::vector<uint8_t> P = Plain(File);
  Reader R(P);
  Movie M;
  M.Sig = static_cast<char>(File[0]);
  EXPECT_EQ(P[1], 'W');
  EXPECT_EQ(P[2], 'S');
  M.Version = P[3];
  R.Pos = 4;
  M.Length = R.U32();
  EXPECT_EQ(M.Length, P.size());
  M.Frame = R.Rect();
  M.Rate = R.U16();
  M.Frames = R.U16();
  for (;;) {
    uint16_t H = R.U16();
    Tag T{static_cast<uint16_t>(H >> 6), false, {}};
    uint32_t Len = H & 0x3F;
    if (Len == 0x3F) { Len = R.U32(); T.Long = true; }
    if (R.Pos + Len > P.size()) throw std::out_of_range("tag past the end");
    T.Body.assign(P.begin() + static_cast<long>(R.Pos), P.begin() + static_cast<long>(R.Pos + Len));
    R.Pos += Len;
    M.Tags.push_back(T);
    if (T.Code == 0) break;
  }
  EXPECT_EQ(R.Pos, P.size()) << "bytes after the End tag";
  return M;
}

struct Edge { int32_t X, Y; };
struct ReadPath { uint32_t Fill, Line; std::vector<Edge> Points; };
struct ReadShape {
  uint16_t Id;
  std::vector<int32_t> Bounds;
  std::vector<tools::TSwfRgb> Fills;
  std::vector<std::pair<uint16_t, tools::TSwfRgb>> Lines;
  std::vector<ReadPath> Paths;
};

ReadShape ParseShape(const std::vector<uint8_t>& Body) {
  Reader R(Body);
  ReadShape S;
  S.Id = R.U16();
  S.Bounds = R.Rect();
  for (int n = R.U8(), i = 0; i < n; ++i) {
    EXPECT_EQ(R.U8(), 0x00) << "solid fill";
    S.Fills.push_back({R.U8(), R.U8(), R.U8()});
  }
  for (int n = R.U8(), i = 0; i < n; ++i) {
    uint16_t W = R.U16();
    S.Lines.push_back({W, {R.U8(), R.U8(), R.U8()}});
  }
  int FillBits = static_cast<int>(R.UB(4)), LineBits = static_cast<int>(R.UB(4));
  int32_t X = 0, Y = 0;
  uint32_t Fill = 0, Line = 0;
  for (;;) {
    if (R.UB(1) == 0) {
      uint32_t F = R.UB(5);
      if (F == 0) break;
      EXPECT_FALSE(F & 0x10) << "new styles are never written";
      if (F & 0x01) { int N = static_cast<int>(R.UB(5)); X = R.SB(N); Y = R.SB(N); }
      if (F & 0x02) Fill = R.UB(FillBits);
      EXPECT_FALSE(F & 0x04) << "fill style 1 is never used";
      if (F & 0x08) Line = R.UB(LineBits);
      S.Paths.push_back({Fill, Line, {{X, Y}}});
    } else {
      EXPECT_EQ(R.UB(1), 1u) << "straight edges only";
      int N = static_cast<int>(R.UB(4)) + 2;
      EXPECT_EQ(R.UB(1), 1u) << "general lines";
      X += R.SB(N);
      Y += R.SB(N);
      S.Paths.back().Points.push_back({X, Y});
    }
  }
  R.Align();
  EXPECT_EQ(R.Pos, Body.size());
  return S;
}

struct ReadPlace { uint8_t Flags; uint16_t Depth, Id; double A = 1, B = 0, C = 0, D = 1; int32_t TX = 0, TY = 0; };

ReadPlace ParsePlace(const std::vector<uint8_t>& Body) {
  Reader R(Body);
  ReadPlace P{};
  P.Flags = R.U8();
  P.Depth = R.U16();
  P.Id = (P.Flags & 0x02) ? R.U16() : 0;
  EXPECT_TRUE(P.Flags & 0x04);
  if (R.UB(1)) { int N = static_cast<int>(R.UB(5)); P.A = R.SB(N) / 65536.0; P.D = R.SB(N) / 65536.0; }
  if (R.UB(1)) { int N = static_cast<int>(R.UB(5)); P.B = R.SB(N) / 65536.0; P.C = R.SB(N) / 65536.0; }
  int N = static_cast<int>(R.UB(5));
  P.TX = R.SB(N);
  P.TY = R.SB(N);
  R.Align();
  EXPECT_EQ(R.Pos, Body.size());
  return P;
}

}  // namespace

TEST(SwfWriter, HeaderAndFrames) {
  for (uint8_t Version : {6, 8, 10}) {
    tools::TSwfWriter W(550, 400, 29.97, Version);
    W.SetBackgroundColor({1, 2, 3});
    W.ShowFrame();
    W.ShowFrame();
    Movie M = Parse(W.Finish(false));
    EXPECT_EQ(M.Sig, 'F');
    EXPECT_EQ(M.Version, Version);
    EXPECT_EQ(M.Frame, (std::vector<int32_t>{0, 11000, 0, 8000}));
    EXPECT_EQ(M.Rate, 7672);  // 29.97 * 256, rounded
    EXPECT_EQ(M.Frames, 2);
    ASSERT_EQ(M.Tags.size(), 4u);
    EXPECT_EQ(M.Tags[0].Code, tools::swfSetBackgroundColor);
    EXPECT_EQ(M.Tags[0].Body, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(M.Tags[1].Code, tools::swfShowFrame);
    EXPECT_EQ(M.Tags[3].Code, tools::swfEnd);
  }
  // A movie without frames still gets one.
  Movie Empty = Parse(tools::TSwfWriter(10, 10, 12).Finish(false));
  EXPECT_EQ(Empty.Rate, 12 * 256);
  EXPECT_EQ(Empty.Frames, 1);
  ASSERT_EQ(Empty.Tags.size(), 2u);
  EXPECT_EQ(Empty.Tags[0].Code, tools::swfShowFrame);
}

TEST(SwfWriter, CompressedInflatesToPlain) {
  for (tools::TSwfDemo Kind : {tools::sdLadder, tools::sdFootsteps, tools::sdBall}) {
    std::vector<uint8_t> F = tools::SwfDemoMovie(Kind, false), C = tools::SwfDemoMovie(Kind, true);
    ASSERT_EQ(std::string(C.begin(), C.begin() + 3), "CWS");
    EXPECT_EQ(std::vector<uint8_t>(C.begin() + 3, C.begin() + 8), std::vector<uint8_t>(F.begin() + 3, F.begin() + 8))
        << "version and uncompressed length";
    EXPECT_EQ(C[8], 0x78) << "a zlib stream follows the header";
    EXPECT_EQ(Plain(C), F);
    Movie M = Parse(C);
    int Shown = 0;
    for (const Tag& T : M.Tags) Shown += T.Code == tools::swfShowFrame;
    EXPECT_EQ(Shown, M.Frames);
    EXPECT_GT(M.Frames, 1);
  }
}

TEST(SwfWriter, ShapesReadBack) {
  tools::TSwfWriter W(400, 300, 12);
  tools::TSwfPath Box;
  Box.Points = {{-10, -5.5}, {30, -5.5}, {30, 20}, {-10, 20}};
  Box.Fill = tools::TSwfRgb{200, 30, 40};
  tools::TSwfPath Line;
  Line.Points = {{0, 0}, {300.05, 0}, {300.05, 1000}};  // long edges need wide fields
  Line.Closed = false;
  Line.LineWidth = 2.5;
  Line.LineColor = {5, 6, 7};
  tools::TSwfPath Both = Box;
  Both.Fill = tools::TSwfRgb{1, 1, 1};
  Both.LineWidth = 1;
  EXPECT_EQ(W.DefineShape({Box, Line, Both}), 1);
  EXPECT_EQ(W.DefineShape({Box}), 2);
  Movie M = Parse(W.Finish(false));
  ASSERT_EQ(M.Tags[0].Code, tools::swfDefineShape);
  ReadShape S = ParseShape(M.Tags[0].Body);
  EXPECT_EQ(S.Id, 1);
  ASSERT_EQ(S.Fills.size(), 2u);
  EXPECT_EQ(S.Fills[0].R, 200);
  EXPECT_EQ(S.Fills[1].G, 1);
  ASSERT_EQ(S.Lines.size(), 2u);
  EXPECT_EQ(S.Lines[0].first, 50);  // 2.5 px in twips
  EXPECT_EQ(S.Lines[0].second.B, 7);
  EXPECT_EQ(S.Lines[1].first, 20);
  ASSERT_EQ(S.Paths.size(), 3u);
  // Closed paths come back to their start; coordinates are twips, rounded.
  EXPECT_EQ(S.Paths[0].Fill, 1u);
  EXPECT_EQ(S.Paths[0].Line, 0u);
  ASSERT_EQ(S.Paths[0].Points.size(), 5u);
  EXPECT_EQ(S.Paths[0].Points[0].X, -200);
  EXPECT_EQ(S.Paths[0].Points[0].Y, -110);
  EXPECT_EQ(S.Paths[0].Points[2].X, 600);
  EXPECT_EQ(S.Paths[0].Points[2].Y, 400);
  EXPECT_EQ(S.Paths[0].Points[4].X, -200);
  EXPECT_EQ(S.Paths[0].Points[4].Y, -110);
  EXPECT_EQ(S.Paths[1].Fill, 0u);  // an open path is never filled
  EXPECT_EQ(S.Paths[1].Line, 1u);
  ASSERT_EQ(S.Paths[1].Points.size(), 3u);
  EXPECT_EQ(S.Paths[1].Points[2].X, 6001);
  EXPECT_EQ(S.Paths[1].Points[2].Y, 20000);
  EXPECT_EQ(S.Paths[2].Fill, 2u);
  EXPECT_EQ(S.Paths[2].Line, 2u);
  // Bounds hold every point and half the widest line.
  EXPECT_EQ(S.Bounds, (std::vector<int32_t>{-210, 6026, -120, 20025}));
  EXPECT_EQ(ParseShape(M.Tags[1].Body).Id, 2);
}

TEST(SwfWriter, LongTagsUseTheLongHeader) {
  tools::TSwfWriter W(100, 100, 12);
  tools::TSwfPath P;
  for (int i = 0; i < 40; ++i) P.Points.push_back({static_cast<double>(i), static_cast<double>(i % 7)});
  P.Fill = tools::TSwfRgb{9, 9, 9};
  W.DefineShape({P});
  tools::TSwfPath Small;
  Small.Points = {{0, 0}, {1, 1}};
  Small.Closed = false;
  W.DefineShape({Small});
  Movie M = Parse(W.Finish(false));
  EXPECT_TRUE(M.Tags[0].Long);
  EXPECT_GE(M.Tags[0].Body.size(), 63u);
  EXPECT_FALSE(M.Tags[1].Long);
  EXPECT_EQ(ParseShape(M.Tags[0].Body).Paths[0].Points.size(), 41u);
}

TEST(SwfWriter, PlacementMatrices) {
  tools::TSwfWriter W(100, 100, 12);
  W.PlaceObject(7, 3, 12.5, -4);
  W.MoveObject(3, 0, 0, 2, 0.5);
  W.MoveObject(3, 1, 1, 1, 1, 90);
  W.RemoveObject(3);
  Movie M = Parse(W.Finish(false));
  ReadPlace A = ParsePlace(M.Tags[0].Body);
  EXPECT_EQ(A.Flags, 0x06);  // new character with a matrix
  EXPECT_EQ(A.Depth, 3);
  EXPECT_EQ(A.Id, 7);
  EXPECT_EQ(A.A, 1);
  EXPECT_EQ(A.B, 0);
  EXPECT_EQ(A.TX, 250);
  EXPECT_EQ(A.TY, -80);
  ReadPlace B = ParsePlace(M.Tags[1].Body);
  EXPECT_EQ(B.Flags, 0x05);  // move
  EXPECT_EQ(B.Id, 0);
  EXPECT_EQ(B.A, 2);
  EXPECT_EQ(B.D, 0.5);
  EXPECT_EQ(B.TX, 0);
  ReadPlace C = ParsePlace(M.Tags[2].Body);
  EXPECT_NEAR(C.A, 0, 1e-4);
  EXPECT_NEAR(C.B, 1, 1e-4);   // x' gains y from x: clockwise on screen
  EXPECT_NEAR(C.C, -1, 1e-4);
  EXPECT_EQ(C.TX, 20);
  EXPECT_EQ(M.Tags[3].Code, tools::swfRemoveObject2);
  EXPECT_EQ(M.Tags[3].Body, (std::vector<uint8_t>{3, 0}));
}

TEST(SwfWriter, RefusesWhatItCannotWrite) {
  EXPECT_THROW(tools::TSwfWriter(0, 10, 12), std::invalid_argument);
  EXPECT_THROW(tools::TSwfWriter(10, 8192, 12), std::invalid_argument);
  EXPECT_THROW(tools::TSwfWriter(10, 10, 0), std::invalid_argument);
  EXPECT_THROW(tools::TSwfWriter(10, 10, 256), std::invalid_argument);
  EXPECT_THROW(tools::TSwfWriter(10, 10, 12, 5), std::invalid_argument);
  EXPECT_THROW(tools::TSwfWriter(10, 10, 12, 11), std::invalid_argument);
  tools::TSwfWriter W(10, 10, 12);
  tools::TSwfPath One;
  One.Points = {{1, 1}};
  EXPECT_THROW(W.DefineShape({One}), std::invalid_argument);
  tools::TSwfPath Far;
  Far.Points = {{0, 0}, {8000, 0}};  // 160000 twips: more than an edge field holds
  EXPECT_THROW(W.DefineShape({Far}), std::invalid_argument);
}
