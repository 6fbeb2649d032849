#include "platform/Font.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "platform/Exceptions.h"
#include "platform/FontQt.h"
#include "platform/Rounding.h"

namespace platform {

namespace {

int32_t& ScreenPpi() {
  static int32_t ppi = 96;
  return ppi;
}

// Decodes one code point, advancing i; a malformed byte is taken as one Latin-1 character.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  int extra = b0 < 0x80                ? 0
              : (b0 & 0xE0) == 0xC0 ? 1
              : (b0 & 0xF0) == 0xE0 ? 2
              : (b0 & 0xF8) == 0xF0 ? 3
                                    : -1;
  if (extra <= 0 || i + extra >= s.size()) {
    ++i;
    return b0;
  }
  char32_t cp = b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return b0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += extra + 1;
  return cp;
}

}  // namespace

size_t Utf8Length(std::string_view Text) {
  size_t n = 0;
  for (size_t i = 0; i < Text.size(); ++n) NextCodePoint(Text, i);
  return n;
}

int32_t ScreenPixelsPerInch() { return ScreenPpi(); }
void SetScreenPixelsPerInch(int32_t Value) {
  if (Value > 0) ScreenPpi() = Value;
}

// ---------------------------------------------------------------------------------------------
// TFont

TFont::TFont()
    : FName("MS Sans Serif"), FPixelsPerInch(ScreenPixelsPerInch()), FColor(clWindowText) {
  FHeight = -MulDiv(8, FPixelsPerInch, 72);
}

void TFont::Changed() {
  if (OnChange) OnChange(this);
}

void TFont::Assign(const TPersistent* Source) {
  auto* src = dynamic_cast<const TFont*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  FName = src->FName;
  FHeight = src->FHeight;
  if (FPixelsPerInch != src->FPixelsPerInch) FHeight = -MulDiv(src->Size(), FPixelsPerInch, 72);
  FStyle = src->FStyle;
  FColor = src->FColor;
  FCharset = src->FCharset;
  FPitch = src->FPitch;
  FOrientation = src->FOrientation;
  Changed();
}

void TFont::SetName(const std::string& Value) {
  if (Value.empty() || Value == FName) return;
  FName = Value;
  Changed();
}

int32_t TFont::Size() const { return -MulDiv(FHeight, 72, FPixelsPerInch); }

void TFont::SetSize(int32_t Value) { SetHeight(-MulDiv(Value, FPixelsPerInch, 72)); }

void TFont::SetHeight(int32_t Value) {
  if (Value == FHeight) return;
  FHeight = Value;
  Changed();
}

void TFont::SetPixelsPerInch(int32_t Value) {
  if (Value <= 0 || Value == FPixelsPerInch) return;
  FPixelsPerInch = Value;
}

void TFont::SetStyle(TFontStyles Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void TFont::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed();
}

void TFont::SetCharset(TFontCharset Value) {
  if (Value == FCharset) return;
  FCharset = Value;
  Changed();
}

void TFont::SetPitch(TFontPitch Value) {
  if (Value == FPitch) return;
  FPitch = Value;
  Changed();
}

void TFont::SetOrientation(int32_t Value) {
  if (Value == FOrientation) return;
  FOrientation = Value;
  Changed();
}

void TTextMask::SetSize(int32_t W, int32_t H) {
  Width = std::max(W, 0);
  Height = std::max(H, 0);
  Coverage.assign(static_cast<size_t>(Width) * Height, 0);
}

// ---------------------------------------------------------------------------------------------
// Qt fonts

QString QtFamilyName(const std::string& Name) {
  struct Alias {
    const char* from;
    const char* to;
  };
  static const Alias kAliases[] = {
      {"arial", "Liberation Sans"},           {"helvetica", "Liberation Sans"},
      {"times new roman", "Liberation Serif"}, {"times", "Liberation Serif"},
      {"courier new", "Liberation Mono"},     {"courier", "Liberation Mono"},
  };
  QString q = QString::fromUtf8(Name.data(), static_cast<qsizetype>(Name.size()));
  for (const Alias& a : kAliases)
    if (q.compare(QLatin1String(a.from), Qt::CaseInsensitive) == 0) return QString::fromLatin1(a.to);
  return q;
}

namespace {

void RequireGui() {
  if (!QGuiApplication::instance())
    throw EInvalidOperation("Fonts need the application object to be created first");
}

QFont BaseQFont(const TFont& Font) {
  QFont f(QtFamilyName(Font.Name()));
  f.setBold(Font.Style().Contains(fsBold));
  f.setItalic(Font.Style().Contains(fsItalic));
  f.setUnderline(Font.Style().Contains(fsUnderline));
  f.setStrikeOut(Font.Style().Contains(fsStrikeOut));
  if (Font.Pitch() == fpFixed) {
    f.setFixedPitch(true);
    f.setStyleHint(QFont::TypeWriter);
  }
  // Greyscale antialiasing without hinting keeps glyph shapes the same on every machine.
  f.setStyleStrategy(QFont::PreferAntialias);
  f.setHintingPreference(QFont::PreferNoHinting);
  f.setKerning(false);
  return f;
}

}  // namespace

QFont MakeQFont(const TFont& Font) {
  RequireGui();
  QFont f = BaseQFont(Font);
  int32_t h = Font.Height();
  if (h == 0) h = -MulDiv(8, 96, 72);
  if (h < 0) {
    f.setPixelSize(std::max(1, -h));
  } else {
    // A cell height: scale the em so that ascent + descent comes to h.
    QFont probe = f;
    probe.setPixelSize(1000);
    QFontMetricsF fm(probe);
    double cell = fm.ascent() + fm.descent();
    int px = cell > 0 ? static_cast<int>(Round(h * 1000.0 / cell)) : h;
    f.setPixelSize(std::max(1, px));
  }
  return f;
}

namespace {

// The turn of a font in degrees, counter-clockwise, within (-360, 360).
double TurnDegrees(const TFont& Font) { return (Font.Orientation() % 3600) / 10.0; }

class TQtTextMeasurer : public ITextMeasurer {
 public:
  TTextMetric Metrics(const TFont& Font) override { return Face(Font).metric; }

  // Every character advances a whole number of pixels and the line is their sum, as on the
  // platform the documents come from; drawing places each character at those positions.
  int32_t TextWidth(const TFont& Font, std::string_view Text) override {
    FaceEntry& face = Face(Font);
    int64_t w = 0;
    for (size_t i = 0; i < Text.size();) w += Advance(face, NextCodePoint(Text, i));
    return static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX));
  }

  std::vector<int32_t> CharAdvances(const TFont& Font, std::string_view Text) override {
    FaceEntry& face = Face(Font);
    std::vector<int32_t> out;
    for (size_t i = 0; i < Text.size();) out.push_back(Advance(face, NextCodePoint(Text, i)));
    return out;
  }

  void RenderLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y, const TRect& Clip,
                  TTextMask& Mask) override {
    if (Text.empty() || Mask.Width <= 0 || Mask.Height <= 0) return;
    TRect c;
    if (!IntersectRect(c, Clip, Rect(0, 0, Mask.Width, Mask.Height)) || IsRectEmpty(c)) return;
    FaceEntry& face = Face(Font);
    // Paint straight into the mask's bytes: the alpha channel is the coverage.
    QImage img(Mask.Coverage.data(), Mask.Width, Mask.Height, Mask.Width, QImage::Format_Alpha8);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(QRect(c.Left, c.Top, c.Width(), c.Height()));
    p.setFont(face.font);
    p.setPen(QColor(0, 0, 0, 255));
    const double turn = TurnDegrees(Font);
    if (turn == 0) {
      const int32_t baseline = Y + face.metric.Ascent;
      int64_t x = X;
      for (size_t i = 0; i < Text.size();) {
        char32_t cp = NextCodePoint(Text, i);
        if (x > -100000 && x < 100000 && x < int64_t{c.Right} + face.metric.Height)
          p.drawText(QPoint(static_cast<int>(x), baseline), QString::fromUcs4(&cp, 1));
        x += Advance(face, cp);
      }
      return;
    }
    p.translate(X, Y);
    p.rotate(-turn);  // Qt turns clockwise on a y-down device
    DrawGlyphs(face, Text, p);
  }

  bool PaintLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y, TColor Color,
                 QPainter& Painter) override {
    if (Text.empty()) return true;
    FaceEntry& face = Face(Font);
    Painter.save();
    Painter.setFont(face.font);
    const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(Color));
    Painter.setPen(QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
    Painter.translate(X, Y);
    if (const double turn = TurnDegrees(Font); turn != 0) Painter.rotate(-turn);
    DrawGlyphs(face, Text, Painter);
    Painter.restore();
    return true;
  }

 private:
  // A resolved face with its metrics and the advances measured so far. Text shapes measure
  // the same font over and over while fitting, so the last few faces are kept.
  struct FaceEntry {
    std::string name;
    int32_t height = 0;
    uint8_t style = 0;
    TFontPitch pitch = fpDefault;
    QFont font;
    std::unique_ptr<QFontMetricsF> metrics;
    TTextMetric metric;
    std::unordered_map<char32_t, int32_t> advances;
  };

  FaceEntry& Face(const TFont& Font) {
    for (size_t i = 0; i < FFaces.size(); ++i) {
      FaceEntry& e = *FFaces[i];
      if (e.height == Font.Height() && e.style == Font.Style().Bits() && e.pitch == Font.Pitch() &&
          e.name == Font.Name()) {
        if (i != 0) std::rotate(FFaces.begin(), FFaces.begin() + static_cast<std::ptrdiff_t>(i),
                                FFaces.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return *FFaces[0];
      }
    }
    auto e = std::make_unique<FaceEntry>();
    e->name = Font.Name();
    e->height = Font.Height();
    e->style = Font.Style().Bits();
    e->pitch = Font.Pitch();
    e->font = MakeQFont(Font);
    e->metrics = std::make_unique<QFontMetricsF>(e->font);
    QFontMetrics fm(e->font);
    e->metric.Ascent = fm.ascent();
    e->metric.Descent = fm.descent();
    e->metric.Height = e->metric.Ascent + e->metric.Descent;
    e->metric.InternalLeading = std::max(0, e->metric.Height - e->font.pixelSize());
    e->metric.ExternalLeading = std::max(0, fm.leading());
    e->metric.AveCharWidth = fm.averageCharWidth();
    if (FFaces.size() >= 8) FFaces.pop_back();
    FFaces.insert(FFaces.begin(), std::move(e));
    return *FFaces[0];
  }

  // Each character at its whole-pixel advance from the cell's top-left corner at (0, 0), so the
  // ink sits where the measured widths say.
  static void DrawGlyphs(FaceEntry& face, std::string_view Text, QPainter& p) {
    const int32_t baseline = face.metric.Ascent;
    int64_t x = 0;
    for (size_t i = 0; i < Text.size() && x < 100000;) {
      char32_t cp = NextCodePoint(Text, i);
      if (cp != U' ') p.drawText(QPoint(static_cast<int>(x), baseline), QString::fromUcs4(&cp, 1));
      x += Advance(face, cp);
    }
  }

  static int32_t Advance(FaceEntry& face, char32_t cp) {
    auto it = face.advances.find(cp);
    if (it != face.advances.end()) return it->second;
    auto a = static_cast<int32_t>(Round(face.metrics->horizontalAdvance(QString::fromUcs4(&cp, 1))));
    if (face.advances.size() < 4096) face.advances.emplace(cp, a);
    return a;
  }

  std::vector<std::unique_ptr<FaceEntry>> FFaces;
};

ITextMeasurer*& InstalledMeasurer() {
  static ITextMeasurer* installed = nullptr;
  return installed;
}

}  // namespace

ITextMeasurer& TextMeasurer() {
  if (ITextMeasurer* m = InstalledMeasurer()) return *m;
  static TQtTextMeasurer qt;
  return qt;
}

ITextMeasurer* SetTextMeasurer(ITextMeasurer* Measurer) {
  ITextMeasurer* previous = InstalledMeasurer();
  InstalledMeasurer() = Measurer;
  return previous;
}

// ---------------------------------------------------------------------------------------------
// The fake

namespace {
int32_t FakeEm(const TFont& Font) { return std::max(1, std::abs(Font.Height())); }
int32_t FakeAdvance(const TFont& Font) { return std::max(1, FakeEm(Font) / 2); }
}  // namespace

TTextMetric TFakeTextMeasurer::Metrics(const TFont& Font) {
  int32_t h = FakeEm(Font);
  TTextMetric m;
  m.Descent = h / 5;
  m.Ascent = h - m.Descent;
  m.Height = h;
  m.AveCharWidth = FakeAdvance(Font);
  return m;
}

int32_t TFakeTextMeasurer::TextWidth(const TFont& Font, std::string_view Text) {
  return static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(Utf8Length(Text)) * FakeAdvance(Font), INT32_MAX));
}

std::vector<int32_t> TFakeTextMeasurer::CharAdvances(const TFont& Font, std::string_view Text) {
  return std::vector<int32_t>(Utf8Length(Text), FakeAdvance(Font));
}

void TFakeTextMeasurer::RenderLine(const TFont& Font, std::string_view Text, int32_t X, int32_t Y,
                                   const TRect& Clip, TTextMask& Mask) {
  TRect c;
  if (!IntersectRect(c, Clip, Rect(0, 0, Mask.Width, Mask.Height)) || IsRectEmpty(c)) return;
  int32_t adv = FakeAdvance(Font);
  TTextMetric m = Metrics(Font);
  if (Font.Orientation() % 3600 != 0) {
    RenderTurned(Font, Text, X, Y, c, Mask);
    return;
  }
  int64_t x = X;
  for (size_t i = 0; i < Text.size(); x += adv) {
    char32_t cp = NextCodePoint(Text, i);
    if (cp == U' ') continue;
    int64_t l = std::max<int64_t>(x, c.Left), r = std::min<int64_t>(x + adv - 1, c.Right);
    int64_t t = std::max<int64_t>(int64_t{Y} + 1, c.Top), b = std::min<int64_t>(int64_t{Y} + m.Ascent, c.Bottom);
    for (int64_t yy = t; yy < b; ++yy)
      for (int64_t xx = l; xx < r; ++xx) Mask.Coverage[static_cast<size_t>(yy) * Mask.Width + xx] = 255;
  }
}

// The turned boxes: every pixel whose centre, turned back about (X, Y), falls inside the
// unturned box of a character (the same pixels RenderLine fills for unturned text).
void TFakeTextMeasurer::RenderTurned(const TFont& Font, std::string_view Text, int32_t X, int32_t Y,
                                     const TRect& Clip, TTextMask& Mask) {
  const int32_t adv = FakeAdvance(Font);
  const TTextMetric m = Metrics(Font);
  std::vector<bool> ink;
  for (size_t i = 0; i < Text.size();) ink.push_back(NextCodePoint(Text, i) != U' ');
  const double a = TurnDegrees(Font) * 3.14159265358979323846 / 180.0, cs = std::cos(a), sn = std::sin(a);
  const double w = static_cast<double>(ink.size()) * adv, h = m.Height;
  // Bounds of the turned cell.
  double l = 0, t = 0, r = 0, b = 0;
  for (auto [u, v] : {std::pair{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}}) {
    const double x = u * cs + v * sn, y = -u * sn + v * cs;
    l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
  }
  const int64_t x0 = std::max<int64_t>(Clip.Left, static_cast<int64_t>(std::floor(X + l)));
  const int64_t x1 = std::min<int64_t>(Clip.Right, static_cast<int64_t>(std::ceil(X + r)) + 1);
  const int64_t y0 = std::max<int64_t>(Clip.Top, static_cast<int64_t>(std::floor(Y + t)));
  const int64_t y1 = std::min<int64_t>(Clip.Bottom, static_cast<int64_t>(std::ceil(Y + b)) + 1);
  for (int64_t py = y0; py < y1; ++py)
    for (int64_t px = x0; px < x1; ++px) {
      const double dx = px + 0.5 - X, dy = py + 0.5 - Y;
      const double u = dx * cs - dy * sn, v = dx * sn + dy * cs;
      if (u < 0 || v < 1 || v >= m.Ascent) continue;
      const auto k = static_cast<size_t>(u / adv);
      if (k >= ink.size() || !ink[k] || u - static_cast<double>(k) * adv >= adv - 1) continue;
      Mask.Coverage[static_cast<size_t>(py) * Mask.Width + static_cast<size_t>(px)] = 255;
    }
}

// ---------------------------------------------------------------------------------------------
// Layout

int32_t RenderTextMask(const TFont& Font, const TRect& R, uint32_t Flags, std::string_view Text,
                       TTextMask& Mask, TRect* TextRect) {
  ITextMeasurer& tm = TextMeasurer();
  TTextMetric m = tm.Metrics(Font);
  int32_t lineHeight = m.Height + ((Flags & DT_EXTERNALLEADING) ? m.ExternalLeading : 0);

  std::vector<std::string_view> lines;
  if (Flags & DT_SINGLELINE) {
    lines.push_back(Text);
  } else {
    size_t start = 0;
    for (size_t i = 0; i <= Text.size(); ++i) {
      if (i == Text.size() || Text[i] == '\n' || Text[i] == '\r') {
        lines.push_back(Text.substr(start, i - start));
        if (i + 1 < Text.size() && Text[i] == '\r' && Text[i + 1] == '\n') ++i;
        start = i + 1;
      }
    }
  }

  // Positions in 64 bits, then kept within +-2^30: far-off text simply lands outside.
  auto fit = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -(int64_t{1} << 30), int64_t{1} << 30)); };
  const int64_t total = int64_t{lineHeight} * static_cast<int64_t>(lines.size());
  int64_t top = R.Top;
  if (Flags & DT_SINGLELINE) {
    if (Flags & DT_BOTTOM)
      top = int64_t{R.Bottom} - lineHeight;
    else if (Flags & DT_VCENTER)
      top = R.Top + (int64_t{R.Bottom} - R.Top - lineHeight) / 2;
  }

  TRect clip = (Flags & DT_NOCLIP) ? Rect(0, 0, Mask.Width, Mask.Height) : R;
  int64_t left = R.Left, right = R.Left;
  bool first = true;
  int64_t y = top;
  for (std::string_view line : lines) {
    const int64_t w = tm.TextWidth(Font, line);
    int64_t x = R.Left;
    if (Flags & DT_CENTER)
      x = R.Left + (int64_t{R.Right} - R.Left - w) / 2;
    else if (Flags & DT_RIGHT)
      x = int64_t{R.Right} - w;
    left = first ? x : std::min(left, x);
    right = first ? x + w : std::max(right, x + w);
    first = false;
    if (!(Flags & DT_CALCRECT)) tm.RenderLine(Font, line, fit(x), fit(y), clip, Mask);
    y += lineHeight;
  }
  TRect bounds{fit(left), fit(top), fit(right), fit(top + total)};
  if (TextRect) *TextRect = bounds;
  return fit(total);
}

}  // namespace platform
