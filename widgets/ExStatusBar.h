// Status bar whose panels are typed: plain text, the three lock-key indicators, date and time
// clocks (Dutch formats), text or path shortened with an ellipsis, a glyph with text, percent and
// indeterminate gauges, and owner-drawn panels. Each panel paints itself at once into the bar's
// off-screen surface (the window shows that surface), so clocks and gauges never flicker.
// Clocks and indeterminate gauges share one timer per bar; lock-key panels follow the keyboard
// either through the optional monitor library or, normally on Linux, through the bar's own
// watching: every key event the program receives reaches KeyboardHookProc through the
// platform's keyboard hook, and application activation repaints them all.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Colors.h"
#include "platform/Controls.h"
#include "platform/DateUtils.h"
#include "platform/ExtCtrls.h"
#include "platform/Graphics.h"

namespace widgets {

enum TExStatusPanelType : uint8_t {
  sptNormal, sptCapsLock, sptNumLock, sptScrollLock, sptDate, sptTime, sptDateTime, sptTimeDate,
  sptEllipsisText, sptEllipsisPath, sptGlyph, sptGauge, sptOwnerDraw
};
enum TExGaugeStyle : uint8_t { gsPercent, gsIndeterminate, gsIndeterminate2 };
using TPercent = uint8_t;  // 0..100
enum TStatusPanelBevel : uint8_t { pbNone, pbLowered, pbRaised };
enum TStatusPanelStyle : uint8_t { psText, psOwnerDraw };
// Reading order and alignment of a panel's text; only bdRightToLeft mirrors the alignment.
enum TBiDiMode : uint8_t { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };

class TExStatusBar;
class TExStatusPanel;
class TExStatusPanels;

using TExDrawPanelEvent = std::function<void(TExStatusBar*, TExStatusPanel*, const platform::TRect&)>;
using TExPanelHintTextEvent = std::function<void(TExStatusBar*, TExStatusPanel*, std::string&)>;

// The base status bar's own panel: the geometry and framing a typed panel is drawn in.
struct TStatusPanel {
  platform::TAlignment Alignment = platform::taLeftJustify;
  TStatusPanelBevel Bevel = pbLowered;
  TStatusPanelStyle Style = psText;
  int32_t Width = 50;
  TBiDiMode BiDiMode = bdLeftToRight;
  // BiDiMode follows the bar's.
  bool ParentBiDiMode = true;
};

class TExGaugeAttrs : public platform::TPersistent {
 public:
  explicit TExGaugeAttrs(TExStatusPanel* Owner) : FOwner(Owner) {}
  std::string ClassName() const override { return "TExGaugeAttrs"; }
  // Copies Position, then Style; the owner panel stays.
  void Assign(const platform::TPersistent* Source) override;

  TExGaugeStyle Style() const { return FStyle; }
  void SetStyle(TExGaugeStyle Value);
  TExStatusPanel* Owner() const { return FOwner; }
  TPercent Position() const { return FPosition; }
  void SetPosition(TPercent Value);
  int32_t Speed() const { return FSpeed; }
  void SetSpeed(int32_t Value);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  platform::TColor TextColor() const { return FTextColor; }
  void SetTextColor(platform::TColor Value);

 private:
  TExGaugeStyle FStyle = gsPercent;
  TExStatusPanel* FOwner;
  TPercent FPosition = 0;
  int32_t FSpeed = 4;
  platform::TColor FColor = platform::clHighlight;
  platform::TColor FTextColor = platform::clHighlightText;
};

class TExStatusPanel : public platform::TPersistent {
 public:
  // Collection must be a TExStatusPanels.
  explicit TExStatusPanel(platform::TObject* Collection);
  ~TExStatusPanel() override;
  std::string ClassName() const override { return "TExStatusPanel"; }
  void Assign(const platform::TPersistent* Source) override;

  int32_t Index() const;
  void SetIndex(int32_t Value);
  std::string DisplayName() const;
  TExStatusBar* StatusBar() const;
  TStatusPanel* LinkedPanel() const;

  TExStatusPanelType PanelType() const { return FPanelType; }
  void SetPanelType(TExStatusPanelType Value);
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  // Date/time panels compute their Text; it is not stored with the form.
  bool TextStored() const { return FPanelType < sptDate || FPanelType > sptTimeDate; }
  const std::string& DateFormat() const { return FDateFormat; }
  void SetDateFormat(const std::string& Value);
  const std::string& TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(const std::string& Value);
  platform::TAlignment Alignment() const;
  void SetAlignment(platform::TAlignment Value);
  TStatusPanelBevel Bevel() const;
  void SetBevel(TStatusPanelBevel Value);
  // Setting a BiDiMode stops following the bar; ParentBiDiMode True takes the bar's again.
  TBiDiMode BiDiMode() const;
  void SetBiDiMode(TBiDiMode Value);
  bool ParentBiDiMode() const;
  void SetParentBiDiMode(bool Value);
  // Stored with the form only when it is the panel's own.
  bool BiDiModeStored() const { return !ParentBiDiMode(); }
  // The alignment the text is drawn with: left and right swap when the panel reads right to
  // left, as a right-to-left layout mirrors them.
  platform::TAlignment DrawAlignment() const;
  int32_t Width() const;
  void SetWidth(int32_t Value);
  bool AutoFit() const { return FAutoFit; }
  void SetAutoFit(bool Value);
  int32_t BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int32_t Value);
  // The own flag and the bar's Enabled.
  bool Enabled() const;
  bool OwnEnabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  platform::TPicture* Glyph() const { return FGlyph.get(); }
  void SetGlyph(const platform::TPicture* Value) { FGlyph->Assign(Value); }
  TExGaugeAttrs* GaugeAttrs() const { return FGaugeAttrs.get(); }
  void SetGaugeAttrs(const TExGaugeAttrs* Value) { FGaugeAttrs->Assign(Value); }
  std::string Hint() const;
  void SetHint(const std::string& Value) { FHint = Value; }
  const std::string& StoredHint() const { return FHint; }

  bool LockOn() const { return FLockOn; }
  int32_t GaugePos() const { return FGaugePos; }
  int32_t GaugeStep() const { return FGaugeStep; }
  platform::TBitmap* GaugeBitmap() const { return FGaugeBitmap.get(); }

  void Invalidate();
  // Paints into Canvas at Rect (the panel's frame); nothing without a window or for an empty Rect.
  virtual void PaintPanel(platform::TCanvas* Canvas, const platform::TRect& Rect);
  virtual void Click();

  TExDrawPanelEvent OnDrawPanel;
  TExPanelHintTextEvent OnHintText;
  platform::TNotifyEvent OnClick;

 protected:
  virtual void UpdateAutoFitWidth();
  virtual void UpdateDateTime();
  virtual void GlyphChanged(platform::TObject* Sender);
  virtual void DoDrawPanel(const platform::TRect& Rect);
  virtual void EnabledChanged();
  virtual void DoHintText(std::string& HintText) const;
  virtual void DrawLockKeyPanel(platform::TCanvas* Canvas, platform::TRect& R);
  virtual void DrawTextPanel(platform::TCanvas* Canvas, platform::TRect& R);
  virtual void DrawGlyphPanel(platform::TCanvas* Canvas, platform::TRect& R);
  virtual void DrawPercentGauge(platform::TCanvas* Canvas, platform::TRect& R);
  virtual void DrawIndeterminateGauge(platform::TCanvas* Canvas, platform::TRect& R);
  virtual void CreateGaugeBitmap();

 private:
  friend class TExGaugeAttrs;
  friend class TExStatusPanels;
  friend class TExStatusBar;
  bool IsIndeterminate() const;
  bool IsLockKey() const { return FPanelType >= sptCapsLock && FPanelType <= sptScrollLock; }
  bool IsDateTime() const { return FPanelType >= sptDate && FPanelType <= sptTimeDate; }
  void Join();
  void Leave();
  void RestartGauge();
  void TimerUpdate();
  platform::TBitmap* GetGaugeBitmap();

  TExStatusPanels* FCollection;
  bool FLockOn = false;
  TExStatusPanelType FPanelType = sptNormal;
  bool FAutoFit = false;
  bool FEnabled = true;
  std::string FTimeFormat, FDateFormat, FText;
  std::unique_ptr<platform::TPicture> FGlyph;
  int32_t FGaugePos = 0;
  int32_t FGaugeStep = 1;
  std::string FHint;
  std::unique_ptr<TExGaugeAttrs> FGaugeAttrs;
  std::unique_ptr<platform::TBitmap> FGaugeBitmap;
  int32_t FBorderWidth = 0;
  std::unique_ptr<TStatusPanel> FLinkedPanel;
  // What the panel has joined, so leaving undoes exactly that once.
  enum TJoin : uint8_t { jnNone, jnHook, jnMonitor, jnTimer } FJoin = jnNone;
};

class TExStatusPanels : public platform::TPersistent {
 public:
  explicit TExStatusPanels(TExStatusBar* StatusBar);
  ~TExStatusPanels() override;
  std::string ClassName() const override { return "TExStatusPanels"; }
  void Assign(const platform::TPersistent* Source) override;

  TExStatusPanel* Add();
  void Clear();
  void Delete(int32_t Index);
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TExStatusPanel* Items(int32_t Index) const;
  TExStatusBar* StatusBar() const { return FStatusBar; }
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Redraws one panel, or (nullptr) the whole bar.
  void Update(TExStatusPanel* Item);

  platform::TTimer* Timer() const { return FTimer.get(); }
  int32_t TimerPanelCount() const { return static_cast<int32_t>(FTimerPanels.size()); }
  void RegisterTimer(TExStatusPanel* Panel);
  void UnregisterTimer(TExStatusPanel* Panel);
  void TimerTick(platform::TObject* Sender);

 private:
  friend class TExStatusPanel;
  friend class TExStatusBar;
  TExStatusBar* FStatusBar;
  std::vector<std::unique_ptr<TExStatusPanel>> FItems;
  std::unique_ptr<platform::TTimer> FTimer;
  std::vector<TExStatusPanel*> FTimerPanels;
  platform::TDateTime FLastDate = 0;
  int32_t FUpdateCount = 0;
};

class TExStatusBar : public platform::TCustomControl {
 public:
  explicit TExStatusBar(platform::TComponent* AOwner);
  ~TExStatusBar() override;
  std::string ClassName() const override { return "TExStatusBar"; }

  TExStatusPanels* Panels() const { return FPanels.get(); }
  void SetPanels(const TExStatusPanels* Value) { FPanels->Assign(Value); }
  bool UseMonitorDLL() const { return FUseMonitorDLL; }
  void SetUseMonitorDLL(bool Value);
  // Passed on to the panels that follow the bar (ParentBiDiMode).
  TBiDiMode BiDiMode() const { return FBiDiMode; }
  void SetBiDiMode(TBiDiMode Value);
  std::string Version() const { return "TExStatusBar v1.23"; }
  void SetVersion(const std::string&) {}
  int32_t MonitorUsers() const { return FMonitorUsers; }
  uint32_t MonitorMessage() const { return FMonitorMessage; }
  int32_t MainWinHookCount() const { return static_cast<int32_t>(FMainWinHookPanels.size()); }
  // The component is being edited in a designer (owner-draw placeholders, load errors raised).
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool Value) { FDesigning = Value; }

  // The frame rectangle of a panel; empty without a window or for an index out of range.
  platform::TRect GetPanelRect(int32_t Index);
  // Paints a panel at once; EListError "List index out of bounds (%d)" for a bad index.
  void RedrawPanel(int32_t Index);
  // Width and height of Text in the bar font; (-1, -1) when it cannot be measured.
  platform::TSize TextExtent(const std::string& Text);
  // The surface panels are painted on (what the window shows).
  platform::TBitmap* Surface();
  // The bar's canvas is its surface, so what an OnDrawPanel handler paints on it is what the
  // window shows.
  platform::TCanvas* Canvas() { return Surface()->Canvas(); }
  // Repaints the whole bar into the surface now.
  void RenderAll();
  // The application posted activation message: repaint every lock-key panel.
  void RepaintLockPanels();
  // A message from the monitor library (Msg == MonitorMessage) is consumed; true when it was.
  bool MonitorNotify(uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  // The window the monitor library is given: messages posted to it (PostMessage, from any
  // thread) reach MonitorNotify on the GUI thread.
  void* MonitorWindow();
  // Clicks the panel under the client point, then the bar.
  void ClickAt(platform::TPoint P);
  void FontChanged() override;

  void Loaded() override;
  void Invalidate() override;

  TExDrawPanelEvent OnDrawPanel;

 protected:
  void CreateWnd() override;
  void Paint() override;
  void Resize() override;
  // The panel under the cursor shows its own hint; elsewhere the hint area stops at the
  // nearest panels that have one.
  bool HintShow(platform::THintInfo& Info) override;
  // A click goes to the panel under the mouse first, then to the bar.
  void Click() override;
  // Disabling the bar disables its panels: they leave the timer and the keyboard watching.
  void EnabledChanged() override;
  // Deregisters the window from the monitor library, so a new window is registered once.
  void DestroyWnd() override;
  // Draws one owner-drawn base panel.
  virtual void DrawPanel(TStatusPanel* Panel, const platform::TRect& Rect);

 private:
  friend class TExStatusPanel;
  friend class TExStatusPanels;
  void UpdateKeyboardHooks();
  void RegisterMonitorUser();
  void DeregisterMonitorUser();
  void AddMainWinHook(TExStatusPanel* Panel);
  void RemoveMainWinHook(TExStatusPanel* Panel);
  void DrawSizeGrip(platform::TCanvas* Canvas, const platform::TRect& R);

  std::unique_ptr<TExStatusPanels> FPanels;
  std::vector<TExStatusPanel*> FMainWinHookPanels;
  std::unique_ptr<platform::TBitmap> FExtent;
  std::unique_ptr<platform::TBitmap> FSurface;
  bool FSurfaceValid = false;
  bool FUseMonitorDLL = false;
  TBiDiMode FBiDiMode = bdLeftToRight;
  int32_t FMonitorUsers = 0;
  uint32_t FMonitorMessage = 0;
  void* FMonitorWindow = nullptr;
  int32_t FAppHook = 0;
  bool FDesigning = false;
  bool FRendering = false;
};

// Lock-key captions.
inline constexpr const char* SCapsLock = " CAPS ";
inline constexpr const char* SNumLock = " NUM ";
inline constexpr const char* SScrollLock = " SCROLL ";
constexpr uint32_t WM_REFRESHLOCKINDICATORS = 32998;
constexpr uint32_t SB_GETRECT = 1034;

// The keyboard hook: the platform's key dispatch calls it (Code >= 0, the virtual key, and the
// key flags: bit 31 released, bit 30 previously down). A lock key's first press and its release
// repaint the panels of that key. Always passes the event on.
void KeyboardHookProc(int32_t Code, uint32_t Key, uint32_t Flags);
bool KeyboardHookInstalled();
int32_t KeyboardHookPanelCount();
bool RefreshLockPanels();

// The clock the panels read (Now); tests pass a fake one, an empty function restores the system's.
void SetExStatusBarClock(std::function<platform::TDateTime()> Clock);
// FormatDateTime for the clock panels: d dd ddd dddd, m mm mmm mmmm (minutes right after an
// hour), yy yyyy, h hh, n nn, s ss, z zzz, "/" and ":" as the Dutch separators, quoted literals.
std::string FormatStatusDateTime(const std::string& Format, platform::TDateTime Value);
inline constexpr const char* ShortDateFormat = "d-M-yyyy";
inline constexpr const char* LongTimeFormat = "H:mm:ss";

void InitializeExStatusBar();
// Reports a hook still installed and unbalanced timer registrations; unloads the monitor.
void FinalizeExStatusBar();
// Consistency reports made so far ("TExStatusBar: Keyboard hook still installed", ...).
std::vector<std::string>& ExStatusBarReports();

}  // namespace widgets
