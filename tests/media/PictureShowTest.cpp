#include "media/PictureShow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "media/PictureShowEffects.h"
#include "platform/Colors.h"
#include "platform/Exceptions.h"
#include "platform/Forms.h"
#include "raster/GifGraphic.h"
#include "tests/common/TestSupport.h"

using media::TPictureShow;
using platform::TBitmap;
using platform::TColor;
using platform::TRect;

namespace {

// A 40 x 30 picture, left half red and right half green.
void LoadPicture(TPictureShow& S) {
  TBitmap B;
  B.SetSize(40, 30);
  B.Canvas()->Brush()->SetColor(platform::clRed);
  B.Canvas()->FillRect(TRect{0, 0, 20, 30});
  B.Canvas()->Brush()->SetColor(platform::clLime);
  B.Canvas()->FillRect(TRect{20, 0, 40, 30});
  B.Canvas()->Release();
  S.Picture()->SetGraphic(&B);
}

TColor At(TPictureShow& S, int32_t x, int32_t y) {
  S.Media()->Canvas()->Release();
  return S.Media()->Canvas()->Pixel(x, y);
}

struct Events {
  int Start = 0, Progress = 0, Complete = 0, Stop = 0, Before = 0, After = 0, Custom = 0;
  std::vector<int> Seen;
  void Hook(TPictureShow& S) {
    S.OnStart = [this](platform::TObject*, TBitmap*, TBitmap*) { ++Start; };
    S.OnProgress = [this, &S](platform::TObject*) {
      ++Progress;
      Seen.push_back(S.Progress());
    };
    S.OnComplete = [this](platform::TObject*) { ++Complete; };
    S.OnStop = [this](platform::TObject*) { ++Stop; };
    S.OnBeforeNewFrame = [this](platform::TObject*, TBitmap*, TBitmap*) { ++Before; };
    S.OnAfterNewFrame = [this](platform::TObject*, TBitmap*, TBitmap*) { ++After; };
  }
};

void PumpUntilIdle(TPictureShow& S) {
  QElapsedTimer T;
  T.start();
  while (S.Busy() && T.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

TEST(PictureShow, DefaultsAndSetterRules) {
  TPictureShow S(nullptr);
  EXPECT_EQ(S.Width(), 100);
  EXPECT_EQ(S.Height(), 100);
  EXPECT_EQ(S.Style(), 51);
  EXPECT_EQ(S.StyleName(), "Appear and Contract to middle");
  EXPECT_EQ(S.Step(), 4);
  EXPECT_EQ(S.Delay(), 40);
  EXPECT_EQ(S.BgMode(), media::bmTiled);
  EXPECT_TRUE(S.AutoSize() && S.OverDraw() && S.Threaded());
  EXPECT_FALSE(S.Busy());
  S.SetStep(0);
  EXPECT_EQ(S.Step(), 1);
  S.SetStep(250);
  EXPECT_EQ(S.Step(), 100);
  S.SetStyle(151);
  EXPECT_EQ(S.Style(), 51);
  S.SetStyleName("CUSTOM");
  EXPECT_EQ(S.Style(), 0);
  EXPECT_EQ(S.StyleName(), "Custom");
  S.SetStyleName("Expand from bottom");  // the name of 18 and 33: the first row wins
  EXPECT_EQ(S.Style(), 18);
  S.SetStyleName("No such effect");
  EXPECT_EQ(S.Style(), 18);
  LoadPicture(S);
  EXPECT_EQ(S.ClientWidth(), 40);  // AutoSize follows the picture
  EXPECT_EQ(S.ClientHeight(), 30);
}

// "About" is an empty class: setting it changes nothing, and it is never stored.
TEST(PictureShow, AboutIsEmptyAndNotStored) {
  static_assert(std::is_empty_v<media::TAbout>);
  TPictureShow S(nullptr);
  S.SetStyle(7);
  S.SetStep(9);
  const media::TAbout* Before = &S.About();
  S.SetAbout(media::TAbout{});
  EXPECT_EQ(&S.About(), Before);
  EXPECT_FALSE(S.AboutStored());
  EXPECT_EQ(S.Style(), 7);
  EXPECT_EQ(S.Step(), 9);
}

TEST(PictureShow, ManualProgressShowsSnapshotThenPicture) {
  TPictureShow S(nullptr);
  S.SetColor(platform::clBlue);
  S.SetManual(true);
  S.SetStyle(5);  // Reveal from left
  LoadPicture(S);
  Events E;
  E.Hook(S);
  S.Execute();
  ASSERT_TRUE(S.Busy());
  EXPECT_EQ(E.Start, 1);
  EXPECT_EQ(S.Progress(), 0);
  EXPECT_EQ(At(S, 5, 5), platform::clBlue);  // the starting frame, before Progress changes
  S.SetProgress(50);
  EXPECT_EQ(At(S, 5, 5), platform::clRed);
  EXPECT_EQ(At(S, 30, 5), platform::clBlue);  // the snapshot of the former screen
  S.SetProgress(0);
  EXPECT_EQ(At(S, 5, 5), platform::clBlue);
  EXPECT_EQ(At(S, 39, 29), platform::clBlue);
  S.SetProgress(200);  // capped at 100: the whole picture
  EXPECT_EQ(S.Progress(), 100);
  EXPECT_EQ(At(S, 5, 5), platform::clRed);
  EXPECT_EQ(At(S, 39, 29), platform::clLime);
  S.SetProgress(100);  // unchanged: no event
  EXPECT_EQ(E.Progress, 3);
  EXPECT_EQ(E.Before, 3);
  EXPECT_EQ(E.After, 3);
  S.Stop();
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(E.Stop, 1);
  EXPECT_EQ(E.Complete, 0);
  EXPECT_EQ(At(S, 39, 29), platform::clLime);  // the last frame stays
  S.SetProgress(10);  // idle: ignored
  EXPECT_EQ(S.Progress(), 100);
  S.Clear();
  EXPECT_TRUE(S.Media()->Empty());
  S.SetReverse(true);
  S.Execute();  // Reverse starts on the whole picture
  EXPECT_EQ(At(S, 5, 5), platform::clRed);
  EXPECT_EQ(At(S, 39, 29), platform::clLime);
  S.SetProgress(100);
  EXPECT_EQ(E.Progress, 3);
}

TEST(PictureShow, LoopInCallerRunsToTheEnd) {
  TPictureShow S(nullptr);
  S.SetColor(platform::clBlue);
  S.SetThreaded(false);
  S.SetDelay(0);
  S.SetStep(30);
  S.SetStyle(1);
  LoadPicture(S);
  Events E;
  E.Hook(S);
  S.Execute();
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(E.Seen, (std::vector<int>{30, 60, 90, 100}));
  EXPECT_EQ(E.Complete, 1);
  EXPECT_EQ(E.Stop, 1);
  EXPECT_EQ(At(S, 0, 0), platform::clRed);

  // Reverse runs from 100 down to 0 and a Step of 100 takes one frame.
  Events R;
  R.Hook(S);
  S.SetReverse(true);
  S.SetStep(100);
  S.Execute();
  EXPECT_EQ(R.Seen, (std::vector<int>{0}));
  EXPECT_EQ(R.Complete, 1);
}

TEST(PictureShow, ThreadedAnimationCompletesOrStops) {
  TPictureShow S(nullptr);
  S.SetDelay(1);
  S.SetStep(25);
  S.SetStyle(118);
  LoadPicture(S);
  Events E;
  E.Hook(S);
  S.Execute();
  EXPECT_TRUE(S.Busy());  // frames come from the worker
  PumpUntilIdle(S);
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(E.Seen.back(), 100);
  EXPECT_EQ(E.Complete, 1);
  EXPECT_EQ(E.Stop, 1);

  Events F;
  F.Hook(S);
  S.SetDelay(1000);
  S.Execute();
  S.Stop();
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(F.Complete, 0);
  EXPECT_EQ(F.Stop, 1);
}

TEST(PictureShow, ManualSwitchPausesAndResumes) {
  TPictureShow S(nullptr);
  S.SetDelay(1000);
  S.SetStyle(2);
  LoadPicture(S);
  Events E;
  E.Hook(S);
  S.Execute();
  S.SetManual(true);  // keeps the transition prepared
  EXPECT_TRUE(S.Busy());
  S.SetProgress(40);
  EXPECT_EQ(S.Progress(), 40);
  S.SetDelay(1);
  S.SetManual(false);
  PumpUntilIdle(S);
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(E.Complete, 1);
}

TEST(PictureShow, CustomStyleAndMissingEffects) {
  TPictureShow S(nullptr);
  S.SetColor(platform::clBlue);
  S.SetManual(true);
  S.SetStyle(0);
  LoadPicture(S);
  S.Execute();
  S.SetProgress(50);
  EXPECT_EQ(At(S, 5, 5), platform::clBlue);  // nothing drawn without a handler
  S.Stop();
  int Custom = 0;
  S.OnCustomDraw = [&](platform::TObject*, TBitmap* Picture, TBitmap* Screen) {
    ++Custom;
    EXPECT_EQ(Picture->Width(), 40);
    Screen->Canvas()->Brush()->SetColor(platform::clYellow);
    Screen->Canvas()->FillRect(TRect{0, 0, 10, 10});
  };
  S.Execute();
  S.SetProgress(50);
  EXPECT_EQ(Custom, 1);
  EXPECT_EQ(At(S, 5, 5), platform::clYellow);
  S.Stop();

  // Every style from 1 to 150 has its effect.
  for (int32_t i = 0; i < media::EffectCount; ++i) EXPECT_NE(media::Effects(i).Proc, nullptr) << i;

  TPictureShow Empty(nullptr);
  Empty.Execute();  // no picture: nothing happens
  EXPECT_FALSE(Empty.Busy());
}

TEST(PictureShow, StepTimingAndFitRect) {
  using media::TCustomPictureShow;
  EXPECT_EQ(TCustomPictureShow::NextStep(4, 40, 60, true, 4), 6);
  EXPECT_EQ(TCustomPictureShow::NextStep(4, 40, 30, true, 9), 4);
  EXPECT_EQ(TCustomPictureShow::NextStep(4, 40, 60, false, 5), 5);
  EXPECT_EQ(TCustomPictureShow::NextStep(4, 0, 60, true, 4), 4);  // Delay 0: step kept
  const TRect F = TCustomPictureShow::FitRect(TRect{0, 0, 40, 30}, TRect{0, 0, 100, 100});
  EXPECT_EQ(F.Left, 0);
  EXPECT_EQ(F.Top, 12);  // (100 - 75) div 2
  EXPECT_EQ(F.Right, 100);
  EXPECT_EQ(F.Bottom, 87);
  const TRect G = TCustomPictureShow::FitRect(TRect{0, 0, 30, 40}, TRect{0, 0, 100, 100});
  EXPECT_EQ(G.Left, 12);
  EXPECT_EQ(G.Right, 87);
}

// Through the control every style starts on the snapshot and ends exactly on the picture.
TEST(PictureShow, EveryStyleStartsOnSnapshotAndEndsOnPicture) {
  TPictureShow S(nullptr);
  S.SetColor(platform::clBlue);
  S.SetManual(true);
  LoadPicture(S);
  for (int32_t Style = 1; Style <= media::EffectCount; ++Style) {
    SCOPED_TRACE(Style);
    S.SetStyle(static_cast<media::TShowStyle>(Style));
    S.Execute();
    S.SetProgress(50);
    S.SetProgress(0);
    EXPECT_EQ(At(S, 0, 0), platform::clBlue);
    EXPECT_EQ(At(S, 39, 29), platform::clBlue);
    S.SetProgress(100);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{19, 15}, std::pair{20, 0}, std::pair{39, 29}})
      EXPECT_EQ(At(S, x, y), x < 20 ? platform::clRed : platform::clLime) << x << "," << y;
    S.Stop();
  }
}

// Threaded mode runs with any Delay, 0 included, and reports completion on the GUI thread.
TEST(PictureShow, ThreadedRunsWithEveryDelay) {
  const std::thread::id Gui = std::this_thread::get_id();
  for (uint16_t Delay : {0, 1, 15}) {
    SCOPED_TRACE(Delay);
    TPictureShow S(nullptr);
    S.SetDelay(Delay);
    S.SetStep(10);
    S.SetStyle(5);
    LoadPicture(S);
    Events E;
    E.Hook(S);
    std::thread::id CompletedOn;
    S.OnComplete = [&](platform::TObject*) {
      ++E.Complete;
      CompletedOn = std::this_thread::get_id();
    };
    S.Execute();
    PumpUntilIdle(S);
    EXPECT_FALSE(S.Busy());
    EXPECT_EQ(E.Complete, 1);
    EXPECT_EQ(E.Stop, 1);
    EXPECT_EQ(CompletedOn, Gui);
    ASSERT_FALSE(E.Seen.empty());
    EXPECT_EQ(E.Seen.back(), 100);
    EXPECT_EQ(At(S, 39, 29), platform::clLime);
  }
}

// A picture without area still runs its threaded transition to the end.
TEST(PictureShow, ThreadedPictureWithoutAreaEnds) {
  for (auto [W, H] : {std::pair{0, 0}, std::pair{0, 12}, std::pair{12, 0}}) {
    SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
    platform::TForm Form(nullptr);
    Form.SetBounds(0, 0, 200, 200);
    TPictureShow S(&Form);
    S.SetParent(&Form);
    S.SetAutoSize(false);
    S.SetDelay(1);
    S.SetStep(25);
    Form.Show();
    QCoreApplication::processEvents();
    TBitmap B;
    B.SetSize(W, H);
    S.Picture()->SetGraphic(&B);
    Events E;
    E.Hook(S);
    S.Execute();
    PumpUntilIdle(S);
    EXPECT_FALSE(S.Busy());
    EXPECT_EQ(E.Seen, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(E.Complete, 1);
    EXPECT_EQ(E.Stop, 1);
  }
}

// Frames are composed on the worker; progress and completion are reported on the GUI thread.
TEST(PictureShow, WorkerComposesAndGuiReports) {
  const std::thread::id Gui = std::this_thread::get_id();
  platform::TForm Form(nullptr);
  Form.SetBounds(0, 0, 200, 200);
  TPictureShow S(&Form);
  S.SetParent(&Form);
  Form.Show();
  S.SetDelay(0);
  S.SetStep(7);
  S.SetStyle(117);
  S.SetThreadPriority(media::tpHigher);
  LoadPicture(S);
  std::atomic<int> OnWorker{0}, OnGui{0};
  std::vector<std::thread::id> Reported;
  S.OnAfterNewFrame = [&](platform::TObject*, TBitmap*, TBitmap*) {
    ++(std::this_thread::get_id() == Gui ? OnGui : OnWorker);
  };
  std::vector<int> Seen;
  S.OnProgress = [&](platform::TObject*) {
    Reported.push_back(std::this_thread::get_id());
    Seen.push_back(S.Progress());
  };
  int Complete = 0;
  S.OnComplete = [&](platform::TObject*) {
    ++Complete;
    Reported.push_back(std::this_thread::get_id());
  };
  S.Execute();
  PumpUntilIdle(S);
  EXPECT_FALSE(S.Busy());
  EXPECT_EQ(Complete, 1);
  EXPECT_EQ(OnGui.load(), 0);
  EXPECT_EQ(OnWorker.load(), 15);  // 7, 14, ..., 98, 100
  EXPECT_EQ(Reported.size(), 16u);
  for (std::thread::id Id : Reported) EXPECT_EQ(Id, Gui);
  // Each OnProgress sees its own frame: the worker waits for it before the next one.
  std::vector<int> Expect;
  for (int p = 7; p < 100; p += 7) Expect.push_back(p);
  Expect.push_back(100);
  EXPECT_EQ(Seen, Expect);
  EXPECT_EQ(At(S, 0, 0), platform::clRed);
}

// Switching to Manual pauses the worker and keeps the transition; switching back resumes it
// on a new worker. Reverse runs down to 0 on the worker too.
TEST(PictureShow, ThreadedManualPauseResumeAndReverse) {
  for (uint16_t Delay : {0, 5}) {
    SCOPED_TRACE(Delay);
    TPictureShow S(nullptr);
    S.SetColor(platform::clBlue);
    S.SetDelay(Delay);
    S.SetStep(3);
    S.SetStyle(5);
    LoadPicture(S);
    Events E;
    E.Hook(S);
    S.Execute();
    S.SetManual(true);
    EXPECT_TRUE(S.Busy());
    EXPECT_EQ(E.Complete, 0);
    EXPECT_EQ(E.Stop, 0);
    S.SetProgress(50);
    EXPECT_EQ(S.Progress(), 50);
    EXPECT_EQ(At(S, 5, 5), platform::clRed);
    EXPECT_EQ(At(S, 30, 5), platform::clBlue);
    S.SetManual(false);
    PumpUntilIdle(S);
    EXPECT_FALSE(S.Busy());
    EXPECT_EQ(E.Complete, 1);
    EXPECT_EQ(E.Stop, 1);
    EXPECT_EQ(S.Progress(), 100);
    for (size_t i = 1; i < E.Seen.size(); ++i) EXPECT_LT(E.Seen[i - 1], E.Seen[i]);

    Events R;
    R.Hook(S);
    S.SetReverse(true);
    S.Execute();
    PumpUntilIdle(S);
    EXPECT_EQ(R.Complete, 1);
    ASSERT_FALSE(R.Seen.empty());
    EXPECT_EQ(R.Seen.back(), 0);
    EXPECT_EQ(At(S, 5, 5), platform::clBlue);
  }
}

// Stopping or destroying the control while the worker runs ends it at once and cleanly;
// a frame that fails ends the transition with OnStop and reports the error.
TEST(PictureShow, WorkerStopsDestroysAndFails) {
  {
    TPictureShow S(nullptr);
    S.SetDelay(0);
    S.SetStep(1);
    LoadPicture(S);
    Events E;
    E.Hook(S);
    S.Execute();
    S.Stop();
    EXPECT_FALSE(S.Busy());
    EXPECT_EQ(E.Complete, 0);
    EXPECT_EQ(E.Stop, 1);
    const size_t Frames = E.Seen.size();
    PumpUntilIdle(S);
    QCoreApplication::processEvents();
    EXPECT_EQ(E.Seen.size(), Frames);  // nothing is reported after the stop
    EXPECT_EQ(E.Complete, 0);
  }
  {
    auto S = std::make_unique<TPictureShow>(nullptr);
    S->SetDelay(1);
    S->SetStep(1);
    LoadPicture(*S);
    S->Execute();
    S.reset();  // the queued frame and end messages die with the control
    QCoreApplication::processEvents();
  }
  {
    TPictureShow S(nullptr);
    S.SetDelay(0);
    S.SetStyle(0);
    LoadPicture(S);
    S.OnCustomDraw = [](platform::TObject*, TBitmap*, TBitmap*) {
      throw platform::EInvalidOperation("frame failed");
    };
    std::string Reported;
    platform::Application()->OnException = [&](platform::TObject*, const std::exception& X) {
      Reported = X.what();
    };
    Events E;
    E.Hook(S);
    S.Execute();
    PumpUntilIdle(S);
    platform::Application()->OnException = nullptr;
    EXPECT_FALSE(S.Busy());
    EXPECT_EQ(E.Complete, 0);
    EXPECT_EQ(E.Stop, 1);
    EXPECT_EQ(Reported, "frame failed");
  }
}

// ---------------------------------------------------------------------------------------------
// Animated pictures

namespace {

// A clock that moves only when told; painter wake-ups fire at their due time.
struct FakeGifClock : raster::TGIFClock {
  int64_t now = 5000;
  std::map<raster::TGIFPainter*, int64_t> due;
  int64_t Now() override { return now; }
  void Sleep(int32_t ms) override { now += ms; }
  void Schedule(raster::TGIFPainter* p, int32_t ms) override { due[p] = now + ms; }
  void Cancel(raster::TGIFPainter* p) override { due.erase(p); }
  void Advance(int64_t ms) {
    const int64_t end = now + ms;
    for (;;) {
      auto next = due.end();
      for (auto it = due.begin(); it != due.end(); ++it)
        if (it->second <= end && (next == due.end() || it->second < next->second)) next = it;
      if (next == due.end()) break;
      raster::TGIFPainter* p = next->first;
      now = next->second;
      due.erase(next);
      p->Tick();
    }
    now = end;
  }
  FakeGifClock() { raster::SetGIFClock(this); }
  ~FakeGifClock() override { raster::SetGIFClock(nullptr); }
};

// A 4 x 2 GIF: one whole-screen frame per colour with its delay (hundredths), looping without
// end when Loop is set.
std::unique_ptr<raster::TGifGraphic> MakeGif(const std::vector<std::pair<TColor, int>>& Frames, bool Loop) {
  auto gif = std::make_unique<raster::TGifGraphic>();
  gif->Header.ScreenWidth = 4;
  gif->Header.ScreenHeight = 2;
  for (const auto& [colour, delay] : Frames) {
    raster::TGIFSubImage* f = gif->Add();
    f->SetBounds(0, 0, 4, 2);
    const int32_t index = gif->GlobalColorMap().Add(colour);
    std::fill(f->Data.begin(), f->Data.end(), static_cast<uint8_t>(index));
    auto g = std::make_unique<raster::TGIFGraphicControlExtension>(f);
    g->SetDelay(static_cast<uint16_t>(delay));
    g->SetDisposal(1);
    f->AddExtension(std::move(g));
  }
  if (Loop) gif->Images(0)->AddExtension(std::make_unique<raster::TGIFAppExtNSLoop>(gif->Images(0)));
  return gif;
}

// Red for 60 ms, blue for 120 ms, again and again.
std::unique_ptr<raster::TGifGraphic> RedBlueGif() {
  return MakeGif({{platform::clRed, 5}, {platform::clBlue, 10}}, true);
}

// Counts paints and records what the background shows at given points.
class ProbeShow : public TPictureShow {
 public:
  using TPictureShow::TPictureShow;
  int Paints = 0;
  std::vector<platform::TPoint> Points;
  std::vector<TColor> Seen;

 protected:
  void Paint() override {
    ++Paints;
    TPictureShow::Paint();
  }
  void PaintBackground(platform::TCanvas* C, const TRect& R) override {
    TPictureShow::PaintBackground(C, R);
    C->Release();
    Seen.clear();
    for (const platform::TPoint& P : Points) Seen.push_back(C->Pixel(P.X, P.Y));
  }
};

struct ShowOnForm {
  platform::TForm Form{nullptr};
  std::unique_ptr<ProbeShow> S;
  explicit ShowOnForm(media::TBackgroundMode Mode) {
    Form.SetBounds(0, 0, 200, 200);
    S = std::make_unique<ProbeShow>(&Form);
    S->SetParent(&Form);
    S->SetAutoSize(false);
    S->SetBounds(0, 0, 40, 20);
    S->SetBgMode(Mode);
    S->SetColor(platform::clBlack);
    Form.Show();
    QCoreApplication::processEvents();
  }
  // Paints what is pending (nothing when nobody asked for a repaint).
  int Flush() {
    const int before = S->Paints;
    S->Update();
    return S->Paints - before;
  }
};

raster::TGifGraphic* GifOf(platform::TPicture* P) { return dynamic_cast<raster::TGifGraphic*>(P->Graphic()); }

}  // namespace

// The background picture plays: each frame asks for a repaint, which shows it, in every mode.
TEST(PictureShow, AnimatedBackgroundPlaysItsFrames) {
  raster::InitializeGifGraphic();
  const std::string file = kdtest::TempDir() + "/redblue.gif";
  RedBlueGif()->SaveToFile(file);
  struct Case {
    media::TBackgroundMode mode;
    std::vector<platform::TPoint> points;  // inside the picture (every tile, the whole client)
    bool fromFile;  // loaded as the application does, else assigned
  } cases[] = {
      {media::bmCentered, {{18, 9}, {21, 10}}, false},
      {media::bmTiled, {{0, 0}, {5, 1}, {38, 19}}, false},
      {media::bmStretched, {{0, 0}, {20, 10}, {39, 19}}, false},
      {media::bmCentered, {{18, 9}, {21, 10}}, true},
  };
  for (const Case& c : cases) {
    FakeGifClock clock;
    ShowOnForm f(c.mode);
    f.S->Points = c.points;
    if (c.fromFile)
      f.S->BgPicture()->LoadFromFile(file);
    else
      f.S->BgPicture()->SetGraphic(RedBlueGif().get());
    f.S->Repaint();
    const std::vector<TColor> red(c.points.size(), platform::clRed), blue(c.points.size(), platform::clBlue);
    EXPECT_EQ(f.S->Seen, red) << c.mode;
    ASSERT_EQ(clock.due.size(), 1u) << c.mode;
    f.Flush();
    clock.Advance(59);
    EXPECT_EQ(f.Flush(), 0) << c.mode;  // nothing new yet
    clock.Advance(1);
    EXPECT_EQ(f.Flush(), 1) << c.mode;
    EXPECT_EQ(f.S->Seen, blue) << c.mode;
    clock.Advance(119);
    EXPECT_EQ(f.Flush(), 0) << c.mode;
    clock.Advance(1);
    EXPECT_EQ(f.Flush(), 1) << c.mode;
    EXPECT_EQ(f.S->Seen, red) << c.mode;  // looped
    clock.Advance(60);
    EXPECT_EQ(f.Flush(), 1) << c.mode;
    EXPECT_EQ(f.S->Seen, blue) << c.mode;
    // Outside the picture the background colour stays.
    if (c.mode == media::bmCentered) {
      f.S->Points = {{0, 0}, {39, 19}};
      f.S->Repaint();
      EXPECT_EQ(f.S->Seen, std::vector<TColor>(2, platform::clBlack));
    }
  }
}

// A picture that plays once stops on its last frame and asks for nothing more.
TEST(PictureShow, AnimatedBackgroundEndsOnItsLastFrame) {
  FakeGifClock clock;
  ShowOnForm f(media::bmCentered);
  f.S->Points = {{19, 10}};
  f.S->BgPicture()->SetGraphic(MakeGif({{platform::clRed, 5}, {platform::clBlue, 10}}, false).get());
  f.S->Repaint();
  f.Flush();
  clock.Advance(60);
  EXPECT_EQ(f.Flush(), 1);
  EXPECT_EQ(f.S->Seen, std::vector<TColor>{platform::clBlue});
  EXPECT_TRUE(clock.due.empty());
  EXPECT_EQ(GifOf(f.S->BgPicture())->Painter(), nullptr);
  clock.Advance(10000);
  EXPECT_EQ(f.Flush(), 0);
  f.S->Repaint();  // the last frame stays
  EXPECT_EQ(f.S->Seen, std::vector<TColor>{platform::clBlue});
}

// Stills are drawn as before and never ask for a repaint on their own.
TEST(PictureShow, StillBackgroundsStartNoPlayer) {
  TBitmap green;
  green.SetPixelFormat(platform::pf24bit);
  green.SetSize(4, 2);
  green.Canvas()->Brush()->SetColor(platform::clLime);
  green.Canvas()->FillRect(TRect{0, 0, 4, 2});
  green.Canvas()->Release();
  auto oneFrame = MakeGif({{platform::clLime, 5}}, true);
  auto notAnimated = RedBlueGif();
  notAnimated->DrawOptions &= static_cast<uint16_t>(~raster::goAnimate);
  struct Case {
    const char* name;
    const platform::TGraphic* graphic;
    TColor colour;
  } cases[] = {{"bitmap", &green, platform::clLime},
               {"one-frame GIF", oneFrame.get(), platform::clLime},
               {"GIF without goAnimate", notAnimated.get(), platform::clRed}};
  for (const Case& c : cases) {
    FakeGifClock clock;
    ShowOnForm f(media::bmCentered);
    f.S->Points = {{18, 9}, {21, 10}, {17, 9}, {22, 11}};
    f.S->BgPicture()->SetGraphic(c.graphic);
    f.S->Repaint();
    EXPECT_EQ(f.S->Seen, std::vector<TColor>({c.colour, c.colour, platform::clBlack, platform::clBlack})) << c.name;
    EXPECT_TRUE(clock.due.empty()) << c.name;
    f.Flush();
    clock.Advance(10000);
    EXPECT_EQ(f.Flush(), 0) << c.name;
  }
}

// Replacing the picture stops its player; destroying the control mid-animation leaves nothing
// behind that could still tick.
TEST(PictureShow, AnimatedBackgroundStopsWithItsHolder) {
  FakeGifClock clock;
  {
    ShowOnForm f(media::bmCentered);
    f.S->Points = {{19, 10}};
    f.S->BgPicture()->SetGraphic(RedBlueGif().get());
    f.S->Repaint();
    clock.Advance(60);
    raster::TGIFPainter* old = GifOf(f.S->BgPicture())->Painter();
    ASSERT_NE(old, nullptr);
    // Another animation: the old player is gone, the new one starts on the next paint.
    f.S->BgPicture()->SetGraphic(MakeGif({{platform::clLime, 3}, {platform::clBlue, 3}}, true).get());
    EXPECT_TRUE(clock.due.empty());
    f.S->Repaint();
    EXPECT_EQ(f.S->Seen, std::vector<TColor>{platform::clLime});
    ASSERT_EQ(clock.due.size(), 1u);
    EXPECT_EQ(clock.due.begin()->first, GifOf(f.S->BgPicture())->Painter());
    clock.Advance(36);
    EXPECT_EQ(f.Flush(), 1);
    EXPECT_EQ(f.S->Seen, std::vector<TColor>{platform::clBlue});
    // A still in its place: nothing plays any more.
    TBitmap white;
    white.SetSize(4, 2);
    f.S->BgPicture()->SetGraphic(&white);
    EXPECT_TRUE(clock.due.empty());
    f.S->Repaint();
    EXPECT_EQ(f.S->Seen, std::vector<TColor>{platform::clWhite});
    f.Flush();
    clock.Advance(10000);
    EXPECT_EQ(f.Flush(), 0);
    // Emptied: the same.
    f.S->BgPicture()->SetGraphic(RedBlueGif().get());
    f.S->Repaint();
    EXPECT_EQ(clock.due.size(), 1u);
    f.S->SetBgPicture(nullptr);
    EXPECT_TRUE(clock.due.empty());
  }
  {
    ShowOnForm f(media::bmTiled);
    f.S->BgPicture()->SetGraphic(RedBlueGif().get());
    f.S->Repaint();
    clock.Advance(60);
    f.Flush();
    EXPECT_EQ(clock.due.size(), 1u);
    f.S.reset();  // mid-animation
    EXPECT_TRUE(clock.due.empty());
    clock.Advance(10000);
    QCoreApplication::processEvents();
  }
}

// Each frame painted into the picture's off-screen copy is reported once, after the first
// (which Draw itself shows); a player painting straight onto the canvas reports nothing.
TEST(PictureShow, FramesReportedThroughThePicture) {
  struct Case {
    const char* name;
    uint16_t extra;
    std::vector<int> reports;  // after Draw, then after each tick
  } cases[] = {{"off-screen", 0, {0, 1, 2, 3}}, {"direct", raster::goDirectDraw, {0, 0, 0, 0}}};
  for (const Case& c : cases) {
    FakeGifClock clock;
    auto gif = RedBlueGif();
    gif->DrawOptions |= c.extra;
    platform::TPicture P;
    P.SetGraphic(gif.get());
    int reports = 0;
    P.OnChange = [&](platform::TObject*) { ++reports; };
    TBitmap B;
    B.SetSize(4, 2);
    P.Graphic()->Draw(B.Canvas(), TRect{0, 0, 4, 2});
    std::vector<int> seen{reports};
    for (int64_t wait : {60, 120, 60}) {
      clock.Advance(wait);
      seen.push_back(reports);
    }
    EXPECT_EQ(seen, c.reports) << c.name;
    EXPECT_FALSE(P.Graphic()->Modified()) << c.name;  // playing is no edit
  }
}

// A holder may let go of the picture from its change handler while the frame is reported.
TEST(PictureShow, PictureFreedFromItsFrameReport) {
  FakeGifClock clock;
  platform::TPicture P;
  P.SetGraphic(RedBlueGif().get());
  int reports = 0;
  P.OnChange = [&](platform::TObject*) {
    if (++reports == 1) P.SetGraphic(nullptr);  // the report of the blue frame
  };
  TBitmap B;
  B.SetSize(4, 2);
  P.Graphic()->Draw(B.Canvas(), TRect{0, 0, 4, 2});
  ASSERT_EQ(clock.due.size(), 1u);
  clock.Advance(60);
  EXPECT_EQ(reports, 2);  // the frame, then the emptied picture
  EXPECT_EQ(P.Graphic(), nullptr);
  EXPECT_TRUE(clock.due.empty());
  clock.Advance(10000);
}

// The transition picture is copied as a still: an animated one shows its first frame and leaves
// no player behind that would keep reporting changes of Picture.
TEST(PictureShow, AnimatedPictureIsCopiedAsAStill) {
  FakeGifClock clock;
  TPictureShow S(nullptr);
  S.SetManual(true);
  S.SetStyle(5);
  S.Picture()->SetGraphic(RedBlueGif().get());
  int changes = 0;
  S.OnChange = [&](platform::TObject*) { ++changes; };
  S.Execute();
  EXPECT_TRUE(clock.due.empty());
  EXPECT_EQ(GifOf(S.Picture())->Painter(), nullptr);
  S.SetProgress(100);
  EXPECT_EQ(At(S, 0, 0), platform::clRed);
  EXPECT_EQ(At(S, 3, 1), platform::clRed);
  clock.Advance(10000);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(S.ClientWidth(), 4);
  S.Stop();
}

// A graphic with frames but no area tiles nothing (it used to divide by its zero width).
TEST(PictureShow, BackgroundWithoutAreaDrawsOnlyTheColour) {
  raster::TGifGraphic empty;
  empty.Add();
  ASSERT_FALSE(empty.Empty());
  ASSERT_EQ(empty.Width(), 0);
  for (media::TBackgroundMode mode : {media::bmTiled, media::bmCentered, media::bmStretched}) {
    ShowOnForm f(mode);
    f.S->Points = {{0, 0}, {20, 10}};
    f.S->BgPicture()->SetGraphic(&empty);
    f.S->Repaint();
    EXPECT_EQ(f.S->Seen, std::vector<TColor>(2, platform::clBlack)) << mode;
  }
}
