// The class library's font: a persistent description (name, size, style, colour) that canvases
// and 32-bit bitmaps draw with, plus the text measurer behind it. Sizes follow the class
// library: Height is in pixels at PixelsPerInch, negative for the character height (without
// internal leading), positive for the cell height; Size is in points.
//
// Measuring and drawing go through an ITextMeasurer. The default one is backed by Qt (fonts are
// chosen by name, with the Windows core fonts mapped to their metric-compatible Liberation
// faces); tests install the fixed-advance fake so pixels and extents are exact.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Types.h"

class QPainter;

namespace platform {

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };

// A set of TFontStyle values.
class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr TFontStyles(std::initializer_list<TFontStyle> styles) {
    for (TFontStyle s : styles) FBits |= Bit(s);
  }
  static constexpr TFontStyles FromBits(uint8_t bits) {
    TFontStyles r;
    r.FBits = bits & 0x0F;
    return r;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TFontStyle s) const { return (FBits & Bit(s)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Include(TFontStyle s) { FBits |= Bit(s); }
  constexpr void Exclude(TFontStyle s) { FBits &= static_cast<uint8_t>(~Bit(s)); }
  friend constexpr bool operator==(TFontStyles, TFontStyles) = default;

 private:
  static constexpr uint8_t Bit(TFontStyle s) { return static_cast<uint8_t>(1u << s); }
  uint8_t FBits = 0;
};

enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };

using TFontCharset = uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;

// Pixels per inch of the screen, used by new fonts; 96 unless the application sets it.
int32_t ScreenPixelsPerInch();
void SetScreenPixelsPerInch(int32_t Value);

class TFont : public TPersistent {
 public:
  // Name "MS Sans Serif", Size 8, clWindowText, DEFAULT_CHARSET, fpDefault, no style, at the
  // screen's pixels per inch.
  TFont();
  std::string ClassName() const override { return "TFont"; }

  // Copies every property; when the pixels per inch differ, the point size is carried (Height
  // is recomputed for this font's PixelsPerInch). This font's PixelsPerInch is kept.
  void Assign(const TPersistent* Source) override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  // Points: -MulDiv(Height, 72, PixelsPerInch).
  int32_t Size() const;
  // Height := -MulDiv(Value, PixelsPerInch, 72).
  void SetSize(int32_t Value);
  int32_t Height() const { return FHeight; }
  void SetHeight(int32_t Value);
  // Changing PixelsPerInch keeps Height (so the point size changes), as in the class library.
  int32_t PixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int32_t Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset Value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch Value);
  // Escapement and orientation in tenths of a degree, counter-clockwise: lines are drawn
  // turned about their reference point (the top-left corner of the first character cell).
  // Measuring ignores it: extents are those of the unturned text.
  int32_t Orientation() const { return FOrientation; }
  void SetOrientation(int32_t Value);

  TNotifyEvent OnChange;

 protected:
  virtual void Changed();

 private:
  std::string FName;
  int32_t FHeight;
  int32_t FPixelsPerInch;
  TFontStyles FStyle;
  TColor FColor;
  TFontCharset FCharset = DEFAULT_CHARSET;
  TFontPitch FPitch = fpDefault;
  int32_t FOrientation = 0;
};

// Cell metrics of a font in pixels, as the platform's text metrics report them.
struct TTextMetric {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;           // Ascent + Descent
  int32_t InternalLeading = 0;  // Height less the character (em) height
  int32_t ExternalLeading = 0;
  int32_t AveCharWidth = 0;
};

// An 8-bit coverage image: 0 untouched, 255 fully covered by ink.
struct TTextMask {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Coverage;  // Width * Height, row after row

  void SetSize(int32_t W, int32_t H);
  uint8_t At(int32_t X, int32_t Y) const { return Coverage[static_cast<size_t>(Y) * Width + X]; }
};

// Measures and renders single lines of UTF-8 text in a font. Text is always taken literally
// ("&" is an ampersand, never a prefix marker); tabs and line breaks are not interpreted here.
class ITextMeasurer {
 public:
  virtual ~ITextMeasurer() = default;
  virtual TTextMetric Metrics(const TFont& Font) = 0;
  // Advance width of the whole line in pixels.
  virtual int32_t TextWidth(const TFont& Font, std::string_view Text) = 0;
  // One advance per code point of Text.
  virtual std::vector<int32_t> CharAdvances(const TFont& Font, std::string_view Text) = 0;
  // Draws the line with its cell's top-left corner at (X, Y) (the baseline is Y + Ascent) into
  // Mask, antialiased, turned by the font's Orientation about (X, Y); coverage already in the
  // mask is kept where higher. Only ink inside Clip (intersected with the mask) is written.
  virtual void RenderLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y,
                          const TRect& Clip, TTextMask& Mask) = 0;
  // Draws the line as text through Painter (a device such as a PDF file then keeps it as
  // text), in Color, placed, turned and advanced exactly as RenderLine places it. Returns false
  // when this measurer cannot; the caller then draws a mask.
  virtual bool PaintLine(const TFont& /*Font*/, std::string_view /*Text*/, int32_t /*X*/, int32_t /*Y*/,
                         TColor /*Color*/, QPainter& /*Painter*/) {
    return false;
  }

  TSize TextExtent(const TFont& Font, std::string_view Text) {
    return {TextWidth(Font, Text), Metrics(Font).Height};
  }
};

// The measurer in use (the Qt one unless replaced). Needs the application object of the GUI.
ITextMeasurer& TextMeasurer();
// Installs a measurer (nullptr restores the default); returns the one it replaces (nullptr
// for the default). The caller keeps ownership.
ITextMeasurer* SetTextMeasurer(ITextMeasurer* Measurer);

// Deterministic measurer for tests: with h = |Height| (at least 1) every code point advances
// Max(1, h / 2) pixels, Ascent = h - h / 5, Descent = h / 5; a code point other than a blank is
// drawn as a solid box from the cell's second row down to the baseline, one pixel narrower
// than its advance. Turned text covers the pixels whose centres fall in the turned boxes.
class TFakeTextMeasurer : public ITextMeasurer {
 public:
  TTextMetric Metrics(const TFont& Font) override;
  int32_t TextWidth(const TFont& Font, std::string_view Text) override;
  std::vector<int32_t> CharAdvances(const TFont& Font, std::string_view Text) override;
  void RenderLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y, const TRect& Clip,
                  TTextMask& Mask) override;

 private:
  void RenderTurned(const TFont& Font, std::string_view Text, int32_t X, int32_t Y, const TRect& Clip,
                    TTextMask& Mask);
};

// Installs a measurer for the life of the object.
class TScopedTextMeasurer {
 public:
  explicit TScopedTextMeasurer(ITextMeasurer* Measurer) : FPrevious(SetTextMeasurer(Measurer)) {}
  ~TScopedTextMeasurer() { SetTextMeasurer(FPrevious); }
  TScopedTextMeasurer(const TScopedTextMeasurer&) = delete;
  TScopedTextMeasurer& operator=(const TScopedTextMeasurer&) = delete;

 private:
  ITextMeasurer* FPrevious;
};

// Number of code points in UTF-8 text (malformed bytes count one each).
size_t Utf8Length(std::string_view Text);

// Text layout flags of the platform's DrawText, with their documented values.
constexpr uint32_t DT_TOP = 0x0000;
constexpr uint32_t DT_LEFT = 0x0000;
constexpr uint32_t DT_CENTER = 0x0001;
constexpr uint32_t DT_RIGHT = 0x0002;
constexpr uint32_t DT_VCENTER = 0x0004;
constexpr uint32_t DT_BOTTOM = 0x0008;
constexpr uint32_t DT_WORDBREAK = 0x0010;
constexpr uint32_t DT_SINGLELINE = 0x0020;
constexpr uint32_t DT_EXPANDTABS = 0x0040;
constexpr uint32_t DT_NOCLIP = 0x0100;
constexpr uint32_t DT_EXTERNALLEADING = 0x0200;
constexpr uint32_t DT_CALCRECT = 0x0400;
constexpr uint32_t DT_NOPREFIX = 0x0800;
constexpr uint32_t DT_PATH_ELLIPSIS = 0x4000;
constexpr uint32_t DT_END_ELLIPSIS = 0x8000;
constexpr uint32_t DT_RTLREADING = 0x20000;  // lines read right to left (bidirectional order)

// Lays Text out in R the way DrawText does for the alignment flags (DT_LEFT/CENTER/RIGHT; with
// DT_SINGLELINE also DT_TOP/VCENTER/BOTTOM; otherwise one line per line break from the top)
// and renders it into Mask (coordinates are the mask's), clipped to R unless DT_NOCLIP.
// DT_CALCRECT renders nothing. Returns the height of the text, and sets TextRect to the
// rectangle the text occupies.
int32_t RenderTextMask(const TFont& Font, const TRect& R, uint32_t Flags, std::string_view Text,
                       TTextMask& Mask, TRect* TextRect = nullptr);

}  // namespace platform
