#include "document/dtpPage.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "document/XmlBitmaps.h"
#include "document/XmlDocuments.h"
#include "document/dtpShapeRenderPriv.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "raster/Raster32Transforms.h"

namespace document {

using platform::TRect;

const TPaperSizeInfoRec PaperSizes[8] = {
    {"A3", 297, 420},      {"A4", 210, 297},       {"A5", 148, 210},     {"Letter", 215.9f, 279.4f},
    {"Tabloid", 279.4f, 431.7f}, {"Legal", 215.9f, 355.6f}, {"Executive", 184.1f, 266.7f}, {"Custom", 210, 297}};

namespace {

// Render bands are at most this many pixels.
constexpr int64_t cMaxBandPixels = 1920000;
// A page is rendered finer than its target in at most this many pixels (an A3 page at 600 DPI
// takes about half of it); beyond, the work would grow without bound with the paper size.
constexpr long double cMaxFinerPixels = 134217728.0L;
// Millimetres per pixel of an image at 150 DPI.
constexpr long double cImageDpm = 5.905511811L;

int32_t RoundI(long double v) { return int32_t(platform::Round(v)); }

// Copies Bitmap's colours onto the canvas, stretched into Dst (smooth, as a halftone blit).
void StretchToCanvas(platform::TCanvas* Canvas, const TRect& Dst, const TBitmap32* Bitmap) {
  if (!Canvas || !Bitmap || Bitmap->Empty() || platform::IsRectEmpty(Dst)) return;
  QPainter* p = Canvas->Painter();
  if (!p) return;
  const QImage img(reinterpret_cast<const uchar*>(Bitmap->Bits()), Bitmap->Width(), Bitmap->Height(),
                   Bitmap->Width() * 4, QImage::Format_RGB32);
  if (Dst.Width() == Bitmap->Width() && Dst.Height() == Bitmap->Height()) {
    p->drawImage(Dst.Left, Dst.Top, img);
    return;
  }
  p->save();
  p->setRenderHint(QPainter::SmoothPixmapTransform, true);
  p->drawImage(QRect(Dst.Left, Dst.Top, Dst.Width(), Dst.Height()), img);
  p->restore();
}

}  // namespace

const TShapeClass& TdtpPage::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpPage>("TdtpPage", &TdtpShape::StaticClass());
  return cls;
}

void InitializeDtpPage() { RegisterShapeClass(TdtpPage::StaticClass()); }

TdtpPage::TdtpPage() = default;
TdtpPage::~TdtpPage() = default;

void TdtpPage::Initialize() {
  TdtpShape::Initialize();
  // The painted area reaches 1 mm beyond the right and bottom edges, for the shadow.
  SetPaintOutsets(0, 0, 1.0f, 1.0f);
}

void TdtpPage::InitDefaults() {
  TdtpShape::InitDefaults();
  FIsDefaultPage = true;
  FLoaded = true;
  FPageColor = 0xFFFFFF;
  FGridColor = 0xFFFFC0;
  FGridSize = 5.0f;
  FDocWidth = 210;
  FDocHeight = 297;
}

// ---------------------------------------------------------------------------------------
// Settings

void TdtpPage::SetViewPosition(float X, float Y) { FViewPosition = {X, Y}; }

void TdtpPage::EnsureLoaded() {
  if (!FLoaded && FDocument) FDocument->LoadPage(FDocument->IndexOfPage(this));
}

float TdtpPage::EffectiveMarginLeft() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultMarginLeft() : FMarginLeft;
}
float TdtpPage::EffectiveMarginTop() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultMarginTop() : FMarginTop;
}
float TdtpPage::EffectiveMarginRight() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultMarginRight() : FMarginRight;
}
float TdtpPage::EffectiveMarginBottom() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultMarginBottom() : FMarginBottom;
}
float TdtpPage::EffectiveGridSize() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultGridSize() : FGridSize;
}
platform::TColor TdtpPage::EffectiveGridColor() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultGridColor() : FGridColor;
}
platform::TColor TdtpPage::EffectivePageColor() const {
  const_cast<TdtpPage*>(this)->EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultPageColor() : FPageColor;
}
TBitmap32* TdtpPage::EffectiveBackgroundImage() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultBackgroundImage() : FBackgroundImage.get();
}
bool TdtpPage::EffectiveBackgroundTiled() {
  EnsureLoaded();
  return UsesDefaults() ? FDocument->DefaultBgrTiled() : FBackgroundTiled;
}

void TdtpPage::SetBackgroundImage(std::unique_ptr<TBitmap32> Image) {
  EnsureLoaded();
  FBackgroundImage = std::move(Image);
  RefreshAll();
  Changed();
}
void TdtpPage::SetBackgroundTiled(bool V) {
  EnsureLoaded();
  if (V == FBackgroundTiled) return;
  FBackgroundTiled = V;
  RefreshAll();
  Changed();
}
void TdtpPage::SetGridColor(platform::TColor V) {
  EnsureLoaded();
  if (V == FGridColor) return;
  FGridColor = V;
  Refresh();
  Changed();
}
void TdtpPage::SetGridSize(float V) {
  EnsureLoaded();
  if (V == FGridSize) return;
  FGridSize = V;
  Refresh();
  Changed();
}
void TdtpPage::SetMargins(float Left, float Top, float Right, float Bottom) {
  EnsureLoaded();
  if (Left == FMarginLeft && Top == FMarginTop && Right == FMarginRight && Bottom == FMarginBottom) return;
  FMarginLeft = Left;
  FMarginTop = Top;
  FMarginRight = Right;
  FMarginBottom = Bottom;
  Refresh();
  Changed();
}
void TdtpPage::SetPageColor(platform::TColor V) {
  EnsureLoaded();
  if (V == FPageColor) return;
  FPageColor = V;
  RefreshAll();
  Changed();
}
void TdtpPage::SetIsDefaultPage(bool V) {
  EnsureLoaded();
  if (V == FIsDefaultPage) return;
  FIsDefaultPage = V;
  RefreshAll();
  Changed();
}

std::string TdtpPage::GetName() const {
  if (!FName.empty()) return FName;
  const int32_t i = FDocument ? FDocument->IndexOfPage(this) : -1;
  return "Page " + platform::IntToStr(i + 1);
}

TColor32 TdtpPage::GetFillColor32() const { return raster::Color32(EffectivePageColor()); }

void TdtpPage::SnapPoint(TdtpFloatPoint& P) {
  const float g = EffectiveGridSize();
  if (!(g > 0)) return;
  P.X = float(platform::Round((long double)P.X / g) * (long double)g);
  P.Y = float(platform::Round((long double)P.Y / g) * (long double)g);
}

void TdtpPage::SetModified(bool Value) {
  TdtpShape::SetModified(Value);
  if (Value) FThumbnailStale = true;
}

void TdtpPage::SetDocPosition(float Left, float Top) {
  EnsureLoaded();
  const bool moved = Left != FDocLeft || Top != FDocTop;
  TdtpShape::SetDocPosition(Left, Top);
  // The page's place is stored with it, so moving it is a change to save.
  if (moved && !IsLoading()) SetModified(true);
}

void TdtpPage::SetDocSize(float Width, float Height) {
  EnsureLoaded();
  TdtpShape::SetDocSize(Width, Height);
}

void TdtpPage::InsertShape(int32_t Index, std::unique_ptr<TdtpShape> Shape) {
  EnsureLoaded();
  TdtpShape::InsertShape(Index, std::move(Shape));
}

int32_t TdtpPage::AddShape(std::unique_ptr<TdtpShape> Shape) {
  EnsureLoaded();
  return TdtpShape::AddShape(std::move(Shape));
}

void TdtpPage::SetDocBoundsAngle(float Left, float Top, float Width, float Height, float Angle) {
  EnsureLoaded();
  TdtpShape::SetDocBoundsAngle(Left, Top, Width, Height, Angle);
  if (FDocument && FDocument->CurrentPage() == this && !FDocument->IsPrinting()) FDocument->UpdateLayout();
}

// ---------------------------------------------------------------------------------------
// XML

void TdtpPage::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  Node->WriteBool("IsDefaultPage", FIsDefaultPage, true);
  if (!FIsDefaultPage) {
    Node->WriteFloat("MarginLeft", FMarginLeft);
    Node->WriteFloat("MarginTop", FMarginTop);
    Node->WriteFloat("MarginRight", FMarginRight);
    Node->WriteFloat("MarginBottom", FMarginBottom);
    Node->WriteFloat("GridSize", FGridSize);
    Node->WriteColor("GridColor", FGridColor);
    // Always written: a black page would otherwise be left out and read back white.
    Node->NodeFindOrCreate("PageColor")
        ->SetValueAsString("$" + platform::IntToHex(uint32_t(platform::ColorToRGB(FPageColor)), 8));
    Node->WriteFloat("PageWidth", FDocWidth);
    Node->WriteFloat("PageHeight", FDocHeight);
    if (FBackgroundImage && !FBackgroundImage->Empty())
      WriteBitmap32ToXml(Node, "BackgroundImage", FBackgroundImage.get());
    Node->WriteBool("BackgroundTiled", FBackgroundTiled, false);
  }
  TdtpShape::SaveToXml(Node);
}

void TdtpPage::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    FIsDefaultPage = Node->ReadBool("IsDefaultPage", true);
    if (!FIsDefaultPage) {
      auto rf = [&](const char* n) {
        const float v = float(Node->ReadFloat(n, 0));
        return std::isfinite(v) ? v : 0.0f;
      };
      FMarginLeft = rf("MarginLeft");
      FMarginTop = rf("MarginTop");
      FMarginRight = rf("MarginRight");
      FMarginBottom = rf("MarginBottom");
      FGridSize = rf("GridSize");
      FGridColor = Node->ReadInteger("GridColor", 0);
      FPageColor = Node->ReadInteger("PageColor", 0xFFFFFF);
      FDocWidth = rf("PageWidth");
      FDocHeight = rf("PageHeight");
      FBackgroundImage.reset();
      ReadBitmap32FromXml(Node, "BackgroundImage", FBackgroundImage);
      FBackgroundTiled = Node->ReadBool("BackgroundTiled", false);
    }
    TdtpShape::LoadFromXml(Node);
  } catch (...) {
    --FLoading;
    throw;
  }
  --FLoading;
  FThumbnailStale = false;
}

// ---------------------------------------------------------------------------------------
// Painting the paper

void TdtpPage::PaintBackgroundImage(TBitmap32* Bitmap, TBitmap32* Image, const TRect& PageRect) {
  Image->SetStretchFilter(raster::sfLinear);
  const TRect clip{0, 0, Bitmap->Width(), Bitmap->Height()};
  if (!EffectiveBackgroundTiled()) {
    TRect vis;
    if (platform::IntersectRect(vis, PageRect, clip))
      raster::StretchTransfer(Bitmap, PageRect, Image, {0, 0, Image->Width(), Image->Height()}, raster::sfLinear,
                              raster::dmOpaque);
    return;
  }
  // Tiles are the image at 150 DPI, laid from the page's top-left corner.
  long double tileW = Image->Width() / cImageDpm * FDeviceMatrix[0][0];
  long double tileH = Image->Height() / cImageDpm * FDeviceMatrix[1][1];
  if (!(tileW > 0) || !(tileH > 0)) return;
  // Tiles smaller than a pixel: each pixel shows a whole tile, the image squeezed into it.
  TBitmap32 squeezed;
  if (tileW < 1 || tileH < 1) {
    squeezed.SetSize(tileW < 1 ? 1 : Image->Width(), tileH < 1 ? 1 : Image->Height());
    raster::StretchTransfer(&squeezed, {0, 0, squeezed.Width(), squeezed.Height()}, Image,
                            {0, 0, Image->Width(), Image->Height()}, raster::sfLinear, raster::dmOpaque);
    Image = &squeezed;
    Image->SetStretchFilter(raster::sfLinear);
    if (tileW < 1 && tileH < 1) {
      Bitmap->FillRectClipped(PageRect.Left, PageRect.Top, PageRect.Right, PageRect.Bottom, Image->Pixel(0, 0));
      return;
    }
    tileW = std::max(tileW, 1.0L);
    tileH = std::max(tileH, 1.0L);
  }
  const int32_t cols = platform::Ceil(PageRect.Width() / tileW) + 1;
  const int32_t rows = platform::Ceil(PageRect.Height() / tileH) + 1;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const TRect tile{RoundI(PageRect.Left + c * tileW), RoundI(PageRect.Top + r * tileH),
                       RoundI(PageRect.Left + (c + 1) * tileW), RoundI(PageRect.Top + (r + 1) * tileH)};
      TRect vis;
      if (!platform::IntersectRect(vis, tile, PageRect) || tile.Width() <= 0 || tile.Height() <= 0) continue;
      TRect onBitmap;
      if (!platform::IntersectRect(onBitmap, vis, clip)) continue;
      // The visible part shows the matching top-left part of the image.
      const TRect src{0, 0, std::max(1, RoundI((long double)Image->Width() * vis.Width() / tile.Width())),
                      std::max(1, RoundI((long double)Image->Height() * vis.Height() / tile.Height()))};
      raster::StretchTransfer(Bitmap, vis, Image, src, raster::sfLinear, raster::dmOpaque);
    }
}

namespace {

// The page rectangle in device pixels.
TRect PageDeviceRect(const TdtpMatrix& M, float W, float H) {
  const TdtpFloatPoint p0f = MapPoint(M, 0, 0);
  const TdtpFloatPoint p1f = MapPoint(M, W, H);
  return {RoundI(p0f.X), RoundI(p0f.Y), RoundI(p1f.X), RoundI(p1f.Y)};
}

}  // namespace

TRect detail::PageBackgroundCover(TdtpPage* Page, const TBitmap32* Bitmap) {
  if (!Page || !Bitmap || Bitmap->Empty() || !(Page->DocWidth() > 0) || !(Page->DocHeight() > 0)) return {};
  const IdtpDocumentHost* doc = Page->Document();
  const bool pattern = doc && doc->HelperMethod() == hmPattern && !doc->OutputRendering();
  if (!pattern) {
    const TBitmap32* image = Page->EffectiveBackgroundImage();
    if (image && !image->Empty()) return {};  // an image may leave pixels or let them through
  }
  TRect cover;
  if (!platform::IntersectRect(cover, PageDeviceRect(Page->DeviceMatrix(), Page->DocWidth(), Page->DocHeight()),
                               {0, 0, Bitmap->Width(), Bitmap->Height()}))
    return {};
  return cover;
}

void TdtpPage::PaintShape(TBitmap32* Bitmap) {
  TdtpShape::PaintShape(Bitmap);
  if (!Bitmap || Bitmap->Empty() || !(FDocWidth > 0) || !(FDocHeight > 0)) return;
  const TRect page = PageDeviceRect(FDeviceMatrix, FDocWidth, FDocHeight);
  const int32_t d = RoundI(MapPoint(FDeviceMatrix, FDocWidth + 1, 0).X) - RoundI(MapPoint(FDeviceMatrix, FDocWidth, 0).X);
  const bool output = FDocument && FDocument->OutputRendering();
  const TdtpHelperMethodtype helper = FDocument ? FDocument->HelperMethod() : hmNone;
  const int32_t bw = Bitmap->Width(), bh = Bitmap->Height();

  // 1. Background.
  TBitmap32* image = EffectiveBackgroundImage();
  if (helper == hmPattern && !output) {
    TRect vis;
    if (platform::IntersectRect(vis, page, {0, 0, bw, bh})) {
      // Two row patterns, copied into each scan line.
      std::vector<TColor32> rowA(size_t(vis.Width())), rowB(size_t(vis.Width()));
      for (int32_t x = vis.Left; x < vis.Right; ++x) {
        const bool odd = (((x - page.Left) / 8) & 1) != 0;
        rowA[size_t(x - vis.Left)] = odd ? 0xFFFFFFFFu : 0xFFB0B0B0u;
        rowB[size_t(x - vis.Left)] = odd ? 0xFFB0B0B0u : 0xFFFFFFFFu;
      }
      for (int32_t y = vis.Top; y < vis.Bottom; ++y) {
        const auto& row = (((y - page.Top) / 8) & 1) ? rowB : rowA;
        std::copy(row.begin(), row.end(), Bitmap->ScanLine(y) + vis.Left);
      }
    }
  } else if (image && !image->Empty()) {
    PaintBackgroundImage(Bitmap, image, page);
  } else {
    Bitmap->FillRectClipped(page.Left, page.Top, page.Right, page.Bottom, raster::Color32(EffectivePageColor()));
  }

  // 2. The document's background handler, on a canvas over the bitmap.
  // (Under GDI the alpha would be inverted around the handler, because GDI clears the alpha of
  // the pixels it draws; our canvas leaves them opaque, which is what that pair achieves.)
  if (FDocument && FDocument->HasPaintBackground()) {
    detail::TBitmap32Canvas canvas(Bitmap);
    FDocument->PaintBackground(canvas.Canvas(), page);
    canvas.Release();
  }

  if (output) return;
  // 3. Screen-only helpers.
  const float g = EffectiveGridSize();
  const TColor32 gridColor = raster::Color32(EffectiveGridColor());
  // A grid finer than two device pixels would only grey the page out.
  const bool gridVisible = g > 0 && (long double)g * std::fabs(FDeviceMatrix[0][0]) >= 2;
  if (helper == hmGrid && gridVisible) {
    const int32_t nx = int32_t(platform::Trunc((long double)FDocWidth / g)) - 1;
    const int32_t ny = int32_t(platform::Trunc((long double)FDocHeight / g)) - 1;
    for (int32_t i = 1; i <= nx; ++i) {
      const int32_t x = RoundI(MapPoint(FDeviceMatrix, float(i * (long double)g), 0).X);
      Bitmap->VertLineClipped(x, page.Top + 1, page.Bottom - 2, gridColor);
    }
    for (int32_t j = 1; j <= ny; ++j) {
      const int32_t y = RoundI(MapPoint(FDeviceMatrix, 0, float(j * (long double)g)).Y);
      Bitmap->HorzLineClipped(page.Left + 1, y, page.Right - 2, gridColor);
    }
  } else if (helper == hmDots && gridVisible) {
    const int32_t nx = int32_t(platform::Trunc((long double)FDocWidth / g));
    const int32_t ny = int32_t(platform::Trunc((long double)FDocHeight / g));
    for (int32_t i = 1; i <= nx; ++i) {
      const int32_t x = RoundI(MapPoint(FDeviceMatrix, float(i * (long double)g), 0).X);
      if (x < 0 || x >= bw) continue;
      for (int32_t j = 1; j <= ny; ++j) {
        const int32_t y = RoundI(MapPoint(FDeviceMatrix, 0, float(j * (long double)g)).Y);
        if (y >= 0 && y < bh) Bitmap->SetPixel(x, y, gridColor);
      }
    }
  }
  if (FDocument && FDocument->ShowMargins()) {
    const TdtpFloatPoint m0 = MapPoint(FDeviceMatrix, EffectiveMarginLeft(), EffectiveMarginTop());
    const TdtpFloatPoint m1 =
        MapPoint(FDeviceMatrix, FDocWidth - EffectiveMarginRight(), FDocHeight - EffectiveMarginBottom());
    const TColor32 stipple[2] = {0xFFFFFFFFu, 0xFF000000u};
    Bitmap->SetStipple(stipple, 2);
    Bitmap->SetStippleStep(0.5f);
    Bitmap->FrameRectStippled(RoundI(m0.X), RoundI(m0.Y), RoundI(m1.X) + 1, RoundI(m1.Y) + 1);
  }
  if (!FParent && FDocument && FDocument->ViewStyle() == vsPrintLayout) {
    const TdtpFloatPoint p2f = MapPoint(FDeviceMatrix, FDocWidth + 1, FDocHeight + 1);
    const int32_t p2x = RoundI(p2f.X), p2y = RoundI(p2f.Y);
    Bitmap->FrameRectBlended(page.Left, page.Top, page.Right, page.Bottom, 0xFF000000u);
    Bitmap->FillRectClipped(page.Left + d, page.Bottom, p2x, p2y, 0xFF000000u);
    Bitmap->FillRectClipped(page.Right, page.Top + d, p2x, page.Bottom, 0xFF000000u);
  }
}

void TdtpPage::PaintOverlay(TBitmap32* Bitmap) {
  if (!Bitmap || Bitmap->Empty() || !FDocument || !FDocument->HasPaintForeground()) return;
  const TdtpFloatPoint p0f = MapPoint(FDeviceMatrix, 0, 0);
  const TdtpFloatPoint p1f = MapPoint(FDeviceMatrix, FDocWidth, FDocHeight);
  const TRect page{RoundI(p0f.X), RoundI(p0f.Y), RoundI(p1f.X), RoundI(p1f.Y)};
  detail::TBitmap32Canvas canvas(Bitmap);
  FDocument->PaintForeground(canvas.Canvas(), page);
  canvas.Release();
}

// ---------------------------------------------------------------------------------------
// Output: printing and thumbnails

void TdtpPage::PaintToRect(platform::TCanvas* Canvas, const TRect& Rect, int32_t Rotation, bool Mirror, bool Flip) {
  PaintTo(Canvas, Rect, cDefaultDpm, Rotation, Mirror, Flip);
}

// The page is rendered at Dpm in bands of at most cMaxBandPixels render pixels; each band is
// turned, mirrored and flipped and stretched onto its place in the target, where the page
// covers PageW x PageH pixels at (OffX, OffY) of the unturned target frame.
void TdtpPage::PaintTo(platform::TCanvas* Canvas, const TRect& Rect, float Dpm, int32_t Rotation, bool Mirror,
                       bool Flip) {
  EnsureLoaded();
  if (!FDocument || !Canvas) return;
  if (!(FDocWidth > 0) || !(FDocHeight > 0) || platform::IsRectEmpty(Rect)) return;
  IdtpDocumentHost* doc = FDocument;
  Rotation &= 3;
  doc->BeginPrinting();
  const TdtpFloatPoint savedOrigin = doc->ViewOrigin();
  const float savedRender = doc->RenderDpm(), savedScreen = doc->ScreenDpm();
  const raster::TStretchFilter savedQuality = doc->Quality();
  const float savedAngle = FDocAngle, savedCos = FCos, savedSin = FSin;
  auto restore = [&] {
    doc->SetViewOrigin(savedOrigin);
    const bool dpmChanged = doc->RenderDpm() != savedRender;
    doc->SetRenderDpm(savedRender);
    doc->SetScreenDpm(savedScreen);
    doc->SetQuality(savedQuality);
    FDocAngle = savedAngle;
    FCos = savedCos;
    FSin = savedSin;
    if (dpmChanged) FreeBuffersAll();
    doc->EndPrinting();
    Refresh();
  };
  try {
    // Set directly: printing must not record undo steps or report changes.
    FDocAngle = 0;
    FCos = 1;
    FSin = 0;
    int32_t tw = Rect.Width(), th = Rect.Height();
    if (Rotation == 1 || Rotation == 3) std::swap(tw, th);
    const long double scale = std::min((long double)tw / FDocWidth, (long double)th / FDocHeight);
    if (!(Dpm > 0)) Dpm = float(scale);
    const long double finest = std::sqrt(cMaxFinerPixels / ((long double)FDocWidth * FDocHeight));
    if (Dpm > scale && Dpm > finest) Dpm = float(std::max(finest, scale));
    const int32_t pw = RoundI(scale * FDocWidth), ph = RoundI(scale * FDocHeight);
    const int32_t offX = (tw - pw) / 2, offY = (th - ph) / 2;
    const bool dpmChanged = doc->RenderDpm() != Dpm;
    doc->SetRenderDpm(Dpm);
    doc->SetScreenDpm(Dpm);
    doc->SetQuality(raster::sfLinear);
    if (dpmChanged) FreeBuffersAll();
    const long double rwf = (long double)Dpm * FDocWidth, rhf = (long double)Dpm * FDocHeight;
    const int32_t rw = rwf < INT32_MAX ? RoundI(rwf) : 0, rh = rhf < INT32_MAX ? RoundI(rhf) : 0;
    if (rw > 0 && rh > 0)
      PaintBand(Canvas, {0, 0, rw, rh}, Dpm, float(scale), Rect, pw, ph, offX, offY, Rotation, Mirror, Flip, 0, 1);
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TdtpPage::PaintBand(platform::TCanvas* Canvas, const TRect& Band, float Dpm, float Scale, const TRect& Target,
                         int32_t PageW, int32_t PageH, int32_t OffX, int32_t OffY, int32_t Rotation, bool Mirror,
                         bool Flip, float P0, float P1) {
  const int32_t bw = Band.Width(), bh = Band.Height();
  if (bw <= 0 || bh <= 0) return;
  if (int64_t(bw) * bh > cMaxBandPixels) {
    const float pm = (P0 + P1) / 2;
    if (bh >= bw) {
      const int32_t mid = Band.Top + bh / 2;
      PaintBand(Canvas, {Band.Left, Band.Top, Band.Right, mid}, Dpm, Scale, Target, PageW, PageH, OffX, OffY,
                Rotation, Mirror, Flip, P0, pm);
      PaintBand(Canvas, {Band.Left, mid, Band.Right, Band.Bottom}, Dpm, Scale, Target, PageW, PageH, OffX, OffY,
                Rotation, Mirror, Flip, pm, P1);
    } else {
      const int32_t mid = Band.Left + bw / 2;
      PaintBand(Canvas, {Band.Left, Band.Top, mid, Band.Bottom}, Dpm, Scale, Target, PageW, PageH, OffX, OffY,
                Rotation, Mirror, Flip, P0, pm);
      PaintBand(Canvas, {mid, Band.Top, Band.Right, Band.Bottom}, Dpm, Scale, Target, PageW, PageH, OffX, OffY,
                Rotation, Mirror, Flip, pm, P1);
    }
    return;
  }
  IdtpDocumentHost* doc = FDocument;
  doc->SetViewOrigin({float((long double)Band.Left / Dpm + FViewPosition.X),
                      float((long double)Band.Top / Dpm + FViewPosition.Y)});
  doc->SetOutputRendering(true);
  TBitmap32 bmp;
  bmp.SetSize(bw, bh);
  bmp.Clear(0xFFFFFFFFu);
  {
    detail::TBitmap32Canvas canvas(&bmp);
    PaintToCanvas(canvas.Canvas());
    canvas.Release();
  }
  switch (Rotation) {
    case 1: detail::Rotate270(&bmp); break;
    case 2: detail::Rotate180(&bmp); break;
    case 3: detail::Rotate90(&bmp); break;
    default: break;
  }
  if (Mirror) detail::FlipHorizontal(&bmp);
  if (Flip) detail::FlipVertical(&bmp);
  // The band's place in the unturned target frame, then turned like the pixels.
  const long double k = (long double)Scale / Dpm;
  const int32_t x0 = OffX + std::min(PageW, RoundI(Band.Left * k)), x1 = OffX + std::min(PageW, RoundI(Band.Right * k));
  const int32_t y0 = OffY + std::min(PageH, RoundI(Band.Top * k)), y1 = OffY + std::min(PageH, RoundI(Band.Bottom * k));
  const int32_t uw = (Rotation == 1 || Rotation == 3) ? Target.Height() : Target.Width();
  const int32_t uh = (Rotation == 1 || Rotation == 3) ? Target.Width() : Target.Height();
  TRect r;
  switch (Rotation) {
    case 1: r = {y0, uw - x1, y1, uw - x0}; break;
    case 2: r = {uw - x1, uh - y1, uw - x0, uh - y0}; break;
    case 3: r = {uh - y1, x0, uh - y0, x1}; break;
    default: r = {x0, y0, x1, y1}; break;
  }
  if (Mirror) r = {Target.Width() - r.Right, r.Top, Target.Width() - r.Left, r.Bottom};
  if (Flip) r = {r.Left, Target.Height() - r.Bottom, r.Right, Target.Height() - r.Top};
  platform::OffsetRect(r, Target.Left, Target.Top);
  StretchToCanvas(Canvas, r, &bmp);
  const int32_t total = doc->ProgressTotal();
  if (total > 0) {
    const int32_t count = doc->ProgressCount();
    doc->DoProgress(2, count, total, float((count - 1 + (long double)P1) / total));
  }
}

platform::TBitmap* TdtpPage::GetThumbnail() {
  if (FThumbnail && !FThumbnailStale) return FThumbnail.get();
  const int32_t w = FDocument ? FDocument->ThumbnailWidth() : 80;
  const int32_t h = FDocument ? FDocument->ThumbnailHeight() : 60;
  auto bmp = std::make_unique<platform::TBitmap>();
  bmp->SetPixelFormat(platform::pf24bit);
  bmp->SetSize(w, h);
  platform::TCanvas* c = bmp->Canvas();
  c->Brush()->SetColor(FDocument ? FDocument->Color() : platform::clWhite);
  c->Brush()->SetStyle(platform::bsSolid);
  c->FillRect({0, 0, w, h});
  if (w > 2 && h > 2) PaintToRect(c, {1, 1, w - 1, h - 1}, 0, false, false);
  if (FDocWidth > 0 && FDocHeight > 0) {
    const long double scale = std::min((long double)w / FDocWidth, (long double)h / FDocHeight);
    const int32_t sw = RoundI(scale * FDocWidth), sh = RoundI(scale * FDocHeight);
    const int32_t x = (w - sw) / 2, y = (h - sh) / 2;
    c->Brush()->SetStyle(platform::bsClear);
    c->Pen()->SetColor(platform::clBlack);
    c->Rectangle(x, y, x + sw, y + sh);
  }
  c->Release();
  FThumbnail = std::move(bmp);
  FThumbnailStale = false;
  return FThumbnail.get();
}

void TdtpPage::SetThumbnail(const platform::TBitmap* Bitmap) {
  if (!Bitmap) {
    FThumbnail.reset();
  } else {
    FThumbnail = std::make_unique<platform::TBitmap>();
    FThumbnail->Assign(Bitmap);
  }
  FThumbnailStale = false;
}

void TdtpPage::UpdateThumbnail() {
  FThumbnailStale = true;
  GetThumbnail();
  if (FDocument) FDocument->PageChanged(this);
}

}  // namespace document
