// Drawing frames and playing animations.
#include <QThread>
#include <algorithm>
#include <cmath>
#include <map>

#include "platform/Colors.h"
#include "platform/ExtCtrls.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "raster/GifGraphic.h"

namespace raster {

using platform::TCanvas;
using platform::TRect;

namespace {

// The system clock: tick count, thread sleep, one single-shot platform timer per painter.
class TSystemClock : public TGIFClock {
 public:
  int64_t Now() override { return platform::GetTickCount(); }
  void Sleep(int32_t Ms) override { QThread::msleep(static_cast<unsigned long>(std::max(Ms, 0))); }
  void Schedule(TGIFPainter* Painter, int32_t Ms) override {
    auto& t = FTimers[Painter];
    if (!t) t = std::make_unique<platform::TTimer>(nullptr);
    t->SetEnabled(false);
    t->SetInterval(static_cast<uint32_t>(std::max(Ms, 1)));  // 0 would switch the timer off
    t->OnTimer = [this, Painter](platform::TObject*) {
      FTimers[Painter]->SetEnabled(false);
      Painter->Tick();
    };
    t->SetEnabled(true);
  }
  void Cancel(TGIFPainter* Painter) override {
    auto it = FTimers.find(Painter);
    if (it == FTimers.end()) return;
    it->second->SetEnabled(false);
    // The timer may be the caller of this cancel: free it later, never under its own call.
    FDead.push_back(std::move(it->second));
    FTimers.erase(it);
    if (FDead.size() > 16) FDead.erase(FDead.begin(), FDead.end() - 8);
  }

 private:
  std::map<TGIFPainter*, std::unique_ptr<platform::TTimer>> FTimers;
  std::vector<std::unique_ptr<platform::TTimer>> FDead;
};

TGIFClock* ActiveClock = nullptr;

TSystemClock& SystemClock() {
  static TSystemClock* c = new TSystemClock;
  return *c;
}

TRect Intersect(const TRect& A, const TRect& B) {
  TRect r = platform::Rect(std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
                           std::min(A.Bottom, B.Bottom));
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

// A frame edge from screen to destination pixels, rounded to the nearest.
int32_t Scale(int32_t V, int32_t Num, int32_t Den) { return Den == 0 ? V : platform::MulDiv(V, Num, Den); }

}  // namespace

void SetGIFClock(TGIFClock* Clock) { ActiveClock = Clock; }
TGIFClock* GIFClock() { return ActiveClock ? ActiveClock : &SystemClock(); }

// ---------------------------------------------------------------------------------------------
// One frame

void TGIFSubImage::Draw(TCanvas* Canvas, const TRect& R, bool DoTransparent, bool DoTile) {
  if (Empty() || !Canvas || R.Right <= R.Left || R.Bottom <= R.Top) return;
  const std::vector<uint32_t>& px = Pixels32();
  const int32_t fw = Width(), fh = Height();
  const bool see = DoTransparent && Transparent();
  // Paints the frame stretched over D, only the part inside Clip. Only the destination's own
  // pixels are read back (at 1:1), so drawing into a rectangle of another size keeps the canvas
  // under transparent pixels.
  auto drawAt = [&](const TRect& D, const TRect& Clip) {
    const TRect vis = Intersect(D, Clip);
    const int32_t dw = D.Right - D.Left, dh = D.Bottom - D.Top;
    const int32_t vw = vis.Right - vis.Left, vh = vis.Bottom - vis.Top;
    if (dw <= 0 || dh <= 0 || vw <= 0 || vh <= 0) return;
    platform::TBitmap tmp;
    tmp.SetPixelFormat(platform::pf24bit);
    tmp.SetSize(vw, vh);
    if (tmp.Empty()) return;
    if (see) tmp.Canvas()->CopyRect(platform::Rect(0, 0, vw, vh), Canvas, vis);
    std::vector<int32_t> sx(static_cast<size_t>(vw));
    for (int32_t x = 0; x < vw; ++x)
      sx[x] = static_cast<int32_t>(static_cast<int64_t>(x + vis.Left - D.Left) * fw / dw);
    for (int32_t y = 0; y < vh; ++y) {
      const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y + vis.Top - D.Top) * fh / dh);
      const uint32_t* src = px.data() + static_cast<size_t>(sy) * fw;
      uint8_t* d = static_cast<uint8_t*>(tmp.ScanLine(y));
      for (int32_t x = 0; x < vw; ++x) {
        const uint32_t c = src[sx[x]];
        if (see && (c >> 24) == 0) continue;
        d[x * 3] = c & 0xFF;
        d[x * 3 + 1] = (c >> 8) & 0xFF;
        d[x * 3 + 2] = (c >> 16) & 0xFF;
      }
    }
    Canvas->Draw(vis.Left, vis.Top, &tmp);
  };
  const int32_t sw = FImage && FImage->Width() > 0 ? FImage->Width() : Left() + fw;
  const int32_t sh = FImage && FImage->Height() > 0 ? FImage->Height() : Top() + fh;
  if (!DoTile) {
    const int32_t rw = R.Right - R.Left, rh = R.Bottom - R.Top;
    const TRect d = platform::Rect(R.Left + Scale(Left(), rw, sw), R.Top + Scale(Top(), rh, sh),
                                   R.Left + Scale(Left() + fw, rw, sw), R.Top + Scale(Top() + fh, rh, sh));
    drawAt(d, R);
    return;
  }
  if (sw <= 0 || sh <= 0) return;
  for (int32_t ty = R.Top; ty < R.Bottom; ty += sh)
    for (int32_t tx = R.Left; tx < R.Right; tx += sw)
      drawAt(platform::Rect(tx + Left(), ty + Top(), tx + Left() + fw, ty + Top() + fh), R);
}

// ---------------------------------------------------------------------------------------------
// The image

bool TGifGraphic::CubePaletteInUse() const {
  // This platform always shows true colour, so goAutoDither never asks for the cube.
  return (DrawOptions & goDither) && !(DrawOptions & goAutoDither);
}

void TGifGraphic::DropBitmap() {
  if (!FBitmap) return;
  // A painter drawing into the off-screen copy stops before the copy goes.
  const std::vector<TGIFPainter*> all = FPainters;
  for (TGIFPainter* p : all)
    if (p->Canvas == FBitmap->Canvas()) {
      p->Stop();
      if (!p->FInTick) ReleasePainter(p);
    }
  FBitmap.reset();
}

void TGifGraphic::ReleasePainter(TGIFPainter* P) {
  auto it = std::find(FPainters.begin(), FPainters.end(), P);
  if (it == FPainters.end()) return;
  FPainters.erase(it);
  if (FPainter == P) {
    FPainter = nullptr;
    FDrawCanvas = nullptr;
  }
  delete P;
}

void TGifGraphic::StopDraw() {
  const std::vector<TGIFPainter*> all = FPainters;
  for (TGIFPainter* p : all) {
    p->Stop();
    // A painter stopped from inside its own tick frees itself when the tick returns.
    if (!p->FInTick) ReleasePainter(p);
  }
  DropBitmap();
}

void TGifGraphic::Draw(TCanvas* Canvas, const TRect& R) {
  if (FDrawing || FImages.empty() || !Canvas) return;
  FDrawing = true;
  struct Guard {
    bool& f;
    ~Guard() { f = false; }
  } guard{FDrawing};
  const bool tile = (DrawOptions & goTile) != 0;
  if (Count() == 1 || !(DrawOptions & goAnimate)) {
    FImages[0]->Draw(Canvas, R, (DrawOptions & goTransparent) != 0, tile);
    return;
  }
  const bool direct = (DrawOptions & goDirectDraw) != 0;
  if (FBitmap && !direct) {
    Canvas->StretchDraw(R, FBitmap.get());
    return;
  }
  if (FPainter && FDrawCanvas == Canvas && FDrawRect == R) return;
  if (FPainter) {
    TGIFPainter* p = FPainter;
    p->Stop();
    if (!p->FInTick) ReleasePainter(p);
  }
  DropBitmap();
  const int32_t w = R.Right - R.Left, h = R.Bottom - R.Top;
  if (w <= 0 || h <= 0) return;
  TCanvas* target = Canvas;
  TRect targetRect = R;
  if (!direct) {
    // The off-screen copy has the destination's size, so a small file never sizes it.
    auto bmp = std::make_unique<platform::TBitmap>();
    bmp->SetPixelFormat(platform::pf24bit);
    // The palette it is drawn with; asking for it here must not fix the image's palette
    // while its tables can still change.
    const TGIFPaletteEntries stored = FPalette;
    bmp->SetPalette(GetPalette());
    FPalette = stored;
    FBitmap = std::move(bmp);
    FBitmap->SetSize(w, h);
    FBitmap->Canvas()->CopyRect(platform::Rect(0, 0, w, h), Canvas, R);
    target = FBitmap->Canvas();
    targetRect = platform::Rect(0, 0, w, h);
  }
  auto* p = new TGIFPainter(this, target, targetRect, DrawOptions);
  FPainters.push_back(p);
  FPainter = p;
  FDrawCanvas = Canvas;
  FDrawRect = R;
  p->OnPaintStart = OnPaintStart;
  p->OnFramePaint = OnFramePaint;
  p->OnFramePainted = OnFramePainted;
  p->OnLoopRestart = OnLoopRestart;
  p->OnPaintEnd = OnPaintEnd;
  p->Execute();
  if (!direct && FBitmap) Canvas->Draw(R.Left, R.Top, FBitmap.get());
  if (p->Finished() && !p->FInTick) {
    // A synchronous painter is done; its last picture stays in the off-screen copy.
    ReleasePainter(p);
  }
}

// ---------------------------------------------------------------------------------------------
// The painter

TGIFPainter::TGIFPainter(TGifGraphic* AImage, TCanvas* ACanvas, const TRect& ARect, uint16_t AOptions)
    : Image(AImage), Canvas(ACanvas), Rect(ARect), DrawOptions(AOptions), AnimationSpeed(AImage->AnimationSpeed) {
  if (Image->Count() <= 1) DrawOptions &= static_cast<uint16_t>(~(goAsync | goAnimate));
  uint32_t used = (DrawOptions & goClearOnLoop) ? 1u << 2 : 0;
  for (int32_t i = 0; i < Image->Count(); ++i)
    if (auto* g = Image->Images(i)->GraphicControlExtension()) used |= 1u << g->Disposal();
  const int32_t w = Rect.Right - Rect.Left, h = Rect.Bottom - Rect.Top;
  auto copyOfDest = [&](bool fillFirst) {
    auto b = std::make_unique<platform::TBitmap>();
    b->SetPixelFormat(platform::pf24bit);
    b->SetSize(w, h);
    if (fillFirst) {
      b->Canvas()->Brush()->SetColor(Background());
      b->Canvas()->FillRect(platform::Rect(0, 0, w, h));
    }
    return b;
  };
  if ((used & (1u << 2)) && (DrawOptions & goTransparent)) {
    FBackupBuffer = copyOfDest(false);
    FBackupBuffer->Canvas()->CopyRect(platform::Rect(0, 0, w, h), Canvas, Rect);
  }
  if (used & ((1u << 2) | (1u << 3))) {
    FFrameBuffer = copyOfDest(true);
    FFrameBuffer->Canvas()->CopyRect(platform::Rect(0, 0, w, h), Canvas, Rect);
    FPreviousBuffer = copyOfDest(true);
  }
}

TGIFPainter::~TGIFPainter() { GIFClock()->Cancel(this); }

platform::TColor TGIFPainter::Background() const {
  if (Image->BackgroundColor != platform::clNone) return platform::ColorToRGB(Image->BackgroundColor);
  TGIFColorMap& g = Image->GlobalColorMap();
  if (g.Count() == 0) return platform::ColorToRGB(platform::clWindow);
  return g.Colors(Image->Header.BackgroundColorIndex);  // out of range: a warning and entry 0
}

void TGIFPainter::Fire(const platform::TNotifyEvent& Event) {
  if (Event) Event(this);
}

void TGIFPainter::StartRun() {
  if (DrawOptions & goValidateCanvas) {
    FCanvasHandle = Canvas->Device();
    FCanvasLifetime = Canvas->Lifetime();
  }
  ActiveImage = 0;
  Fire(OnPaintStart);
  FStarted = false;
  FRestart = false;
  FLoopCount = 1;
  FFirstFrame = 0;
  FLoopSeen = false;
  FDelay = Async() ? 0 : 1;
  PreviousDisposal = 1;
  FOldTime = GIFClock()->Now();
  FOldDelay = 0;
  FPass = 0;
}

bool TGIFPainter::FrameLoopGoes() const {
  return Image && !FTerminated && ActiveImage >= 0 && ActiveImage < Image->Count() && !FRestart &&
         !Image->Images(ActiveImage)->Empty();
}

bool TGIFPainter::StartPass() {
  // Painting inside Draw never loops without end.
  const bool endless = (DrawOptions & goLoopForever) && Async();
  if ((FLoopCount == 0 && !endless) || FTerminated || FRestart) return false;
  ActiveImage = FFirstFrame;
  if (FPass++ > 0) Fire(OnLoopRestart);
  return FrameLoopGoes();
}

bool TGIFPainter::Advance() {
  if ((DrawOptions & goAnimate) && FrameLoopGoes()) return true;
  if (FLoopCount > 0) --FLoopCount;
  if (!((DrawOptions & goAnimate) && (DrawOptions & goLoop))) return false;
  return StartPass();
}

int32_t TGIFPainter::ComputeWait() {
  const int64_t now = GIFClock()->Now();
  int64_t wait;
  if (AnimationSpeed >= 1) {
    const int64_t raw = (static_cast<int64_t>(FDelay) * GIFDelayUnit - (now - FOldTime - FOldDelay) / 2) * 100;
    wait = std::llround(static_cast<double>(raw) / AnimationSpeed);
    if (wait > INT32_MAX || wait < INT32_MIN) {
      wait = GIFMaximumDelay * GIFDelayUnit;
      FOldDelay = 0;
    } else {
      FOldDelay = wait;
    }
  } else {
    wait = Async() ? -1 : GIFMaximumDelay * GIFDelayUnit;
  }
  FOldTime = now;
  return static_cast<int32_t>(wait);
}

bool TGIFPainter::CanvasValid() const {
  if (!(DrawOptions & goValidateCanvas)) return true;
  // The destination went away or was bound to another device since the animation started.
  return FCanvasHandle && !FCanvasLifetime.expired() && Canvas->Device() == FCanvasHandle;
}

void TGIFPainter::ScheduleNext() {
  const int32_t wait = ComputeWait();
  // Speed 0 pauses until stopped. Otherwise a wake-up so late that the wait came out at or
  // below 0 shows the next frame at once; waiting for nothing would freeze the animation.
  if (AnimationSpeed < 1) return;
  if (wait <= 0) FOldDelay = 0;
  GIFClock()->Schedule(this, std::max(wait, 0));
}

void TGIFPainter::PaintActive() {
  if (!CanvasValid()) {
    FTerminated = true;
    return;
  }
  Fire(OnFramePaint);
  if (FTerminated || ActiveImage < 0 || ActiveImage >= Image->Count()) return;
  TGIFSubImage* f = Image->Images(ActiveImage);
  Disposal = 1;
  for (int32_t i = 0; i < f->ExtensionCount(); ++i) {
    TGIFExtension* e = f->Extensions(i);
    if (auto* l = dynamic_cast<TGIFAppExtNSLoop*>(e)) {
      if (!FLoopSeen) {
        FLoopSeen = true;
        FLoopCount = l->Loops;
        FFirstFrame = ActiveImage;
        if ((l->Loops == 0 || (DrawOptions & goLoopForever)) && Async()) FLoopCount = -1;
      }
    } else if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(e)) {
      Disposal = g->Disposal();
    }
  }
  PaintFrame(f);
  PreviousDisposal = Disposal;
  FDelay = GIFDefaultDelay;
  if (auto* g = f->GraphicControlExtension())
    if (g->Delay() != 0) {
      FDelay = std::max<int32_t>(g->Delay(), GIFMinimumDelay);
      if (!Async()) FDelay = std::min(FDelay, GIFMaximumDelay);
    }
  const int32_t before = ActiveImage;
  Fire(OnFramePainted);
  if (ActiveImage == before) ++ActiveImage;
}

void TGIFPainter::ClearArea(TGIFSubImage* Frame) {
  if (!FFrameBuffer) return;
  const int32_t w = Rect.Right - Rect.Left, h = Rect.Bottom - Rect.Top;
  const int32_t sw = std::max(Image->Width(), 1), sh = std::max(Image->Height(), 1);
  TCanvas* c = FFrameBuffer->Canvas();
  const bool restore = (DrawOptions & goTransparent) && FBackupBuffer;
  if (!restore) c->Brush()->SetColor(Background());
  auto clear = [&](const TRect& a) {
    const TRect r = Intersect(a, platform::Rect(0, 0, w, h));
    if (r.Right <= r.Left || r.Bottom <= r.Top) return;
    if (restore) c->CopyRect(r, FBackupBuffer->Canvas(), r);
    else c->FillRect(r);
  };
  if (!(DrawOptions & goTile)) {
    clear(platform::Rect(Scale(Frame->Left(), w, sw), Scale(Frame->Top(), h, sh),
                         Scale(Frame->Left() + Frame->Width(), w, sw), Scale(Frame->Top() + Frame->Height(), h, sh)));
    return;
  }
  // Tiled, the frame was drawn at its own size at every tile position.
  for (int32_t ty = 0; ty < h; ty += sh)
    for (int32_t tx = 0; tx < w; tx += sw)
      clear(platform::Rect(tx + Frame->Left(), ty + Frame->Top(), tx + Frame->Left() + Frame->Width(),
                           ty + Frame->Top() + Frame->Height()));
}

void TGIFPainter::PaintFrame(TGIFSubImage* Frame) {
  const bool transparent = (DrawOptions & goTransparent) != 0, tile = (DrawOptions & goTile) != 0;
  if (!FFrameBuffer) {
    Frame->Draw(Canvas, Rect, transparent, tile);
    FStarted = true;
    return;
  }
  const int32_t w = Rect.Right - Rect.Left, h = Rect.Bottom - Rect.Top;
  const TRect local = platform::Rect(0, 0, w, h);
  const bool clearFirst = (DrawOptions & goClearOnLoop) && ActiveImage == 0;
  if (clearFirst) ClearArea(Frame);
  switch (Disposal) {
    case 0:
    case 1:
    case 2:
      Frame->Draw(FFrameBuffer->Canvas(), local, transparent, tile);
      Canvas->CopyRect(Rect, FFrameBuffer->Canvas(), local);
      if (Disposal == 2) ClearArea(Frame);
      break;
    case 3:
      if (PreviousDisposal <= 1) {
        // The frame buffer keeps the picture to go back to.
        Frame->Draw(Canvas, Rect, transparent, tile);
      } else {
        FPreviousBuffer->Canvas()->CopyRect(local, FFrameBuffer->Canvas(), local);
        Frame->Draw(FPreviousBuffer->Canvas(), local, transparent, tile);
        Canvas->CopyRect(Rect, FPreviousBuffer->Canvas(), local);
      }
      break;
    default:
      break;  // undefined methods are not drawn
  }
  FStarted = true;
}

void TGIFPainter::Execute() {
  StartRun();
  if (!StartPass()) {
    Finish();
    return;
  }
  if (Async()) {
    FInTick = true;
    PaintActive();
    FInTick = false;
    if (!FTerminated && Advance()) {
      ScheduleNext();
    } else {
      Finish();
    }
    return;
  }
  bool more = true;
  while (more && !FTerminated) {
    if (FDelay > 0) {
      const int32_t wait = ComputeWait();
      if (wait < 1) FOldDelay = 1;  // what is waited: the next overrun is measured from it
      const int64_t end = GIFClock()->Now() + std::max(wait, 1);
      for (;;) {
        const int64_t left = end - GIFClock()->Now();
        if (left <= 0 || FTerminated) break;
        GIFClock()->Sleep(static_cast<int32_t>(std::min<int64_t>(left, 100)));
      }
    }
    if (FTerminated) break;
    PaintActive();
    more = Advance();
  }
  Finish();
}

void TGIFPainter::Tick() {
  if (FFinished || FTerminated) return;
  FInTick = true;
  PaintActive();
  const bool more = Image && !FTerminated && Advance();
  TGifGraphic* const image = Image;
  // A frame painted off-screen shows only when the image's holder draws it again: the image's
  // change event tells the holder (without Changed, which would drop the copy).
  const bool offscreen = image && image->FBitmap && Canvas == image->FBitmap->Canvas();
  if (more) {
    ScheduleNext();
  } else {
    Finish();
  }
  FInTick = false;
  // A handler freed the image, which forgot this painter: nothing else will free it.
  if (!Image) {
    delete this;
    return;
  }
  // The painter is done: its image frees it (nothing may touch it after this).
  if (!more) image->ReleasePainter(this);
  // Last: the holder may replace or free the image from its handler.
  if (offscreen) {
    const platform::TNotifyEvent changed = image->OnChange;
    if (changed) changed(image);
  }
}

void TGIFPainter::Stop() {
  FTerminated = true;
  GIFClock()->Cancel(this);
  if (!FInTick) Finish();
}

void TGIFPainter::Finish() {
  if (FFinished) return;
  FFinished = true;
  ActiveImage = -1;
  Fire(OnPaintEnd);
}

}  // namespace raster
