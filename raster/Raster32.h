// The 32-bit ARGB drawing surface and the small value types and colour helpers around it.
//
// TBitmap32 owns Width * Height TColor32 pixels, row 0 at the top, no padding between rows.
// Drawing operations write the pixels directly (opaque, blended through the routine table of
// Raster32Blend.h, or antialiased); changes are announced through OnChange unless an update is
// open (BeginUpdate/EndUpdate). Text and the BMP stream live in Raster32_Text.cpp and
// Raster32_Bmp.cpp. Start-up work (gamma table, global lock, blend table) is done by
// InitializeRaster32(), which every bitmap also calls on creation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Exceptions.h"
#include "platform/Font.h"
#include "platform/Types.h"
#include "raster/Raster32Blend.h"
#include "raster/Raster32LowLevel.h"


namespace platform {
class TBitmap;
class TCanvas;
class TGraphic;
}  // namespace platform

namespace raster {

using platform::TPoint;
using platform::TRect;

// 16.16 signed fixed point.
using TFixed = int32_t;
struct TFixedPoint {
  TFixed X = 0;
  TFixed Y = 0;
  friend bool operator==(const TFixedPoint&, const TFixedPoint&) = default;
};
using TArrayOfFixedPoint = std::vector<TFixedPoint>;
using TArrayOfArrayOfFixedPoint = std::vector<TArrayOfFixedPoint>;

struct TdtpFloatPoint {
  float X = 0;
  float Y = 0;
  friend bool operator==(const TdtpFloatPoint&, const TdtpFloatPoint&) = default;
};
struct TdtpFloatRect {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
  friend bool operator==(const TdtpFloatRect&, const TdtpFloatRect&) = default;
};

// Extent of a text, as the platform's text measuring returns it.
struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

enum TDrawMode { dmOpaque, dmBlend, dmCustom };
enum TStretchFilter { sfNearest, sfLinear, sfLinear2, sfSpline };

// Per-pixel combine callback of dmCustom: F the source pixel, B the destination pixel to
// update, M the source's master alpha.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;

// ---- Colour construction and conversion ----

inline TColor32 Color32(int32_t R, int32_t G, int32_t B, int32_t A = 0xFF) {
  return (static_cast<uint32_t>(A) << 24) + (static_cast<uint32_t>(R & 255) << 16) +
         (static_cast<uint32_t>(G & 255) << 8) + static_cast<uint32_t>(B & 255);
}
// A class-library colour ($00BBGGRR, negative = system colour) as an opaque TColor32.
TColor32 Color32(platform::TColor WinColor);
// Red and blue exchanged, alpha forced to $FF.
inline TColor32 ColorSwap(platform::TColor WinColor) {
  uint32_t c = static_cast<uint32_t>(WinColor);
  return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline int32_t RedComponent(TColor32 Color32) { return (Color32 >> 16) & 0xFF; }
inline int32_t GreenComponent(TColor32 Color32) { return (Color32 >> 8) & 0xFF; }
inline int32_t BlueComponent(TColor32 Color32) { return Color32 & 0xFF; }
inline int32_t AlphaComponent(TColor32 Color32) { return Color32 >> 24; }
// NewAlpha is clamped to 0..255.
TColor32 SetAlpha(TColor32 Color32, int32_t NewAlpha);

TColor32 HSLtoRGB(float H, float S, float L);
void RGBtoHSL(TColor32 RGB, float& H, float& S, float& L);

// Gamma table used by the antialiased points; 0.7 after start-up.
extern uint8_t GAMMA_TABLE[256];
void SetGamma(float Gamma);

// ---- Fixed point and geometry ----

// Round(S * 65536), saturated to the 32-bit range.
TFixed Fixed(float S);
TFixedPoint FixedPoint(float X, float Y);
// (A + $7FFF) shifted right by 16: an exact half rounds down.
inline int32_t FixedRound(TFixed A) {
  return static_cast<int32_t>((static_cast<int64_t>(A) + 0x7FFF) >> 16);
}

inline TPoint MakePoint(int32_t X, int32_t Y) { return {X, Y}; }
TPoint RoundPoint(const TdtpFloatPoint& P);
inline TdtpFloatPoint FloatPoint(float X, float Y) { return {X, Y}; }
inline TRect MakeRect(int32_t L, int32_t T, int32_t R, int32_t B) { return {L, T, R, B}; }
inline TdtpFloatRect FloatRect(float L, float T, float R, float B) { return {L, T, R, B}; }
// Rounding 0: each edge to nearest; 1: grown outward; 2: shrunk inward (never inverted).
TRect MakeRectRounded(const TdtpFloatRect& R, int32_t Rounding = 0);
// Unlike the platform's, an intersection of zero width or height counts as true; call it
// qualified (raster::IntersectRect) since the platform's has the same signature.
bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2);
using platform::IsRectEmpty;
using platform::OffsetRect;
using platform::PtInRect;
void OffsetFloatRect(TdtpFloatRect& R, float Dx, float Dy);
void InflateFloatRect(TdtpFloatRect& R, float Dx, float Dy);

// Clips a segment to MinX..MaxX, MinY..MaxY (inclusive); false when nothing is left.
bool ClipLine(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY, int32_t MaxX,
              int32_t MaxY);

// ---- Unit start-up ----

// Blend table, gamma 0.7 and the global lock; idempotent, also run by the first bitmap.
void InitializeRaster32();
void FinalizeRaster32();

// ---- Change-notifying persistent object ----

class TThreadPersistent : public platform::TPersistent {
 public:
  TThreadPersistent();
  ~TThreadPersistent() override;

  virtual void Changed();
  void BeginUpdate();
  // Raises "Unpaired TThreadPersistent.EndUpdate" when no update is open.
  void EndUpdate();
  void Lock();
  void Unlock();

  int32_t LockCount() const { return FLockCount; }
  int32_t UpdateCount() const { return FUpdateCount; }

  platform::TNotifyEvent OnChange;

 protected:
  int32_t FLockCount = 0;
  int32_t FUpdateCount = 0;

 private:
  std::recursive_mutex FLock;
};

class TCustomMap : public TThreadPersistent {
 public:
  virtual void Delete();
  virtual bool Empty() const;
  virtual void Resized();
  // True when either side changed.
  virtual bool SetSize(int32_t NewWidth, int32_t NewHeight);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }

  platform::TNotifyEvent OnResize;

 protected:
  int32_t FHeight = 0;
  int32_t FWidth = 0;
};

// Every image reader refuses, before allocating, an image whose pixel count exceeds what a
// TBitmap32 can hold (TBitmap32::MaxPixels); this is the one message they all raise it with.
bool ImageSizeAllowed(int64_t Width, int64_t Height);
std::string ImageTooLargeText(int64_t Width, int64_t Height);

// Deletes the bitmap's font (out of line, so the header stays light for users).
struct TFontDeleter {
  void operator()(platform::TFont* Font) const;
};

class TBitmap32 : public TCustomMap {
 public:
  // Largest pixel count SetSize and ReadData accept (1 Gi bytes of pixels).
  static constexpr int64_t MaxPixels = int64_t(1) << 28;

  TBitmap32();
  ~TBitmap32() override;

  // Also takes the class library's TBitmap (any pixel format), TGraphic, TPicture and the
  // clipboard (through a picture).
  void Assign(const platform::TPersistent* Source) override;
  bool Empty() const override;
  bool SetSize(int32_t NewWidth, int32_t NewHeight) override;

  virtual void HandleChanged();
  // The "Data" property: int32 Width, int32 Height, then the pixels top row first.
  virtual void ReadData(platform::TStream* Stream);
  virtual void WriteData(platform::TStream* Stream) const;

  // ---- Pixels ----
  TColor32* Bits() const { return FBits; }
  void Clear(TColor32 FillColor);
  TColor32* PixelPtr(int32_t X, int32_t Y) const { return FBits + static_cast<int64_t>(Y) * FWidth + X; }
  TColor32* ScanLine(int32_t Y) const { return FBits + static_cast<int64_t>(Y) * FWidth; }
  TColor32 Pixel(int32_t X, int32_t Y) const { return *PixelPtr(X, Y); }
  void SetPixel(int32_t X, int32_t Y, TColor32 Value) { *PixelPtr(X, Y) = Value; }
  TColor32 GetPixelS(int32_t X, int32_t Y) const;
  void SetPixelClipped(int32_t X, int32_t Y, TColor32 Value);
  void SetPixelT(int32_t X, int32_t Y, TColor32 Value);
  void SetPixelTS(int32_t X, int32_t Y, TColor32 Value);
  // 16.16 coordinates, antialiased.
  void SetPixelX(TFixed X, TFixed Y, TColor32 Value);
  // 24.8 coordinates, antialiased with the gamma table; T unclipped, TS clipped.
  void SetPixelT24(int32_t X, int32_t Y, TColor32 Value);
  void SetPixelTS24(int32_t X, int32_t Y, TColor32 Value);
  void ResetAlpha();

  // ---- Stipple ----
  void SetStipple(const TArrayOfColor32& NewStipple);
  void SetStipple(const TColor32* Colors, int32_t Count);
  float StippleStep() const { return FStippleStep; }
  void SetStippleStep(float Value) { FStippleStep = Value; }
  float StippleCounter() const { return FStippleCounter; }
  void SetStippleCounter(float Value) { FStippleCounter = Value; }
  void AdvanceStippleCounter(float LengthPixels);
  TColor32 GetStippleColor();

  // ---- Lines and rectangles ----
  void HorzLine(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineT(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineTSP(int32_t X1, int32_t Y, int32_t X2);
  void VertLine(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineT(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineTSP(int32_t X, int32_t Y1, int32_t Y2);

  void Line(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineS(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineT(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineTS(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineX(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);
  void LineXS(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);
  void LineXP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L = false);
  void LineXSP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L = false);

  void MoveTo(int32_t X, int32_t Y);
  void LineToS(int32_t X, int32_t Y);
  void LineToTS(int32_t X, int32_t Y);
  void MoveToX(TFixed X, TFixed Y);
  void LineToXS(TFixed X, TFixed Y);
  void LineToXSP(TFixed X, TFixed Y);

  void FillRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  // As FrameRectClipped, the pixels blended with BlendPixelInPlace.
  void FrameRectBlended(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FrameRectStippled(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);

  // ---- Drawing into other bitmaps ----
  void DrawToBitmap(TBitmap32* Dst, const TRect& DstRect);
  void DrawToRect(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect);
  // Copies the pixels onto a class-library canvas at (X, Y), alpha ignored.
  void DrawToDC(platform::TCanvas* DC, int32_t X, int32_t Y) const;

  // ---- Text (Raster32_Text.cpp) ----
  platform::TFont& Font() const { return *FFont; }
  void SetFont(const platform::TFont* Value);
  void FontChanged();
  void UpdateFont();
  TSize TextExtent(const std::string& Text);
  void Textout(const TRect& DstRect, uint32_t Flags, const std::string& Text);

  // ---- BMP stream (Raster32_Bmp.cpp) ----
  void LoadFromStream(platform::TStream* Stream);
  void SaveToStream(platform::TStream* Stream) const;

  // ---- Properties ----
  TDrawMode DrawMode() const { return FDrawMode; }
  void SetDrawMode(TDrawMode Value);
  uint32_t MasterAlpha() const { return FMasterAlpha; }
  void SetMasterAlpha(uint32_t Value);
  TColor32 OuterColor() const { return FOuterColor; }
  void SetOuterColor(TColor32 Value) { FOuterColor = Value; }
  TColor32 PenColor() const { return FPenColor; }
  void SetPenColor(TColor32 Value) { FPenColor = Value; }
  TStretchFilter StretchFilter() const { return FStretchFilter; }
  void SetStretchFilter(TStretchFilter Value);
  TPoint PenPos() const { return {FRasterX, FRasterY}; }
  TFixedPoint PenPosX() const { return {FRasterXF, FRasterYF}; }

  platform::TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;

 protected:
  // Into the class library's TBitmap (as 32-bit), TPicture or the clipboard (as that bitmap).
  void AssignTo(platform::TPersistent* Dest) const override;
  // "Data" (ReadData/WriteData) is stored when the bitmap is not empty (no ancestor), always
  // (an ancestor that is no TBitmap32), or when it differs from a TBitmap32 ancestor.
  void DefineProperties(platform::TFiler* Filer) override;

  TColor32* FBits = nullptr;
  std::unique_ptr<platform::TFont, TFontDeleter> FFont;
  // State of the text code (selected font, measurer); owned and interpreted by it.
  std::shared_ptr<void> FTextState;
  bool FFontHandleCached = false;

 private:
  void CopyFromBitmap(platform::TBitmap* Bmp);
  void AssignGraphic(const platform::TGraphic* Graphic);
  void HorzLineClippedT(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void VertLineClippedT(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  template <bool Clipped, bool Stippled>
  void LineXImpl(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L);

  std::unique_ptr<TColor32[]> FPixels;
  TDrawMode FDrawMode = dmOpaque;
  uint32_t FMasterAlpha = 255;
  TColor32 FOuterColor = 0;
  TColor32 FPenColor = 0xFFFFFFFF;
  float FStippleCounter = 0;
  TArrayOfColor32 FStipplePattern;
  float FStippleStep = 1.0f;
  TStretchFilter FStretchFilter = sfNearest;
  int32_t FRasterX = 0;
  int32_t FRasterY = 0;
  TFixed FRasterXF = 0;
  TFixed FRasterYF = 0;
  bool FDestroying = false;
};

// Both empty, or both non-empty of the same class with identical BMP serialisations.
bool BitmapsEqual(const TBitmap32* A, const TBitmap32* B);

}  // namespace raster
