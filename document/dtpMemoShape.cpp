#include "document/dtpMemoShape.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "document/XmlDocuments.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

std::vector<std::string> SplitTextLines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n) {
    size_t j = i;
    while (j < n && Text[j] != '\r' && Text[j] != '\n') ++j;
    lines.emplace_back(Text, i, j - i);
    if (j < n && Text[j] == '\r') ++j;
    else if (j < n) {
      i = j + 1;
      continue;
    }
    if (j < n && Text[j] == '\n') ++j;
    i = j;
  }
  return lines;
}

std::string JoinTextLines(const std::vector<std::string>& Lines) {
  std::string s;
  for (const auto& l : Lines) {
    s += l;
    s += "\r\n";
  }
  return s;
}

const TShapeClass& TdtpMemoShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpMemoShape>("TdtpMemoShape", &TdtpTextShape::StaticClass());
  return cls;
}

void TdtpMemoShape::InitDefaults() {
  TdtpTextShape::InitDefaults();
  FLines.clear();
  FWrapped.clear();
  FWordWrap = true;
  FScaleFontWithSize = false;
  SetDocWidth(40.0f);
}

void TdtpMemoShape::SetLines(const std::vector<std::string>& Value) {
  // An entry holding a line break is more than one line, as the stored text reads back.
  FLines = SplitTextLines(JoinTextLines(Value));
  TdtpTextShape::SetText(JoinTextLines(FLines));
}

void TdtpMemoShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  TdtpTextShape::SetPropertyByName(Name, Value);
  if (platform::SameText(Name, "WordWrap")) SetWordWrap(DtpStrToBool(Value));
}

void TdtpMemoShape::SetWordWrap(bool Value) {
  if (Value == FWordWrap) return;
  RecordBoolChange("WordWrap", FWordWrap);
  FWordWrap = Value;
  AutoSizeToText();
  Changed();
}

void TdtpMemoShape::SetText(const std::string& Value) {
  FLines = SplitTextLines(Value);
  TdtpTextShape::SetText(Value);
}

void TdtpMemoShape::SetDocSize(float Width, float Height) {
  TdtpTextShape::SetDocSize(Width, Height);
  // The box set by AutoSizeToText comes back here; it must not start another fit.
  if (!FUpdating) AutoSizeToText();
}

void TdtpMemoShape::AutoSizeToText() {
  FFont->SetHeight(ScaledFontHeight());
  float w = 0, h = 0;
  TextExtent(w, h);
  if (FAutoSize) {
    const bool was = FUpdating;
    FUpdating = true;
    LockDocument();
    try {
      SetDocBounds(FDocLeft, FDocTop, FDocWidth, h);
    } catch (...) {
      UnlockDocument();
      FUpdating = was;
      throw;
    }
    UnlockDocument();
    FUpdating = was;
  }
  RefreshAll();
}

// Cutting a line takes the longest candidate that is narrower than the width; candidates
// are the whole rest, then the text before each blank run from the right, then one
// character less at a time. Widths grow with the prefix, so the longest fitting prefix
// (found by galloping and bisection) decides the cut without measuring every candidate.
void TdtpMemoShape::WrapLines() {
  if (!FWordWrap || FDocWidth == 0) {
    FWrapped = FLines;
    return;
  }
  FWrapped.clear();
  for (const std::string& line : FLines) {
    if (line.empty()) {
      FWrapped.emplace_back();
      continue;
    }
    // Cuts fall between characters, never inside one.
    const std::u32string chars = Utf8ToChars(line);
    const std::u32string_view all(chars);
    size_t off = 0, end = all.size();
    while (off < end) {
      const std::u32string_view s = all.substr(off, end - off);
      const size_t n0 = s.size();
      auto fits = [&](size_t Len) {
        float w = 0, h = 0;
        LineExtent(CharsToUtf8(s.substr(0, Len)), w, h);
        return w < FDocWidth;
      };
      size_t n = n0;  // a rest that fits (or a single character) is taken as it is
      // Gallop first, so a long rest is never measured whole when a short prefix decides.
      size_t lo = 0, hi = 1;
      if (n0 > 1) {
        while (hi < n0 && fits(hi)) {
          lo = hi;
          hi = std::min(n0, hi * 2);
        }
      }
      if (n0 > 1 && !(hi == n0 && lo < n0 && fits(n0))) {
        // Longest prefix shorter than n0 that fits (0 when none).
        while (hi - lo > 1) {
          const size_t mid = lo + (hi - lo) / 2;
          (fits(mid) ? lo : hi) = mid;
        }
        const size_t t = std::max<size_t>(lo, 1);
        // The topmost blank run starting at or before position t + 1 (1-based): when its
        // last blank is at position 2 or later the cut is the text before the run;
        // otherwise single characters come off until t is reached.
        size_t i = t + 1;
        while (i >= 1 && s[i - 1] != U' ') --i;
        n = t;
        if (i >= 1) {
          size_t last = i;
          while (last < n0 && s[last] == U' ') ++last;
          size_t start = i;
          while (start > 1 && s[start - 2] == U' ') --start;
          if (last >= 2) n = start - 1;
        }
        while (n > 0 && s[n - 1] == U' ') --n;
      }
      FWrapped.emplace_back(CharsToUtf8(s.substr(0, n)));
      off += n;
      while (off < end && all[off] == U' ') ++off;
      while (end > off && all[end - 1] == U' ') --end;
    }
  }
}

void TdtpMemoShape::WrapLinesReference() {
  if (!FWordWrap || FDocWidth == 0) {
    FWrapped = FLines;
    return;
  }
  FWrapped.clear();
  for (const std::string& line : FLines) {
    std::u32string s = Utf8ToChars(line);
    if (s.empty()) {
      FWrapped.emplace_back();
      continue;
    }
    while (!s.empty()) {
      std::u32string c = s;
      size_t n = c.size();
      while (n > 1) {
        float w = 0, h = 0;
        LineExtent(CharsToUtf8(c), w, h);
        if (w < FDocWidth) break;
        // The last blank or CR at or before character n (1-based) breaks the line.
        size_t k = 0;
        for (size_t i = n; i >= 1; --i) {
          if (s[i - 1] == U' ' || s[i - 1] == U'\r') {
            k = i - 1;
            break;
          }
        }
        if (k == 0) k = n - 1;
        c = s.substr(0, k);
        while (!c.empty() && c.back() == U' ') c.pop_back();
        n = c.size();
      }
      FWrapped.push_back(CharsToUtf8(c));
      std::u32string rest = s.substr(std::min(n, s.size()));
      size_t a = 0, b = rest.size();
      while (a < b && rest[a] == U' ') ++a;
      while (b > a && rest[b - 1] == U' ') --b;
      s = rest.substr(a, b - a);
    }
  }
}

void TdtpMemoShape::TextExtent(float& Width, float& Height) {
  WrapLines();
  Height = float(FWrapped.size() + 1) * 1.2f * FFontHeight;
  Width = 0;
  for (const auto& l : FWrapped) {
    float w = 0, h = 0;
    LineExtent(l, w, h);
    Width = std::max(Width, w);
  }
}

void TdtpMemoShape::DrawText(TBitmap32* Bitmap) {
  const platform::TRect r = TextRect(Bitmap);
  const double pitch = double(GetRenderDpm()) * 1.2 * double(FFontHeight);
  for (size_t i = 0; i < FWrapped.size(); ++i) {
    const double top = double(r.Top) + pitch * double(i);
    // Lines outside the rectangle show nothing (a negative pitch runs upwards).
    if (!std::isfinite(top) || top >= double(r.Bottom) || top < -1e9) break;
    platform::TRect lr = r;
    lr.Top = int32_t(platform::Round(top));
    Bitmap->Textout(lr, AlignFlags(), FWrapped[i]);
  }
}

void TdtpMemoShape::TextOrigin() {
  BuildLineCaretTables();
  const std::vector<float> orig = FCaretX;
  const std::u32string text = Utf8ToChars(FText);
  std::vector<std::u32string> wrapped;
  wrapped.reserve(FWrapped.size());
  for (const auto& w : FWrapped) wrapped.push_back(Utf8ToChars(w));
  const size_t n = text.size();
  float x0 = 0;
  size_t L = 0, c = 0;
  for (size_t i = 0; i <= n; ++i) {
    FCaretX[i] = orig[i] - x0;
    FCaretLine[i] = int32_t(L);
    // An empty line owns the place after its break's LF: the place between CR and LF (which
    // joins the line before) does not end it, or no key could reach that line.
    const bool insideBreak = i > 0 && i < n && text[i - 1] == U'\r' && text[i] == U'\n';
    if (L < wrapped.size() && wrapped[L].size() <= c && !(c == 0 && insideBreak)) {
      ++L;
      c = 0;
      // A line cut inside a word loses no character; the next line still starts at 0.
      x0 = orig[i];
    }
    if (L < wrapped.size() && wrapped[L].size() > c && i < n && wrapped[L][c] == text[i]) {
      ++c;
      continue;
    }
    if (i + 1 <= n) x0 = orig[i + 1];
  }
  // Between the CR and the LF of a break is no place for the caret: typing there would split
  // the line. That position joins the end of the line before, where clicks and the line keys
  // pass it over.
  FInsideBreak.assign(n + 1, false);
  for (size_t i = 1; i < n; ++i)
    if (text[i - 1] == U'\r' && text[i] == U'\n') {
      FInsideBreak[i] = true;
      FCaretLine[i] = FCaretLine[i - 1];
      FCaretX[i] = FCaretX[i - 1];
    }
}

int32_t TdtpMemoShape::CaretNavigation(int32_t Position, uint16_t Key) const {
  if (FCaretX.empty()) return Position;
  const int32_t last = int32_t(FCaretX.size()) - 1;
  const int32_t p = std::clamp(Position, 0, last);
  auto inside = [&](int32_t Pos) {
    return Pos >= 0 && size_t(Pos) < FInsideBreak.size() && FInsideBreak[size_t(Pos)];
  };
  auto nearest = [&](int32_t From, int32_t To, int32_t Line) {
    int32_t best = Position;
    float bestD = 0;
    bool found = false;
    for (int32_t i = From; i <= To; ++i) {
      if (FCaretLine[size_t(i)] != Line || inside(i)) continue;
      const float d = std::fabs(FCaretX[size_t(i)] - FCaretX[size_t(p)]);
      if (!found || d < bestD) {
        best = i;
        bestD = d;
        found = true;
      }
    }
    return best;
  };
  switch (Key) {
    case 35: {
      int32_t q = p;
      while (q < last && FCaretLine[size_t(q + 1)] == FCaretLine[size_t(q)]) ++q;
      return inside(q) ? q - 1 : q;
    }
    case 36: {
      int32_t q = p;
      while (q > 0 && FCaretLine[size_t(q - 1)] == FCaretLine[size_t(q)]) --q;
      return q;
    }
    case 37:
      return inside(Position - 1) ? Position - 2 : Position - 1;
    case 39:
      return inside(Position + 1) ? Position + 2 : Position + 1;
    case 38:
      return nearest(0, p - 1, FCaretLine[size_t(p)] - 1);
    case 40:
      return nearest(p + 1, last, FCaretLine[size_t(p)] + 1);
    default:
      return Position;
  }
}

void TdtpMemoShape::StartEdit() {
  TdtpTextShape::StartEdit();
  if (FLineEdit)
    FLineEdit->OnCaretKey = [this](platform::TObject*, int32_t Pos, uint16_t Key) { return CaretNavigation(Pos, Key); };
}

void TdtpMemoShape::KeyDownHook(uint16_t& Key, platform::TShiftState Shift) {
  if (Key == 13) {
    if (FLineEdit) FLineEdit->KeyDown(Key, Shift);
    return;
  }
  if (Key == 8 && FLineEdit && FLineEdit->SelLength() == 0) {
    // A CR LF break goes as a whole: the first half here, the second below. (Delete takes
    // the pair as one character by itself.)
    const int32_t c = FLineEdit->CaretPos();
    const int32_t mid = c - 1;
    if (mid >= 0 && size_t(mid) < FInsideBreak.size() && FInsideBreak[size_t(mid)]) {
      uint16_t k = Key;
      FLineEdit->KeyDown(k, Shift);
    }
  }
  TdtpTextShape::KeyDownHook(Key, Shift);
}

void TdtpMemoShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpTextShape::SaveToXml(Node);
  Node->WriteBool("WordWrap", FWordWrap);
}

void TdtpMemoShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    TdtpTextShape::LoadFromXml(Node);
    FWordWrap = Node->ReadBool("WordWrap", false);
    FLines = SplitTextLines(FText);
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
  AutoSizeToText();
}

void InitializeDtpMemoShape() { RegisterShapeClass(TdtpMemoShape::StaticClass()); }

}  // namespace document
