// A small writer of Flash movies (SWF 6 to 10) for the sample content and the player's tests.
//
// It writes just enough for little vector animations: the header (stage size, frame rate, frame
// count), SetBackgroundColor, DefineShape with solid fills and straight edges, PlaceObject2 with a
// matrix (new or moved character), RemoveObject2, ShowFrame and End; the file is either plain
// ("FWS") or zlib-compressed after the 8-byte header ("CWS").
//
// Use:
//   tools::TSwfWriter W(550, 400, 12);             // stage in pixels, frames per second
//   W.SetBackgroundColor({255, 255, 255});
//   tools::TSwfPath Box;                            // a closed, filled, outlined square
//   Box.Points = {{0, 0}, {40, 0}, {40, 40}, {0, 40}};
//   Box.Fill = tools::TSwfRgb{200, 30, 30};
//   uint16_t Id = W.DefineShape({Box});
//   W.PlaceObject(Id, 1, 10, 10);  W.ShowFrame();  // depth 1 at (10, 10)
//   W.MoveObject(1, 20, 10);       W.ShowFrame();
//   W.SaveToFile("ball.swf", /*Compress=*/true);
// Coordinates are pixels (stored as twips, 1/20 pixel, rounded); y grows downwards.
// Header-only so that tools and tests use it without another library.
#pragma once

#include <QByteArray>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tools {

struct TSwfRgb {
  uint8_t R = 0, G = 0, B = 0;
};

struct TSwfPoint {
  double X = 0, Y = 0;
};

// One outline of a shape: a polyline from Points[0]; Closed joins the last point to the first.
// A closed path with Fill is filled; LineWidth > 0 strokes it (width in pixels).
struct TSwfPath {
  std::vector<TSwfPoint> Points;
  bool Closed = true;
  std::optional<TSwfRgb> Fill;
  double LineWidth = 0;
  TSwfRgb LineColor;
};

// Tag codes written (and read back by the tests).
enum TSwfTag : uint16_t {
  swfEnd = 0,
  swfShowFrame = 1,
  swfDefineShape = 2,
  swfSetBackgroundColor = 9,
  swfPlaceObject2 = 26,
  swfRemoveObject2 = 28,
};

// Little-endian bit and byte packing as SWF wants it (bit fields fill from the high bit).
class TSwfBits {
 public:
  void UB(uint32_t Value, int Bits) {
    for (int i = Bits - 1; i >= 0; --i) {
      FAcc = static_cast<uint8_t>((FAcc << 1) | ((Value >> i) & 1u));
      if (++FCount == 8) Flush();
    }
  }
  void SB(int32_t Value, int Bits) { UB(static_cast<uint32_t>(Value) & Mask(Bits), Bits); }
  // Pads the pending bits to a whole byte.
  void Align() {
    if (FCount == 0) return;
    FAcc = static_cast<uint8_t>(FAcc << (8 - FCount));
    Flush();
  }
  void U8(uint8_t V) { Align(); Bytes.push_back(V); }
  void U16(uint16_t V) { U8(static_cast<uint8_t>(V)); U8(static_cast<uint8_t>(V >> 8)); }
  void U32(uint32_t V) { U16(static_cast<uint16_t>(V)); U16(static_cast<uint16_t>(V >> 16)); }
  void Rgb(const TSwfRgb& C) { U8(C.R); U8(C.G); U8(C.B); }
  void Append(const std::vector<uint8_t>& B) { Align(); Bytes.insert(Bytes.end(), B.begin(), B.end()); }

  // Bits a signed field needs to hold every value given (at least 1).
  static int SignedBits(std::initializer_list<int32_t> Values) {
    int Bits = 1;
    for (int32_t V : Values) {
      uint32_t M = V < 0 ? ~static_cast<uint32_t>(V) : static_cast<uint32_t>(V);
      int N = 1;
      while (M) { ++N; M >>= 1; }
      if (N > Bits) Bits = N;
    }
    return Bits;
  }
  static int UnsignedBits(uint32_t Value) {
    int N = 0;
    while (Value) { ++N; Value >>= 1; }
    return N;
  }
  // A RECT in twips.
  void Rect(int32_t XMin, int32_t XMax, int32_t YMin, int32_t YMax) {
    int N = SignedBits({XMin, XMax, YMin, YMax});
    UB(static_cast<uint32_t>(N), 5);
    SB(XMin, N); SB(XMax, N); SB(YMin, N); SB(YMax, N);
    Align();
  }

  std::vector<uint8_t> Bytes;

 private:
  static uint32_t Mask(int Bits) { return Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1u); }
  void Flush() { Bytes.push_back(FAcc); FAcc = 0; FCount = 0; }
  uint8_t FAcc = 0;
  int FCount = 0;
};

inline int32_t SwfTwips(double Pixels) { return static_cast<int32_t>(std::lround(Pixels * 20.0)); }

class TSwfWriter {
 public:
  // Stage size in pixels, frames per second (stored as 8.8 fixed point), SWF version 6 to 10.
  TSwfWriter(int32_t Width, int32_t Height, double FrameRate, uint8_t Version = 8)
      : FWidth(Width), FHeight(Height), FFrameRate(FrameRate), FVersion(Version) {
    if (Width <= 0 || Height <= 0 || Width > 8191 || Height > 8191)
      throw std::invalid_argument("SWF stage size out of range");
    if (!(FrameRate > 0) || FrameRate >= 256) throw std::invalid_argument("SWF frame rate out of range");
    if (Version < 6 || Version > 10) throw std::invalid_argument("SWF version must be 6 to 10");
  }

  void SetBackgroundColor(const TSwfRgb& Color) {
    TSwfBits B;
    B.Rgb(Color);
    Tag(swfSetBackgroundColor, B.Bytes);
  }

  // Defines a shape of the given paths and returns its character id (1, 2, ...).
  uint16_t DefineShape(const std::vector<TSwfPath>& Paths) {
    if (FNextId == 0xFFFF) throw std::length_error("too many SWF characters");
    std::vector<TSwfRgb> Fills;
    std::vector<std::pair<uint16_t, TSwfRgb>> Lines;
    std::vector<uint32_t> FillOf, LineOf;  // 1-based style index per path, 0 = none
    int32_t X0 = INT32_MAX, Y0 = INT32_MAX, X1 = INT32_MIN, Y1 = INT32_MIN;
    for (const TSwfPath& P : Paths) {
      if (P.Points.size() < 2) throw std::invalid_argument("an SWF path needs two points");
      FillOf.push_back(P.Fill && P.Closed ? static_cast<uint32_t>(Fills.size() + 1) : 0);
      if (FillOf.back()) Fills.push_back(*P.Fill);
      uint16_t W = static_cast<uint16_t>(std::min(65535, std::max(0, SwfTwips(P.LineWidth))));
      LineOf.push_back(W > 0 ? static_cast<uint32_t>(Lines.size() + 1) : 0);
      if (W > 0) Lines.push_back({W, P.LineColor});
      int32_t Half = W / 2;
      for (const TSwfPoint& Q : P.Points) {
        int32_t X = SwfTwips(Q.X), Y = SwfTwips(Q.Y);
        X0 = std::min(X0, X - Half); X1 = std::max(X1, X + Half);
        Y0 = std::min(Y0, Y - Half); Y1 = std::max(Y1, Y + Half);
      }
    }
    if (Paths.empty()) X0 = Y0 = X1 = Y1 = 0;
    if (Fills.size() > 255 || Lines.size() > 255) throw std::length_error("too many SWF styles in one shape");

    TSwfBits B;
    uint16_t Id = FNextId++;
    B.U16(Id);
    B.Rect(X0, X1, Y0, Y1);
    B.U8(static_cast<uint8_t>(Fills.size()));
    for (const TSwfRgb& F : Fills) { B.U8(0x00); B.Rgb(F); }  // solid fill
    B.U8(static_cast<uint8_t>(Lines.size()));
    for (const auto& L : Lines) { B.U16(L.first); B.Rgb(L.second); }
    int FillBits = TSwfBits::UnsignedBits(static_cast<uint32_t>(Fills.size()));
    int LineBits = TSwfBits::UnsignedBits(static_cast<uint32_t>(Lines.size()));
    B.UB(static_cast<uint32_t>(FillBits), 4);
    B.UB(static_cast<uint32_t>(LineBits), 4);
    int32_t PenX = 0, PenY = 0;
    for (size_t i = 0; i < Paths.size(); ++i) {
      const TSwfPath& P = Paths[i];
      // Style change: move to the first point and select this path's styles (0 clears them).
      int32_t MX = SwfTwips(P.Points[0].X), MY = SwfTwips(P.Points[0].Y);
      B.UB(0, 1);                       // non-edge record
      B.UB(0, 1);                       // no new styles
      B.UB(LineBits ? 1 : 0, 1);        // line style
      B.UB(0, 1);                       // fill style 1
      B.UB(FillBits ? 1 : 0, 1);        // fill style 0
      B.UB(1, 1);                       // move to
      int MB = TSwfBits::SignedBits({MX, MY});
      B.UB(static_cast<uint32_t>(MB), 5);
      B.SB(MX, MB);
      B.SB(MY, MB);
      if (FillBits) B.UB(FillOf[i], FillBits);
      if (LineBits) B.UB(LineOf[i], LineBits);
      PenX = MX;
      PenY = MY;
      size_t N = P.Points.size() + (P.Closed ? 1 : 0);
      for (size_t k = 1; k < N; ++k) {
        const TSwfPoint& Q = P.Points[k % P.Points.size()];
        int32_t X = SwfTwips(Q.X), Y = SwfTwips(Q.Y);
        int32_t DX = X - PenX, DY = Y - PenY;
        if (DX == 0 && DY == 0) continue;
        int NB = std::max(2, TSwfBits::SignedBits({DX, DY}));
        if (NB > 17) throw std::invalid_argument("SWF edge too long");
        B.UB(1, 1);                            // edge record
        B.UB(1, 1);                            // straight
        B.UB(static_cast<uint32_t>(NB - 2), 4);
        B.UB(1, 1);                            // general line: both deltas
        B.SB(DX, NB);
        B.SB(DY, NB);
        PenX = X;
        PenY = Y;
      }
    }
    B.UB(0, 6);  // end of shape
    B.Align();
    Tag(swfDefineShape, B.Bytes);
    return Id;
  }

  // Puts character Id at Depth with the given position (pixels), scale and rotation (degrees,
  // clockwise on screen).
  void PlaceObject(uint16_t Id, uint16_t Depth, double X, double Y, double ScaleX = 1, double ScaleY = 1,
                   double RotationDeg = 0) {
    Place(false, Id, Depth, X, Y, ScaleX, ScaleY, RotationDeg);
  }
  // Changes the matrix of the character already at Depth.
  void MoveObject(uint16_t Depth, double X, double Y, double ScaleX = 1, double ScaleY = 1, double RotationDeg = 0) {
    Place(true, 0, Depth, X, Y, ScaleX, ScaleY, RotationDeg);
  }
  void RemoveObject(uint16_t Depth) {
    TSwfBits B;
    B.U16(Depth);
    Tag(swfRemoveObject2, B.Bytes);
  }
  void ShowFrame() {
    if (FFrames == 0xFFFF) throw std::length_error("too many SWF frames");
    Tag(swfShowFrame, {});
    ++FFrames;
  }
  uint16_t FrameCount() const { return FFrames; }

  // The whole file. A movie without frames gets one, so players always have something to show.
  std::vector<uint8_t> Finish(bool Compress) const {
    TSwfBits Body;
    Body.Rect(0, FWidth * 20, 0, FHeight * 20);
    Body.U16(static_cast<uint16_t>(std::lround(FFrameRate * 256.0)));
    Body.U16(FFrames ? FFrames : 1);
    Body.Append(FTags.Bytes);
    if (!FFrames) Body.Append({0x40, 0x00});  // ShowFrame
    Body.Append({0x00, 0x00});                 // End
    uint64_t Total = 8 + Body.Bytes.size();
    if (Total > 0xFFFFFFFFull) throw std::length_error("SWF file too large");
    std::vector<uint8_t> Out = {static_cast<uint8_t>(Compress ? 'C' : 'F'), 'W', 'S', FVersion};
    for (int i = 0; i < 4; ++i) Out.push_back(static_cast<uint8_t>(Total >> (8 * i)));
    if (!Compress) {
      Out.insert(Out.end(), Body.Bytes.begin(), Body.Bytes.end());
      return Out;
    }
    // qCompress prefixes the zlib stream with the length (4 bytes, big-endian): drop it.
    QByteArray Z = qCompress(reinterpret_cast<const uchar*>(Body.Bytes.data()),
                             static_cast<qsizetype>(Body.Bytes.size()), 9);
    Out.insert(Out.end(), Z.begin() + 4, Z.end());
    return Out;
  }

  void SaveToFile(const std::string& FileName, bool Compress) const {
    std::vector<uint8_t> Data = Finish(Compress);
    std::ofstream F(FileName, std::ios::binary | std::ios::trunc);
    F.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
    if (!F.good()) throw std::runtime_error("cannot write " + FileName);
  }

 private:
  void Tag(uint16_t Code, const std::vector<uint8_t>& Body) {
    if (Body.size() < 63) {
      FTags.U16(static_cast<uint16_t>((Code << 6) | Body.size()));
    } else {
      FTags.U16(static_cast<uint16_t>((Code << 6) | 0x3F));
      FTags.U32(static_cast<uint32_t>(Body.size()));
    }
    FTags.Append(Body);
  }

  void Place(bool Move, uint16_t Id, uint16_t Depth, double X, double Y, double SX, double SY, double Deg) {
    TSwfBits B;
    B.U8(static_cast<uint8_t>(0x04 | (Move ? 0x01 : 0x02)));  // has matrix; move or new character
    B.U16(Depth);
    if (!Move) B.U16(Id);
    double R = Deg * 3.14159265358979323846 / 180.0;
    auto Fixed = [](double V) { return static_cast<int32_t>(std::lround(V * 65536.0)); };
    int32_t A = Fixed(SX * std::cos(R)), D = Fixed(SY * std::cos(R));
    int32_t Bk = Fixed(SX * std::sin(R)), C = Fixed(-SY * std::sin(R));
    bool HasScale = !(A == 65536 && D == 65536);
    bool HasRotate = Bk != 0 || C != 0;
    B.UB(HasScale ? 1 : 0, 1);
    if (HasScale) {
      int N = TSwfBits::SignedBits({A, D});
      B.UB(static_cast<uint32_t>(N), 5);
      B.SB(A, N);
      B.SB(D, N);
    }
    B.UB(HasRotate ? 1 : 0, 1);
    if (HasRotate) {
      int N = TSwfBits::SignedBits({Bk, C});
      B.UB(static_cast<uint32_t>(N), 5);
      B.SB(Bk, N);
      B.SB(C, N);
    }
    int32_t TX = SwfTwips(X), TY = SwfTwips(Y);
    int N = (TX == 0 && TY == 0) ? 0 : TSwfBits::SignedBits({TX, TY});
    B.UB(static_cast<uint32_t>(N), 5);
    if (N) { B.SB(TX, N); B.SB(TY, N); }
    B.Align();
    Tag(swfPlaceObject2, B.Bytes);
  }

  int32_t FWidth, FHeight;
  double FFrameRate;
  uint8_t FVersion;
  uint16_t FNextId = 1;
  uint16_t FFrames = 0;
  TSwfBits FTags;
};

// Little demonstration movies for the sample content and the tests, 400 x 300 pixels.
enum TSwfDemo { sdLadder, sdFootsteps, sdBall };

inline std::vector<uint8_t> SwfDemoMovie(TSwfDemo Kind, bool Compress, uint8_t Version = 8) {
  TSwfWriter W(400, 300, 12, Version);
  W.SetBackgroundColor({255, 255, 240});
  const TSwfRgb Wood{150, 95, 40}, Ink{30, 30, 30}, Red{210, 40, 40}, Blue{40, 80, 200};
  auto Box = [](double X, double Y, double Wd, double H, TSwfRgb Fill) {
    TSwfPath P;
    P.Points = {{X, Y}, {X + Wd, Y}, {X + Wd, Y + H}, {X, Y + H}};
    P.Fill = Fill;
    return P;
  };
  // A ball: a filled 16-gon of radius 18 round its own origin, outlined.
  TSwfPath Ball;
  for (int i = 0; i < 16; ++i)
    Ball.Points.push_back({18 * std::cos(i * 3.14159265358979 / 8), 18 * std::sin(i * 3.14159265358979 / 8)});
  Ball.Fill = Red;
  Ball.LineWidth = 2;
  Ball.LineColor = Ink;
  // A footprint: a sole and a heel round its own origin.
  TSwfPath Sole = Box(-10, -24, 20, 30, Blue), Heel = Box(-8, 10, 16, 12, Blue);
  switch (Kind) {
    case sdLadder: {
      // A ladder on the floor, a ball hopping from rung to rung.
      std::vector<TSwfPath> Ladder = {Box(40, 130, 320, 8, Wood), Box(40, 200, 320, 8, Wood)};
      for (int i = 0; i < 9; ++i) Ladder.push_back(Box(40 + i * 39, 130, 6, 78, Wood));
      uint16_t L = W.DefineShape(Ladder), B = W.DefineShape({Ball});
      W.PlaceObject(L, 1, 0, 0);
      for (int f = 0; f < 24; ++f) {
      double X = 60 + f * 12.5, Y = 169 - 40 * std::fabs(std::sin(f * 3.14159265358979 / 3));
        if (f == 0) W.PlaceObject(B, 2, X, Y); else W.MoveObject(2, X, Y);
        W.ShowFrame();
      }
      break;
    }
    case sdFootsteps: {
      // Steps appearing one after the other, left and right, across the stage.
      uint16_t S = W.DefineShape({Sole, Heel});
      for (int f = 0; f < 8; ++f) {
        W.PlaceObject(S, static_cast<uint16_t>(f + 1), 50 + f * 42, f % 2 ? 120 : 180, 1, 1, 90);
        W.ShowFrame();
      }
      for (int f = 0; f < 8; ++f) { W.RemoveObject(static_cast<uint16_t>(f + 1)); W.ShowFrame(); }
      break;
    }
    case sdBall: {
      // A ball rolling to and fro over a floor line.
      TSwfPath Floor;
      Floor.Points = {{20, 250}, {380, 250}};
      Floor.Closed = false;
      Floor.LineWidth = 4;
      Floor.LineColor = Ink;
      uint16_t Fl = W.DefineShape({Floor}), B = W.DefineShape({Ball});
      W.PlaceObject(Fl, 1, 0, 0);
      for (int f = 0; f < 36; ++f) {
        double T = f < 18 ? f : 36 - f;
        if (f == 0) W.PlaceObject(B, 2, 40 + T * 18, 230); else W.MoveObject(2, 40 + T * 18, 230, 1, 1, f * 20);
        W.ShowFrame();
      }
      break;
    }
  }
  return W.Finish(Compress);
}

}  // namespace tools
