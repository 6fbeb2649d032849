// Multi-line text as a document shape: the text split into source lines at line breaks and,
// with WordWrap, wrapped to the shape's width. Lines are drawn one below the other at a pitch
// of 1.2 * FontHeight; with AutoSize the box keeps its width and takes the height of the
// wrapped text. While edited, the arrow keys move the caret by line and Enter breaks a line.
#pragma once

#include <string>
#include <vector>

#include "document/dtpTextShape.h"

namespace document {

// Splits at CR, LF or CR LF; a final line break adds no empty line, and "" gives no lines.
std::vector<std::string> SplitTextLines(const std::string& Text);
// Every line followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& Lines);

class TdtpMemoShape : public TdtpTextShape {
 public:
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  const std::vector<std::string>& Lines() const { return FLines; }
  // Replaces the lines; the text follows.
  void SetLines(const std::vector<std::string>& Value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value);
  // The lines as last drawn or measured.
  const std::vector<std::string>& WrappedLines() const { return FWrapped; }

  void InitDefaults() override;
  void SetText(const std::string& Value) override;
  // Also "WordWrap", so that its change can be undone.
  void SetPropertyByName(const std::string& Name, const std::string& Value) override;
  void SetDocSize(float Width, float Height) override;
  void StartEdit() override;
  void KeyDownHook(uint16_t& Key, platform::TShiftState Shift) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  void AutoSizeToText() override;
  void DrawText(TBitmap32* Bitmap) override;
  void TextOrigin() override;
  void TextExtent(float& Width, float& Height) override;

  // The caret navigation of the line editor: the new position for Key from Position.
  int32_t CaretNavigation(int32_t Position, uint16_t Key) const;
  // Rebuilds the wrapped lines.
  void WrapLines();
  // The same by the plain rule: every candidate cut is measured in turn. Quadratic in the
  // length of a line; kept as the reference for WrapLines.
  void WrapLinesReference();

 private:
  std::vector<std::string> FLines;
  bool FWordWrap = true;
  std::vector<std::string> FWrapped;
  std::vector<bool> FInsideBreak;  // caret positions between the CR and LF of a break
};

void InitializeDtpMemoShape();

}  // namespace document
