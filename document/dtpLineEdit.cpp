#include "document/dtpLineEdit.h"

#include <algorithm>
#include <climits>

#include "platform/Clipboard.h"
#include "platform/SysUtils.h"

namespace document {

void TdtpLineEdit::DoChange() {
  if (OnChange) OnChange(this);
}

void TdtpLineEdit::SetText(const std::string& S) {
  if (S != FText) {
    FText = S;
    FCaret = Length();
    FSelStart = 0;
    FSelLength = 0;
  }
  DoChange();
}

void TdtpLineEdit::SelectAll() {
  FCaret = Length();
  FSelStart = 0;
  FSelLength = Length();
  DoChange();
}

std::string TdtpLineEdit::SelText() const {
  if (FSelLength <= 0 || FSelStart < 0 || FSelStart >= Length()) return {};
  return FText.substr(size_t(FSelStart), size_t(std::min(FSelLength, Length() - FSelStart)));
}

std::string TdtpLineEdit::CutSelText() {
  std::string s = SelText();
  if (!s.empty()) FText.erase(size_t(FSelStart), s.size());
  FSelLength = 0;
  return s;
}

void TdtpLineEdit::InsertText(const std::string& S) {
  std::string s = FCaseMode == 1 ? platform::UpperCase(S) : FCaseMode == 2 ? platform::LowerCase(S) : S;
  // Positions may be stale when set from outside; clamp before touching the text.
  Normalize();
  if (FSelLength == 0) {
    FText.insert(size_t(FCaret), s);
    FCaret += int32_t(s.size());
  } else {
    FText.replace(size_t(FSelStart), size_t(FSelLength), s);
    FCaret = FSelStart + int32_t(s.size());
    FSelLength = 0;
  }
}

void TdtpLineEdit::Normalize() {
  if (FMaxLength > 0 && FMaxLength < Length()) FText.resize(size_t(FMaxLength));
  const int32_t n = Length();
  FCaret = std::clamp(FCaret, 0, n);
  FSelStart = std::clamp(FSelStart, 0, n);
  FSelLength = std::clamp(FSelLength, 0, n - FSelStart);
}

void TdtpLineEdit::KeyDown(uint16_t& Key, platform::TShiftState Shift) {
  switch (Key) {
    case 8:
    case 46:
      Normalize();
      if (FSelLength > 0) {
        FText.erase(size_t(FSelStart), size_t(FSelLength));
        FCaret = FSelStart;
        FSelLength = 0;
      } else if (Key == 8) {
        if (FCaret > 0) {
          FText.erase(size_t(FCaret - 1), 1);
          --FCaret;
        }
      } else if (FCaret < Length()) {
        FText.erase(size_t(FCaret), 1);
      }
      break;
    case 13:
      InsertText(std::string(1, '\r'));
      break;
    case 35:
    case 36:
    case 37:
    case 38:
    case 39:
    case 40: {
      int32_t pos;
      if (OnCaretKey)
        pos = OnCaretKey(this, FCaret, Key);
      else if (Key == 35)
        pos = Length();
      else if (Key == 36)
        pos = 0;
      else if (Key == 37 || Key == 38)
        pos = FCaret - 1;
      else
        pos = FCaret + 1;
      // Caret handlers may return anything; work wide and let Normalize clamp.
      const int64_t d = int64_t(pos) - FCaret;
      int64_t start = FSelStart, len = FSelLength;
      if (Shift & platform::ssShift) {
        if (len == 0) start = FCaret;
        if (FCaret == start) {
          start += d;
          len -= d;
        } else if (FCaret == start + len) {
          len += d;
        }
      } else {
        len = 0;
      }
      if (len < 0) {
        start += len;
        len = -len;
      }
      auto fit = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, -INT32_MAX, INT32_MAX)); };
      FCaret = pos;
      FSelStart = fit(start);
      FSelLength = fit(len);
      break;
    }
    default:
      return;
  }
  Normalize();
  DoChange();
}

void TdtpLineEdit::KeyPress(char& Key) {
  const uint8_t k = uint8_t(Key);
  if (k == 3) {
    platform::Clipboard()->SetAsText(SelText());
  } else if (k == 22) {
    InsertText(platform::Clipboard()->AsText());
  } else if (k == 24) {
    FCaret -= FSelLength;
    platform::Clipboard()->SetAsText(CutSelText());
  } else if (k >= 32) {
    InsertText(std::string(1, Key));
  }
  Normalize();
  DoChange();
}

}  // namespace document
