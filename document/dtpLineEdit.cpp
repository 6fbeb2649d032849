#include "document/dtpLineEdit.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace document {

std::u32string Utf8ToChars(std::string_view S) {
  std::u32string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size();) out.push_back(platform::DecodeUtf8(S, i));
  return out;
}

std::string CharsToUtf8(std::u32string_view S) {
  std::string out;
  out.reserve(S.size());
  for (char32_t c : S) platform::AppendUtf8(out, c);
  return out;
}

namespace {

// The character stop nearest Pos in the direction Dir (+1 or -1), Pos itself when it is one.
// Only the neighbourhood is segmented, so that a caret key costs as much in a long text as in a
// short one; a character longer than the reach (no language has one) is split at its edge.
int32_t StopFrom(std::u32string_view Chars, int32_t Pos, int Dir) {
  constexpr int32_t cReach = 128;
  const int32_t lo = std::max(0, Pos - cReach), hi = std::min(int32_t(Chars.size()), Pos + cReach);
  const std::vector<bool> stops = platform::CharacterStops(Chars.substr(size_t(lo), size_t(hi - lo)));
  while (Pos > lo && Pos < hi && !stops[size_t(Pos - lo)]) Pos += Dir;
  return Pos;
}

}  // namespace

std::u32string StorableChars(std::u32string_view S) {
  std::u32string out;
  out.reserve(S.size());
  for (char32_t c : S) {
    // The Dutch ij digraph is typed as one character on some keyboards; Dutch text spells it
    // with two letters.
    if (c == U'\u0133')
      out += U"ij";
    else if (c == U'\u0132')
      out += U"IJ";
    // A stored page can hold any character (in UTF-16 when windows-1252 lacks it), but not
    // control characters beyond tab and line breaks, nor the non-characters XML forbids.
    // U+FFFD stands for bytes that were no character at all.
    else if ((c < 0x20 && c != 9 && c != 10 && c != 13) || (c >= 0x7F && c <= 0x9F) ||
             (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFFFD && c <= 0xFFFF) || c > 0x10FFFF)
      continue;
    else
      out.push_back(c);
  }
  return out;
}

void TdtpLineEdit::DoChange() {
  if (OnChange) OnChange(this);
}

void TdtpLineEdit::SetText(const std::string& S) {
  if (S != FText) {
    FChars = Utf8ToChars(S);
    CharsChanged();
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
  return CharsToUtf8(std::u32string_view(FChars).substr(size_t(FSelStart), size_t(std::min(FSelLength, Length() - FSelStart))));
}

std::string TdtpLineEdit::CutSelText() {
  std::string s;
  if (FSelLength > 0 && FSelStart >= 0 && FSelStart < Length()) {
    const size_t n = size_t(std::min(FSelLength, Length() - FSelStart));
    s = CharsToUtf8(std::u32string_view(FChars).substr(size_t(FSelStart), n));
    FChars.erase(size_t(FSelStart), n);
    CharsChanged();
  }
  FSelLength = 0;
  return s;
}

void TdtpLineEdit::InsertText(const std::string& S) {
  const std::string cased = FCaseMode == 1 ? platform::UpperCase(S) : FCaseMode == 2 ? platform::LowerCase(S) : S;
  std::u32string s = StorableChars(Utf8ToChars(cased));
  // Positions may be stale when set from outside; clamp before touching the text.
  Normalize();
  // A limit takes what does not fit off the inserted text, never off the text after the caret.
  // The cut falls between characters as shown: a letter never loses its accent to it.
  if (const size_t room = size_t(std::max(0, FMaxLength - (Length() - FSelLength))); FMaxLength > 0 && s.size() > room)
    s.resize(size_t(StopFrom(std::u32string_view(s).substr(0, room + 1), int32_t(room), -1)));
  if (FSelLength == 0) {
    FChars.insert(size_t(FCaret), s);
    FCaret += int32_t(s.size());
  } else {
    FChars.replace(size_t(FSelStart), size_t(FSelLength), s);
    FCaret = FSelStart + int32_t(s.size());
    FSelLength = 0;
  }
  CharsChanged();
}

void TdtpLineEdit::Normalize() {
  if (FMaxLength > 0 && FMaxLength < Length()) {
    FChars.resize(size_t(FMaxLength));
    CharsChanged();
  }
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
        FChars.erase(size_t(FSelStart), size_t(FSelLength));
        FCaret = FSelStart;
        FSelLength = 0;
      } else if (Key == 8) {
        if (FCaret > 0) {
          FChars.erase(size_t(FCaret - 1), 1);
          --FCaret;
        }
      } else if (FCaret < Length()) {
        // Delete takes the whole character as shown (a letter with its accents, an emoji with
        // its modifiers); Backspace takes back the last code point typed, as the platform's
        // editors do.
        const int32_t end = StopFrom(FChars, FCaret + 1, 1);
        FChars.erase(size_t(FCaret), size_t(end - FCaret));
      }
      CharsChanged();
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
      Normalize();
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
      // Caret handlers may return anything (-1 before the first character): the new
      // position is clamped first, so a key that cannot move the caret selects nothing.
      pos = std::clamp(pos, 0, Length());
      // The caret never stops inside a character as shown: it goes on to that character's
      // edge in the direction it moved.
      if (pos != FCaret) pos = StopFrom(FChars, pos, pos > FCaret ? 1 : -1);
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

void TdtpLineEdit::KeyPress(platform::TKeyChar& Key) {
  if (Key == 3) {
    platform::Clipboard()->SetAsText(SelText());
  } else if (Key == 22) {
    InsertText(platform::Clipboard()->AsText());
  } else if (Key == 24) {
    // The caret goes to where the cut text began, whichever end of the selection it was at.
    Normalize();
    if (FSelLength > 0) FCaret = FSelStart;
    platform::Clipboard()->SetAsText(CutSelText());
  } else if (Key >= 32) {
    std::string s;
    platform::AppendUtf8(s, Key);
    InsertText(s);
  }
  Normalize();
  DoChange();
}

}  // namespace document
