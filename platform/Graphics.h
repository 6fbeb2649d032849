// The class library's drawing objects: pens, brushes, the canvas that draws with them, the
// bitmap, and the graphic/picture pair with its registry of picture formats by extension.
//
// A TCanvas draws on a Qt paint device (a widget during its paint, a TBitmap's image, a
// printer page) with the pixel rules of the Windows GDI: shapes exclude their right and
// bottom edges, lines leave out their last point, pen modes are raster operations, and text goes
// through the platform's text measurer so measuring and drawing always agree. Qt types appear
// here only as forward declarations for platform code that binds a canvas to a device.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Font.h"
#include "platform/Types.h"

class QImage;
class QPainter;
class QPaintDevice;

namespace platform {

class TCanvas;
class TBitmap;
class TGraphic;
class TRegion;
struct TBmpImage;

KD_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
KD_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum TBrushStyle : uint8_t {
  bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross
};

// Raster operations of CopyRect and Draw (the documented ROP codes).
using TCopyMode = uint32_t;
constexpr TCopyMode cmBlackness = 0x00000042;
constexpr TCopyMode cmDstInvert = 0x00550009;
constexpr TCopyMode cmMergeCopy = 0x00C000CA;
constexpr TCopyMode cmMergePaint = 0x00BB0226;
constexpr TCopyMode cmNotSrcCopy = 0x00330008;
constexpr TCopyMode cmNotSrcErase = 0x001100A6;
constexpr TCopyMode cmPatCopy = 0x00F00021;
constexpr TCopyMode cmPatInvert = 0x005A0049;
constexpr TCopyMode cmPatPaint = 0x00FB0A09;
constexpr TCopyMode cmSrcAnd = 0x008800C6;
constexpr TCopyMode cmSrcCopy = 0x00CC0020;
constexpr TCopyMode cmSrcErase = 0x00440328;
constexpr TCopyMode cmSrcInvert = 0x00660046;
constexpr TCopyMode cmSrcPaint = 0x00EE0086;
constexpr TCopyMode cmWhiteness = 0x00FF0062;
// The mask-through-brush operation: where the source is white the brush is painted, where it
// is black the destination stays (per bit: D xor (S and (P xor D))).
constexpr TCopyMode DSPDxax = 0x00E20746;

// Background modes of text and styled lines.
constexpr int32_t TRANSPARENT = 1;
constexpr int32_t OPAQUE = 2;

// Edge and border flags of DrawEdge.
constexpr uint32_t BDR_RAISEDOUTER = 0x0001;
constexpr uint32_t BDR_SUNKENOUTER = 0x0002;
constexpr uint32_t BDR_RAISEDINNER = 0x0004;
constexpr uint32_t BDR_SUNKENINNER = 0x0008;
constexpr uint32_t BDR_OUTER = BDR_RAISEDOUTER | BDR_SUNKENOUTER;
constexpr uint32_t BDR_INNER = BDR_RAISEDINNER | BDR_SUNKENINNER;
constexpr uint32_t BDR_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr uint32_t BDR_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr uint32_t EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr uint32_t EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr uint32_t EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr uint32_t EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr uint32_t BF_LEFT = 0x0001;
constexpr uint32_t BF_TOP = 0x0002;
constexpr uint32_t BF_RIGHT = 0x0004;
constexpr uint32_t BF_BOTTOM = 0x0008;
constexpr uint32_t BF_TOPLEFT = BF_TOP | BF_LEFT;
constexpr uint32_t BF_BOTTOMRIGHT = BF_BOTTOM | BF_RIGHT;
constexpr uint32_t BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
constexpr uint32_t BF_MIDDLE = 0x0800;
constexpr uint32_t BF_SOFT = 0x1000;
constexpr uint32_t BF_ADJUST = 0x2000;
constexpr uint32_t BF_FLAT = 0x4000;
constexpr uint32_t BF_MONO = 0x8000;

// Text flags beyond those declared with the font.
constexpr uint32_t DT_TABSTOP = 0x0080;
constexpr uint32_t DT_INTERNAL = 0x1000;
constexpr uint32_t DT_EDITCONTROL = 0x2000;

// Device capabilities of GetDeviceCaps.
constexpr int32_t HORZRES = 8;
constexpr int32_t VERTRES = 10;
constexpr int32_t LOGPIXELSX = 88;
constexpr int32_t LOGPIXELSY = 90;
constexpr int32_t PHYSICALWIDTH = 110;
constexpr int32_t PHYSICALHEIGHT = 111;
constexpr int32_t PHYSICALOFFSETX = 112;
constexpr int32_t PHYSICALOFFSETY = 113;

// Base of pens and brushes: a persistent description that reports its changes.
class TGraphicsObject : public TPersistent {
 public:
  TNotifyEvent OnChange;

 protected:
  void Changed();
};

class TPen : public TGraphicsObject {
 public:
  std::string ClassName() const override { return "TPen"; }
  void Assign(const TPersistent* Source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t Value);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle Value);
  TPenMode Mode() const { return FMode; }
  void SetMode(TPenMode Value);

 private:
  TColor FColor = clBlack;
  int32_t FWidth = 1;
  TPenStyle FStyle = psSolid;
  TPenMode FMode = pmCopy;
};

class TBrush : public TGraphicsObject {
 public:
  TBrush();
  ~TBrush() override;
  std::string ClassName() const override { return "TBrush"; }
  void Assign(const TPersistent* Source) override;

  TColor Color() const { return FColor; }
  // Setting a colour on a clear brush makes it solid again, as in the class library.
  void SetColor(TColor Value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);
  // A pattern bitmap replaces colour and style while set; the brush keeps its own copy.
  TBitmap* Bitmap() const { return FBitmap.get(); }
  void SetBitmap(const TBitmap* Value);

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  std::unique_ptr<TBitmap> FBitmap;
};

struct TCanvasState;

class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  std::string ClassName() const override { return "TCanvas"; }

  // Binds the canvas to a device (nullptr unbinds). The painter is opened on first use and
  // closed by Release, by rebinding, and before the owner touches the device's pixels.
  void SetDevice(QPaintDevice* Device);
  // Binds to a painter someone else opened (a widget's paint event); the canvas never ends it.
  void SetPainter(QPainter* Painter);
  QPaintDevice* Device() const;
  bool HandleAllocated() const;
  // Ends the canvas's own painter; pen position, clipping and objects are kept for the next use.
  void Release();
  // The painter for platform code that needs Qt directly; opened on demand, nullptr unbound.
  QPainter* Painter();

  TPen* Pen() { return FPen.get(); }
  void SetPen(const TPen* Value) { FPen->Assign(Value); }
  TBrush* Brush() { return FBrush.get(); }
  void SetBrush(const TBrush* Value) { FBrush->Assign(Value); }
  TFont* Font() { return FFont.get(); }
  void SetFont(const TFont* Value) { FFont->Assign(Value); }
  TCopyMode CopyMode() const { return FCopyMode; }
  void SetCopyMode(TCopyMode Value) { FCopyMode = Value; }
  TPoint PenPos() const { return FPenPos; }
  void SetPenPos(TPoint Value) { FPenPos = Value; }

  // Background of text cells, hatch gaps and dash gaps. A brush change sets them from the brush
  // (solid: OPAQUE in the brush colour; otherwise TRANSPARENT); SetBkMode overrides until then.
  int32_t BkMode() const;
  int32_t SetBkMode(int32_t Mode);  // returns the previous mode
  TColor BkColor() const;
  TColor SetBkColor(TColor Color);

  void MoveTo(int32_t X, int32_t Y);
  void LineTo(int32_t X, int32_t Y);
  void Polyline(const std::vector<TPoint>& Points);
  void Polygon(const std::vector<TPoint>& Points);
  void Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Rectangle(const TRect& R) { Rectangle(R.Left, R.Top, R.Right, R.Bottom); }
  void Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Ellipse(const TRect& R) { Ellipse(R.Left, R.Top, R.Right, R.Bottom); }
  void RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3);
  void FillRect(const TRect& R);
  void FrameRect(const TRect& R);
  // Inverts a dotted frame; drawing it twice restores the pixels.
  void DrawFocusRect(const TRect& R);
  void FillRgn(const TRegion& Rgn);

  void TextOut(int32_t X, int32_t Y, std::string_view Text);
  void TextRect(const TRect& R, int32_t X, int32_t Y, std::string_view Text);
  TSize TextExtent(std::string_view Text);
  int32_t TextWidth(std::string_view Text) { return TextExtent(Text).cx; }
  int32_t TextHeight(std::string_view Text) { return TextExtent(Text).cy; }
  // DrawText with the DT_ flags; returns the text height (with DT_VCENTER or DT_BOTTOM the
  // offset from R.Top to the bottom of the text). DT_CALCRECT only measures and adjusts R.
  int32_t DrawText(std::string_view Text, TRect& R, uint32_t Flags);

  // Clipping, in canvas coordinates. ClipRect is the clip box (the device when unclipped).
  TRect ClipRect();
  void IntersectClipRect(const TRect& R);
  void ExcludeClipRect(const TRect& R);
  // nullptr removes the clip region.
  void SelectClipRgn(const TRegion* Rgn);
  // The clip region in force (GetClipRgn): false, with Rgn untouched, when the canvas is unclipped.
  bool GetClipRgn(TRegion& Rgn) const;

  void Draw(int32_t X, int32_t Y, TGraphic* Graphic);
  void StretchDraw(const TRect& R, TGraphic* Graphic);
  // Copies Source's pixels from SrcRect into Dest (stretched, mirrored when a rectangle runs
  // backwards) with CopyMode.
  void CopyRect(const TRect& Dest, TCanvas* Source, const TRect& SrcRect);
  // Fills R by a raster operation that needs no source: cmPatCopy, cmPatInvert, cmDstInvert,
  // cmBlackness or cmWhiteness; others do nothing. The brush pattern starts at the origin.
  void PatBlt(const TRect& R, TCopyMode Rop);
  // Copies with the pixels of Color in the source replaced by the brush (transparent draw).
  void BrushCopy(const TRect& Dest, TBitmap* Bitmap, const TRect& Source, TColor Color);

  // $00BBGGRR; reading needs an image device (-1 otherwise or outside it).
  TColor Pixel(int32_t X, int32_t Y);
  void SetPixel(int32_t X, int32_t Y, TColor Color);

  int32_t GetDeviceCaps(int32_t Index);

  // Exclusive use across threads (a frame copied in by a media callback while the GUI would
  // paint the bitmap); recursive. Drawing calls do not take the lock themselves.
  void Lock();
  void Unlock();
  bool TryLock();
  int32_t LockCount() const;

  // Physical page size and offsets for printer canvases (0 for other devices).
  void SetPhysicalPage(int32_t Width, int32_t Height, int32_t OffsetX, int32_t OffsetY);

  // Expires when the canvas is destroyed: a holder that may outlive the canvas tells from it
  // whether the canvas is still there without touching it.
  std::weak_ptr<const void> Lifetime() const { return FLifetime; }

 private:
  friend class TBitmap;
  QImage* DeviceImage() const;
  void PreparePainter();
  template <typename Fn>
  void Shape(const TRect& Bounds, Fn&& draw);
  void ThinLine(const std::vector<TPoint>& Points);
  // The brush painted over Area into a transparent image (hatch gaps as the background mode says).
  QImage BrushLayer(const TRect& Area);
  // Image device the canvas may write to directly (its own painter or none), else nullptr.
  QImage* WritableImage();
  friend struct TTextPainter;

  std::unique_ptr<TPen> FPen;
  std::unique_ptr<TBrush> FBrush;
  std::unique_ptr<TFont> FFont;
  TCopyMode FCopyMode = cmSrcCopy;
  TPoint FPenPos;
  std::unique_ptr<TCanvasState> FState;
  std::shared_ptr<const void> FLifetime = std::make_shared<char>(0);
};

// Shrinks R by one pixel per frame line, drawing each line's top and left in TopColor and its
// bottom and right in BottomColor.
void Frame3D(TCanvas* Canvas, TRect& R, TColor TopColor, TColor BottomColor, int32_t Width);
// The platform's 3D edges with BDR_/EDGE_ and BF_ flags; with BF_ADJUST R becomes the inner
// rectangle.
bool DrawEdge(TCanvas* Canvas, TRect& R, uint32_t Edge, uint32_t Flags);
// DrawText as a free function, for callers that have a canvas and a rectangle.
inline int32_t DrawText(TCanvas* Canvas, std::string_view Text, TRect& R, uint32_t Flags) {
  return Canvas->DrawText(Text, R, Flags);
}

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TTransparentMode : uint8_t { tmAuto, tmFixed };

// A logical palette: at most 256 colours, $00BBGGRR each.
using TPaletteEntries = std::vector<TColor>;

// Index of the entry nearest to Color (sum of squared channel differences; the first of equal
// distances); -1 for an empty palette. System colours are resolved first.
int32_t GetNearestPaletteIndex(const TPaletteEntries& Palette, TColor Color);

// A drawable image. Descendants load and save themselves and draw onto a canvas.
class TGraphic : public TPersistent {
 public:
  std::string ClassName() const override { return "TGraphic"; }
  virtual bool Empty() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual void SetWidth(int32_t Value) = 0;
  virtual void SetHeight(int32_t Value) = 0;
  virtual void LoadFromStream(TStream* Stream) = 0;
  virtual void SaveToStream(TStream* Stream) = 0;
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName);
  // Draws the whole graphic stretched into R.
  virtual void Draw(TCanvas* Canvas, const TRect& R) = 0;
  // An empty graphic of the same class (nullptr: found through the format registry).
  virtual std::unique_ptr<TGraphic> CreateNew() const;
  // Same class and the same saved bytes (both empty counts as equal).
  virtual bool Equals(const TGraphic* Other) const;

  // The clipboard exchange: the graphic as one clipboard format (Format, the data block and the
  // palette), and the graphic rebuilt from one. An empty Data block on loading means "the
  // clipboard's own data of Format". The base supports no format and raises EInvalidGraphic
  // "Unsupported clipboard format".
  virtual void SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data, TPaletteEntries& Palette);
  virtual void LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                                       const TPaletteEntries& Palette);

  // The colours the graphic is drawn with; empty, and setting ignored, for one without a palette.
  virtual TPaletteEntries GetPalette() { return {}; }
  virtual void SetPalette(const TPaletteEntries&) {}

  bool Transparent() const { return FTransparent; }
  virtual void SetTransparent(bool Value);
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  TNotifyEvent OnChange;

 protected:
  virtual void Changed();
  bool FTransparent = false;
  bool FModified = false;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// Progress of a long graphic operation (decoding): starting at 0, running, ending at 100 (or
// where it stopped). RedrawNow asks the listener to show the part R of the graphic now.
enum TProgressStage : uint8_t { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone,
                                          bool RedrawNow, const TRect& R, const std::string& Msg)>;

// Registers a graphic class for a file extension (without the dot, case-insensitive); a later
// registration of the same extension replaces the earlier one. "bmp" is built in.
void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        TGraphicFactory Factory);
void UnregisterFileFormat(const std::string& Extension);
// The factory for an extension, or an empty function.
TGraphicFactory FindFileFormat(const std::string& Extension);
// Open/save dialog filter of every registered format ("All (*.bmp;*.gif)|*.bmp;*.gif|...").
std::string GraphicFilter();

// Ties a clipboard format to the graphic class that loads it, for pictures pasted from the
// clipboard; a later registration of the same format replaces the earlier one. CF_BITMAP is
// built in (TBitmap).
void RegisterClipboardGraphic(uint16_t Format, TGraphicFactory Factory);
void UnregisterClipboardGraphic(uint16_t Format);
TGraphicFactory FindClipboardGraphic(uint16_t Format);

// A picture holds one graphic of any registered kind.
class TPicture : public TPersistent {
 public:
  TPicture();
  ~TPicture() override;
  std::string ClassName() const override { return "TPicture"; }
  void Assign(const TPersistent* Source) override;

  TGraphic* Graphic() const { return FGraphic.get(); }
  // Copies Value (nullptr empties the picture).
  void SetGraphic(const TGraphic* Value);
  // The graphic as a bitmap; another graphic is replaced by an empty bitmap.
  TBitmap* Bitmap();
  int32_t Width() const;
  int32_t Height() const;

  // Picks the graphic class by extension; raises EInvalidGraphic
  // "Unknown picture file extension (.ext)" when none is registered.
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);
  // The graphic class tied to Format loads the data; EInvalidGraphic "Unsupported clipboard
  // format" when none is.
  void LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data, const TPaletteEntries& Palette);
  void SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data, TPaletteEntries& Palette);
  static bool SupportsClipboardFormat(uint16_t Format);

  TNotifyEvent OnChange;

 private:
  void GraphicChanged(TObject* Sender);
  void TakeGraphic(std::unique_ptr<TGraphic> G);
  void Changed();
  std::unique_ptr<TGraphic> FGraphic;
};

// The class library's bitmap. pf24bit rows are 3 bytes a pixel (BGR), pf32bit and pfDevice rows
// 4 bytes (BGRA, the fourth byte kept but ignored when drawing, as on the platform); pf1bit,
// pf4bit and pf8bit rows hold palette indices packed most significant bits first, as in a
// device-independent bitmap; rows are padded to 4 bytes. pf15bit and pf16bit are stored as
// pf24bit.
//
// A palette bitmap keeps its indices and palette as the truth and draws through a 32-bit copy
// made on demand. Drawing on its canvas works: the changed pixels are mapped to the nearest
// palette entry at the next ScanLine, save or format change (unchanged pixels keep their
// index, also where the palette holds the same colour twice). A canvas kept across ScanLine
// writes sees them only after the next Canvas() call.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  std::string ClassName() const override { return "TBitmap"; }
  void Assign(const TPersistent* Source) override;

  bool Empty() const override;
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t Value) override;
  void SetHeight(int32_t Value) override;
  // New pixels are white; the size is checked before anything is allocated.
  void SetSize(int32_t W, int32_t H);
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // Converting to a palette format maps every pixel to the nearest entry of the palette (a
  // default one for the depth when the bitmap has none: black and white; the 16 standard
  // colours; the 6x6x6 colour cube with 40 greys); converting from one expands the indices.
  void SetPixelFormat(TPixelFormat Value);
  // Bits of one pixel in the ScanLine rows (1, 4, 8, 24 or 32) and the bytes of one row.
  int32_t BitsPerPixel() const;
  int32_t RowBytes() const;

  // The palette: the colour table of a palette bitmap (at most 2^bits entries; indices beyond
  // it show black), kept but unused by the other formats. Setting it on a palette bitmap keeps
  // the indices and changes the colours they show.
  TPaletteEntries GetPalette() override { return FPalette; }
  const TPaletteEntries& Palette() const { return FPalette; }
  void SetPalette(const TPaletteEntries& Value) override;

  TCanvas* Canvas();
  // Row Row of the pixels, top-down; raises EInvalidGraphicOperation "Scan line index out of
  // range" outside 0..Height-1.
  void* ScanLine(int32_t Row);
  // The colour index of a pixel of a palette bitmap (0 for other formats or outside).
  uint8_t PixelIndex(int32_t X, int32_t Y);

  // Transparent colour: the bottom-left pixel under tmAuto, the set colour under tmFixed.
  TColor TransparentColor();
  void SetTransparentColor(TColor Value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode Value);

  // Windows BMP files; palette bitmaps are written and read with their depth and colour table.
  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  void Draw(TCanvas* Canvas, const TRect& R) override;
  std::unique_ptr<TGraphic> CreateNew() const override;

  // CF_BITMAP: the data block is the bitmap as a BMP file (depth, palette and the fourth byte
  // of 32-bit pixels kept). Loading another format, or CF_BITMAP with no data when the clipboard
  // holds no bitmap, raises EInvalidGraphic "Unsupported clipboard format".
  void SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data, TPaletteEntries& Palette) override;
  void LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                               const TPaletteEntries& Palette) override;

  // The pixels, for platform code (the canvas's painter is closed first). For a palette bitmap
  // this is the 32-bit copy it draws through; writes to it are mapped back as canvas drawing is.
  QImage& Image();
  const QImage& Image() const;

 private:
  void PrepareChange();
  bool Indexed() const { return FPixelFormat == pf1bit || FPixelFormat == pf4bit || FPixelFormat == pf8bit; }
  // Palette bitmaps: rebuild the 32-bit copy from the indices when they changed; hand it out
  // for drawing (a snapshot remembers what it showed); map drawn pixels back to indices.
  void SyncImage() const;
  void HandOutImage();
  void SyncIndices();
  void LoadBmp(TBmpImage& Bmp);
  TCanvas* EnsureCanvas();
  std::unique_ptr<QImage> FImage;
  std::unique_ptr<TCanvas> FCanvas;
  std::vector<uint8_t> FIndices;  // palette formats: rows of RowBytes(), top row first
  TPaletteEntries FPalette;
  mutable bool FImageStale = false;
  bool FImageOut = false;
  std::unique_ptr<QImage> FSnapshot;
  TPixelFormat FPixelFormat = pfDevice;
  TTransparentMode FTransparentMode = tmAuto;
  int32_t FWidth = 0;  // kept while the other side is 0
  int32_t FHeight = 0;
  TColor FTransparentColor = clDefault;
  friend class TCanvas;
};

}  // namespace platform
