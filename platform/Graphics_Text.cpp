// Canvas text: TextOut, TextRect, TextExtent and DrawText. Every width comes from the text
// measurer and every glyph from its line masks, so what DT_CALCRECT reports is what is drawn.
#include <QPaintEngine>
#include <fribidi.h>
#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/Graphics.h"
#include "platform/GraphicsPriv.h"

namespace platform {

namespace {

bool IsCont(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
size_t NextCp(std::string_view s, size_t i) {
  ++i;
  while (i < s.size() && IsCont(s[i])) ++i;
  return i;
}

// A line of text with, per byte, whether the code point starting there is underlined ("&x").
struct TLine {
  std::string Text;
  std::vector<bool> Under;
  int32_t Width = 0;

  TLine Slice(size_t from, size_t to) const {
    TLine l;
    l.Text = Text.substr(from, to - from);
    l.Under.assign(Under.begin() + static_cast<ptrdiff_t>(from), Under.begin() + static_cast<ptrdiff_t>(to));
    return l;
  }
  void Append(const TLine& o) {
    Text += o.Text;
    Under.insert(Under.end(), o.Under.begin(), o.Under.end());
  }
  static TLine Plain(std::string_view s) {
    TLine l;
    l.Text = std::string(s);
    l.Under.assign(s.size(), false);
    return l;
  }
};

// "&&" is one ampersand, "&x" underlines x, a final lone "&" is dropped.
TLine StripPrefix(std::string_view s) {
  TLine l;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '&') {
      if (i + 1 >= s.size()) break;
      if (s[i + 1] == '&') {
        l.Text += '&';
        l.Under.push_back(false);
        i += 2;
        continue;
      }
      size_t e = NextCp(s, i + 1);
      l.Text.append(s.substr(i + 1, e - i - 1));
      l.Under.push_back(true);
      l.Under.insert(l.Under.end(), e - i - 2, false);
      i = e;
      continue;
    }
    l.Text += s[i];
    l.Under.push_back(false);
    ++i;
  }
  return l;
}

struct TMeasure {
  ITextMeasurer& M;
  const TFont& Font;
  bool ExpandTabs;
  int32_t TabWidth;

  // Calls fn(segment start, segment end, x) for each run between tabs; returns the total width.
  template <typename Fn>
  int32_t Runs(std::string_view s, Fn&& fn) const {
    if (!ExpandTabs) {
      fn(size_t{0}, s.size(), 0);
      return M.TextWidth(Font, s);
    }
    int32_t x = 0;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
      if (i == s.size() || s[i] == '\t') {
        if (i > start) {
          fn(start, i, x);
          x += M.TextWidth(Font, s.substr(start, i - start));
        }
        if (i < s.size()) x = (x / TabWidth + 1) * TabWidth;
        start = i + 1;
      }
    }
    return x;
  }
  int32_t Width(std::string_view s) const {
    return Runs(s, [](size_t, size_t, int32_t) {});
  }
  // Offset and advance of the code point at byte i.
  std::pair<int32_t, int32_t> CharSpan(std::string_view s, size_t i) const {
    size_t e = NextCp(s, i);
    int32_t left = 0, adv = 0;
    Runs(s, [&](size_t a, size_t b, int32_t x) {
      if (i >= a && i < b) {
        left = x + M.TextWidth(Font, s.substr(a, i - a));
        adv = M.TextWidth(Font, s.substr(i, e - i));
      }
    });
    return {left, adv};
  }
};

// Code-point boundaries of a string: 0, ..., size.
std::vector<size_t> Boundaries(std::string_view s) {
  std::vector<size_t> b{0};
  for (size_t i = 0; i < s.size();) b.push_back(i = NextCp(s, i));
  return b;
}

// The largest count n in [0, limit] for which fits(n) holds, fits being monotonic; -1 if none.
template <typename Fn>
ptrdiff_t LargestFitting(size_t limit, Fn&& fits) {
  ptrdiff_t lo = -1, hi = static_cast<ptrdiff_t>(limit);
  while (lo < hi) {
    ptrdiff_t mid = lo + (hi - lo + 1) / 2;
    if (fits(static_cast<size_t>(mid))) lo = mid;
    else hi = mid - 1;
  }
  return lo;
}

TLine EndEllipsis(const TLine& line, int32_t w, const TMeasure& m) {
  const TLine dots = TLine::Plain("...");
  std::vector<size_t> b = Boundaries(line.Text);
  auto make = [&](size_t n) {
    TLine cand = line.Slice(0, b[n]);
    cand.Append(dots);
    return cand;
  };
  if (b.size() < 2) return dots;
  // At least one character is taken off: the whole line did not fit.
  ptrdiff_t n = LargestFitting(b.size() - 2, [&](size_t k) { return m.Width(make(k).Text) <= w; });
  return n < 0 ? dots : make(static_cast<size_t>(n));
}

// Keeps the last path component whole and takes characters off the end of the part before
// it; when even that cannot fit, the end of the text is cut instead.
TLine PathEllipsis(const TLine& line, int32_t w, const TMeasure& m) {
  size_t k = line.Text.find_last_of("\\/");
  if (k == std::string::npos) return EndEllipsis(line, w, m);
  TLine tail = line.Slice(k, line.Text.size());
  std::vector<size_t> b = Boundaries(std::string_view(line.Text).substr(0, k));
  auto make = [&](size_t n) {
    TLine cand = line.Slice(0, b[n]);
    cand.Append(TLine::Plain("..."));
    cand.Append(tail);
    return cand;
  };
  ptrdiff_t n = LargestFitting(b.size() - 1, [&](size_t j) { return m.Width(make(j).Text) <= w; });
  return n < 0 ? EndEllipsis(make(0), w, m) : make(static_cast<size_t>(n));
}

// Greedy breaking at blanks; a word wider than the rectangle keeps a line of its own.
void WrapInto(const TLine& para, int32_t w, const TMeasure& m, std::vector<TLine>& out) {
  const std::string& s = para.Text;
  size_t start = 0;
  if (s.empty()) {
    out.push_back(para);
    return;
  }
  while (start < s.size()) {
    size_t best = std::string::npos;  // end of the longest fitting run of words
    size_t i = start;
    while (i < s.size()) {
      size_t j = i;
      while (j < s.size() && s[j] == ' ') ++j;
      while (j < s.size() && s[j] != ' ') ++j;
      bool fits = m.Width(std::string_view(s).substr(start, j - start)) <= w;
      if (best != std::string::npos && !fits) break;
      best = j;
      i = j;
      if (!fits) break;
    }
    out.push_back(para.Slice(start, best));
    start = best;
    while (start < s.size() && s[start] == ' ') ++start;
  }
}

// Right-to-left reading: the line's characters put in the order they are seen, by the
// bidirectional algorithm with a right-to-left paragraph; characters shown right to left take
// their mirrored form ("(" becomes ")"). Underline marks travel with their characters.
TLine VisualOrder(const TLine& line) {
  struct TChar {
    size_t Byte, Bytes;
  };
  std::vector<TChar> chars;
  std::vector<FriBidiChar> logical;
  const std::string& s = line.Text;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    FriBidiChar c = n == 1 ? b : n == 2 ? (b & 0x1Fu) : n == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (size_t k = 1; k < n; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        n = 0;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    }
    if (n == 0) {  // a malformed byte stands for itself and keeps its place
      n = 1;
      c = 0xFFFD;
    }
    chars.push_back({i, n});
    logical.push_back(c);
    i += n;
  }
  if (chars.empty()) return line;
  const auto count = static_cast<FriBidiStrIndex>(chars.size());
  std::vector<FriBidiChar> visual(chars.size());
  std::vector<FriBidiStrIndex> fromVisual(chars.size());
  FriBidiParType base = FRIBIDI_PAR_RTL;
  if (!fribidi_log2vis(logical.data(), count, &base, visual.data(), nullptr, fromVisual.data(), nullptr))
    return line;
  TLine out;
  out.Text.reserve(s.size());
  out.Under.reserve(s.size());
  for (size_t v = 0; v < chars.size(); ++v) {
    const auto at = static_cast<size_t>(fromVisual[v]);
    const TChar& ch = chars[at];
    if (visual[v] != logical[at] && logical[at] != 0xFFFD) {
      // Mirrored: a bracket or another paired mark.
      const FriBidiChar m = visual[v];
      char buf[4];
      const size_t n = m < 0x80 ? 1 : m < 0x800 ? 2 : m < 0x10000 ? 3 : 4;
      if (n == 1) {
        buf[0] = static_cast<char>(m);
      } else {
        for (size_t k = n - 1; k > 0; --k) buf[k] = static_cast<char>(0x80 | ((m >> (6 * (n - 1 - k))) & 0x3F));
        buf[0] = static_cast<char>((n == 2 ? 0xC0 : n == 3 ? 0xE0 : 0xF0) | (m >> (6 * (n - 1))));
      }
      out.Text.append(buf, n);
      out.Under.insert(out.Under.end(), n, line.Under[ch.Byte]);
    } else {
      out.Text.append(s, ch.Byte, ch.Bytes);
      out.Under.insert(out.Under.end(), line.Under.begin() + static_cast<ptrdiff_t>(ch.Byte),
                       line.Under.begin() + static_cast<ptrdiff_t>(ch.Byte + ch.Bytes));
    }
  }
  return out;
}

}  // namespace

// A painter whose device keeps text as text (a printer, a PDF file) gets outline text rather
// than a picture of it.
static bool KeepsText(QPainter* p) {
  if (p->device() && p->device()->devType() == QInternal::Printer) return true;
  return p->paintEngine() && p->paintEngine()->type() == QPaintEngine::Pdf;
}

struct TTextPainter {
  TCanvas& C;
  ITextMeasurer& M;
  TTextMetric Metric;
  // The font's turn: lines are turned about their cell's top-left corner.
  double Cos = 1, Sin = 0;
  bool Turned = false;

  explicit TTextPainter(TCanvas& c) : C(c), M(TextMeasurer()), Metric(M.Metrics(*c.Font())) {
    if (const int32_t o = c.Font()->Orientation() % 3600; o != 0) {
      const double a = o / 10.0 * 3.14159265358979323846 / 180.0;
      Cos = std::cos(a);
      Sin = std::sin(a);
      Turned = true;
    }
  }

  struct TPlaced {
    TLine Line;
    int32_t X, Y;
  };

  // Point (X + U, Y + V) of an unturned line at (X, Y), turned about (X, Y) counter-clockwise.
  // Kept within +-2^30 like every other coordinate, so whole-pixel conversions cannot overflow.
  QPointF Turn(const TPlaced& l, double U, double V) const {
    const double lim = kCoordLimit;
    return {std::clamp(l.X + U * Cos + V * Sin, -lim, lim), std::clamp(l.Y - U * Sin + V * Cos, -lim, lim)};
  }
  QPoint TurnRounded(const TPlaced& l, double U, double V) const {
    const QPointF q = Turn(l, U, V);
    return {int(std::lround(q.x())), int(std::lround(q.y()))};
  }
  // The area of the unturned box (U0, V0)-(U1, V1) of a line once turned.
  QPolygonF TurnedBox(const TPlaced& l, double U0, double V0, double U1, double V1) const {
    return QPolygonF({Turn(l, U0, V0), Turn(l, U1, V0), Turn(l, U1, V1), Turn(l, U0, V1)});
  }

  // Paints placed lines: background cells when opaque, then the glyphs in the font colour,
  // everything clipped to Clip (in device coordinates) when given.
  void Paint(const std::vector<TPlaced>& lines, const TMeasure& m, const TRect* clip,
             const TRect* opaqueRect, TColor opaqueColor, bool cellBackground) {
    QPainter* p = C.Painter();
    if (!p) return;
    QRect area = LogicalDeviceRect(*C.FState);
    if (C.FState->HasClip) area &= C.FState->Clip.boundingRect();
    if (clip) area &= ToQRect(*clip);
    if (area.isEmpty()) return;
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    auto fill = [&](const QRect& r, TColor c) {
      QRect x = r & area;
      if (!x.isEmpty()) p->fillRect(x, ToQColor(c));
    };
    if (opaqueRect) fill(ToQRect(*opaqueRect), opaqueColor);
    if (cellBackground && C.FState->BkMode == OPAQUE) {
      for (const TPlaced& l : lines) {
        if (!Turned) {
          fill(QRect(l.X, l.Y, l.Line.Width, Metric.Height), C.FState->BkColor);
          continue;
        }
        p->save();
        p->setClipRect(area, Qt::IntersectClip);
        p->setPen(Qt::NoPen);
        p->setBrush(ToQColor(C.FState->BkColor));
        p->drawPolygon(TurnedBox(l, 0, 0, l.Line.Width, Metric.Height));
        p->restore();
      }
    }
    if (KeepsText(p) && PaintAsText(p, lines, m, area)) return;
    // Glyph coverage of the visible part, then blended in the font colour.
    QRect inkArea;
    // Glyphs may overhang their advances (italics, bearings) by a little.
    const int over = Metric.Height / 3 + 1;
    for (const TPlaced& l : lines) {
      const int w = std::max(l.Line.Width, 1);
      if (Turned) inkArea |= TurnedBox(l, -over, -1, double(w) + over, Metric.Height + 1).boundingRect().toAlignedRect();
      else inkArea |= QRect(l.X - over, l.Y, w + 2 * over, Metric.Height + 1);
    }
    inkArea &= area;
    if (inkArea.isEmpty()) return;
    TTextMask mask;
    mask.SetSize(inkArea.width(), inkArea.height());
    const TRect maskClip{0, 0, inkArea.width(), inkArea.height()};
    const int ox = inkArea.x(), oy = inkArea.y();
    auto mark = [&](QPoint q) {
      const int mx = q.x() - ox, my = q.y() - oy;
      if (mx >= 0 && my >= 0 && mx < mask.Width && my < mask.Height)
        mask.Coverage[static_cast<size_t>(my) * mask.Width + mx] = 255;
    };
    for (const TPlaced& l : lines) {
      std::string_view s = l.Line.Text;
      m.Runs(s, [&](size_t a, size_t b, int32_t x) {
        const QPoint at = TurnRounded(l, x, 0);
        M.RenderLine(*C.Font(), s.substr(a, b - a), at.x() - ox, at.y() - oy, maskClip, mask);
      });
      int32_t uy = Metric.Ascent + 1;
      if (uy >= Metric.Height) uy = Metric.Ascent;
      for (size_t i = 0; i < l.Line.Under.size(); ++i) {
        if (!l.Line.Under[i]) continue;
        auto [left, adv] = m.CharSpan(s, i);
        if (!Turned) {
          for (int32_t x = left; x < left + adv; ++x) mark({l.X + x, l.Y + uy});
        } else {
          for (double x = left; x < left + adv; x += 0.5) {
            const QPointF q = Turn(l, x + 0.25, uy + 0.5);
            mark({int(std::floor(q.x())), int(std::floor(q.y()))});
          }
        }
      }
    }
    QImage ink(inkArea.size(), QImage::Format_ARGB32);
    uint32_t rgb = ToQRgb(C.Font()->Color()) & 0xFFFFFFu;
    bool any = false;
    for (int y = 0; y < mask.Height; ++y) {
      auto* line = reinterpret_cast<uint32_t*>(ink.scanLine(y));
      const uint8_t* cov = &mask.Coverage[static_cast<size_t>(y) * mask.Width];
      for (int x = 0; x < mask.Width; ++x) {
        line[x] = (uint32_t(cov[x]) << 24) | rgb;
        any |= cov[x] != 0;
      }
    }
    if (any) p->drawImage(inkArea.topLeft(), ink);
  }

  // Outline text at the measured places; false (nothing drawn) when the measurer cannot.
  bool PaintAsText(QPainter* p, const std::vector<TPlaced>& lines, const TMeasure& m, const QRect& area) {
    const TColor color = C.Font()->Color();
    p->save();
    p->setClipRect(area, Qt::IntersectClip);
    bool drawn = true;
    for (const TPlaced& l : lines) {
      std::string_view s = l.Line.Text;
      m.Runs(s, [&](size_t a, size_t b, int32_t x) {
        const QPoint at = TurnRounded(l, x, 0);
        if (drawn) drawn = M.PaintLine(*C.Font(), s.substr(a, b - a), at.x(), at.y(), color, *p);
      });
      if (!drawn) break;
      int32_t uy = Metric.Ascent + 1;
      if (uy >= Metric.Height) uy = Metric.Ascent;
      for (size_t i = 0; i < l.Line.Under.size(); ++i) {
        if (!l.Line.Under[i]) continue;
        auto [left, adv] = m.CharSpan(s, i);
        p->setPen(Qt::NoPen);
        p->setBrush(ToQColor(color));
        p->drawPolygon(TurnedBox(l, left, uy, left + adv, uy + 1));
      }
    }
    p->restore();
    return drawn;
  }
};

TSize TCanvas::TextExtent(std::string_view Text) {
  ITextMeasurer& m = TextMeasurer();
  return {m.TextWidth(*FFont, Text), m.Metrics(*FFont).Height};
}

void TCanvas::TextOut(int32_t X, int32_t Y, std::string_view Text) {
  TTextPainter tp(*this);
  TMeasure m{tp.M, *FFont, false, 1};
  TTextPainter::TPlaced l{TLine::Plain(Text), ClampCoord(X), ClampCoord(Y)};
  l.Line.Width = std::min(m.Width(Text), kCoordLimit);
  tp.Paint({l}, m, nullptr, nullptr, 0, true);
  FPenPos = {static_cast<int32_t>(std::clamp<int64_t>(int64_t{X} + l.Line.Width, INT32_MIN, INT32_MAX)), Y};
}

void TCanvas::TextRect(const TRect& R, int32_t X, int32_t Y, std::string_view Text) {
  TTextPainter tp(*this);
  TMeasure m{tp.M, *FFont, false, 1};
  TTextPainter::TPlaced l{TLine::Plain(Text), ClampCoord(X), ClampCoord(Y)};
  l.Line.Width = std::min(m.Width(Text), kCoordLimit);
  // The whole rectangle takes the brush colour unless the brush is clear.
  bool opaque = FBrush->Style() != bsClear;
  tp.Paint({l}, m, &R, opaque ? &R : nullptr, FBrush->Color(), false);
}

int32_t TCanvas::DrawText(std::string_view Text, TRect& R, uint32_t Flags) {
  TTextPainter tp(*this);
  int32_t tabWidth = std::max(1, 8 * std::max(1, tp.Metric.AveCharWidth));
  TMeasure m{tp.M, *FFont, (Flags & DT_EXPANDTABS) != 0, tabWidth};
  const bool single = (Flags & DT_SINGLELINE) != 0;
  const int32_t width = ClampCoord(int64_t{R.Right} - R.Left);

  // Paragraphs: the whole text on one line, or one per line break.
  std::vector<std::string_view> paras;
  if (single) {
    paras.push_back(Text);
  } else {
    size_t start = 0;
    for (size_t i = 0; i < Text.size(); ++i) {
      if (Text[i] == '\r' || Text[i] == '\n') {
        paras.push_back(Text.substr(start, i - start));
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
        start = i + 1;
      }
    }
    if (start < Text.size() || paras.empty()) paras.push_back(Text.substr(start));
  }

  std::vector<TLine> lines;
  for (std::string_view p : paras) {
    TLine para = (Flags & DT_NOPREFIX) ? TLine::Plain(p) : StripPrefix(p);
    if ((Flags & DT_WORDBREAK) && !single) WrapInto(para, width, m, lines);
    else lines.push_back(std::move(para));
  }
  for (TLine& l : lines) {
    l.Width = m.Width(l.Text);
    if (l.Width > width && (Flags & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS))) {
      l = (Flags & DT_PATH_ELLIPSIS) ? PathEllipsis(l, width, m) : EndEllipsis(l, width, m);
      l.Width = m.Width(l.Text);
    }
    // Ellipses are placed in reading order first; then the line is put in the order seen.
    if (Flags & DT_RTLREADING) {
      l = VisualOrder(l);
      l.Width = m.Width(l.Text);
    }
  }

  // Positions are worked out in 64 bits and kept within the coordinate limit.
  const int64_t lineHeight = tp.Metric.Height + ((Flags & DT_EXTERNALLEADING) ? tp.Metric.ExternalLeading : 0);
  const int32_t total = ClampCoord(lineHeight * static_cast<int64_t>(lines.size()));
  int32_t maxWidth = 0;
  for (const TLine& l : lines) maxWidth = std::max(maxWidth, l.Width);

  if (Flags & DT_CALCRECT) {
    R.Right = static_cast<int32_t>(std::clamp<int64_t>(int64_t{R.Left} + maxWidth, INT32_MIN, INT32_MAX));
    R.Bottom = static_cast<int32_t>(std::clamp<int64_t>(int64_t{R.Top} + total, INT32_MIN, INT32_MAX));
    return total;
  }

  auto floorHalf = [](int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); };
  int64_t y = R.Top;
  if (single && (Flags & DT_VCENTER)) {
    y = floorHalf(int64_t{R.Top} + R.Bottom - total);
  } else if (single && (Flags & DT_BOTTOM)) {
    y = int64_t{R.Bottom} - total;
  }
  std::vector<TTextPainter::TPlaced> placed;
  placed.reserve(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    int64_t x = R.Left;
    if (Flags & DT_CENTER) {
      x = floorHalf(int64_t{R.Left} + R.Right - lines[i].Width);
    } else if (Flags & DT_RIGHT) {
      x = int64_t{R.Right} - lines[i].Width;
    }
    lines[i].Width = std::min(lines[i].Width, kCoordLimit);
    placed.push_back({std::move(lines[i]), ClampCoord(x), ClampCoord(y + static_cast<int64_t>(i) * lineHeight)});
  }
  // Turned text is not cut to the rectangle it was laid out in: it leaves that rectangle by
  // design.
  tp.Paint(placed, m, (Flags & DT_NOCLIP) || tp.Turned ? nullptr : &R, nullptr, 0, true);
  if (single && (Flags & (DT_VCENTER | DT_BOTTOM))) return ClampCoord(y + total - R.Top);
  return total;
}

}  // namespace platform
