// The editing state of a text shape's text: caret, selection, an optional length limit and
// case conversion, the keys that change them and the clipboard commands. It draws nothing;
// the owning shape forwards its keys and repaints when OnChange reports a change.
//
// The text is UTF-8; every position and length counts characters (code points). The caret keys
// and Delete step over a character as shown (a letter with its combining marks, an emoji with
// its modifiers, a CR LF pair), as the platform's editors do; Backspace takes one code point.
// Inserted text keeps every character a stored document can hold; "ĳ" and "Ĳ" are spelt "ij"
// and "IJ", control characters other than tab and line breaks are left out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Controls.h"
#include "platform/Types.h"

namespace document {

// Code points of UTF-8 text (malformed bytes give U+FFFD) and back.
std::u32string Utf8ToChars(std::string_view S);
std::string CharsToUtf8(std::u32string_view S);
// S with ĳ/Ĳ spelt out and every character a stored document cannot hold left out.
std::u32string StorableChars(std::u32string_view S);

class TdtpLineEdit : public platform::TObject {
 public:
  // Decides where a navigation key (35..40) moves the caret from Pos.
  using TCaretKeyEvent = std::function<int32_t(platform::TObject* Sender, int32_t Pos, uint16_t Key)>;

  TdtpLineEdit() = default;
  std::string ClassName() const override { return "TdtpLineEdit"; }

  const std::string& Text() const { return FText; }
  void SetText(const std::string& S);
  int32_t CaretPos() const { return FCaret; }
  void SetCaretPos(int32_t V) { FCaret = V; }
  int32_t SelStart() const { return FSelStart; }
  void SetSelStart(int32_t V) { FSelStart = V; }
  int32_t SelLength() const { return FSelLength; }
  void SetSelLength(int32_t V) { FSelLength = V; }
  // Characters of the text.
  int32_t Length() const { return int32_t(FChars.size()); }
  const std::u32string& Chars() const { return FChars; }
  // 0: no limit.
  int32_t MaxLength() const { return FMaxLength; }
  void SetMaxLength(int32_t V) { FMaxLength = V; }
  // 0 none, 1 upper case, 2 lower case for inserted text.
  uint8_t CaseMode() const { return FCaseMode; }
  void SetCaseMode(uint8_t V) { FCaseMode = V; }

  void SelectAll();
  std::string SelText() const;
  std::string CutSelText();
  void InsertText(const std::string& S);
  void Normalize();

  virtual void KeyDown(uint16_t& Key, platform::TShiftState Shift);
  virtual void KeyPress(platform::TKeyChar& Key);
  virtual void KeyUp(uint16_t /*Key*/, platform::TShiftState /*Shift*/) {}

  TCaretKeyEvent OnCaretKey;
  platform::TNotifyEvent OnChange;

 private:
  void DoChange();
  // FText follows FChars after every change of the characters.
  void CharsChanged() { FText = CharsToUtf8(FChars); }

  int32_t FCaret = 0;
  uint8_t FCaseMode = 0;
  int32_t FMaxLength = 0;
  int32_t FSelLength = 0;
  int32_t FSelStart = 0;
  std::u32string FChars;
  std::string FText;
};

}  // namespace document
