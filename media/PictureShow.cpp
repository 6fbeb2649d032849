#include "media/PictureShow.h"

#include <QObject>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <utility>

#include "media/PictureShowEffects.h"
#include "platform/Exceptions.h"
#include "platform/Forms.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace media {

using platform::MulDiv;
using platform::TBitmap;
using platform::TCanvas;
using platform::TRect;

namespace {
bool PixelStyle(TShowStyle S) { return S >= 118 && S <= 122; }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QThread::Priority QtPriority(TThreadPriority P) {
  switch (P) {
    case tpIdle: return QThread::IdlePriority;
    case tpLowest: return QThread::LowestPriority;
    case tpLower: return QThread::LowPriority;
    case tpNormal: return QThread::NormalPriority;
    case tpHigher: return QThread::HighPriority;
    case tpHighest: return QThread::HighestPriority;
    case tpTimeCritical: return QThread::TimeCriticalPriority;
  }
  return QThread::NormalPriority;
}
}  // namespace

void TFrameEvent::Set() {
  {
    std::lock_guard<std::mutex> L(FMutex);
    FSignalled = true;
  }
  FCond.notify_all();
}

void TFrameEvent::Reset() {
  std::lock_guard<std::mutex> L(FMutex);
  FSignalled = false;
}

void TFrameEvent::Wait() {
  std::unique_lock<std::mutex> L(FMutex);
  FCond.wait(L, [this] { return FSignalled; });
}

TAnimateThread::TAnimateThread(TCustomPictureShow* Owner, TThreadPriority Priority)
    : FOwner(Owner), FPriority(Priority) {
  FThread.reset(QThread::create([this] { Execute(); }));
}

TAnimateThread::~TAnimateThread() {
  Terminate();
  WaitFor();
}

void TAnimateThread::Resume() {
  if (!FThread->isRunning() && !FThread->isFinished()) FThread->start(QtPriority(FPriority));
}

void TAnimateThread::Terminate() {
  {
    std::lock_guard<std::mutex> L(FSleepMutex);
    FTerminated = true;
  }
  FSleepCond.notify_all();
}

void TAnimateThread::WaitFor() { FThread->wait(); }

void TAnimateThread::Pause(int64_t Ms) {
  std::unique_lock<std::mutex> L(FSleepMutex);
  FSleepCond.wait_for(L, std::chrono::milliseconds(Ms), [this] { return FTerminated.load(); });
}

void TAnimateThread::Execute() {
  FPosting = true;
  const uint64_t Generation = FOwner->FThreadGeneration;
  try {
    uint16_t S = FOwner->FStep;
    while (!Terminated()) {
      const int64_t t0 = NowMs();
      if (!FOwner->DoStep(*this, S)) Terminate();
      if (Terminated()) break;
      const uint16_t Delay = FOwner->FDelay;
      const int64_t Elapsed = NowMs() - t0;
      if (Elapsed <= Delay) Pause(Delay - Elapsed);
      S = TCustomPictureShow::NextStep(FOwner->FStep, Delay, Elapsed, FOwner->FExactTiming, S);
    }
  } catch (...) {
    FOwner->FThreadError = std::current_exception();
  }
  TCustomPictureShow* Owner = FOwner;
  QMetaObject::invokeMethod(
      Owner->FMailbox.get(), [Owner, Generation] { Owner->ThreadPosted(Generation); },
      Qt::QueuedConnection);
}

TCustomPictureShow::TCustomPictureShow(platform::TComponent* AOwner)
    : TCustomControl(AOwner),
      FPicture(std::make_unique<platform::TPicture>()),
      FBgPicture(std::make_unique<platform::TPicture>()),
      FMedia(std::make_unique<TBitmap>()),
      FMailbox(std::make_unique<QObject>()),
      FOffscreen(std::make_unique<TBitmap>()) {
  FPicture->OnChange = [this](platform::TObject* S) { PictureChanged(S); };
  FBgPicture->OnChange = [this](platform::TObject* S) { BgPictureChanged(S); };
  SetBounds(Left(), Top(), 100, 100);
  FOffscreen->SetSize(std::max(ClientWidth(), 1), std::max(ClientHeight(), 1));
}

TCustomPictureShow::~TCustomPictureShow() {
  FDestroyingSelf = true;
  Stop();
  FThread.reset();  // a worker still running (Stop found nothing to stop) ends here
}

void TCustomPictureShow::SetPicture(const platform::TPicture* Value) {
  if (Value)
    FPicture->Assign(Value);
  else
    FPicture->SetGraphic(nullptr);
}

void TCustomPictureShow::SetBgPicture(const platform::TPicture* Value) {
  if (Value)
    FBgPicture->Assign(Value);
  else
    FBgPicture->SetGraphic(nullptr);
}

void TCustomPictureShow::SetBgMode(TBackgroundMode Value) {
  if (FBgMode == Value) return;
  FBgMode = Value;
  if (FBgPicture->Graphic() && !FInPaint) Invalidate();
}

void TCustomPictureShow::SetAutoSize(bool Value) {
  if (FAutoSize == Value) return;
  FAutoSize = Value;
  if (FAutoSize) AutoSizeToPicture();
}

void TCustomPictureShow::SetCenter(bool Value) {
  if (FCenter == Value) return;
  FCenter = Value;
  if (FPicture->Graphic()) {
    CalcPicRect();
    if (!FMedia->Empty() && !FInPaint) Invalidate();
  }
}

void TCustomPictureShow::SetStretch(bool Value) {
  if (FStretch == Value) return;
  FStretch = Value;
  if (!FMedia->Empty() && !FInPaint) Invalidate();
}

void TCustomPictureShow::SetStretchFine(bool Value) {
  if (FStretchFine == Value) return;
  FStretchFine = Value;
  if (!FMedia->Empty() && !FInPaint) Invalidate();
}

void TCustomPictureShow::SetManual(bool Value) {
  if (FManual == Value) return;
  FManual = Value;
  StopAnimation();
  if (FBusy) {
    if (!FManual) Animate();
  } else {
    FProgress = FReverse ? 100 : 0;
  }
}

void TCustomPictureShow::SetStyle(TShowStyle Value) {
  if (Value > EffectCount || FStyle == Value) return;
  std::lock_guard<std::recursive_mutex> L(FLock);
  if (FBusy && PixelStyle(Value) && !PixelStyle(FStyle)) {
    FPic->SetPixelFormat(platform::pf32bit);
    FMedia->SetPixelFormat(platform::pf32bit);
  }
  FStyle = Value;
}

std::string TCustomPictureShow::StyleName() const {
  return FStyle == 0 ? "Custom" : Effects(FStyle - 1).Name;
}

void TCustomPictureShow::SetStyleName(const std::string& Value) {
  if (platform::SameText(Value, "Custom")) {
    SetStyle(0);
    return;
  }
  for (int32_t i = 0; i < EffectCount; ++i)
    if (Value == Effects(i).Name) {
      SetStyle(static_cast<TShowStyle>(i + 1));
      return;
    }
}

void TCustomPictureShow::SetStep(uint16_t Value) {
  FStep = std::clamp<uint16_t>(Value, 1, 100);
}

void TCustomPictureShow::SetProgress(uint8_t Value) {
  if (Value > 100) Value = 100;
  if (!FBusy || Value == FProgress) return;
  {
    std::lock_guard<std::recursive_mutex> L(FLock);
    FProgress = Value;
    UpdateFrame();
  }
  InvalidateFrame(TRect{0, 0, FPicWidth, FPicHeight});
  Update();  // paints now when the control is on screen
  FFrameEvent.Set();
  DoProgress();
}

void TCustomPictureShow::PictureChanged(platform::TObject*) {
  if (FAutoSize && FPicture->Graphic()) AutoSizeToPicture();
  DoChange();
}

void TCustomPictureShow::BgPictureChanged(platform::TObject*) {
  if (FBgMode != bmNone && !FInPaint) Invalidate();
}

void TCustomPictureShow::AutoSizeToPicture() {
  if (!FPicture->Graphic() || Align() == platform::alClient) return;
  if (Align() != platform::alTop && Align() != platform::alBottom)
    SetClientWidth(FPicture->Width());
  if (Align() != platform::alLeft && Align() != platform::alRight)
    SetClientHeight(FPicture->Height());
}

void TCustomPictureShow::CalcPicRect() {
  if (FMedia->Empty()) return;
  FPicRect = TRect{0, 0, FMedia->Width(), FMedia->Height()};
  if (FCenter) {
    const int32_t dx = (ClientWidth() - FMedia->Width()) / 2;
    const int32_t dy = (ClientHeight() - FMedia->Height()) / 2;
    FPicRect = TRect{dx, dy, dx + FMedia->Width(), dy + FMedia->Height()};
  }
}

TRect TCustomPictureShow::FitRect(const TRect& Src, const TRect& Dst) {
  const int32_t sw = Src.Right - Src.Left, sh = Src.Bottom - Src.Top;
  const int32_t dw = Dst.Right - Dst.Left, dh = Dst.Bottom - Dst.Top;
  if (sw <= 0 || sh <= 0) return Dst;  // nothing to keep the shape of
  const double rx = double(dw) / sw, ry = double(dh) / sh;
  int32_t w, h;
  if (ry <= rx) {
    w = MulDiv(sw, dh, sh);
    h = dh;
  } else {
    w = dw;
    h = MulDiv(sh, dw, sw);
  }
  const int32_t x = Dst.Left + (dw - w) / 2, y = Dst.Top + (dh - h) / 2;
  return TRect{x, y, x + w, y + h};
}

void TCustomPictureShow::Execute() {
  if (!FPicture->Graphic() || FBusy) return;
  if (FStyle != 0 && !Effects(FStyle - 1).Proc)
    throw platform::EInvalidOperation(std::string("Transition effect not available: ") +
                                      Effects(FStyle - 1).Name);
  FBusy = true;
  try {
    Prepare();
    if (!FManual && !FStopping) Animate();
  } catch (...) {
    FPic.reset();
    FBgBitmap.reset();
    FBusy = false;
    throw;
  }
}

void TCustomPictureShow::Prepare() {
  FPicWidth = FPicture->Width();
  FPicHeight = FPicture->Height();
  FMedia->SetSize(FPicWidth, FPicHeight);
  CalcPicRect();
  const TRect Client = ClientRect();
  TRect S = FPicRect;
  if (FStretch) S = FStretchFine ? FitRect(FPicRect, Client) : Client;
  FBgBitmap = std::make_unique<TBitmap>();
  FBgBitmap->SetSize(FPicWidth, FPicHeight);
  FBgBitmap->Canvas()->Brush()->SetColor(Color());
  if (FOffscreen->Width() != Client.Right || FOffscreen->Height() != Client.Bottom)
    FOffscreen->SetSize(std::max(Client.Right, 1), std::max(Client.Bottom, 1));
  if (FNeedBackground || !FOverDraw) PaintBackground(FOffscreen->Canvas(), Client);
  // The transition starts from what is on screen.
  FBgBitmap->Canvas()->CopyRect(TRect{0, 0, FPicWidth, FPicHeight}, FOffscreen->Canvas(), S);
  FPic = std::make_unique<TBitmap>();
  FPic->SetSize(FPicWidth, FPicHeight);
  {
    // The copy is a still: drawn from a private duplicate, so an animated picture leaves no
    // player behind that would keep reporting changes of Picture.
    platform::TPicture Still;
    Still.SetGraphic(FPicture->Graphic());
    FPic->Canvas()->Draw(0, 0, Still.Graphic());
  }
  if (PixelStyle(FStyle)) {
    FPic->SetPixelFormat(platform::pf32bit);
    FMedia->SetPixelFormat(platform::pf32bit);
  } else {
    FMedia->SetPixelFormat(platform::pfDevice);
  }
  FProgress = FReverse ? 100 : 0;
  DoStart(FPic.get(), FBgBitmap.get());
  // The starting frame, from what OnStart left: setting Progress to where it already is
  // composes nothing, and Media would show whatever it held before.
  {
    std::lock_guard<std::recursive_mutex> L(FLock);
    FMedia->Canvas()->Draw(0, 0, FBgBitmap.get());
    if (FProgress == 100) FMedia->Canvas()->Draw(0, 0, FPic.get());
    FMedia->Canvas()->Release();
    FPic->Canvas()->Release();
    FBgBitmap->Canvas()->Release();
  }
  InvalidateFrame(TRect{0, 0, FPicWidth, FPicHeight});
}

void TCustomPictureShow::UpdateFrame() {
  const TRect R{0, 0, FPicWidth, FPicHeight};
  FMedia->Canvas()->Draw(0, 0, FBgBitmap.get());
  DoBeforeNewFrame(FPic.get(), FMedia.get());
  if (FProgress == 100) {
    FMedia->Canvas()->Draw(0, 0, FPic.get());
  } else if (FProgress > 0) {
    if (FStyle == 0) {
      DoCustomDraw(FPic.get(), FMedia.get());
    } else if (TEffectProc Proc = Effects(FStyle - 1).Proc) {
      // Drawing canvases are closed before the pixel effects touch the scan lines.
      FMedia->Canvas()->Release();
      FPic->Canvas()->Release();
      Proc(FMedia.get(), FPic.get(), R, FStep, FProgress);
    }
  }
  DoAfterNewFrame(FPic.get(), FMedia.get());
  // No painter stays open across threads: the GUI thread paints Media next.
  FMedia->Canvas()->Release();
  FPic->Canvas()->Release();
  FBgBitmap->Canvas()->Release();
}

void TCustomPictureShow::InvalidateFrame(TRect R) {
  if (FStretch) {
    const TRect Client = ClientRect();
    const TRect T = FStretchFine ? FitRect(FPicRect, Client) : Client;
    const int32_t tw = T.Right - T.Left, th = T.Bottom - T.Top;
    if (FPicWidth <= 0 || FPicHeight <= 0) return;
    R = TRect{T.Left + MulDiv(R.Left, tw, FPicWidth), T.Top + MulDiv(R.Top, th, FPicHeight),
              T.Left + MulDiv(R.Right, tw, FPicWidth), T.Top + MulDiv(R.Bottom, th, FPicHeight)};
  } else {
    if (FCenter) R = TRect{R.Left + FPicRect.Left, R.Top + FPicRect.Top,
                           R.Right + FPicRect.Left, R.Bottom + FPicRect.Top};
    R.Left = std::max(R.Left, FPicRect.Left);
    R.Top = std::max(R.Top, FPicRect.Top);
    R.Right = std::min(R.Right, FPicRect.Right);
    R.Bottom = std::min(R.Bottom, FPicRect.Bottom);
  }
  if (R.Right > R.Left && R.Bottom > R.Top) InvalidateRect(R);
}

uint8_t TCustomPictureShow::NextProgress(uint16_t S) const {
  if (FReverse) return FProgress > S ? static_cast<uint8_t>(FProgress - S) : 0;
  return FProgress + S < 100 ? static_cast<uint8_t>(FProgress + S) : 100;
}

uint16_t TCustomPictureShow::NextStep(uint16_t Step, uint16_t Delay, int64_t Elapsed,
                                      bool ExactTiming, uint16_t Current) {
  const int64_t Remaining = int64_t(Delay) - Elapsed;
  if (Remaining >= 0) return Step;
  // Delay 0 would divide by zero: the step then stays as it is.
  if (ExactTiming && Delay > 0) {
    const int64_t S = MulDiv(Step, int32_t(std::min<int64_t>(Elapsed, INT32_MAX)), Delay);
    return static_cast<uint16_t>(std::clamp<int64_t>(S, 1, 100));
  }
  return Current;
}

void TCustomPictureShow::Animate() {
  if (FThreaded) {
    FThread.reset();
    FThreadError = nullptr;
    FFramePending = false;
    ++FThreadGeneration;
    FFrameEvent.Set();
    FThread = std::make_unique<TAnimateThread>(this, FThreadPriority);
    FThread->Resume();
    return;
  }
  bool ByManual = false;
  while (FBusy && !FStopping) {
    const uint32_t t0 = platform::GetTickCount();
    SetProgress(NextProgress(FStep));
    if (AtEnd()) break;
    while (platform::GetTickCount() - t0 <= FDelay && !FManual && FBusy && !FStopping)
      platform::Application()->ProcessMessages();
    if (FManual) {
      ByManual = true;
      break;
    }
  }
  if (ByManual && !FStopping) return;  // the transition stays prepared
  if (FBusy && !FStopping) Finish();
}

bool TCustomPictureShow::DoStep(TAnimateThread& Thread, uint16_t S) {
  FFrameEvent.Wait();  // the previous frame has been painted
  if (Thread.Terminated()) return true;
  // Pending before the reset: a paint in between must not release this step's wait early.
  FFramePending = true;
  FFrameEvent.Reset();
  {
    std::lock_guard<std::recursive_mutex> L(FLock);
    const uint8_t Value = NextProgress(S);
    if (Value != FProgress) {
      FProgress = Value;
      UpdateFrame();
      const uint64_t Generation = FThreadGeneration;
      QMetaObject::invokeMethod(
          FMailbox.get(), [this, Generation] { FramePosted(Generation); }, Qt::QueuedConnection);
    } else {
      FFramePending = false;
      FFrameEvent.Set();
    }
  }
  return !AtEnd();
}

void TCustomPictureShow::FramePosted(uint64_t Generation) {
  // The worker of this run waits for every frame it posts, so however the report ends (a
  // picture without area has nothing to repaint, a handler may raise), it is released after.
  struct TRelease {
    TCustomPictureShow* Owner;
    ~TRelease() {
      if (!Owner) return;
      Owner->FFramePending = false;
      Owner->FFrameEvent.Set();
    }
  } Release{FThread && Generation == FThreadGeneration ? this : nullptr};
  if (!FBusy) return;
  InvalidateFrame(TRect{0, 0, FPicWidth, FPicHeight});
  if (!Release.Owner) return;  // a frame of a stopped run
  // The worker waits until OnProgress has run, so handlers read this frame's Progress.
  Update();
  DoProgress();
}

void TCustomPictureShow::ThreadPosted(uint64_t Generation) {
  if (FThread && Generation == FThreadGeneration) ThreadDone();
}

// What the worker's end message does: the thread is freed, then the transition finishes
// unless it was paused by switching to Manual.
void TCustomPictureShow::ThreadDone() {
  FThread->WaitFor();
  FThread.reset();
  std::exception_ptr Error = std::exchange(FThreadError, nullptr);
  if (Error) {
    // A frame that failed ends the transition; the error goes where the event loop's go.
    const bool WasStopping = FStopping;
    FStopping = true;
    Finish();
    FStopping = WasStopping;
    try {
      std::rethrow_exception(Error);
    } catch (const std::exception& E) {
      platform::Application()->HandleException(this, E);
    } catch (...) {
      platform::Application()->HandleException(
          this, platform::EInvalidOperation("Transition frame failed"));
    }
    return;
  }
  if (!(FManual && !FStopping)) Finish();
}

bool TCustomPictureShow::StopAnimation() {
  if (!FThread) return false;
  FThread->Terminate();
  FFrameEvent.Set();
  FThread->WaitFor();
  // Its end message may still be queued; it finds no thread and does nothing.
  ThreadDone();
  return true;
}

void TCustomPictureShow::Stop() {
  if (!FBusy || FStopping) return;
  FStopping = true;
  if (FManual || !StopAnimation()) Finish();
  FStopping = false;
}

void TCustomPictureShow::Clear() {
  if (FBusy || FMedia->Empty()) return;
  FMedia = std::make_unique<TBitmap>();
  Invalidate();
}

void TCustomPictureShow::Finish() {
  FBusy = false;
  FPic.reset();
  FBgBitmap.reset();
  if (FDestroyingSelf || Destroying()) return;
  if (!FStopping) DoComplete();
  DoStop();
}

void TCustomPictureShow::Paint() {
  const TRect Client = ClientRect();
  if (FOffscreen->Width() != Client.Right || FOffscreen->Height() != Client.Bottom)
    FOffscreen->SetSize(std::max(Client.Right, 1), std::max(Client.Bottom, 1));
  FInPaint = true;
  TCanvas* Off = FOffscreen->Canvas();
  PaintBackground(Off, Client);
  {
    std::lock_guard<std::recursive_mutex> L(FLock);  // never a half-composed frame
    if (!FMedia->Empty()) {
      if (FStretch)
        Off->StretchDraw(FStretchFine ? FitRect(FPicRect, Client) : Client, FMedia.get());
      else
        Off->Draw(FPicRect.Left, FPicRect.Top, FMedia.get());
    }
  }
  Off->Release();
  Canvas()->Draw(0, 0, FOffscreen.get());
  FNeedBackground = false;
  FInPaint = false;
  if (!FFramePending) FFrameEvent.Set();
}

void TCustomPictureShow::PaintBackground(TCanvas* Canvas, const TRect& R) {
  Canvas->Brush()->SetColor(Color());
  Canvas->FillRect(R);
  platform::TGraphic* G = FBgPicture->Graphic();
  if (!G || G->Empty()) return;
  const int32_t gw = G->Width(), gh = G->Height();
  if (gw <= 0 || gh <= 0) return;  // a graphic with frames but no area: nothing to tile
  switch (FBgMode) {
    case bmTiled:
      for (int32_t row = 0; row <= R.Height() / gh; ++row)
        for (int32_t col = 0; col <= R.Width() / gw; ++col)
          Canvas->Draw(R.Left + col * gw, R.Top + row * gh, G);
      break;
    case bmStretched: Canvas->StretchDraw(R, G); break;
    case bmCentered: Canvas->Draw((R.Width() - gw) / 2, (R.Height() - gh) / 2, G); break;
    case bmNone: break;
  }
}

void TCustomPictureShow::Resize() {
  TCustomControl::Resize();
  FOffscreen->SetSize(std::max(ClientWidth(), 1), std::max(ClientHeight(), 1));
  if (FPicture->Graphic()) {
    CalcPicRect();
    if (!FMedia->Empty() && !FInPaint) Invalidate();
  }
}

void TCustomPictureShow::DoChange() {
  if (OnChange) OnChange(this);
}
void TCustomPictureShow::DoProgress() {
  if (OnProgress) OnProgress(this);
}
void TCustomPictureShow::DoCustomDraw(TBitmap* Picture, TBitmap* Screen) {
  if (OnCustomDraw) OnCustomDraw(this, Picture, Screen);
}
void TCustomPictureShow::DoBeforeNewFrame(TBitmap* Picture, TBitmap* Screen) {
  if (OnBeforeNewFrame) OnBeforeNewFrame(this, Picture, Screen);
}
void TCustomPictureShow::DoAfterNewFrame(TBitmap* Picture, TBitmap* Screen) {
  if (OnAfterNewFrame) OnAfterNewFrame(this, Picture, Screen);
}
void TCustomPictureShow::DoComplete() {
  if (OnComplete) OnComplete(this);
}
void TCustomPictureShow::DoStart(TBitmap* Picture, TBitmap* Screen) {
  if (OnStart) OnStart(this, Picture, Screen);
}
void TCustomPictureShow::DoStop() {
  if (OnStop) OnStop(this);
}

}  // namespace media
