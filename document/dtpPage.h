// A page of a document: the root of a tree of shapes and itself a shape whose DocWidth and
// DocHeight are the paper size in millimetres. It paints the paper (colour, background image
// or checker pattern), the helper grid or dots, the margin frame and the page frame with its
// shadow; snaps points to its grid; keeps a small thumbnail; draws itself at any resolution
// into a canvas rectangle for printing and thumbnails; and may stay unloaded in the document
// until it is first needed. A default page takes its paper settings from the document.
#pragma once

#include <memory>
#include <string>

#include "document/dtpShape.h"
#include "platform/Graphics.h"

namespace document {

struct TPaperSizeInfoRec {
  const char* Name;
  float Width, Height;  // millimetres
};
extern const TPaperSizeInfoRec PaperSizes[8];

class TdtpPage : public TdtpShape {
 public:
  TdtpPage();
  ~TdtpPage() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }
  void Initialize() override;

  // Stores the page's offset in the view, in millimetres.
  virtual void SetViewPosition(float X, float Y);
  TdtpFloatPoint ViewPosition() const { return FViewPosition; }
  TdtpFloatPoint RootViewOffset() const override { return FViewPosition; }
  // Loads the page's shapes from the document's archive when not loaded yet.
  virtual void EnsureLoaded();
  // Draws the page for printing into Rect of Canvas: rendered at Dpm dots per millimetre
  // (0: at the target's own scale), turned by Rotation quarter turns (1: 90, 2: 180, 3: 270
  // degrees), then mirrored left-right and/or turned upside down.
  virtual void PaintTo(platform::TCanvas* Canvas, const platform::TRect& Rect, float Dpm, int32_t Rotation,
                       bool Mirror, bool Flip);
  // PaintTo at 150 DPI.
  virtual void PaintToRect(platform::TCanvas* Canvas, const platform::TRect& Rect, int32_t Rotation, bool Mirror,
                           bool Flip);
  virtual void UpdateThumbnail();

  void SnapPoint(TdtpFloatPoint& P) override;
  TColor32 GetFillColor32() const override;
  std::string GetName() const override;
  void PaintShape(TBitmap32* Bitmap) override;
  void PaintOverlay(TBitmap32* Bitmap) override;
  void InitDefaults() override;
  void SetModified(bool Value) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  void SetDocBoundsAngle(float Left, float Top, float Width, float Height, float Angle) override;
  // Changes to a page not read yet read it first, so that reading cannot undo or reorder them.
  void SetDocPosition(float Left, float Top) override;
  void SetDocSize(float Width, float Height) override;
  void InsertShape(int32_t Index, std::unique_ptr<TdtpShape> Shape) override;
  int32_t AddShape(std::unique_ptr<TdtpShape> Shape) override;

  void SetPageWidth(float V) {
    EnsureLoaded();
    SetDocWidth(V);
  }
  void SetPageHeight(float V) {
    EnsureLoaded();
    SetDocHeight(V);
  }
  // The thumbnail, rebuilt first when stale or missing.
  platform::TBitmap* GetThumbnail();
  // Keeps a copy (the thumbnail stored in the archive) and clears the stale flag.
  void SetThumbnail(const platform::TBitmap* Bitmap);
  bool ThumbnailStale() const { return FThumbnailStale; }

  // Own settings (used when the page does not take the document's defaults).
  TBitmap32* BackgroundImage() const { return FBackgroundImage.get(); }
  void SetBackgroundImage(std::unique_ptr<TBitmap32> Image);
  bool BackgroundTiled() const { return FBackgroundTiled; }
  void SetBackgroundTiled(bool V);
  platform::TColor GridColor() const { return FGridColor; }
  void SetGridColor(platform::TColor V);
  float GridSize() const { return FGridSize; }
  void SetGridSize(float V);
  float MarginLeft() const { return FMarginLeft; }
  float MarginTop() const { return FMarginTop; }
  float MarginRight() const { return FMarginRight; }
  float MarginBottom() const { return FMarginBottom; }
  void SetMargins(float Left, float Top, float Right, float Bottom);
  platform::TColor PageColor() const { return FPageColor; }
  void SetPageColor(platform::TColor V);
  bool IsDefaultPage() const { return FIsDefaultPage; }
  void SetIsDefaultPage(bool V);
  bool Loaded() const { return FLoaded; }
  void SetLoaded(bool V) { FLoaded = V; }
  // Number (from 1) of the page's streams in the document's archive; 0 while the archive
  // holds nothing of this page. A page is read from, and must be written back unless
  // unchanged at, this number.
  int32_t StoredNumber() const { return FStoredNumber; }
  void SetStoredNumber(int32_t V) { FStoredNumber = V; }

  // The values used for painting and snapping: the document's defaults for a default page
  // of a document, else the page's own.
  float EffectiveMarginLeft();
  float EffectiveMarginTop();
  float EffectiveMarginRight();
  float EffectiveMarginBottom();
  float EffectiveGridSize();
  platform::TColor EffectiveGridColor();
  platform::TColor EffectivePageColor() const;
  TBitmap32* EffectiveBackgroundImage();
  bool EffectiveBackgroundTiled();

 private:
  bool UsesDefaults() const { return FIsDefaultPage && FDocument; }
  void PaintBand(platform::TCanvas* Canvas, const platform::TRect& Band, float Dpm, float Scale,
                 const platform::TRect& Target, int32_t PageW, int32_t PageH, int32_t OffX, int32_t OffY,
                 int32_t Rotation, bool Mirror, bool Flip, float P0, float P1);
  void PaintBackgroundImage(TBitmap32* Bitmap, TBitmap32* Image, const platform::TRect& PageRect);

  std::unique_ptr<TBitmap32> FBackgroundImage;
  bool FBackgroundTiled = false;
  platform::TColor FGridColor = 0xFFFFC0;
  float FGridSize = 5;
  bool FLoaded = true;
  float FMarginBottom = 0, FMarginLeft = 0, FMarginTop = 0, FMarginRight = 0;
  platform::TColor FPageColor = 0xFFFFFF;
  bool FThumbnailStale = false;
  std::unique_ptr<platform::TBitmap> FThumbnail;
  bool FIsDefaultPage = true;
  int32_t FStoredNumber = 0;
  TdtpFloatPoint FViewPosition{0, 0};
};

void InitializeDtpPage();

}  // namespace document
