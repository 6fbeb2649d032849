#include "widgets/ExStatusBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/AppHooks.h"
#include "platform/DirectShow.h"
#include "platform/Exceptions.h"
#include "platform/KeyState.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "widgets/KbMonitor.h"

namespace widgets {

using namespace platform;

namespace {

constexpr uint32_t BaseFlags = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;  // 0x824

// One set per program, shared by every bar.
struct TUnitState {
  bool HookInstalled = false;
  THookHandle Hook = 0;
  std::vector<TExStatusPanel*> HookPanels;
  int32_t TimerCount = 0;
  bool RefreshLockPanels = false;
  std::function<TDateTime()> Clock;
};

TUnitState& U() {
  static TUnitState S;
  return S;
}

TDateTime ClockNow() { return U().Clock ? U().Clock() : platform::Now(); }
TDateTime ClockDate() { return std::floor(ClockNow()); }

void Report(const std::string& Text) {
  ExStatusBarReports().push_back(Text);
  std::fprintf(stderr, "%s\n", Text.c_str());
}

void InstallKeyboardHook(TExStatusPanel* Panel) {
  auto& L = U().HookPanels;
  if (std::find(L.begin(), L.end(), Panel) != L.end()) return;
  L.push_back(Panel);
  if (U().HookInstalled) return;
  // Every key event of the program, after the key state has taken it in.
  U().Hook = SetAppHook(hkKeyboard, [](const THookMessage& M) {
    KeyboardHookProc(0, static_cast<uint32_t>(M.WParam), static_cast<uint32_t>(M.LParam));
  });
  U().HookInstalled = true;
}

void Unhook() {
  if (U().Hook) UnhookAppHook(U().Hook);
  U().Hook = 0;
  U().HookInstalled = false;
}

void RemoveKeyboardHook(TExStatusPanel* Panel) {
  auto& L = U().HookPanels;
  auto It = std::find(L.begin(), L.end(), Panel);
  if (It == L.end()) return;
  L.erase(It);
  if (L.empty()) Unhook();
}

Word LockKeyOf(TExStatusPanelType T) {
  return T == sptNumLock ? VK_NUMLOCK : T == sptScrollLock ? VK_SCROLL : VK_CAPITAL;
}

TExStatusPanelType KeyToPanelType(uint32_t Key) {
  return Key == 144 ? sptNumLock : Key == 145 ? sptScrollLock : sptCapsLock;
}

const char* const TypeNames[] = {"sptNormal",   "sptCapsLock",     "sptNumLock",      "sptScrollLock",
                                 "sptDate",     "sptTime",         "sptDateTime",     "sptTimeDate",
                                 "sptEllipsisText", "sptEllipsisPath", "sptGlyph",    "sptGauge",
                                 "sptOwnerDraw"};

const char* const ShortMonths[] = {"jan", "feb", "mrt", "apr", "mei", "jun",
                                   "jul", "aug", "sep", "okt", "nov", "dec"};
const char* const LongMonths[] = {"januari", "februari", "maart",     "april",   "mei",      "juni",
                                  "juli",    "augustus", "september", "oktober", "november", "december"};
const char* const ShortDays[] = {"zo", "ma", "di", "wo", "do", "vr", "za"};
const char* const LongDays[] = {"zondag",    "maandag", "dinsdag", "woensdag",
                                "donderdag", "vrijdag", "zaterdag"};

std::string Pad(int32_t V, int Width) {
  std::string S = std::to_string(V);
  while (static_cast<int>(S.size()) < Width) S.insert(S.begin(), '0');
  return S;
}

}  // namespace

std::vector<std::string>& ExStatusBarReports() {
  static std::vector<std::string> R;
  return R;
}

void SetExStatusBarClock(std::function<TDateTime()> Clock) { U().Clock = std::move(Clock); }
bool KeyboardHookInstalled() { return U().HookInstalled; }
int32_t KeyboardHookPanelCount() { return static_cast<int32_t>(U().HookPanels.size()); }
bool RefreshLockPanels() { return U().RefreshLockPanels; }

std::string FormatStatusDateTime(const std::string& Format, TDateTime Value) {
  int32_t Y, Mo, D, H, Mi, S, Ms;
  DecodeDate(Value, Y, Mo, D);
  DecodeTime(Value, H, Mi, S, Ms);
  const int64_t Day = static_cast<int64_t>(std::floor(Value));
  const int Dow = static_cast<int>(((Day - 1) % 7 + 7) % 7);  // 0 Sunday; day 1 was a Sunday
  std::string Out;
  bool AfterHour = false;
  const size_t N = Format.size();
  for (size_t I = 0; I < N;) {
    const char C = Format[I];
    const char L = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    if (C == '\'' || C == '"') {
      size_t E = Format.find(C, I + 1);
      if (E == std::string::npos) E = N;
      Out.append(Format, I + 1, E - I - 1);
      I = E < N ? E + 1 : N;
      continue;
    }
    size_t Run = 1;
    while (I + Run < N && std::tolower(static_cast<unsigned char>(Format[I + Run])) == L) ++Run;
    switch (L) {
      case 'd':
        if (Run == 1) Out += std::to_string(D);
        else if (Run == 2) Out += Pad(D, 2);
        else if (Run == 3) Out += ShortDays[Dow];
        else if (Run == 4) Out += LongDays[Dow];
        else if (Run == 5) Out += FormatStatusDateTime(ShortDateFormat, Value);
        else Out += FormatStatusDateTime("d mmmm yyyy", Value);
        AfterHour = false;
        break;
      case 'm':
        if (AfterHour && Run <= 2) {
          Out += Run == 1 ? std::to_string(Mi) : Pad(Mi, 2);
        } else if (Run == 1) Out += std::to_string(Mo);
        else if (Run == 2) Out += Pad(Mo, 2);
        else if (Run == 3) Out += ShortMonths[Mo - 1];
        else Out += LongMonths[Mo - 1];
        AfterHour = false;
        break;
      case 'y':
        Out += Run <= 2 ? Pad(Y % 100, 2) : Pad(Y, 4);
        AfterHour = false;
        break;
      case 'h':
        Out += Run == 1 ? std::to_string(H) : Pad(H, 2);
        AfterHour = true;
        break;
      case 'n':
        Out += Run == 1 ? std::to_string(Mi) : Pad(Mi, 2);
        AfterHour = false;
        break;
      case 's':
        Out += Run == 1 ? std::to_string(S) : Pad(S, 2);
        AfterHour = false;
        break;
      case 'z':
        Out += Run >= 3 ? Pad(Ms, 3) : std::to_string(Ms);
        AfterHour = false;
        break;
      case 't':
        Out += FormatStatusDateTime(Run == 1 ? "H:mm" : LongTimeFormat, Value);
        AfterHour = false;
        break;
      case 'c':
        Out += FormatStatusDateTime(std::string(ShortDateFormat) + " " + LongTimeFormat, Value);
        AfterHour = false;
        break;
      case '/':
        Out.append(Run, '-');
        break;
      default:
        Out.append(Format, I, Run);
        break;
    }
    I += Run;
  }
  return Out;
}

// ---------------------------------------------------------------------------------------------
// TExGaugeAttrs

void TExGaugeAttrs::Assign(const TPersistent* Source) {
  if (auto* G = dynamic_cast<const TExGaugeAttrs*>(Source)) {
    SetPosition(G->Position());
    SetStyle(G->Style());
    return;
  }
  TPersistent::Assign(Source);
}

void TExGaugeAttrs::SetStyle(TExGaugeStyle Value) {
  if (Value == FStyle) return;
  TExStatusPanel* P = FOwner;
  const bool Running = P && P->IsIndeterminate() && P->Enabled();
  if (Running) P->FCollection->UnregisterTimer(P);
  if (P && P->FJoin == TExStatusPanel::jnTimer && !P->IsDateTime()) P->FJoin = TExStatusPanel::jnNone;
  FStyle = Value;
  if (P) {
    P->Invalidate();
    if (P->IsIndeterminate() && P->Enabled()) P->Join();
  }
}

void TExGaugeAttrs::SetPosition(TPercent Value) {
  Value = std::min<TPercent>(Value, 100);
  if (Value == FPosition) return;
  FPosition = Value;
  if (FOwner) FOwner->Invalidate();
}

void TExGaugeAttrs::SetSpeed(int32_t Value) {
  // Negative speeds are refused; zero stops the figure.
  if (Value == FSpeed || Value < 0) return;
  FSpeed = Value;
  if (FOwner) FOwner->FGaugeStep = FOwner->FGaugeStep < 0 ? -Value : Value;
}

void TExGaugeAttrs::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  if (FOwner) {
    FOwner->FGaugeBitmap.reset();
    FOwner->Invalidate();
  }
}

void TExGaugeAttrs::SetTextColor(TColor Value) {
  if (Value == FTextColor) return;
  FTextColor = Value;
  if (FOwner) FOwner->Invalidate();
}

// ---------------------------------------------------------------------------------------------
// TExStatusPanel

TExStatusPanel::TExStatusPanel(TObject* Collection) {
  FCollection = dynamic_cast<TExStatusPanels*>(Collection);
  if (!FCollection) throw Exception("TExStatusPanel owner must be TExStatusPanesls");
  FLinkedPanel = std::make_unique<TStatusPanel>();
  FLinkedPanel->Style = psOwnerDraw;
  if (FCollection->StatusBar()) FLinkedPanel->BiDiMode = FCollection->StatusBar()->BiDiMode();
  FGaugeAttrs = std::make_unique<TExGaugeAttrs>(this);
  FGlyph = std::make_unique<TPicture>();
  FGlyph->OnChange = [this](TObject* Sender) { GlyphChanged(Sender); };
}

TExStatusPanel::~TExStatusPanel() {
  Leave();
  if (FGlyph) FGlyph->OnChange = nullptr;
}

TExStatusBar* TExStatusPanel::StatusBar() const { return FCollection->StatusBar(); }
TStatusPanel* TExStatusPanel::LinkedPanel() const { return FLinkedPanel.get(); }

int32_t TExStatusPanel::Index() const {
  const auto& I = FCollection->FItems;
  for (size_t K = 0; K < I.size(); ++K)
    if (I[K].get() == this) return static_cast<int32_t>(K);
  return -1;
}

void TExStatusPanel::SetIndex(int32_t Value) {
  auto& I = FCollection->FItems;
  const int32_t Cur = Index();
  if (Cur < 0 || Value == Cur) return;
  Value = std::clamp<int32_t>(Value, 0, static_cast<int32_t>(I.size()) - 1);
  // The linked base panel travels with its typed panel, so the two orders never differ.
  auto P = std::move(I[static_cast<size_t>(Cur)]);
  I.erase(I.begin() + Cur);
  I.insert(I.begin() + Value, std::move(P));
  if (StatusBar()) StatusBar()->Invalidate();
}

std::string TExStatusPanel::DisplayName() const {
  std::string R;
  if (FPanelType == sptNormal || FPanelType == sptEllipsisText || FPanelType == sptEllipsisPath)
    R = FText;
  else
    R = TypeNames[FPanelType];
  return R.empty() ? ClassName() : R;
}

void TExStatusPanel::Assign(const TPersistent* Source) {
  auto* P = dynamic_cast<const TExStatusPanel*>(Source);
  if (!P) {
    TPersistent::Assign(Source);
    return;
  }
  SetGaugeAttrs(P->GaugeAttrs());
  SetAlignment(P->Alignment());
  SetBevel(P->Bevel());
  SetBiDiMode(P->BiDiMode());
  SetParentBiDiMode(P->ParentBiDiMode());
  SetGlyph(P->Glyph());
  SetText(P->Text());
  SetDateFormat(P->DateFormat());
  SetTimeFormat(P->TimeFormat());
  SetEnabled(P->OwnEnabled());
  SetWidth(P->Width());
  SetAutoFit(P->AutoFit());
  SetHint(P->StoredHint());
  OnDrawPanel = P->OnDrawPanel;
  OnHintText = P->OnHintText;
  SetPanelType(P->PanelType());
}

bool TExStatusPanel::IsIndeterminate() const {
  return FPanelType == sptGauge && FGaugeAttrs->Style() != gsPercent;
}

bool TExStatusPanel::Enabled() const {
  TExStatusBar* B = StatusBar();
  return FEnabled && (!B || B->Enabled());
}

void TExStatusPanel::RestartGauge() {
  FGaugePos = 0;
  FGaugeStep = FGaugeAttrs->Speed();
}

void TExStatusPanel::Join() {
  if (FJoin != jnNone) return;
  TExStatusBar* B = StatusBar();
  if (IsLockKey()) {
    if (B->FUseMonitorDLL) {
      B->RegisterMonitorUser();
      FLockOn = (GetKeyState(LockKeyOf(FPanelType)) & 1) != 0;
      FJoin = jnMonitor;
    } else {
      InstallKeyboardHook(this);
      B->AddMainWinHook(this);
      FJoin = jnHook;
    }
  } else if (IsDateTime() || IsIndeterminate()) {
    FCollection->RegisterTimer(this);
    FJoin = jnTimer;
  }
}

void TExStatusPanel::Leave() {
  TExStatusBar* B = StatusBar();
  switch (FJoin) {
    case jnHook:
      RemoveKeyboardHook(this);
      B->RemoveMainWinHook(this);
      break;
    case jnMonitor:
      B->DeregisterMonitorUser();
      break;
    case jnTimer:
      FCollection->UnregisterTimer(this);
      break;
    case jnNone:
      break;
  }
  FJoin = jnNone;
}

void TExStatusPanel::SetPanelType(TExStatusPanelType Value) {
  if (Value == FPanelType) return;
  Leave();
  FPanelType = Value;
  switch (Value) {
    case sptCapsLock:
    case sptNumLock:
    case sptScrollLock:
      SetText(Value == sptCapsLock ? SCapsLock : Value == sptNumLock ? SNumLock : SScrollLock);
      SetAutoFit(true);
      if (Enabled()) Join();
      break;
    case sptDate:
    case sptTime:
    case sptDateTime:
    case sptTimeDate:
      SetAutoFit(false);
      if (Enabled()) Join();
      UpdateDateTime();
      break;
    case sptEllipsisText:
    case sptEllipsisPath:
      SetAutoFit(false);
      if (Hint().empty()) FHint = "...";
      break;
    case sptGlyph:
      SetAutoFit(true);
      break;
    case sptGauge:
      SetAutoFit(false);
      SetAlignment(taCenter);
      if (IsIndeterminate()) {
        // An indeterminate gauge waits for the application to enable it.
        SetEnabled(false);
        RestartGauge();
      }
      break;
    case sptNormal:
    case sptOwnerDraw:
      SetAutoFit(false);
      break;
  }
  Invalidate();
}

void TExStatusPanel::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  Invalidate();
  UpdateAutoFitWidth();
}

void TExStatusPanel::SetDateFormat(const std::string& Value) {
  if (Value == FDateFormat) return;
  FDateFormat = Value;
  UpdateDateTime();
}

void TExStatusPanel::SetTimeFormat(const std::string& Value) {
  if (Value == FTimeFormat) return;
  FTimeFormat = Value;
  UpdateDateTime();
}

TAlignment TExStatusPanel::Alignment() const { return FLinkedPanel->Alignment; }
void TExStatusPanel::SetAlignment(TAlignment Value) {
  if (Value == FLinkedPanel->Alignment) return;
  FLinkedPanel->Alignment = Value;
  Invalidate();
}

TStatusPanelBevel TExStatusPanel::Bevel() const { return FLinkedPanel->Bevel; }
void TExStatusPanel::SetBevel(TStatusPanelBevel Value) {
  if (Value == FLinkedPanel->Bevel) return;
  FLinkedPanel->Bevel = Value;
  if (StatusBar()) StatusBar()->Invalidate();
}

TBiDiMode TExStatusPanel::BiDiMode() const { return FLinkedPanel->BiDiMode; }
void TExStatusPanel::SetBiDiMode(TBiDiMode Value) {
  if (Value == FLinkedPanel->BiDiMode) return;
  FLinkedPanel->BiDiMode = Value;
  FLinkedPanel->ParentBiDiMode = false;
  Invalidate();
}

bool TExStatusPanel::ParentBiDiMode() const { return FLinkedPanel->ParentBiDiMode; }
void TExStatusPanel::SetParentBiDiMode(bool Value) {
  if (Value == FLinkedPanel->ParentBiDiMode) return;
  FLinkedPanel->ParentBiDiMode = Value;
  if (Value && StatusBar()) FLinkedPanel->BiDiMode = StatusBar()->BiDiMode();
  Invalidate();
}

TAlignment TExStatusPanel::DrawAlignment() const {
  const TAlignment A = Alignment();
  if (BiDiMode() != bdRightToLeft || A == taCenter) return A;
  return A == taLeftJustify ? taRightJustify : taLeftJustify;
}

int32_t TExStatusPanel::Width() const { return FLinkedPanel->Width; }
void TExStatusPanel::SetWidth(int32_t Value) {
  if (Value == FLinkedPanel->Width || FAutoFit) return;
  FLinkedPanel->Width = Value;
  if (IsIndeterminate()) RestartGauge();
  // The panels to the right move too.
  if (StatusBar()) StatusBar()->Invalidate();
}

void TExStatusPanel::SetAutoFit(bool Value) {
  if (Value == FAutoFit) return;
  FAutoFit = Value;
  UpdateAutoFitWidth();
}

void TExStatusPanel::SetBorderWidth(int32_t Value) {
  if (Value == FBorderWidth || Value < 0) return;
  FBorderWidth = Value;
  UpdateAutoFitWidth();
  Invalidate();
}

void TExStatusPanel::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  EnabledChanged();
}

void TExStatusPanel::EnabledChanged() {
  if (Enabled())
    Join();
  else
    Leave();
  Invalidate();
  if (!Enabled()) RestartGauge();
}

std::string TExStatusPanel::Hint() const {
  std::string H = FHint;
  TExStatusBar* B = StatusBar();
  if (!(B && B->Designing()) && (FPanelType == sptEllipsisText || FPanelType == sptEllipsisPath) &&
      FHint == "...")
    H = FText;
  DoHintText(H);
  return H;
}

void TExStatusPanel::DoHintText(std::string& HintText) const {
  if (OnHintText) OnHintText(StatusBar(), const_cast<TExStatusPanel*>(this), HintText);
}

void TExStatusPanel::Invalidate() {
  TExStatusBar* B = StatusBar();
  const int32_t I = Index();
  if (B && I >= 0) B->RedrawPanel(I);
}

void TExStatusPanel::Click() {
  if (OnClick) OnClick(this);
}

void TExStatusPanel::GlyphChanged(TObject*) { UpdateAutoFitWidth(); }

void TExStatusPanel::UpdateAutoFitWidth() {
  TExStatusBar* B = StatusBar();
  if (FAutoFit && B && B->HandleAllocated()) {
    const TSize E = B->TextExtent(FText);
    int64_t Wide;
    if (FPanelType == sptGlyph) {
      const int64_t GW = FGlyph->Width();
      Wide = FText.empty() ? GW + FBorderWidth + 4 : E.cx + 2 + 2 * int64_t{FBorderWidth} + GW + 4;
    } else {
      Wide = int64_t{E.cx} + 6 + FBorderWidth;
    }
    // A border as wide as an int makes the widest panel there is, not a negative one.
    const auto W = static_cast<int32_t>(std::clamp<int64_t>(Wide, 0, INT32_MAX));
    if (W != FLinkedPanel->Width) {
      FLinkedPanel->Width = W;
      B->Invalidate();
    }
  }
  Invalidate();
}

void TExStatusPanel::UpdateDateTime() {
  if (!IsDateTime()) return;
  const std::string DF = FDateFormat.empty() ? ShortDateFormat : FDateFormat;
  const std::string TF = FTimeFormat.empty() ? LongTimeFormat : FTimeFormat;
  std::string F;
  switch (FPanelType) {
    case sptDate: F = DF; break;
    case sptTime: F = TF; break;
    case sptDateTime: F = DF + " " + TF; break;
    default: F = TF + " " + DF; break;
  }
  // SetText repaints only when the text changes.
  SetText(FormatStatusDateTime(F, ClockNow()));
}

void TExStatusPanel::TimerUpdate() {
  if (IsDateTime()) {
    UpdateDateTime();
  } else if (IsIndeterminate()) {
    TExStatusBar* B = StatusBar();
    PaintPanel(B->Surface()->Canvas(), B->GetPanelRect(Index()));
    B->InvalidateRect(B->GetPanelRect(Index()));
  }
}

void TExStatusPanel::DoDrawPanel(const TRect& Rect) {
  TExStatusBar* B = StatusBar();
  if (!B->Designing() && OnDrawPanel && FPanelType == sptOwnerDraw) {
    OnDrawPanel(B, this, Rect);
    return;
  }
  PaintPanel(B->Surface()->Canvas(), B->GetPanelRect(Index()));
}

void TExStatusPanel::PaintPanel(TCanvas* Canvas, const TRect& Rect) {
  TExStatusBar* B = StatusBar();
  if (!B || !B->HandleAllocated() || Rect.Width() <= 0 || Rect.Height() <= 0) return;
  const TRect Outer{Rect.Left + 1, Rect.Top + 1, Rect.Right - 1, Rect.Bottom - 1};
  if (Outer.Width() <= 0 || Outer.Height() <= 0) return;
  TRect R{0, 0, Outer.Width(), Outer.Height()};
  TBitmap Bmp;
  Bmp.SetSize(R.Right, R.Bottom);
  TCanvas* C = Bmp.Canvas();
  C->SetFont(B->Font());
  C->Brush()->SetColor(B->Color());
  C->FillRect(R);
  // A border that takes the whole panel leaves no room for content: the background only.
  const bool Room = 2 * int64_t{FBorderWidth} < std::min(R.Right, R.Bottom);
  if (FBorderWidth > 0 && Room) R = {R.Left + FBorderWidth, R.Top + FBorderWidth, R.Right - FBorderWidth, R.Bottom - FBorderWidth};
  if (Enabled() && FPanelType == sptOwnerDraw && !B->Designing()) return;  // the bar area is left as it is
  if (Enabled() && Room) {
    switch (FPanelType) {
      case sptOwnerDraw:
        DrawTextPanel(C, R);
        break;
      case sptCapsLock:
      case sptNumLock:
      case sptScrollLock:
        DrawLockKeyPanel(C, R);
        break;
      case sptGlyph:
        DrawGlyphPanel(C, R);
        break;
      case sptGauge:
        if (IsIndeterminate())
          DrawIndeterminateGauge(C, R);
        else
          DrawPercentGauge(C, R);
        break;
      default:
        DrawTextPanel(C, R);
        break;
    }
  }
  Canvas->Draw(Outer.Left, Outer.Top, &Bmp);
}

namespace {
// Every right-to-left mode reads right to left; only bdRightToLeft also swaps the alignment.
uint32_t ReadingFlags(const TExStatusPanel& P) { return P.BiDiMode() == bdLeftToRight ? 0 : DT_RTLREADING; }

uint32_t AlignFlags(const TExStatusPanel& P, TRect& R) {
  if (P.AutoFit()) return DT_CENTER | ReadingFlags(P);
  if (P.DrawAlignment() == taRightJustify) {
    R.Right -= 1;
    return DT_RIGHT | ReadingFlags(P);
  }
  return (P.DrawAlignment() == taCenter ? DT_CENTER : 0) | ReadingFlags(P);
}
}  // namespace

void TExStatusPanel::DrawTextPanel(TCanvas* Canvas, TRect& R) {
  uint32_t Flags = BaseFlags | AlignFlags(*this, R);
  if (FPanelType == sptEllipsisText) Flags |= DT_END_ELLIPSIS;
  if (FPanelType == sptEllipsisPath) Flags |= DT_PATH_ELLIPSIS;
  Canvas->Brush()->SetStyle(bsClear);
  Canvas->DrawText(FPanelType == sptOwnerDraw ? std::string(" *OD* ") : FText, R, Flags);
}

void TExStatusPanel::DrawLockKeyPanel(TCanvas* Canvas, TRect& R) {
  TExStatusBar* B = StatusBar();
  const bool On = B->UseMonitorDLL() ? FLockOn : (GetKeyState(LockKeyOf(FPanelType)) & 1) != 0;
  const TColor Old = Canvas->Font()->Color();
  Canvas->Font()->SetColor(On ? B->Font()->Color() : clGrayText);
  const uint32_t Flags = BaseFlags | AlignFlags(*this, R);
  Canvas->Brush()->SetStyle(bsClear);
  Canvas->DrawText(FText, R, Flags);
  Canvas->Font()->SetColor(Old);
}

void TExStatusPanel::DrawGlyphPanel(TCanvas* Canvas, TRect& R) {
  const int32_t TW = FText.empty() ? 0 : Canvas->TextWidth(FText) + 2;
  TGraphic* G = FGlyph->Graphic();
  const int32_t GW = G ? G->Width() : 0;
  const int32_t GH = G ? G->Height() : 0;
  int32_t X;
  const TAlignment A = DrawAlignment();
  if (A == taCenter || FAutoFit)
    X = R.Left + (R.Width() - GW - TW) / 2;
  else if (A == taRightJustify)
    X = R.Right - GW;
  else
    X = R.Left;
  const int32_t Y = R.Top + (R.Height() - GH) / 2;
  if (G && GW > 0 && GH > 0) {
    if (auto* Bmp = dynamic_cast<TBitmap*>(G)) {
      // The bottom-left pixel is the transparent colour; the brush (bar colour) shows instead.
      Canvas->BrushCopy({X, Y, X + GW, Y + GH}, Bmp, {0, 0, GW, GH}, Bmp->Canvas()->Pixel(0, GH - 1));
    } else {
      Canvas->Draw(X, Y, G);
    }
  }
  if (!FText.empty()) {
    TRect T{A == taRightJustify ? X - TW - 2 : X + GW + 2, R.Top, R.Right, R.Bottom};
    Canvas->Brush()->SetStyle(bsClear);
    Canvas->DrawText(FText, T, BaseFlags | ReadingFlags(*this));
  }
}

void TExStatusPanel::DrawPercentGauge(TCanvas* Canvas, TRect& R) {
  TExStatusBar* B = StatusBar();
  const TRect Filled{R.Left, R.Top, R.Left + MulDiv(R.Width(), FGaugeAttrs->Position(), 100), R.Bottom};
  const TRect Rest{Filled.Right, R.Top, R.Right, R.Bottom};
  Canvas->Brush()->SetStyle(bsSolid);
  Canvas->Brush()->SetColor(FGaugeAttrs->Color());
  if (Filled.Width() > 0) Canvas->FillRect(Filled);
  Canvas->Brush()->SetColor(B->Color());
  if (Rest.Width() > 0) Canvas->FillRect(Rest);
  const std::string T = FText.empty() ? std::to_string(FGaugeAttrs->Position()) + "%" : FText;
  uint32_t Flags = BaseFlags | ReadingFlags(*this);
  if (DrawAlignment() == taRightJustify) Flags |= DT_RIGHT;
  if (DrawAlignment() == taCenter) Flags |= DT_CENTER;
  Canvas->Brush()->SetStyle(bsClear);
  const TColor Old = Canvas->Font()->Color();
  if (Filled.Width() > 0) {
    TRect TR = R;
    Canvas->IntersectClipRect(Filled);
    Canvas->Font()->SetColor(FGaugeAttrs->TextColor());
    Canvas->DrawText(T, TR, Flags);
    Canvas->SelectClipRgn(nullptr);
  }
  if (Rest.Width() > 0) {
    TRect TR = R;
    Canvas->IntersectClipRect(Rest);
    Canvas->Font()->SetColor(B->Font()->Color());
    Canvas->DrawText(T, TR, Flags);
    Canvas->SelectClipRgn(nullptr);
  }
  Canvas->Font()->SetColor(Old);
}

void TExStatusPanel::DrawIndeterminateGauge(TCanvas* Canvas, TRect& R) {
  const int32_t Speed = FGaugeAttrs->Speed();
  // A speed beyond any panel's width moves the figure past the edge, where it turns; the
  // position is held in a range that leaves room for the sums below.
  constexpr int64_t kReach = int64_t{1} << 24;
  FGaugePos = static_cast<int32_t>(std::clamp<int64_t>(int64_t{FGaugePos} + FGaugeStep, -kReach, kReach));
  if (FGaugeAttrs->Style() == gsIndeterminate) {
    Canvas->Brush()->SetStyle(bsSolid);
    Canvas->Brush()->SetColor(FGaugeAttrs->Color());
    Canvas->Pen()->SetColor(FGaugeAttrs->Color());
    const TRect F{R.Left, R.Top + R.Height() / 3, R.Right, R.Bottom - R.Height() / 3};
    const int32_t S = F.Height();
    if (FGaugeStep > 0 && FGaugePos + S + 1 >= F.Width())
      FGaugeStep = -Speed;
    else if (FGaugeStep < 0 && FGaugePos < 2)
      FGaugeStep = Speed;
    Canvas->Ellipse(F.Left + FGaugePos - 1, F.Top - 1, F.Left + FGaugePos + S + 1, F.Bottom + 1);
    return;
  }
  TBitmap* Bmp = GetGaugeBitmap();
  if (FGaugeStep > 0 && FGaugePos + 1 >= R.Width())
    FGaugeStep = -Speed;
  else if (FGaugeStep < 0 && FGaugePos <= -Bmp->Width())
    FGaugeStep = Speed;
  TRect T{R.Left + FGaugePos, R.Top, R.Right, R.Bottom};
  TRect S{0, 0, Bmp->Width(), Bmp->Height()};
  const bool Right = FGaugeStep >= 0;
  if (T.Width() <= 0) return;
  if (S.Width() < T.Width())
    T.Right = T.Left + S.Width();
  else if (S.Width() > T.Width()) {
    if (Right)
      S.Right = S.Left + T.Width();
    else
      S.Left = S.Right - T.Width();
  }
  if (Right)
    Canvas->CopyRect(T, Bmp->Canvas(), S);
  else  // mirrored, so the gauge colour always leads
    Canvas->CopyRect(T, Bmp->Canvas(), {S.Right - 1, S.Bottom - 1, S.Left - 1, S.Top - 1});
}

TBitmap* TExStatusPanel::GetGaugeBitmap() {
  if (!FGaugeBitmap) CreateGaugeBitmap();
  return FGaugeBitmap.get();
}

void TExStatusPanel::CreateGaugeBitmap() {
  TExStatusBar* B = StatusBar();
  auto Bmp = std::make_unique<TBitmap>();
  const int32_t H = std::max<int32_t>(1, B->Height());
  Bmp->SetSize(100, H);
  const TColor From = ColorToRGB(B->Color());
  const TColor To = ColorToRGB(FGaugeAttrs->Color());
  auto Ch = [](TColor C, int Shift) { return static_cast<int32_t>((C >> Shift) & 0xFF); };
  TCanvas* C = Bmp->Canvas();
  C->Brush()->SetStyle(bsSolid);
  for (int32_t X = 0; X < 100; ++X) {
    int32_t V[3];
    for (int K = 0; K < 3; ++K) {
      const int32_t A = Ch(From, 8 * K), Z = Ch(To, 8 * K);
      V[K] = static_cast<int32_t>(A + (Z - A) * (static_cast<double>(X) / 99.0));  // truncates toward zero
    }
    C->Brush()->SetColor(RGB(static_cast<uint8_t>(V[0]), static_cast<uint8_t>(V[1]), static_cast<uint8_t>(V[2])));
    C->FillRect({X, 0, X + 1, H});
  }
  FGaugeBitmap = std::move(Bmp);
}

// ---------------------------------------------------------------------------------------------
// TExStatusPanels

TExStatusPanels::TExStatusPanels(TExStatusBar* StatusBar) : FStatusBar(StatusBar) {}

TExStatusPanels::~TExStatusPanels() { Clear(); }

TExStatusPanel* TExStatusPanels::Add() {
  FItems.push_back(std::make_unique<TExStatusPanel>(this));
  if (FStatusBar) FStatusBar->Invalidate();
  return FItems.back().get();
}

void TExStatusPanels::Clear() {
  while (!FItems.empty()) {
    FItems.back().reset();
    FItems.pop_back();
  }
  if (FStatusBar && !FStatusBar->Destroying()) FStatusBar->Invalidate();
}

void TExStatusPanels::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  FItems[static_cast<size_t>(Index)].reset();
  FItems.erase(FItems.begin() + Index);
  if (FStatusBar) FStatusBar->Invalidate();
}

TExStatusPanel* TExStatusPanels::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<size_t>(Index)].get();
}

void TExStatusPanels::Assign(const TPersistent* Source) {
  auto* S = dynamic_cast<const TExStatusPanels*>(Source);
  if (!S) {
    TPersistent::Assign(Source);
    return;
  }
  if (S == this) return;
  BeginUpdate();
  Clear();
  for (const auto& P : S->FItems) Add()->Assign(P.get());
  EndUpdate();
}

void TExStatusPanels::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Update(nullptr);
}

void TExStatusPanels::Update(TExStatusPanel* Item) {
  if (FUpdateCount > 0) return;
  if (Item)
    Item->Invalidate();
  else if (FStatusBar)
    FStatusBar->Invalidate();
}

void TExStatusPanels::RegisterTimer(TExStatusPanel* Panel) {
  if (!FTimer) {
    // The bar owns the timer through this collection.
    FTimer = std::make_unique<TTimer>(nullptr);
    FTimer->SetEnabled(false);
    FLastDate = ClockDate();
    FTimer->OnTimer = [this](TObject* Sender) { TimerTick(Sender); };
  }
  if (std::find(FTimerPanels.begin(), FTimerPanels.end(), Panel) != FTimerPanels.end()) return;
  FTimerPanels.push_back(Panel);
  ++U().TimerCount;
  const TExStatusPanelType T = Panel->PanelType();
  if (T == sptDate) {
    if (FTimerPanels.size() == 1) FTimer->SetInterval(60000);
  } else if (T == sptTime || T == sptDateTime || T == sptTimeDate) {
    if (FTimerPanels.size() == 1 || FTimer->Interval() > 1000) FTimer->SetInterval(1000);
  } else if (Panel->IsIndeterminate()) {
    FTimer->SetInterval(50);
  }
  FTimer->SetEnabled(true);
}

void TExStatusPanels::UnregisterTimer(TExStatusPanel* Panel) {
  auto It = std::find(FTimerPanels.begin(), FTimerPanels.end(), Panel);
  if (It != FTimerPanels.end()) {
    FTimerPanels.erase(It);
    --U().TimerCount;
  }
  if (!FTimer) return;
  if (FTimerPanels.empty()) {
    FTimer.reset();
    return;
  }
  uint32_t Interval = 60000;
  for (TExStatusPanel* P : FTimerPanels) {
    const TExStatusPanelType T = P->PanelType();
    if (T == sptTime || T == sptDateTime || T == sptTimeDate) Interval = 1000;
    if (P->IsIndeterminate()) {
      Interval = 50;
      break;
    }
  }
  FTimer->SetInterval(Interval);
}

void TExStatusPanels::TimerTick(TObject*) {
  const TDateTime D = ClockDate();
  const bool DateChanged = D != FLastDate;
  if (DateChanged) FLastDate = D;
  // A handler may unregister panels while we walk.
  const std::vector<TExStatusPanel*> Panels = FTimerPanels;
  for (TExStatusPanel* P : Panels) {
    if (std::find(FTimerPanels.begin(), FTimerPanels.end(), P) == FTimerPanels.end()) continue;
    const TExStatusPanelType T = P->PanelType();
    if (T == sptTime || T == sptDateTime || T == sptTimeDate || (T == sptDate && DateChanged) ||
        P->IsIndeterminate())
      P->TimerUpdate();
  }
}

// ---------------------------------------------------------------------------------------------
// TExStatusBar

TExStatusBar::TExStatusBar(TComponent* AOwner) : TCustomControl(AOwner) {
  FExtent = std::make_unique<TBitmap>();
  FExtent->SetSize(1, 1);
  FSurface = std::make_unique<TBitmap>();
  FPanels = std::make_unique<TExStatusPanels>(this);
  SetColor(clBtnFace);
  SetBounds(0, 0, 400, 19);
}

TExStatusBar::~TExStatusBar() {
  FPanels.reset();  // each panel leaves its registrations
  DeallocateHWnd(FMonitorWindow);
  FMonitorWindow = nullptr;
  if (!FMainWinHookPanels.empty()) Report("Unbalanced MainWinHook registrations");
  if (FAppHook) UnhookAppHook(FAppHook);
  FAppHook = 0;
}

void TExStatusBar::EnabledChanged() {
  TCustomControl::EnabledChanged();
  Invalidate();
  for (int32_t I = 0; I < FPanels->Count(); ++I) FPanels->Items(I)->EnabledChanged();
}

TRect TExStatusBar::GetPanelRect(int32_t Index) {
  if (!HandleAllocated() || !FPanels || Index < 0 || Index >= FPanels->Count()) return {};
  // Panels sit side by side with a 2-pixel gap; the last one reaches the right edge.
  // Summed wide, so panels as wide as an int push the later ones past the edge instead of
  // wrapping them round onto the bar.
  const int32_t W = ClientWidth(), H = ClientHeight();
  int64_t X = 0;
  for (int32_t I = 0; I < Index && X < W; ++I) X += std::max<int64_t>(0, FPanels->Items(I)->Width()) + 2;
  int64_t Right = Index == FPanels->Count() - 1 ? W : X + std::max<int64_t>(0, FPanels->Items(Index)->Width());
  Right = std::min<int64_t>(Right, W);
  if (X >= Right || H <= 2) return {};
  return {static_cast<int32_t>(X), 2, static_cast<int32_t>(Right), H};
}

void TExStatusBar::RedrawPanel(int32_t Index) {
  if (!FPanels || Index < 0 || Index >= FPanels->Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  if (FRendering) return;
  const TRect R = GetPanelRect(Index);
  if (R.Width() <= 0 || R.Height() <= 0) return;
  if (!FSurfaceValid) {
    Invalidate();
    return;
  }
  FPanels->Items(Index)->PaintPanel(Surface()->Canvas(), R);
  InvalidateRect(R);
}

TSize TExStatusBar::TextExtent(const std::string& Text) {
  TCanvas* C = FExtent->Canvas();
  C->SetFont(Font());
  TSize S = C->TextExtent(Text);
  if (S.cx < 0 || S.cy < 0) return {-1, -1};
  return S;
}

TBitmap* TExStatusBar::Surface() {
  const int32_t W = std::max<int32_t>(1, ClientWidth()), H = std::max<int32_t>(1, ClientHeight());
  if (FSurface->Width() != W || FSurface->Height() != H) {
    FSurface->SetSize(W, H);
    FSurfaceValid = false;
  }
  return FSurface.get();
}

void TExStatusBar::RenderAll() {
  TBitmap* S = Surface();
  TCanvas* C = S->Canvas();
  FRendering = true;
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(Color());
  C->FillRect({0, 0, S->Width(), S->Height()});
  for (int32_t I = 0; FPanels && I < FPanels->Count(); ++I) {
    const TRect R = GetPanelRect(I);
    if (R.Width() <= 0) continue;
    TExStatusPanel* P = FPanels->Items(I);
    if (P->Bevel() != pbNone) {
      const bool Low = P->Bevel() == pbLowered;
      C->Pen()->SetColor(Low ? clBtnShadow : clBtnHighlight);
      C->MoveTo(R.Left, R.Bottom - 1);
      C->LineTo(R.Left, R.Top);
      C->LineTo(R.Right - 1, R.Top);
      C->Pen()->SetColor(Low ? clBtnHighlight : clBtnShadow);
      C->LineTo(R.Right - 1, R.Bottom - 1);
      C->LineTo(R.Left, R.Bottom - 1);
    }
    DrawPanel(P->LinkedPanel(), R);
  }
  if (Color() != clBtnFace) DrawSizeGrip(C, {0, 0, S->Width(), S->Height()});
  FRendering = false;
  FSurfaceValid = true;
}

void TExStatusBar::DrawPanel(TStatusPanel* Panel, const TRect& Rect) {
  TExStatusPanel* P = nullptr;
  for (int32_t I = 0; I < FPanels->Count(); ++I)
    if (FPanels->Items(I)->LinkedPanel() == Panel) P = FPanels->Items(I);
  if (!P) {
    Report("Panel links corrupted");
    return;
  }
  Canvas()->SetFont(Font());
  if (OnDrawPanel) OnDrawPanel(this, P, Rect);
  FRendering = false;
  P->DoDrawPanel(Rect);
  FRendering = true;
}

void TExStatusBar::DrawSizeGrip(TCanvas* Canvas, const TRect& R) {
  TRect G{R.Right - 15 - 1, R.Top + 3 - 1, R.Right - 1, R.Bottom - 1 - 1};
  Canvas->Pen()->SetWidth(1);
  Canvas->Brush()->SetStyle(bsSolid);
  Canvas->Brush()->SetColor(Color());
  Canvas->FillRect(G);
  auto Line = [&](int32_t D, TColor C) {
    Canvas->Pen()->SetColor(C);
    Canvas->MoveTo(G.Right - D, G.Bottom);
    Canvas->LineTo(G.Right, G.Bottom - D);
  };
  for (int32_t D : {2, 13, 9, 5, 1}) Line(D, clBtnHighlight);
  for (int32_t D : {11, 7, 3}) Line(D, clBtnShadow);
  Canvas->Pen()->SetColor(clBtnShadow);
  Canvas->MoveTo(G.Left, G.Top);
  Canvas->LineTo(G.Right, G.Top);
}

void TExStatusBar::Invalidate() {
  FSurfaceValid = false;
  TCustomControl::Invalidate();
}

void TExStatusBar::Paint() {
  if (!FSurfaceValid || FSurface->Width() != ClientWidth() || FSurface->Height() != ClientHeight()) RenderAll();
  TCustomControl::Canvas()->Draw(0, 0, FSurface.get());
}

void TExStatusBar::Resize() {
  TCustomControl::Resize();
  FSurfaceValid = false;
}

bool TExStatusBar::HintShow(THintInfo& Info) {
  const bool Result = TCustomControl::HintShow(Info);
  const int32_t N = FPanels->Count();
  auto Inside = [](const TRect& R, TPoint P) {
    return P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom;
  };
  for (int32_t I = 0; I < N; ++I) {
    const TRect R = GetPanelRect(I);
    if (!Inside(R, Info.CursorPos)) continue;
    const std::string H = FPanels->Items(I)->Hint();
    if (!H.empty()) {
      Info.HintStr = H;
      Info.CursorRect = R;
      return Result;
    }
    break;
  }
  // Narrow the area to the gap between the nearest panels with a hint on either side.
  for (int32_t I = 0; I < N; ++I) {
    const TRect R = GetPanelRect(I);
    if (R.Width() <= 0 || FPanels->Items(I)->Hint().empty()) continue;
    if (R.Right <= Info.CursorPos.X) Info.CursorRect.Left = std::max(Info.CursorRect.Left, R.Right);
    if (R.Left > Info.CursorPos.X) Info.CursorRect.Right = std::min(Info.CursorRect.Right, R.Left);
  }
  return Result;
}

void TExStatusBar::FontChanged() {
  TCustomControl::FontChanged();
  for (int32_t I = 0; I < FPanels->Count(); ++I)
    if (FPanels->Items(I)->AutoFit()) FPanels->Items(I)->UpdateAutoFitWidth();
  Invalidate();
}

void TExStatusBar::Loaded() {
  TCustomControl::Loaded();
  FontChanged();
}

void TExStatusBar::CreateWnd() {
  TCustomControl::CreateWnd();
  if (FMonitorUsers > 0 && KbMonitorLoaded()) FMonitorMessage = RegisterKeyboardWindow(MonitorWindow());
  FontChanged();
}

void TExStatusBar::DestroyWnd() {
  if (FUseMonitorDLL && FMonitorUsers >= 1 && KbMonitorLoaded()) DeregisterKeyboardWindow(MonitorWindow());
  TCustomControl::DestroyWnd();
}

void TExStatusBar::RepaintLockPanels() {
  FPanels->BeginUpdate();
  for (int32_t I = 0; I < FPanels->Count(); ++I)
    if (FPanels->Items(I)->IsLockKey()) FPanels->Items(I)->Invalidate();
  FPanels->EndUpdate();
}

void* TExStatusBar::MonitorWindow() {
  // The library may post from its own thread; the window's method runs on the GUI thread.
  if (!FMonitorWindow)
    FMonitorWindow = AllocateHWnd([this](TMessage& M) { MonitorNotify(M.Msg, M.WParam, M.LParam); });
  return FMonitorWindow;
}

bool TExStatusBar::MonitorNotify(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  // Message 0 would be the null message: a library that handed out no number sends nothing.
  if (FMonitorMessage == 0 || Msg != FMonitorMessage) return false;
  const TExStatusPanelType T = KeyToPanelType(static_cast<uint32_t>(WParam & 0xFF));
  for (int32_t I = 0; I < FPanels->Count(); ++I) {
    TExStatusPanel* P = FPanels->Items(I);
    if (P->PanelType() != T) continue;
    P->FLockOn = (LParam & 1) != 0;
    P->Invalidate();
  }
  return true;
}

void TExStatusBar::ClickAt(TPoint P) {
  for (int32_t I = 0; I < FPanels->Count(); ++I) {
    const TRect R = GetPanelRect(I);
    if (P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom) {
      FPanels->Items(I)->Click();
      break;
    }
  }
  TCustomControl::Click();
}

void TExStatusBar::SetBiDiMode(TBiDiMode Value) {
  if (Value == FBiDiMode) return;
  FBiDiMode = Value;
  for (int32_t I = 0; I < FPanels->Count(); ++I) {
    TStatusPanel* L = FPanels->Items(I)->LinkedPanel();
    if (L->ParentBiDiMode) L->BiDiMode = Value;
  }
  Invalidate();
}

void TExStatusBar::Click() { ClickAt(ScreenToClient(GetMessagePos())); }

void TExStatusBar::SetUseMonitorDLL(bool Value) {
  if (Value == FUseMonitorDLL) return;
  FUseMonitorDLL = Value;
  UpdateKeyboardHooks();
  if (Value && !KbMonitorLoaded()) {
    FUseMonitorDLL = false;
    UpdateKeyboardHooks();
    if (FDesigning) throw Exception("Could not load " + KbMonitorLibName());
  }
}

void TExStatusBar::UpdateKeyboardHooks() {
  for (int32_t I = 0; I < FPanels->Count(); ++I) {
    TExStatusPanel* P = FPanels->Items(I);
    if (!P->IsLockKey() || P->FJoin == TExStatusPanel::jnNone) continue;
    P->Leave();
    P->Join();
  }
}

void TExStatusBar::RegisterMonitorUser() {
  if (++FMonitorUsers != 1) return;
  if (!KbMonitorLoaded()) LoadKeyboardMonitor();
  if (HandleAllocated() && KbMonitorLoaded()) FMonitorMessage = RegisterKeyboardWindow(MonitorWindow());
}

void TExStatusBar::DeregisterMonitorUser() {
  if (--FMonitorUsers >= 1) return;
  if (KbMonitorLoaded() && HandleAllocated()) DeregisterKeyboardWindow(MonitorWindow());
  FMonitorUsers = 0;
  if (KbMonitorLoaded()) UnloadKeyboardMonitor();
}

void TExStatusBar::AddMainWinHook(TExStatusPanel* Panel) {
  if (std::find(FMainWinHookPanels.begin(), FMainWinHookPanels.end(), Panel) != FMainWinHookPanels.end()) return;
  FMainWinHookPanels.push_back(Panel);
  if (FMainWinHookPanels.size() != 1) return;
  FAppHook = SetAppHook(hkCallWndProc, [this](const THookMessage& M) {
    if (M.Msg != WM_ACTIVATEAPP || FUseMonitorDLL) return;
    if (M.WParam == 0) U().RefreshLockPanels = true;
    // Repainted at once rather than through a posted message: the repaint is cheap.
    RepaintLockPanels();
  });
}

void TExStatusBar::RemoveMainWinHook(TExStatusPanel* Panel) {
  auto It = std::find(FMainWinHookPanels.begin(), FMainWinHookPanels.end(), Panel);
  if (It == FMainWinHookPanels.end()) return;
  FMainWinHookPanels.erase(It);
  if (FMainWinHookPanels.empty() && FAppHook) {
    UnhookAppHook(FAppHook);
    FAppHook = 0;
  }
}

// ---------------------------------------------------------------------------------------------

void KeyboardHookProc(int32_t Code, uint32_t Key, uint32_t Flags) {
  if (Code < 0) return;
  const std::vector<TExStatusPanel*> Panels = U().HookPanels;
  if (U().RefreshLockPanels) {
    for (TExStatusPanel* P : Panels) P->Invalidate();
    U().RefreshLockPanels = false;
    return;
  }
  if (Key != 20 && Key != 144 && Key != 145) return;
  // The first press, and the release: the X server unlocks a lock key only when it is released,
  // so the press that turns a lock off still reads it on. Auto-repeat (bit 30 alone) is skipped.
  const bool Released = (Flags & 0x80000000u) != 0;
  if (!Released && (Flags & 0x40000000u) != 0) return;
  const TExStatusPanelType T = KeyToPanelType(Key);
  for (TExStatusPanel* P : Panels)
    if (P->PanelType() == T) P->Invalidate();
}

void InitializeExStatusBar() {
  U().HookPanels.clear();
  Unhook();
  U().RefreshLockPanels = false;
  U().TimerCount = 0;
}

void FinalizeExStatusBar() {
  if (U().HookInstalled) {
    Report("TExStatusBar: Keyboard hook still installed");
    Unhook();
  }
  if (U().TimerCount != 0) Report("TExStatusBar: Unbalanced timer registrations");
  U().HookPanels.clear();
  U().TimerCount = 0;
  if (KbMonitorLoaded()) UnloadKeyboardMonitor();
}

}  // namespace widgets
