// One line of text as a document shape. The text is drawn white on black with the shape's
// font into its off-screen bitmap; the blue byte of that drawing becomes the alpha of the font
// colour, so text composes with antialiasing and master alpha like any other shape. With
// AutoSize the font is fitted to the box when painting, and the box follows the text when the
// text or font changes. While edited, a TdtpLineEdit holds caret and selection and the shape
// draws them in its outline.
//
// Sizes are millimetres. Font.Height is kept at Round(RenderDpm * FontHeight * 200) on a font
// of 14400 pixels per inch, so one step of Font.Height is 1/200 of a point.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/dtpEffectShape.h"
#include "document/dtpLineEdit.h"
#include "platform/Font.h"

namespace platform {
class TTimer;
}

namespace document {

class TdtpTextShape : public TdtpEffectShape {
 public:
  TdtpTextShape();
  ~TdtpTextShape() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  const std::string& Text() const { return FText; }
  virtual void SetText(const std::string& Value);
  platform::TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(platform::TAlignment Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  float FontHeight() const { return FFontHeight; }
  void SetFontHeight(float Value);
  std::string FontName() const { return FFont->Name(); }
  void SetFontName(const std::string& Value);
  uint8_t FontStyle() const { return FFont->Style().Bits(); }
  void SetFontStyle(uint8_t Value);
  platform::TColor FontColor() const { return FFont->Color(); }
  void SetFontColor(platform::TColor Value);
  platform::TFont& Font() const { return *FFont; }

  int32_t CaretIndex() const { return FCaretIndex; }
  void SetCaretIndex(int32_t Value);
  int32_t SelStart() const { return FSelStart; }
  void SetSelStart(int32_t Value);
  int32_t SelLength() const { return FSelLength; }
  void SetSelLength(int32_t Value);
  bool CaretBlink() const { return FCaretBlink; }
  TdtpLineEdit* LineEdit() const { return FLineEdit.get(); }
  bool Editing() const { return FLineEdit != nullptr; }
  // Caret positions (text length + 1) in millimetres from the left edge, and their lines.
  const std::vector<float>& CaretX() const { return FCaretX; }
  const std::vector<int32_t>& CaretLine() const { return FCaretLine; }

  void InitDefaults() override;
  void EndEdit(bool Accept) override;
  void GetDefaultSize(TdtpFloatPoint& Size) const override;
  void PaintShape(TBitmap32* Bitmap) override;
  // Caret and selection while editing; the handles otherwise.
  void PaintOutline(platform::TCanvas* Canvas) override;
  void SetDocSize(float Width, float Height) override;
  void SetParentShape(TdtpShape* Parent) override;
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;
  void StartEdit() override;
  void KeyDownHook(uint16_t& Key, platform::TShiftState Shift) override;
  void KeyPressHook(platform::TKeyChar& Key) override;
  void KeyUpHook(uint16_t Key, platform::TShiftState Shift) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  void DblClickHook() override;
  void MouseDownHook(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;

  virtual void AutoSizeToText();
  virtual void DrawText(TBitmap32* Bitmap);
  virtual void TextOrigin();
  virtual void TextExtent(float& Width, float& Height);

  // Font.Height for the current render resolution.
  int32_t ScaledFontHeight() const;

 protected:
  // Extent of one line in the shape's font, millimetres (a blank when S is empty).
  void LineExtent(const std::string& S, float& Width, float& Height);
  // Single-line caret tables of Text.
  void BuildLineCaretTables();
  uint32_t AlignFlags() const;
  platform::TRect TextRect(const TBitmap32* Bitmap) const;
  bool HitsLocal(int32_t X, int32_t Y) const;
  void EditorChanged();
  // The caret position nearest to local point (X, Y).
  int32_t CaretAt(float X, float Y) const;

  // Where the last press inside the shape was while editing (local millimetres).
  bool FHasClick = false;
  float FClickX = 0, FClickY = 0;

  bool FUpdating = false;
  platform::TAlignment FAlignment = platform::taLeftJustify;
  bool FAutoSize = true;
  bool FCaretBlink = false;
  int32_t FCaretIndex = 0;
  std::unique_ptr<platform::TTimer> FBlinkTimer;
  std::unique_ptr<TdtpLineEdit> FLineEdit;
  std::string FSavedText;
  std::string FText;
  float FFontHeight = 4.233333f;
  int32_t FSelStart = 0, FSelLength = 0;
  bool FScaleFontWithSize = true;
  std::vector<float> FCaretX;
  std::vector<int32_t> FCaretLine;
  std::unique_ptr<platform::TFont> FFont;
  // What the font stores (name, colour, style), as last seen: a change by code through Font()
  // is told from the fitting loop's height changes, which store nothing of their own.
  std::string FStoredFontName;
  platform::TColor FStoredFontColor = 0;
  uint8_t FStoredFontStyle = 0;
  int32_t FFontSetter = 0;
  void FontChanged();
  void RememberFont();
};

void InitializeDtpTextShape();
void FinalizeDtpTextShape();

}  // namespace document
