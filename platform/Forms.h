// Forms, the application object, the screen with its cursor registry, and the hint window.
//
// Application() and Screen() are created by InitializeForms() (or on first use) and freed by
// FinalizeForms(); nothing is done by static constructors. The application needs a Qt
// application object: Initialize creates one when the program has none yet.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Controls.h"

namespace platform {

class TCustomForm;

enum TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
enum TPosition : uint8_t { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TCloseAction : uint8_t { caNone, caHide, caFree, caMinimize };

using TModalResult = int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;
using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  std::string ClassName() const override { return "TCustomForm"; }

  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState Value);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  TWinControl* ActiveControl() const;
  void SetActiveControl(TWinControl* Value);

  void Show();
  void Hide();
  // Shows the form and runs the message loop until ModalResult is set (or the form closes:
  // mrCancel). Returns the ModalResult.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  // Asks OnCloseQuery, then OnClose decides what happens (hide by default; closing the main
  // form ends the application).
  void Close();
  bool CloseQuery();
  // Frees the form from the message loop, once the handler that asks has returned.
  void Release();
  // Runs OnCreate; TApplication::CreateForm calls it once the form is constructed.
  void DoCreate();
  // Runs OnDestroy once; called before the form is freed.
  void DoDestroy();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // The window system asked the form to close; true when it may.
  bool CloseFromWindow();

 protected:
  void TextChanged() override;
  virtual void DoShow();
  virtual void DoHide();
  void DoClose(TCloseAction& Action);

 private:
  void ApplyBorderStyle();
  void ApplyPosition();
  TWindowState FWindowState = wsNormal;
  TPosition FPosition = poDesigned;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TModalResult FModalResult = mrNone;
  bool FInModal = false;
  bool FCreated = false;
  bool FDestroyed = false;
  bool FClosing = false;
  bool FPositioned = false;
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
  std::string ClassName() const override { return "TForm"; }
};

// A small coloured popup showing a text: the tooltip the class library shows for hints.
class THintWindow : public TCustomControl {
 public:
  explicit THintWindow(TComponent* AOwner);
  std::string ClassName() const override { return "THintWindow"; }
  // The window's size for AHint wrapped at MaxWidth pixels, at (0, 0).
  virtual TRect CalcHintRect(int32_t MaxWidth, const std::string& AHint);
  // Shows the hint with its window at Rect (screen coordinates).
  virtual void ActivateHint(const TRect& Rect, const std::string& AHint);
  // Hides the window.
  void ReleaseHandle();
  bool Active() const { return FActive; }

 protected:
  void Paint() override;

 private:
  bool FActive = false;
};

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  std::string ClassName() const override { return "TApplication"; }

  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value);
  // Full path of the running executable.
  std::string ExeName() const;
  // Makes sure a Qt application object exists.
  void Initialize();
  // Creates a form owned by the application, runs its OnCreate, and makes the first one the
  // main form.
  template <typename T>
  void CreateForm(T*& Reference) {
    auto* form = new T(this);
    Reference = form;
    AddForm(form);
    form->DoCreate();
  }
  TCustomForm* MainForm() const { return FMainForm; }
  // Shows the main form and runs the message loop until Terminate or the main form closes.
  void Run();
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Shows the exception's message (OnException when assigned instead).
  void HandleException(TObject* Sender, const std::exception& E);
  void ShowException(const std::exception& E);
  // True while one of the program's windows is active.
  bool Active() const;

  // The long part of the hint of the control under the mouse.
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value) { FShowHint = Value; }
  TColor HintColor() const { return FHintColor; }
  void SetHintColor(TColor Value) { FHintColor = Value; }
  int32_t HintPause() const { return FHintPause; }
  void SetHintPause(int32_t Value) { FHintPause = Value; }
  int32_t HintHidePause() const { return FHintHidePause; }
  void SetHintHidePause(int32_t Value) { FHintHidePause = Value; }

  TNotifyEvent OnHint;
  TIdleEvent OnIdle;
  TExceptionEvent OnException;

  // Forms free themselves through the application (caFree).
  void ReleaseForm(TCustomForm* Form);
  void FormClosed(TCustomForm* Form);

 private:
  void AddForm(TCustomForm* Form);
  void Idle();
  std::string FTitle;
  TCustomForm* FMainForm = nullptr;
  bool FTerminated = false;
  bool FRunning = false;
  std::string FHint;
  bool FShowHint = true;
  TColor FHintColor = clInfoBk;
  int32_t FHintPause = 500;
  int32_t FHintHidePause = 2500;
  struct TQtState;
  std::unique_ptr<TQtState> FQt;
};

class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* AOwner);
  ~TScreen() override;
  std::string ClassName() const override { return "TScreen"; }

  // Size of the primary screen in pixels.
  int32_t Width() const;
  int32_t Height() const;
  int32_t PixelsPerInch() const;
  // The usable area (without panels) of the screen showing P, or of the primary screen when
  // none does; empty without a screen.
  TRect WorkAreaAt(const TPoint& P) const;

  // The cursor shown over every window while it is not crDefault (the hourglass while busy).
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

  // The registry of cursors by id: the standard ids are built in; custom ids (the editors use
  // -30 to -38) are registered from an image. Pixels are ARGB, Width * Height of them.
  void RegisterCursor(TCursor Id, int32_t Width, int32_t Height, const uint32_t* Pixels, int32_t HotX, int32_t HotY);
  // Uses the cursor of Source for Id (registering an alias); false when Source is unknown.
  bool CopyCursor(TCursor Id, TCursor Source);
  void RemoveCursor(TCursor Id);
  bool HasCursor(TCursor Id) const;
  // The Qt cursor shape number behind an id (Qt::BitmapCursor for images); -1 when unknown.
  int CursorShape(TCursor Id) const;

  TCustomForm* ActiveForm() const;
  int32_t FormCount() const { return static_cast<int32_t>(FForms.size()); }
  TCustomForm* Forms(int32_t Index) const { return FForms.at(static_cast<size_t>(Index)); }

 private:
  friend class TCustomForm;
  bool FOverride = false;
  TCursor FCursor = crDefault;
  std::vector<TCustomForm*> FForms;
};

void InitializeForms();
void FinalizeForms();
TApplication* Application();
// The application's title, or "" when none was given (or no application object exists).
std::string ApplicationTitle();
TScreen* Screen();

}  // namespace platform
