#include "platform/Forms.h"

#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <map>

#include "platform/Controls_Widget.h"
#include "platform/Dialogs.h"
#include "platform/Graphics.h"
#include "platform/QtBridge.h"

namespace platform {

namespace {

struct TGlobals {
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TScreen> Scr;
};

TGlobals& Globals() {
  static TGlobals g;
  return g;
}

// Registered cursors by id; the standard ids resolve to Qt's shapes without an entry.
std::map<TCursor, QCursor>& CursorTable() {
  static std::map<TCursor, QCursor> table;
  return table;
}

bool StandardShape(TCursor Id, Qt::CursorShape& Shape) {
  switch (Id) {
    case crNone: Shape = Qt::BlankCursor; return true;
    case crArrow: Shape = Qt::ArrowCursor; return true;
    case crCross: Shape = Qt::CrossCursor; return true;
    case crIBeam: Shape = Qt::IBeamCursor; return true;
    case crSizeNESW: Shape = Qt::SizeBDiagCursor; return true;
    case crSizeNS: Shape = Qt::SizeVerCursor; return true;
    case crSizeNWSE: Shape = Qt::SizeFDiagCursor; return true;
    case crSizeWE: Shape = Qt::SizeHorCursor; return true;
    case crUpArrow: Shape = Qt::UpArrowCursor; return true;
    case crHourGlass: Shape = Qt::WaitCursor; return true;
    case crDrag: Shape = Qt::DragMoveCursor; return true;
    case crNoDrop: Shape = Qt::ForbiddenCursor; return true;
    case crHSplit: Shape = Qt::SplitHCursor; return true;
    case crVSplit: Shape = Qt::SplitVCursor; return true;
    case crMultiDrag: Shape = Qt::DragCopyCursor; return true;
    case crSQLWait: Shape = Qt::WaitCursor; return true;
    case crNo: Shape = Qt::ForbiddenCursor; return true;
    case crAppStart: Shape = Qt::BusyCursor; return true;
    case crHelp: Shape = Qt::WhatsThisCursor; return true;
    case crHandPoint: Shape = Qt::PointingHandCursor; return true;
    case crSizeAll: Shape = Qt::SizeAllCursor; return true;
    default: return false;
  }
}

}  // namespace

bool LookupCursor(TCursor Id, QCursor& Cursor) {
  auto& table = CursorTable();
  auto it = table.find(Id);
  if (it != table.end()) {
    Cursor = it->second;
    return true;
  }
  Qt::CursorShape shape;
  if (!StandardShape(Id, shape)) return false;
  Cursor = QCursor(shape);
  return true;
}

void InitializeForms() {
  TGlobals& g = Globals();
  if (!g.App) g.App = std::make_unique<TApplication>(nullptr);
  if (!g.Scr) g.Scr = std::make_unique<TScreen>(nullptr);
}

void FinalizeForms() {
  TGlobals& g = Globals();
  g.App.reset();
  g.Scr.reset();
  CursorTable().clear();
}

TApplication* Application() {
  if (!Globals().App) InitializeForms();
  return Globals().App.get();
}

std::string ApplicationTitle() { return Globals().App ? Globals().App->Title() : std::string(); }

TScreen* Screen() {
  if (!Globals().Scr) InitializeForms();
  return Globals().Scr.get();
}

// ---------------------------------------------------------------------------------------------
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  auto* w = static_cast<QWidget*>(WidgetHandle());
  w->setWindowFlags(Qt::Window);
  w->setAttribute(Qt::WA_DeleteOnClose, false);
  SetVisible(false);
  SetColor(clBtnFace);
  SetParentFont(false);
  SetBounds(0, 0, 320, 240);
  Screen()->FForms.push_back(this);
}

TCustomForm::~TCustomForm() {
  DoDestroy();
  if (Globals().Scr) {
    auto& v = Globals().Scr->FForms;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  if (Globals().App) Globals().App->FormClosed(this);
}

void TCustomForm::DoCreate() {
  if (FCreated) return;
  FCreated = true;
  if (OnCreate) OnCreate(this);
}

void TCustomForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) OnDestroy(this);
}

void TCustomForm::TextChanged() {
  static_cast<QWidget*>(WidgetHandle())->setWindowTitle(QString::fromStdString(Text()));
}

void TCustomForm::SetWindowState(TWindowState Value) {
  if (Value == FWindowState) return;
  FWindowState = Value;
  auto* w = static_cast<QWidget*>(WidgetHandle());
  if (!w->isVisible()) return;
  switch (Value) {
    case wsNormal: w->showNormal(); break;
    case wsMinimized: w->showMinimized(); break;
    case wsMaximized: w->showMaximized(); break;
  }
}

void TCustomForm::SetBorderStyle(TFormBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  ApplyBorderStyle();
}

void TCustomForm::ApplyBorderStyle() {
  auto* w = static_cast<QWidget*>(WidgetHandle());
  const bool wasVisible = w->isVisible();
  Qt::WindowFlags f = Qt::Window;
  switch (FBorderStyle) {
    case bsNone: f |= Qt::FramelessWindowHint; break;
    case bsSingle: f |= Qt::MSWindowsFixedSizeDialogHint; break;
    case bsDialog: f = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint; break;
    case bsToolWindow: f = Qt::Tool | Qt::MSWindowsFixedSizeDialogHint; break;
    case bsSizeToolWin: f = Qt::Tool; break;
    case bsSizeable: break;
  }
  w->setWindowFlags(f);
  if (wasVisible) w->show();
}

void TCustomForm::ApplyPosition() {
  if (FPositioned) return;
  FPositioned = true;
  if (FPosition == poScreenCenter || FPosition == poDesktopCenter ||
      (FPosition == poMainFormCenter && !Application()->MainForm())) {
    SetBounds((Screen()->Width() - Width()) / 2, (Screen()->Height() - Height()) / 2, Width(), Height());
  } else if (FPosition == poMainFormCenter || FPosition == poOwnerFormCenter) {
    TCustomForm* ref = Application()->MainForm();
    if (FPosition == poOwnerFormCenter)
      if (auto* o = dynamic_cast<TCustomForm*>(Owner())) ref = o;
    if (ref && ref != this)
      SetBounds(ref->Left() + (ref->Width() - Width()) / 2, ref->Top() + (ref->Height() - Height()) / 2, Width(),
                Height());
  }
}

TWinControl* TCustomForm::ActiveControl() const {
  QWidget* f = static_cast<QWidget*>(WidgetHandle())->focusWidget();
  TWinControl* c = FindControl(f);
  return c == this ? nullptr : c;
}

void TCustomForm::SetActiveControl(TWinControl* Value) {
  if (Value && Value->CanFocus()) Value->SetFocus();
}

void TCustomForm::Show() {
  SetVisible(true);
  HandleNeeded();
  ApplyPosition();
  auto* w = static_cast<QWidget*>(WidgetHandle());
  switch (FWindowState) {
    case wsNormal: w->show(); break;
    case wsMinimized: w->showMinimized(); break;
    case wsMaximized: w->showMaximized(); break;
  }
  DoShow();
}

void TCustomForm::Hide() {
  auto* w = static_cast<QWidget*>(WidgetHandle());
  const bool was = w->isVisible();
  SetVisible(false);
  w->hide();
  if (was) DoHide();
}

void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}

TModalResult TCustomForm::ShowModal() {
  if (FInModal) throw EInvalidOperation("Cannot make a visible window modal");
  auto* w = static_cast<QWidget*>(WidgetHandle());
  FModalResult = mrNone;
  FInModal = true;
  w->setWindowModality(Qt::ApplicationModal);
  Show();
  try {
    while (FModalResult == mrNone && !Application()->Terminated()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
      if (FModalResult != mrNone) {
        // Let the form refuse (OnCloseQuery) or choose how to close.
        if (!CloseQuery()) {
          FModalResult = mrNone;
          continue;
        }
        TCloseAction action = caHide;
        DoClose(action);
        if (action == caNone) FModalResult = mrNone;
      }
    }
  } catch (...) {
    FInModal = false;
    w->setWindowModality(Qt::NonModal);
    Hide();
    throw;
  }
  FInModal = false;
  Hide();
  w->setWindowModality(Qt::NonModal);
  return FModalResult;
}

bool TCustomForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(this, can);
  return can;
}

void TCustomForm::DoClose(TCloseAction& Action) {
  if (OnClose) OnClose(this, Action);
}

void TCustomForm::Close() {
  if (FClosing) return;
  if (FInModal) {
    FModalResult = mrCancel;
    QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
    if (d) d->wakeUp();
    return;
  }
  if (!CloseQuery()) return;
  FClosing = true;
  TCloseAction action = caHide;
  try {
    DoClose(action);
  } catch (...) {
    FClosing = false;
    throw;
  }
  FClosing = false;
  if (action == caNone) return;
  if (Application()->MainForm() == this) {
    Hide();
    Application()->Terminate();
  } else if (action == caHide) {
    Hide();
  } else if (action == caMinimize) {
    SetWindowState(wsMinimized);
  } else {
    Hide();
    Application()->ReleaseForm(this);
  }
}

void TCustomForm::Release() { Application()->ReleaseForm(this); }

bool TCustomForm::CloseFromWindow() {
  Close();
  return false;  // the form hides or frees itself
}

// ---------------------------------------------------------------------------------------------
// THintWindow

THintWindow::THintWindow(TComponent* AOwner) : TCustomControl(AOwner) {
  auto* w = static_cast<QWidget*>(WidgetHandle());
  w->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
  w->setAttribute(Qt::WA_ShowWithoutActivating, true);
  SetColor(clInfoBk);
  SetParentFont(false);
  TFont f;
  f.SetColor(clInfoText);
  SetFont(&f);
}

TRect THintWindow::CalcHintRect(int32_t MaxWidth, const std::string& AHint) {
  TRect r{0, 0, MaxWidth, 0};
  Canvas()->SetFont(Font());
  Canvas()->DrawText(AHint, r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  r.Right += 6;
  r.Bottom += 2;
  return r;
}

void THintWindow::ActivateHint(const TRect& Rect, const std::string& AHint) {
  SetCaption(AHint);
  TRect r = Rect;
  // Keep the whole hint on the screen.
  const int32_t sw = Screen()->Width(), sh = Screen()->Height();
  if (r.Right > sw) OffsetRect(r, sw - r.Right, 0);
  if (r.Left < 0) OffsetRect(r, -r.Left, 0);
  if (r.Bottom > sh) OffsetRect(r, 0, sh - r.Bottom);
  if (r.Top < 0) OffsetRect(r, 0, -r.Top);
  SetBounds(r.Left, r.Top, r.Width(), r.Height());
  FActive = true;
  auto* w = static_cast<QWidget*>(WidgetHandle());
  w->show();
  if (QGuiApplication::platformName() != "offscreen") w->raise();
  Invalidate();
}

void THintWindow::ReleaseHandle() {
  FActive = false;
  static_cast<QWidget*>(WidgetHandle())->hide();
}

void THintWindow::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetColor(Color());
  c->Pen()->SetColor(clBlack);
  c->Rectangle(r);
  r.Left += 2;
  r.Top += 2;
  c->Brush()->SetStyle(bsClear);
  c->DrawText(Caption(), r, DT_LEFT | DT_NOPREFIX | DT_WORDBREAK);
}

// ---------------------------------------------------------------------------------------------
// TApplication

struct TApplication::TQtState {
  std::unique_ptr<QApplication> OwnApp;
  QMetaObject::Connection IdleConnection;
};

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FQt(std::make_unique<TQtState>()) {}

TApplication::~TApplication() {
  if (FQt->IdleConnection) QObject::disconnect(FQt->IdleConnection);
  // Forms go first, newest first, each told it is being destroyed.
  while (ComponentCount() > 0) {
    TComponent* c = Components(ComponentCount() - 1);
    if (auto* f = dynamic_cast<TCustomForm*>(c)) f->DoDestroy();
    delete c;
  }
  FMainForm = nullptr;
}

void TApplication::SetTitle(const std::string& Value) {
  if (Value == FTitle) return;
  // Kept by the application alone: as Qt's display name it would be added to every form's
  // caption in the window's title bar ("caption — title").
  FTitle = Value;
}

std::string TApplication::ExeName() const {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

void TApplication::Initialize() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "kadrilo";
    static char* argv[] = {name, nullptr};
    FQt->OwnApp = std::make_unique<QApplication>(argc, argv);
  }
  if (!FQt->IdleConnection)
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance())
      FQt->IdleConnection = QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [this] { Idle(); });
}

void TApplication::AddForm(TCustomForm* Form) {
  if (!FMainForm) FMainForm = Form;
}

void TApplication::FormClosed(TCustomForm* Form) {
  if (FMainForm == Form) FMainForm = nullptr;
}

void TApplication::Run() {
  Initialize();
  FRunning = true;
  if (FMainForm) FMainForm->Show();
  while (!FTerminated) {
    try {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } catch (const std::exception& e) {
      HandleException(this, e);
    }
    if (!FMainForm) FTerminated = true;
  }
  FRunning = false;
}

void TApplication::ProcessMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Terminate() {
  FTerminated = true;
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

void TApplication::Idle() {
  if (!OnIdle) return;
  bool done = true;
  try {
    OnIdle(this, done);
  } catch (const std::exception& e) {
    HandleException(this, e);
  }
  // Not done: run again as soon as the loop is free.
  if (!done) QTimer::singleShot(0, [] {});
}

void TApplication::HandleException(TObject* Sender, const std::exception& E) {
  if (OnException) {
    OnException(Sender, E);
    return;
  }
  ShowException(E);
}

void TApplication::ShowException(const std::exception& E) {
  std::string msg = E.what();
  if (!msg.empty() && msg.back() != '.') msg += '.';
  MessageBox(msg, FTitle, MB_OK | MB_ICONERROR);
}

bool TApplication::Active() const { return qApp && QApplication::activeWindow() != nullptr; }

void TApplication::SetHint(const std::string& Value) {
  if (Value == FHint) return;
  FHint = Value;
  if (OnHint) OnHint(this);
}

void TApplication::ReleaseForm(TCustomForm* Form) {
  // Freed from the message loop, after the handler that asked for it has returned.
  QTimer::singleShot(0, [Form] {
    TScreen* s = Globals().Scr.get();
    if (!s) return;
    for (int32_t i = 0; i < s->FormCount(); ++i)
      if (s->Forms(i) == Form) {
        Form->DoDestroy();  // while the whole form still exists
        delete Form;
        return;
      }
  });
}

// ---------------------------------------------------------------------------------------------
// TScreen

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

TScreen::~TScreen() {
  if (FOverride && qApp) QGuiApplication::restoreOverrideCursor();
}

int32_t TScreen::Width() const {
  QScreen* s = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->geometry().width() : 0;
}

int32_t TScreen::Height() const {
  QScreen* s = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->geometry().height() : 0;
}

TRect TScreen::WorkAreaAt(const TPoint& P) const {
  if (!qGuiApp) return {0, 0, 0, 0};
  QScreen* s = QGuiApplication::screenAt(QPoint(P.X, P.Y));
  if (!s) s = QGuiApplication::primaryScreen();
  if (!s) return {0, 0, 0, 0};
  const QRect g = s->availableGeometry();
  return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

int32_t TScreen::PixelsPerInch() const {
  QScreen* s = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
  return s ? static_cast<int32_t>(s->logicalDotsPerInch() + 0.5) : 96;
}

void TScreen::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  if (!qApp) return;
  QCursor c;
  if (Value != crDefault && LookupCursor(Value, c)) {
    if (FOverride)
      QGuiApplication::changeOverrideCursor(c);
    else
      QGuiApplication::setOverrideCursor(c);
    FOverride = true;
  } else if (FOverride) {
    QGuiApplication::restoreOverrideCursor();
    FOverride = false;
  }
}

void TScreen::RegisterCursor(TCursor Id, int32_t Width, int32_t Height, const uint32_t* Pixels, int32_t HotX,
                             int32_t HotY) {
  if (Width <= 0 || Height <= 0 || Width > 256 || Height > 256 || !Pixels)
    throw EInvalidArgument("Invalid cursor image");
  QImage img(Width, Height, QImage::Format_ARGB32);
  for (int32_t y = 0; y < Height; ++y)
    for (int32_t x = 0; x < Width; ++x) img.setPixel(x, y, Pixels[static_cast<size_t>(y) * Width + x]);
  HotX = std::clamp(HotX, 0, Width - 1);
  HotY = std::clamp(HotY, 0, Height - 1);
  CursorTable()[Id] = QCursor(QPixmap::fromImage(img), HotX, HotY);
}

bool TScreen::CopyCursor(TCursor Id, TCursor Source) {
  QCursor c;
  if (!LookupCursor(Source, c)) return false;
  CursorTable()[Id] = c;
  return true;
}

void TScreen::RemoveCursor(TCursor Id) { CursorTable().erase(Id); }

bool TScreen::HasCursor(TCursor Id) const {
  QCursor c;
  return Id == crDefault || LookupCursor(Id, c);
}

int TScreen::CursorShape(TCursor Id) const {
  QCursor c;
  if (Id == crDefault) return Qt::ArrowCursor;
  if (!LookupCursor(Id, c)) return -1;
  return c.shape();
}

TCustomForm* TScreen::ActiveForm() const {
  QWidget* w = qApp ? QApplication::activeWindow() : nullptr;
  return dynamic_cast<TCustomForm*>(ControlOfWidget(w));
}

}  // namespace platform
