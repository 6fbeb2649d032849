#pragma once
// A control that shows a picture over a background and brings it in with a transition effect.
// Frames are composed by a worker thread (Threaded), by a loop in the caller, or whenever the
// application sets Progress (Manual). The worker composes into Media under the frame lock and
// never touches a widget: it tells the GUI thread about each frame and about its end through
// queued calls, waits for the frame to be painted before composing the next, and the
// completion events (OnProgress, OnComplete, OnStop) always fire on the GUI thread. The frame
// drawing events (OnBeforeNewFrame, OnCustomDraw, OnAfterNewFrame) run on the thread that
// composes the frame and must only draw on the bitmaps they are given.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Controls.h"
#include "platform/ExtCtrls.h"
#include "platform/Graphics.h"

class QObject;
class QThread;

namespace media {

using TShowStyle = uint8_t;  // 0 custom drawing, 1..150 the effects
enum TBackgroundMode : uint8_t { bmNone, bmTiled, bmStretched, bmCentered };
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest,
                                 tpTimeCritical };
using TCustomDrawEvent =
    std::function<void(platform::TObject*, platform::TBitmap* Picture, platform::TBitmap* Screen)>;

class TCustomPictureShow;

// The control's "About" entry among its properties: a class with nothing in it. Nothing is
// read from it and it is never stored with a form.
class TAbout {};

// A manual-reset event, created signalled.
class TFrameEvent {
 public:
  void Set();
  void Reset();
  void Wait();

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FSignalled = true;
};

// The worker that advances a transition frame by frame. Created suspended, started by Resume.
class TAnimateThread {
 public:
  TAnimateThread(TCustomPictureShow* Owner, TThreadPriority Priority);
  ~TAnimateThread();  // terminates and waits
  TAnimateThread(const TAnimateThread&) = delete;
  TAnimateThread& operator=(const TAnimateThread&) = delete;

  void Resume();
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  void WaitFor();
  bool Posting() const { return FPosting.load(); }

 private:
  void Execute();
  void Pause(int64_t Ms);  // returns early when terminated

  TCustomPictureShow* FOwner;
  TThreadPriority FPriority;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FPosting{false};
  std::mutex FSleepMutex;
  std::condition_variable FSleepCond;
  std::unique_ptr<QThread> FThread;
};

class TCustomPictureShow : public platform::TCustomControl {
 public:
  explicit TCustomPictureShow(platform::TComponent* AOwner);
  ~TCustomPictureShow() override;
  std::string ClassName() const override { return "TCustomPictureShow"; }

  platform::TPicture* Picture() { return FPicture.get(); }
  void SetPicture(const platform::TPicture* Value);
  platform::TPicture* BgPicture() { return FBgPicture.get(); }
  void SetBgPicture(const platform::TPicture* Value);
  TBackgroundMode BgMode() const { return FBgMode; }
  void SetBgMode(TBackgroundMode Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool Center() const { return FCenter; }
  void SetCenter(bool Value);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value);
  bool StretchFine() const { return FStretchFine; }
  void SetStretchFine(bool Value);
  bool OverDraw() const { return FOverDraw; }
  void SetOverDraw(bool Value) { FOverDraw = Value; }
  bool Threaded() const { return FThreaded; }
  void SetThreaded(bool Value) { FThreaded = Value; }
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority Value) { FThreadPriority = Value; }
  bool Manual() const { return FManual; }
  void SetManual(bool Value);
  TShowStyle Style() const { return FStyle; }
  void SetStyle(TShowStyle Value);
  std::string StyleName() const;
  void SetStyleName(const std::string& Value);
  const TAbout& About() const { return FAbout; }
  void SetAbout(const TAbout& Value) { (void)Value; }
  bool AboutStored() const { return false; }
  uint16_t Step() const { return FStep.load(); }
  void SetStep(uint16_t Value);
  uint16_t Delay() const { return FDelay.load(); }
  void SetDelay(uint16_t Value) { FDelay = Value; }
  uint8_t Progress() const { return FProgress.load(); }
  void SetProgress(uint8_t Value);
  bool Reverse() const { return FReverse.load(); }
  void SetReverse(bool Value) { FReverse = Value; }
  bool ExactTiming() const { return FExactTiming.load(); }
  void SetExactTiming(bool Value) { FExactTiming = Value; }
  bool Busy() const { return FBusy; }
  platform::TBitmap* Media() { return FMedia.get(); }
  platform::TRect PicRect() const { return FPicRect; }

  virtual void Execute();
  virtual void Stop();
  virtual void Clear();

  // The step after a frame that took Elapsed ms; with ExactTiming a late frame scales it.
  static uint16_t NextStep(uint16_t Step, uint16_t Delay, int64_t Elapsed, bool ExactTiming,
                           uint16_t Current);
  static platform::TRect FitRect(const platform::TRect& Src, const platform::TRect& Dst);

  platform::TNotifyEvent OnChange;
  platform::TNotifyEvent OnProgress;
  platform::TNotifyEvent OnComplete;
  TCustomDrawEvent OnCustomDraw;
  TCustomDrawEvent OnBeforeNewFrame;
  TCustomDrawEvent OnAfterNewFrame;
  TCustomDrawEvent OnStart;
  platform::TNotifyEvent OnStop;

 protected:
  void Paint() override;
  virtual void PaintBackground(platform::TCanvas* Canvas, const platform::TRect& R);
  virtual void DoChange();
  virtual void DoProgress();
  virtual void DoCustomDraw(platform::TBitmap* Picture, platform::TBitmap* Screen);
  virtual void DoBeforeNewFrame(platform::TBitmap* Picture, platform::TBitmap* Screen);
  virtual void DoAfterNewFrame(platform::TBitmap* Picture, platform::TBitmap* Screen);
  virtual void DoComplete();
  virtual void DoStart(platform::TBitmap* Picture, platform::TBitmap* Screen);
  virtual void DoStop();
  void Resize() override;

 private:
  friend class TAnimateThread;
  void PictureChanged(platform::TObject* Sender);
  void BgPictureChanged(platform::TObject* Sender);
  void AutoSizeToPicture();
  void CalcPicRect();
  void Prepare();
  void UpdateFrame();
  void InvalidateFrame(platform::TRect R);
  void Animate();
  bool StopAnimation();
  // Worker side: one frame with step S; false when the end is reached.
  bool DoStep(TAnimateThread& Thread, uint16_t S);
  // GUI side of the worker's queued calls; Generation tells stale ones apart.
  void FramePosted(uint64_t Generation);
  void ThreadPosted(uint64_t Generation);
  void ThreadDone();
  void Finish();
  uint8_t NextProgress(uint16_t S) const;
  bool AtEnd() const { return FReverse ? FProgress == 0 : FProgress == 100; }

  std::unique_ptr<platform::TPicture> FPicture;
  std::unique_ptr<platform::TPicture> FBgPicture;
  TBackgroundMode FBgMode = bmTiled;
  bool FAutoSize = true;
  bool FCenter = false;
  bool FStretch = false;
  bool FStretchFine = false;
  bool FOverDraw = true;
  bool FThreaded = true;
  TThreadPriority FThreadPriority = tpNormal;
  bool FManual = false;
  TShowStyle FStyle = 51;
  TAbout FAbout;
  // Read by the worker while the GUI thread may set them.
  std::atomic<uint16_t> FStep{4};
  std::atomic<uint16_t> FDelay{40};
  std::atomic<uint8_t> FProgress{0};
  std::atomic<bool> FReverse{false};
  bool FBusy = false;
  std::atomic<bool> FExactTiming{false};
  std::unique_ptr<platform::TBitmap> FMedia;
  platform::TRect FPicRect{};
  std::unique_ptr<TAnimateThread> FThread;
  uint64_t FThreadGeneration = 0;
  std::exception_ptr FThreadError;  // set by the worker before it posts its end
  std::recursive_mutex FLock;       // frame composition against painting
  TFrameEvent FFrameEvent;
  std::unique_ptr<QObject> FMailbox;  // GUI-thread receiver of the worker's queued calls
  bool FInPaint = false;
  std::atomic<bool> FFramePending{false};  // a composed frame still to be reported
  bool FDestroyingSelf = false;
  std::unique_ptr<platform::TBitmap> FOffscreen;
  bool FStopping = false;
  bool FNeedBackground = true;
  std::unique_ptr<platform::TBitmap> FBgBitmap;
  std::unique_ptr<platform::TBitmap> FPic;
  int32_t FPicWidth = 0;
  int32_t FPicHeight = 0;
};

class TPictureShow : public TCustomPictureShow {
 public:
  using TCustomPictureShow::TCustomPictureShow;
  std::string ClassName() const override { return "TPictureShow"; }
};

}  // namespace media
