#include "widgets/MiniHtml.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/Graphics.h"
#include "platform/ImgList.h"
#include "platform/Regions.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "widgets/PictureContainer.h"
#include "widgets/VisualStyles.h"

namespace widgets {

using namespace platform;

namespace {

constexpr uint32_t kRunFlags = DT_BOTTOM | DT_SINGLELINE | DT_EXPANDTABS | DT_EXTERNALLEADING | DT_NOPREFIX;
constexpr int32_t kListStep = 12;
const char* const kBullet = "\xE2\x80\xA2";  // U+2022

char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

size_t IFind(std::string_view S, std::string_view P, size_t From = 0) {
  if (S.size() < P.size()) return std::string_view::npos;
  for (size_t i = From; i + P.size() <= S.size(); ++i) {
    size_t k = 0;
    while (k < P.size() && Up(S[i + k]) == Up(P[k])) ++k;
    if (k == P.size()) return i;
  }
  return std::string_view::npos;
}

std::string Quoted(std::string_view S, size_t From) {
  const size_t q1 = S.find('"', From);
  if (q1 == std::string_view::npos) return {};
  const size_t q2 = S.find('"', q1 + 1);
  if (q2 == std::string_view::npos) return {};
  return std::string(S.substr(q1 + 1, q2 - q1 - 1));
}

// The attribute's quoted value, entities decoded; "" when absent.
std::string Attr(std::string_view Tag, std::string_view Name, bool* Present = nullptr) {
  const size_t p = IFind(Tag, Name);
  if (Present) *Present = p != std::string_view::npos;
  if (p == std::string_view::npos) return {};
  return DecodeEntities(Quoted(Tag, p + Name.size()));
}

// A decimal integer; false for anything else (also out of range).
bool ToInt(const std::string& S, int32_t& V) {
  const std::string t = Trim(S);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v < -1000000 || v > 1000000) return false;
  V = static_cast<int32_t>(v);
  return true;
}

// Degrees (decimals allowed) to the font's tenths of a degree, within one turn; anything that
// is not a number leaves the text upright.
int32_t TurnFromDegrees(const std::string& S) {
  const std::string t = Trim(S);
  if (t.empty()) return 0;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (*end != 0 || !std::isfinite(v)) return 0;
  return static_cast<int32_t>(std::lround(std::fmod(v, 360.0) * 10.0));
}

int32_t NonNegative(const std::string& S) {
  int32_t v = 0;
  return ToInt(S, v) && v > 0 ? v : 0;
}

TColor ParseColor(const std::string& V) {
  if (!V.empty() && V[0] == '#') return HtmlColorToColor(V);
  std::string lower = V;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ColorNameToColor(lower);
}

// BODY and P colours: a name when it holds "CL", a hex colour when it holds "#".
bool ParseBlockColor(const std::string& V, TColor& C) {
  const std::string up = UpperCase(V);
  if (up.find("CL") != std::string::npos) {
    C = ParseColor(V.substr(up.find("CL")));
    return true;
  }
  const size_t hash = V.find('#');
  if (hash != std::string::npos) {
    C = HtmlColorToColor(V.substr(hash));
    return true;
  }
  return false;
}

// State that runs across the lines of one call.
struct TState {
  bool InAnchor = false;
  std::string Href;
  TPoint AnchorStart;
  bool AnchorStartedOnLine = false;
  TPoint FocusOrigin;
  bool InFocusAnchor = false;
  bool MouseInThisAnchor = false;
  bool Sub = false, Sup = false, Shadow = false, Hidden = false, ErrorLine = false;
  // Inside BLINK, and the font colour it set when its text is painted in the background colour.
  bool Blink = false;
  TColor BlinkColor = clNone;
  int32_t ListLevel = 0;
  bool ParaBg = false;
  TColor ParaBgColor = clNone;
  int32_t Align = 0, Indent = 0;
  TColor AnchorFont = clNone, AnchorBrush = clNone;
  bool HoverBrushApplied = false, HoverFontApplied = false;
  TColor HiFont = clNone, HiBrush = clNone, FontBrush = clNone, ParaBrush = clNone;
  int32_t ImageIndex = 0;
  int32_t AnchorCount = 0;
  // The font's turn before the last R tag, which /R returns to.
  bool Turned = false;
  int32_t TurnBefore = 0;
};

struct TLine {
  int32_t Width = 0, Height = 0, SubDepth = 0, SupRise = 0, ImageBaseline = 0;
  int32_t Align = 0, Indent = 0;
  std::string Consumed;
};

class TRenderer {
 public:
  TRenderer(TCanvas* C, const TMiniHtmlParams& P, TMiniHtmlResult& R) : C(C), P(P), R(R) {}

  bool Run(const std::string& Text, TRect& Rect);

 private:
  TLine Pass(std::string& Text, const TRect& LineRect, bool Measuring, const TLine& Measured, bool& MouseOnText,
             bool& MouseOnObject);
  TColor SaveBrush() { return C->Brush()->Style() == bsClear ? clNone : C->Brush()->Color(); }
  void RestoreBrush(TColor Color) {
    if (Color == clNone) C->Brush()->SetStyle(bsClear);
    else C->Brush()->SetColor(Color);
  }
  int32_t GhHeight() { return C->TextHeight("gh"); }
  // A picture by location: found in the cache, or added to it and loaded once. Locations
  // without "://" name a picture container, which this program does not have.
  THTMLPicture* CachedPicture(const std::string& Src) {
    if (!P.PictureCache || Src.find("://") == std::string::npos) return nullptr;
    if (THTMLPicture* pic = P.PictureCache->FindPicture(Src)) return pic;
    THTMLPicture* added = P.PictureCache->AddPicture();
    added->SetAsynchronous(false);
    try {
      added->SetLocation(Src);
    } catch (const std::exception&) {
      // A picture that fails to load stays empty and draws nothing.
    }
    return P.PictureCache->FindPicture(Src);
  }
  bool Painting(bool Measuring) const { return !Measuring && !P.HitTestOnly; }
  void DrawRun(const std::string& Run, TRect RunRect, int32_t Width);
  void DrawControl(const TControlTag& Tag, const TRect& Box, bool MouseOver);

  TCanvas* C;
  const TMiniHtmlParams& P;
  TMiniHtmlResult& R;
  TState S;
  TRect Target;
  TFont StartFont;
  TColor EntryBrush = clNone;
  int32_t HoveredImage = -1;
  bool ThemesActive = false;
};

void TRenderer::DrawRun(const std::string& Run, TRect RunRect, int32_t Width) {
  if (C->Brush()->Style() != bsClear && Width > 0) {
    // The text background of a coloured brush is filled explicitly, behind the run only.
    C->FillRect({RunRect.Left, RunRect.Bottom - C->TextHeight(Run), std::min(RunRect.Right, RunRect.Left + Width),
                 RunRect.Bottom});
  }
  C->SetBkMode(TRANSPARENT);
  const uint32_t flags = kRunFlags | (P.WordWrap ? 0 : DT_END_ELLIPSIS);
  if (S.Shadow) {
    const TColor fc = C->Font()->Color();
    C->Font()->SetColor(P.ShadowColor);
    // An offset beyond any canvas puts the shadow out of sight all the same, without the sums
    // running out of range.
    constexpr int32_t kFar = 1 << 24;
    const int32_t so = std::clamp(P.ShadowOffset, -kFar, kFar);
    TRect sr{RunRect.Left + so, RunRect.Top + so, RunRect.Right + so, RunRect.Bottom + so};
    C->DrawText(Run, sr, flags);
    C->Font()->SetColor(fc);
    C->SetBkMode(TRANSPARENT);
  }
  C->DrawText(Run, RunRect, flags);
}

void TRenderer::DrawControl(const TControlTag& Tag, const TRect& Box, bool MouseOver) {
  const bool checked = UpperCase(Tag.Value) == "TRUE";
  const bool pressed = MouseOver && P.MouseDown;
  const TColor oldBrush = SaveBrush();
  const TColor oldPen = C->Pen()->Color();
  if (Tag.Type == "EDIT" || Tag.Type == "COMBO") {
    C->Brush()->SetColor(clWindow);
    C->Pen()->SetColor(clGray);
    C->Rectangle(Box);
    TRect tr{Box.Left + 3, Box.Top, Box.Right - (Tag.Type == "COMBO" ? Box.Height() : 2), Box.Bottom - 3};
    C->SetBkMode(TRANSPARENT);
    C->DrawText(Tag.Value, tr, kRunFlags | DT_END_ELLIPSIS);
    if (Tag.Type == "COMBO") {
      const TRect button{Box.Right - Box.Height() + 1, Box.Top + 1, Box.Right - 1, Box.Bottom - 1};
      HTHEME theme = ThemesActive ? OpenThemeData(P.WindowHandle, "combobox") : nullptr;
      if (!theme || !DrawThemeBackground(theme, C, CP_DROPDOWNBUTTON, pressed ? CBXS_PRESSED : MouseOver ? CBXS_HOT : CBXS_NORMAL, button)) {
        C->Brush()->SetColor(clBtnFace);
        C->Rectangle(button);
        const int32_t cx = (button.Left + button.Right) / 2, cy = (button.Top + button.Bottom) / 2;
        C->Brush()->SetColor(clBlack);
        C->Pen()->SetColor(clBlack);
        C->Polygon({{cx - 3, cy - 1}, {cx + 3, cy - 1}, {cx, cy + 2}});
      }
      CloseThemeData(theme);
    }
  } else if (Tag.Type == "CHECK" || Tag.Type == "RADIO") {
    const int32_t size = std::min(13, Box.Height());
    const TRect box{Box.Left, Box.Bottom - size - 2, Box.Left + size, Box.Bottom - 2};
    HTHEME theme = ThemesActive ? OpenThemeData(P.WindowHandle, "button") : nullptr;
    const int32_t state = (checked ? CBS_CHECKEDNORMAL : CBS_UNCHECKEDNORMAL) + (pressed ? 2 : MouseOver ? 1 : 0);
    if (!theme || !DrawThemeBackground(theme, C, Tag.Type == "CHECK" ? BP_CHECKBOX : BP_RADIOBUTTON, state, box)) {
      C->Brush()->SetColor(clWindow);
      C->Pen()->SetColor(clGray);
      if (Tag.Type == "CHECK") C->Rectangle(box);
      else C->Ellipse(box);
      if (checked) {
        C->Pen()->SetColor(clBlack);
        C->Brush()->SetColor(clBlack);
        if (Tag.Type == "CHECK") {
          C->MoveTo(box.Left + 3, box.Top + 6);
          C->LineTo(box.Left + 5, box.Top + 9);
          C->LineTo(box.Left + 10, box.Top + 3);
        } else {
          C->Ellipse(box.Left + 4, box.Top + 4, box.Right - 4, box.Bottom - 4);
        }
      }
    }
    CloseThemeData(theme);
  } else if (Tag.Type == "BUTTON" || Tag.Type == "TOOLBTN") {
    HTHEME theme = ThemesActive ? OpenThemeData(P.WindowHandle, "button") : nullptr;
    const bool themed = theme && DrawThemeBackground(theme, C, BP_PUSHBUTTON, pressed ? PBS_PRESSED : MouseOver ? PBS_HOT : PBS_NORMAL, Box);
    CloseThemeData(theme);
    if (!themed) {
      C->Brush()->SetColor(clBtnFace);
      C->Pen()->SetColor(clGray);
      C->Rectangle(Box);
    }
    TRect tr = Box;
    if (pressed) tr = {tr.Left + 1, tr.Top + 1, tr.Right + 1, tr.Bottom + 1};
    C->SetBkMode(TRANSPARENT);
    C->DrawText(Tag.Value, tr, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
  }
  RestoreBrush(oldBrush);
  C->Pen()->SetColor(oldPen);
}

TLine TRenderer::Pass(std::string& Text, const TRect& LR, bool Measuring, const TLine& Measured, bool& MouseOnText,
                      bool& MouseOnObject) {
  TLine L;
  L.Align = S.Align;
  L.Indent = S.Indent;
  const bool paint = Painting(Measuring);
  const int32_t width = LR.Width();
  int32_t offset = 0;
  int32_t trailingBlank = 0;
  bool lineEnded = false;
  bool listItemSeen = false;
  const int32_t baseline = LR.Bottom - Measured.SubDepth;
  const int32_t imageBaseline = Measured.ImageBaseline;
  if (S.InAnchor) {
    S.AnchorStart = {LR.Left, LR.Top};
    S.AnchorStartedOnLine = false;
  }
  if (S.ParaBg && paint) {
    const TColor pen = C->Pen()->Color();
    C->Pen()->SetColor(S.ParaBgColor);
    C->Brush()->SetColor(S.ParaBgColor);
    C->FillRect({Target.Left, LR.Top, Target.Right, LR.Bottom});
    C->Pen()->SetColor(pen);
  }
  auto inLine = [&](int32_t y) { return !Measuring && y > LR.Top && y <= LR.Bottom; };

  while (!Text.empty() && !lineEnded) {
    // 1. The next text run.
    const size_t lt = Text.find('<');
    size_t cut = lt == std::string::npos ? Text.size() : lt;
    if (P.WordWrap) {
      const size_t blank = Text.find(' ');
      if (blank != std::string::npos && blank < cut) cut = blank + 1;
    }
    const std::string raw = Text.substr(0, cut);
    const std::string run = DecodeEntities(raw);
    int32_t runWidth = 0;
    if (!run.empty()) {
      if (!S.Hidden) {
        runWidth = C->TextWidth(run);
        if (!Measuring) {
          TRect rr{LR.Left + offset, LR.Top, LR.Right, baseline - imageBaseline};
          if (S.Sup) rr.Bottom -= Measured.SupRise;
          if (S.Sub) rr.Bottom += Measured.SubDepth;
          if (paint) {
            DrawRun(run, rr, runWidth);
            if (S.ErrorLine) {
              const TColor pen = C->Pen()->Color();
              C->Pen()->SetColor(0x0000FF);
              int32_t x = rr.Left & ~1;
              bool down = false;
              C->MoveTo(x, rr.Bottom);
              while (x < rr.Left + runWidth) {
                x += 2;
                down = !down;
                C->LineTo(x, rr.Bottom + (down ? 2 : 0));
              }
              C->Pen()->SetColor(pen);
            }
          }
          if (S.InFocusAnchor) R.FocusAnchorValue = S.Href;
        }
        offset += runWidth;
        if (S.InAnchor && !Measuring) {
          const int32_t mx = P.MouseX - LR.Left;
          if (mx >= offset - runWidth && mx <= offset && inLine(P.MouseY)) {
            MouseOnText = true;
            R.AnchorValue = S.Href;
            S.MouseInThisAnchor = true;
          }
        }
      }
    }
    // 5. Fit: a word wider than the whole line is kept rather than looping.
    const bool fits = !Measuring || offset < width || (P.WordWrap && runWidth >= width);
    if (!fits && P.WordWrap) {
      offset -= runWidth;
      lineEnded = true;
      break;
    }
    if (!run.empty()) {
      const int32_t th = C->TextHeight(run);
      L.Height = std::max(L.Height, th);
      if (S.Sub) L.SubDepth = std::max(L.SubDepth, th / 4);
      if (S.Sup) L.SupRise = std::max(L.SupRise, th / 4);
      if (Measuring) R.PlainText += run;
      const bool invisible = S.Blink && !P.ShowBlinkText && C->Font()->Color() == S.BlinkColor;
      if (Measuring && !S.Hidden && !invisible) R.ShownText += run;
    }
    L.Consumed += raw;
    Text.erase(0, raw.size());
    if (!fits && Measuring) Text.clear();
    trailingBlank = (!run.empty() && run.back() == ' ' && !S.Hidden) ? C->TextWidth(" ") : 0;

    // 6. A tag.
    if (Text.empty() || Text[0] != '<') continue;
    if (Text.size() <= 2) {
      L.Consumed += Text;
      Text.clear();
      break;
    }
    const bool closing = Text[1] == '/' && Text.size() >= 4 && std::isalpha(static_cast<unsigned char>(Text[2]));
    const size_t gt = Text.find('>');
    const std::string tag = Text.substr(0, gt == std::string::npos ? std::string::npos : gt + 1);
    bool consume = true;
    TFontStyles style = C->Font()->Style();
    auto setStyle = [&](TFontStyle f, bool on) {
      if (on) style.Include(f);
      else style.Exclude(f);
      C->Font()->SetStyle(style);
    };
    if (closing) {
      const char c = Up(Text[2]);
      const char c2 = Text[3];
      switch (c) {
        case 'A': {
          setStyle(fsUnderline, false);
          if (!Measuring && (!P.HoverStyle || S.AnchorCount == P.HoverAnchor)) {
            if (S.HoverBrushApplied) RestoreBrush(S.AnchorBrush);
            if (S.HoverFontApplied) C->Font()->SetColor(S.AnchorFont);
          }
          S.HoverBrushApplied = S.HoverFontApplied = false;
          if (!P.KeepColors) C->Font()->SetColor(StartFont.Color());
          S.InAnchor = false;
          if (!Measuring && (S.MouseInThisAnchor || (P.FocusRectAsHover && P.FocusAnchor == S.AnchorCount))) {
            R.HoverRect = {S.AnchorStart.X, S.AnchorStart.Y, LR.Left + offset, LR.Bottom};
            R.MouseAnchor = S.AnchorCount;
          }
          S.MouseInThisAnchor = false;
          if (S.InFocusAnchor && !Measuring) {
            TRect fr{S.FocusOrigin.X - 1, LR.Bottom - imageBaseline - GhHeight(), LR.Left + offset + 1,
                     LR.Bottom - imageBaseline};
            if (paint) {
              const TColor b = SaveBrush();
              const TColor pen = C->Pen()->Color();
              C->Brush()->SetStyle(bsClear);
              C->Pen()->SetColor(0x808080);
              C->Rectangle(fr);
              C->Pen()->SetColor(pen);
              RestoreBrush(b);
            }
          }
          S.InFocusAnchor = false;
          break;
        }
        case 'B':
          if (c2 == '>') {
            setStyle(fsBold, false);
          } else {
            C->Font()->SetColor(StartFont.Color());
            S.Blink = false;
          }
          break;
        case 'E': if (!Measuring) S.ErrorLine = false; break;
        case 'F':
          C->Font()->SetName(StartFont.Name());
          C->Font()->SetSize(StartFont.Size());
          // Colours change in the measuring pass too: it tells which text is seen.
          if (!P.KeepColors) C->Font()->SetColor(StartFont.Color());
          if (!Measuring && !P.KeepColors) RestoreBrush(S.FontBrush);
          break;
        case 'H':
          C->Font()->SetColor(S.HiFont);
          if (!Measuring) RestoreBrush(S.HiBrush);
          break;
        case 'I': setStyle(fsItalic, false); break;
        case 'P':
          lineEnded = true;
          if (Measuring) R.ShownText += '\r';
          if (!Measuring) RestoreBrush(S.ParaBrush);
          S.ParaBg = false;
          S.Align = 0;
          S.Indent = 0;
          break;
        case 'R':
          if (S.Turned) C->Font()->SetOrientation(S.TurnBefore);
          break;
        case 'S':
          if (Up(c2) == 'U') S.Sub = S.Sup = false;
          else if (Up(c2) == 'H') S.Shadow = false;
          else setStyle(fsStrikeOut, false);
          break;
        case 'U':
          if (c2 == '>') setStyle(fsUnderline, false);
          else if (S.ListLevel > 0) --S.ListLevel;
          else setStyle(fsUnderline, false);
          break;
        case 'Z': S.Hidden = false; break;
        default: break;
      }
    } else {
      const char c = Up(Text[1]);
      const char c2 = Text[2];
      switch (c) {
        case 'A': {
          ++S.AnchorCount;
          S.InFocusAnchor = S.AnchorCount - 1 == P.FocusAnchor && P.FocusAnchor >= 0;
          if (S.InFocusAnchor && !Measuring) S.FocusOrigin = {LR.Left + offset, LR.Top};
          setStyle(fsUnderline, true);
          S.HoverBrushApplied = S.HoverFontApplied = false;
          if (!Measuring && (!P.HoverStyle || S.AnchorCount == P.HoverAnchor)) {
            if (P.HoverColor != clNone) {
              S.AnchorBrush = SaveBrush();
              C->Brush()->SetColor(P.HoverColor);
              S.HoverBrushApplied = true;
            }
            if (P.HoverFontColor != clNone) {
              S.AnchorFont = C->Font()->Color();
              C->Font()->SetColor(P.HoverFontColor);
              S.HoverFontApplied = true;
            }
          }
          if (!P.KeepColors && !S.HoverFontApplied) C->Font()->SetColor(P.AnchorColor);
          S.Href = DecodeEntities(Quoted(tag, 0));
          S.InAnchor = true;
          S.AnchorStart = {LR.Left + offset, LR.Top};
          S.AnchorStartedOnLine = true;
          if (Measuring) ++R.AnchorCount;
          break;
        }
        case 'B': {
          const char u = Up(c2);
          if (c2 == '>') {
            setStyle(fsBold, true);
          } else if (u == 'R') {
            lineEnded = true;
            if (Measuring) {
              R.PlainText += '\r';
              R.ShownText += '\r';
            }
            if (L.Height == 0) L.Height = GhHeight();
          } else if (u == 'L') {
            S.Blink = true;
            S.BlinkColor = EntryBrush == clNone ? ColorToRGB(clWindow) : EntryBrush;
            if (!P.ShowBlinkText) C->Font()->SetColor(S.BlinkColor);
          } else if (u == 'O') {
            bool has = false;
            const std::string bg = Attr(tag, "BACKGROUND", &has);
            if (has && paint) {
              THTMLPicture* pic = CachedPicture(bg);
              if (pic && !pic->Empty() && pic->Width() > 0 && pic->Height() > 0) {
                const int32_t pw = pic->Width(), ph = pic->Height();
                // The last row and column of tiles would reach past the target into whatever
                // lies beside it (the neighbouring rows of a tree): clip, then restore the
                // caller's clip.
                TRegion saved;
                const bool clipped = C->GetClipRgn(saved);
                C->IntersectClipRect(Target);
                for (int32_t y = Target.Top; y < Target.Bottom; y += ph)
                  for (int32_t x = Target.Left; x < Target.Right; x += pw) pic->Draw(C, {x, y, x + pw, y + ph});
                C->SelectClipRgn(clipped ? &saved : nullptr);
              }
            }
            TColor col;
            if (ParseBlockColor(Attr(tag, "BGCOLOR"), col)) {
              C->Brush()->SetColor(col);
              if (paint) C->FillRect(Target);
            }
          }
          break;
        }
        case 'C': {
          const TControlTag ct = ParseControlTag(tag);
          int32_t w = 0;
          if (!ToInt(ct.Width, w) || w <= 0) break;
          const int32_t h = GhHeight() + 6;
          L.Height = std::max(L.Height, h);
          const TRect box{LR.Left + offset, baseline - h, LR.Left + offset + w, baseline};
          const bool over = !Measuring && P.MouseX >= box.Left && P.MouseX < box.Right && P.MouseY >= box.Top &&
                            P.MouseY < box.Bottom;
          if (paint && !S.Hidden) DrawControl(ct, box, over);
          if (over) {
            MouseOnObject = true;
            R.AnchorValue = "ctrl";
            R.ControlRect = box;
            R.ControlId = ct.Id;
            R.ControlValue = ct.Value;
            R.ControlType = ct.Type;
          }
          offset += w;
          break;
        }
        case 'E': if (!Measuring) S.ErrorLine = true; break;
        case 'F': {
          bool has = false;
          const std::string face = Attr(tag, "FACE", &has);
          if (has && !face.empty()) C->Font()->SetName(face);
          const std::string color = Attr(tag, " COLOR", &has);
          if (has && !P.KeepColors) C->Font()->SetColor(ParseColor(color));
          const std::string bg = Attr(tag, "BGCOLOR", &has);
          if (has && !Measuring && !P.KeepColors) {
            S.FontBrush = SaveBrush();
            C->Brush()->SetColor(ParseColor(bg));
          }
          const std::string size = Attr(tag, "SIZE", &has);
          int32_t sz = 0;
          if (has && ToInt(size, sz) && sz > 0) {
            static constexpr int32_t kSizes[] = {8, 10, 12, 14, 16};
            C->Font()->SetSize(sz <= 5 ? kSizes[sz - 1] : std::min(sz, 400));
          }
          break;
        }
        case 'H': {
          const char u = Up(c2);
          if (u == 'I') {
            S.HiFont = C->Font()->Color();
            C->Font()->SetColor(clHighlightText);
            if (!Measuring) {
              S.HiBrush = SaveBrush();
              C->Brush()->SetColor(clHighlight);
            }
          } else if (u == 'R') {
            lineEnded = true;
            if (Measuring) R.ShownText += '\r';
            if (L.Height == 0) L.Height = GhHeight();
            if (paint) {
              const TColor pen = C->Pen()->Color();
              C->Pen()->SetColor(clBlack);
              C->MoveTo(Target.Left, LR.Top + 1);
              C->LineTo(Target.Right, LR.Top + 1);
              C->Pen()->SetColor(pen);
            }
          }
          break;
        }
        case 'I': {
          const char u = Up(c2);
          if (c2 == '>') {
            setStyle(fsItalic, true);
          } else if (u == 'N') {
            const size_t x = IFind(tag, "x", 2);
            int32_t v = 0;
            if (x != std::string::npos && ToInt(Quoted(tag, x), v) && v > offset) offset = std::min(v, 100000);
          } else if (u == 'M') {
            ++S.ImageIndex;
            bool hasAlt = false;
            std::string src = Attr(tag, "SRC");
            const std::string alt = Attr(tag, "ALT", &hasAlt);
            if (hasAlt && S.ImageIndex == HoveredImage) src = alt;
            const int32_t reqW = NonNegative(Attr(tag, "WIDTH"));
            const int32_t reqH = NonNegative(Attr(tag, "HEIGHT"));
            int32_t iw = 0, ih = 0;
            int32_t idx = -1;
            THTMLPicture* pic = nullptr;
            bool sysIcon = false, largeIcon = false;
            const std::string usrc = UpperCase(src);
            if (usrc.rfind("IDX:", 0) == 0) {
              if (P.Images && ToInt(src.substr(4), idx) && idx >= 0 && idx < P.Images->Count()) {
                iw = P.Images->Width();
                ih = P.Images->Height();
              } else {
                idx = -1;
              }
            } else if (usrc.rfind("SSYS:", 0) == 0 || usrc.rfind("LSYS:", 0) == 0) {
              sysIcon = true;
              largeIcon = usrc[0] == 'L';
              iw = ih = largeIcon ? 32 : 16;
            } else if ((pic = CachedPicture(src)) != nullptr) {
              if (!pic->Empty()) {
                iw = pic->Width();
                ih = pic->Height();
              }
            }
            if (iw > 0 || ih > 0) {
              iw = MulDiv(iw, C->GetDeviceCaps(LOGPIXELSX), 96);
              ih = MulDiv(ih, C->GetDeviceCaps(LOGPIXELSY), 96);
            }
            if (reqW > 0) iw = reqW;
            if (reqH > 0) ih = reqH;
            if (Measuring && offset > 0 && offset + iw > width && iw < width) {
              --S.ImageIndex;
              consume = false;
              lineEnded = true;
              break;
            }
            const TRect box{LR.Left + offset, baseline - ih, LR.Left + offset + iw, baseline};
            if (paint && !S.Hidden && iw > 0 && ih > 0) {
              if (idx >= 0) {
                if (P.Printing && P.ResolutionFactor != 1.0) {
                  TBitmap bmp;
                  bmp.SetPixelFormat(pf24bit);
                  bmp.SetSize(P.Images->Width(), P.Images->Height());
                  P.Images->Draw(bmp.Canvas(), 0, 0, idx);
                  StretchDrawScaled(C, {box.Left, box.Top, box.Left + static_cast<int32_t>(Round(iw * P.ResolutionFactor)),
                                        box.Top + static_cast<int32_t>(Round(ih * P.ResolutionFactor))}, &bmp);
                } else {
                  P.Images->Draw(C, box.Left, box.Top, idx, true);
                }
              } else if (sysIcon) {
                DrawSystemIcon(C, box.Left, box.Top, src.substr(5), largeIcon, P.Printing, P.ResolutionFactor);
              } else if (pic && !pic->Empty()) {
                if (reqW == 0 && reqH == 0) {
                  if (pic->FrameCount() > 1) {
                    const TColor b = SaveBrush();
                    const TColor pen = C->Pen()->Color();
                    C->Brush()->SetColor(clWindow);
                    C->Pen()->SetColor(clWindow);
                    C->Rectangle(box);
                    C->Pen()->SetColor(pen);
                    RestoreBrush(b);
                  }
                  pic->SetStretch(false);
                } else {
                  pic->SetStretch(true);
                }
                pic->Draw(C, box);
              }
            }
            if (!Measuring && S.InAnchor && P.MouseX > box.Left && P.MouseX < box.Right && P.MouseY > box.Top &&
                P.MouseY < box.Bottom) {
              MouseOnObject = true;
              R.AnchorValue = S.Href;
              HoveredImage = S.ImageIndex;
              S.MouseInThisAnchor = true;
            }
            offset += iw;
            L.Height = std::max(L.Height, ih);
            const int32_t gh = GhHeight();
            if (IFind(tag, "\"TOP") != std::string::npos) L.ImageBaseline = std::max(0, L.Height - gh);
            else if (IFind(tag, "\"MIDDLE") != std::string::npos) L.ImageBaseline = std::max(0, (L.Height - gh) / 2);
          }
          break;
        }
        case 'L': {
          if (listItemSeen) {
            consume = false;
            lineEnded = true;
            if (Measuring) R.ShownText += '\r';
            break;
          }
          listItemSeen = true;
          const int32_t level = std::max(1, S.ListLevel);
          offset += kListStep * (level - 1);
          if (paint && !S.Hidden) {
            C->SetBkMode(TRANSPARENT);
            TRect br{LR.Left + offset, LR.Top, LR.Left + offset + kListStep, baseline - imageBaseline};
            C->DrawText(level % 2 == 1 ? kBullet : "o", br, kRunFlags);
          }
          offset += kListStep;
          break;
        }
        case 'P': {
          const std::string align = UpperCase(Attr(tag, "ALIGN"));
          if (align.find("RIGHT") != std::string::npos) S.Align = 1;
          if (align.find("LEFT") != std::string::npos) S.Align = 0;
          if (align.find("CENTER") != std::string::npos) S.Align = 2;
          bool has = false;
          const std::string indent = Attr(tag, "INDENT", &has);
          if (has) S.Indent = NonNegative(indent);
          L.Align = S.Align;
          L.Indent = S.Indent;
          const std::string bg = Attr(tag, "BGCOLOR", &has);
          if (has) {
            TColor from = bg.empty() ? clNone : ParseColor(bg);
            bool hasTo = false;
            const std::string to = Attr(tag, "BGCOLORTO", &hasTo);
            if (!Measuring) {
              S.ParaBrush = SaveBrush();
              S.ParaBg = true;
              S.ParaBgColor = from;
              if (paint && from != clNone) {
                const TRect lineBox{Target.Left, LR.Top, Target.Right, LR.Bottom + (hasTo ? 2 : 0)};
                if (hasTo) {
                  DrawGradientRect(C, from, ParseColor(to), 64, lineBox, true);
                  C->Brush()->SetStyle(bsClear);
                } else {
                  C->Brush()->SetColor(from);
                  C->FillRect(lineBox);
                }
              }
              if (from == clNone || hasTo) S.ParaBg = false;
            }
          }
          break;
        }
        case 'R': {
          const size_t a = IFind(tag, "a");
          S.TurnBefore = C->Font()->Orientation();
          S.Turned = true;
          C->Font()->SetOrientation(a == std::string::npos ? 0 : TurnFromDegrees(Quoted(tag, a)));
          break;
        }
        case 'S': {
          const char u = Up(c2);
          if (IFind(tag, "<SUB>") == 0) S.Sub = true;
          else if (IFind(tag, "<SUP>") == 0) S.Sup = true;
          else if (c2 == '>') setStyle(fsStrikeOut, true);
          else if (u == 'H') S.Shadow = true;
          break;
        }
        case 'U':
          if (c2 == '>') setStyle(fsUnderline, true);
          else ++S.ListLevel;
          break;
        case 'Z': S.Hidden = true; break;
        default: break;
      }
    }
    if (!consume) break;
    if (gt == std::string::npos) {
      L.Consumed += Text;
      Text.clear();
    } else {
      L.Consumed += Text.substr(0, gt + 1);
      Text.erase(0, gt + 1);
    }
  }
  L.Width = offset - trailingBlank;
  if (Measuring) R.Width = std::max(R.Width, L.Width);
  if (S.InFocusAnchor && paint) {
    C->DrawFocusRect({S.FocusOrigin.X - 1, S.FocusOrigin.Y - 1, LR.Left + offset + 1, LR.Bottom + 1});
    S.FocusOrigin = {Target.Left + 1, LR.Bottom};
  }
  return L;
}

// Line positions and the total height are held within a range no text reaches on a screen:
// lines asking for huge images, controls or spacing would otherwise wrap the sums round.
int32_t Bounded(int64_t V) {
  constexpr int64_t kLimit = int64_t{1} << 30;
  return static_cast<int32_t>(std::clamp(V, -kLimit, kLimit));
}

bool TRenderer::Run(const std::string& Source, TRect& Rect) {
  StartFont.Assign(C->Font());
  EntryBrush = SaveBrush();
  ThemesActive = IsThemedOS() && ThemeLibraryBound() && IsThemeActive();
  C->Brush()->SetStyle(bsClear);
  R.ControlRect = {0, 0, 0, 0};
  R.PlainText.clear();
  R.ShownText.clear();
  R.FocusAnchorValue.clear();
  R.ControlId.clear();
  R.ControlValue.clear();
  R.ControlType.clear();
  R.Width = R.Height = R.AnchorCount = 0;
  R.MouseAnchor = -1;
  Target = Rect;
  Target.Left += 1;
  const int32_t oldBk = C->SetBkMode(TRANSPARENT);

  std::string text = CrLfToBreaks(UnwrapHashTag(Source), true);
  bool result = false;
  int32_t top = Target.Top;
  while (!text.empty()) {
    const TState before = S;
    TFont fontBefore;
    fontBefore.Assign(C->Font());
    const TColor brushBefore = SaveBrush();
    bool dummyText = false, dummyObject = false;
    const size_t sizeBefore = text.size();
    TLine line = Pass(text, {Target.Left, top, Target.Right, Target.Bottom}, true, TLine{}, dummyText, dummyObject);
    if (text.size() == sizeBefore) {
      // Nothing consumed (cannot happen with sane input): take one byte so the loop ends.
      line.Consumed += text.substr(0, 1);
      text.erase(0, 1);
    }
    line.Height = Bounded(int64_t{line.Height} + P.LineSpacing);
    int32_t x = Target.Left;
    if (line.Align == 1 && Target.Right - line.Width > Target.Left) x = Target.Right - line.Width;
    else if (line.Align == 2 && Target.Right - Target.Left - line.Width > 0) x = Target.Left + (Target.Right - Target.Left - line.Width) / 2;
    x += line.Indent;
    const int32_t bottom = Bounded(int64_t{top} + line.Height + line.SubDepth + line.SupRise);
    if (!P.MeasureOnly) {
      // The drawing pass sees the tags of this line in the state the measuring pass started from.
      S = before;
      C->Font()->Assign(&fontBefore);
      RestoreBrush(brushBefore);
      std::string consumed = line.Consumed;
      bool onText = false, onObject = false;
      Pass(consumed, {x, top, Target.Right, bottom}, false, line, onText, onObject);
      const int32_t gh = GhHeight();
      if (onText && P.MouseY > bottom - line.SubDepth - gh && P.MouseY <= bottom - line.SubDepth) result = true;
      if (onObject) result = true;
    }
    const int64_t advance = int64_t{line.Height} + line.SubDepth + line.SupRise;
    top = Bounded(top + advance);
    R.Height = Bounded(R.Height + advance);
    if (top > Target.Bottom && !P.MeasureOnly) break;
  }
  if (R.Height == 0) R.Height = C->TextHeight("gh");
  C->Font()->Assign(&StartFont);
  RestoreBrush(EntryBrush);
  C->SetBkMode(oldBk);
  return result;
}

}  // namespace

bool RenderMiniHtml(TCanvas* Canvas, const std::string& Text, TRect& Rect, const TMiniHtmlParams& Params,
                    TMiniHtmlResult& Result) {
  if (!Canvas) return false;
  TRenderer renderer(Canvas, Params, Result);
  return renderer.Run(Text, Rect);
}

}  // namespace widgets
