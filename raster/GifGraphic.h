// GIF files (87a and 89a) read into and written from an object model that keeps every part of
// the file: the header with the global colour table, one object per frame with its extension
// blocks, local colour table and decoded pixel indices, and the trailer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace raster {

KD_DECLARE_EXCEPTION(GIFException, platform::EInvalidGraphic);

inline constexpr const char* sPrematureEOF = "Premature end of data";
inline constexpr const char* sBadSignature = "Invalid GIF signature";
inline constexpr const char* sBadScreenColors = "Invalid number of colors specified in Screen Descriptor";
inline constexpr const char* sBadImageColors = "Invalid number of colors specified in Image Descriptor";
inline constexpr const char* sUnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* sUnknownBlock = "Unknown GIF block type";
inline constexpr const char* sBadExtension = "Invalid extension introducer";
inline constexpr const char* sUnknownExtension = "Unknown extension type";
inline constexpr const char* sExtensionMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* sBadAppBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* sBadGIFData = "Invalid GIF data";
inline constexpr const char* sBadTrailer = "Invalid Image trailer";
inline constexpr const char* sScreenSizeExceeded = "Image exceeds Logical Screen size";
inline constexpr const char* sColorTableOverflow = "Color table overflow";
inline constexpr const char* sBadColorIndex = "Invalid color index";
inline constexpr const char* sColorTableEmpty = "Color table is empty";
inline constexpr const char* sImageEmpty = "Image is empty";
inline constexpr const char* sBadPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* sCircularTable = "Circular decoder table entry";
inline constexpr const char* sDecoderUnderrun = "Decoder bit buffer under-run";
inline constexpr const char* sColorNotInTable = "Color not in color table";
inline constexpr const char* sWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* sHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* sUnsupportedObject = "Object type not supported for operation";
inline constexpr const char* sNoColorTable = "No global or local color table defined";
inline constexpr const char* sUnsupportedClipboard = "Unsupported clipboard format";
inline constexpr const char* sInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* sInvalidReduction = "Invalid reduction method";

// Draw options.
inline constexpr uint16_t goAsync = 0x0001;
inline constexpr uint16_t goTransparent = 0x0002;
inline constexpr uint16_t goAnimate = 0x0004;
inline constexpr uint16_t goLoop = 0x0008;
inline constexpr uint16_t goLoopForever = 0x0010;
inline constexpr uint16_t goValidateCanvas = 0x0020;
inline constexpr uint16_t goDirectDraw = 0x0040;
inline constexpr uint16_t goClearOnLoop = 0x0080;
inline constexpr uint16_t goTile = 0x0100;
inline constexpr uint16_t goDither = 0x0200;
inline constexpr uint16_t goAutoDither = 0x0400;
inline constexpr uint16_t GIFDefaultDrawOptions = 0x060F;

// Colour reduction methods and ditherers of pictures turned into frames.
enum TColorReduction : uint8_t {
  rmNone, rmWindows20, rmWindowsHalftone, rmGrayScale4, rmMonochrome, rmGrayScale, rmCube216,
  rmQuantize, rmQuantizeSystem, rmPalette
};
enum TDitherMode : uint8_t { dmNearest, dmFloydSteinberg, dmStucki, dmSierra, dmJaJuNi, dmSteveArche, dmBurkes };
enum TGIFCompression : uint8_t { gcLZW, gcRLE };

// Timing, in hundredths of a second; one hundredth is waited as GIFDelayUnit ms.
inline constexpr int32_t GIFDefaultDelay = 10;
inline constexpr int32_t GIFMinimumDelay = 3;
inline constexpr int32_t GIFMaximumDelay = 1000;
inline constexpr int32_t GIFDelayUnit = 12;

class TGifGraphic;
class TGIFSubImage;
class TGIFPainter;

// A palette as the platform would hold it: up to 256 colours ($00BBGGRR).
using TGIFPaletteEntries = std::vector<platform::TColor>;

// ---------------------------------------------------------------------------------------------
// Items

class TGIFItem : public platform::TPersistent {
 public:
  explicit TGIFItem(TGifGraphic* AImage) : FImage(AImage) {}
  std::string ClassName() const override { return "TGIFItem"; }
  TGifGraphic* Image() const { return FImage; }
  // 1 = "87a", 2 = "89a".
  virtual int32_t GetVersion() const { return 1; }
  virtual void Warning(int32_t Severity, const std::string& Message);
  virtual void SaveToStream(platform::TStream* Stream) = 0;
  virtual void LoadFromStream(platform::TStream* Stream) = 0;
  virtual void SaveToFile(const std::string& FileName);
  virtual void LoadFromFile(const std::string& FileName);

 protected:
  TGifGraphic* FImage;
};

// One colour table: RGB triples, at most 256.
class TGIFColorMap : public platform::TPersistent {
 public:
  explicit TGIFColorMap(TGifGraphic* AImage) : FImage(AImage) {}
  std::string ClassName() const override { return "TGIFColorMap"; }
  void Assign(const platform::TPersistent* Source) override;
  int32_t Count() const { return static_cast<int32_t>(FData.size() / 3); }
  int32_t Capacity() const { return FCapacity; }
  int32_t Add(platform::TColor Color);
  int32_t AddUnique(platform::TColor Color);
  int32_t IndexOf(platform::TColor Color) const;
  void Delete(int32_t Index);
  platform::TColor Colors(int32_t Index) const;
  void SetColors(int32_t Index, platform::TColor Color);
  void Clear();
  void ImportPalette(const TGIFPaletteEntries& Palette);
  // The colour table of a 1-, 4- or 8-bit bitmap (at most 2^bits entries); other bitmaps have none.
  void ImportDIBColors(const platform::TBitmap& Bitmap);
  // RGBQUAD entries (blue, green, red, reserved).
  void ImportColorTable(const uint8_t* RGBQuads, int32_t ACount);
  TGIFPaletteEntries ExportPalette() const;
  int32_t BitsPerPixel() const;
  void SaveToStream(platform::TStream* Stream) const;
  void LoadFromStream(platform::TStream* Stream, int32_t ACount);
  const uint8_t* Data() const { return FData.data(); }
  // Sorts the entries by use, most used first, and drops the unused ones; false with at most one entry.
  virtual bool Optimize() { return false; }
  virtual void Changed() {}
  void Warning(int32_t Severity, const std::string& Message) const;
  bool Optimized = false;  // the table is sorted by use (written as the sorted flag)

 protected:
  void Grow(int32_t N);
  // Reorders by the use counts of its pixels; Remap(map) rewrites the users' indices.
  bool OptimizeBy(std::array<int64_t, 256>& Counts, const std::function<void(const uint8_t* Map)>& Remap);
  TGifGraphic* FImage;
  std::vector<uint8_t> FData;
  int32_t FCapacity = 0;
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGifGraphic* AImage) : TGIFColorMap(AImage) {}
  std::string ClassName() const override { return "TGIFGlobalColorMap"; }
  bool Optimize() override;
  void Changed() override;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  TGIFLocalColorMap(TGifGraphic* AImage, TGIFSubImage* AOwner) : TGIFColorMap(AImage), FOwner(AOwner) {}
  std::string ClassName() const override { return "TGIFLocalColorMap"; }
  bool Optimize() override;
  void Changed() override;

 private:
  TGIFSubImage* FOwner;
};

class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGifGraphic* AImage) : TGIFItem(AImage), ColorMap(AImage) {}
  std::string ClassName() const override { return "TGIFHeader"; }
  // Another header's screen descriptor and global table, or a colour table as the global table.
  void Assign(const platform::TPersistent* Source) override;
  int32_t GetVersion() const override;
  void SaveToStream(platform::TStream* Stream) override;
  void LoadFromStream(platform::TStream* Stream) override;
  void Clear();
  // Recomputes the packed byte from the tables (the colour resolution from every table).
  void Prepare();

  uint16_t ScreenWidth = 0;
  uint16_t ScreenHeight = 0;
  uint8_t Packed = 0;
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;
  TGIFGlobalColorMap ColorMap;
};

class TGIFTrailer : public TGIFItem {
 public:
  explicit TGIFTrailer(TGifGraphic* AImage) : TGIFItem(AImage) {}
  std::string ClassName() const override { return "TGIFTrailer"; }
  void SaveToStream(platform::TStream* Stream) override;
  void LoadFromStream(platform::TStream* Stream) override;
};

// ---------------------------------------------------------------------------------------------
// Extensions: "!", label, data, terminator.

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* AOwner);
  std::string ClassName() const override { return "TGIFExtension"; }
  TGIFSubImage* Owner() const { return FOwner; }
  virtual uint8_t GetLabel() const = 0;
  int32_t GetVersion() const override { return 2; }
  // A copy of this extension for another frame.
  virtual std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const = 0;
  void SaveToStream(platform::TStream* Stream) override;
  void LoadFromStream(platform::TStream* Stream) override;

 protected:
  virtual void SaveData(platform::TStream* Stream) = 0;
  virtual void LoadData(platform::TStream* Stream) = 0;
  TGIFSubImage* FOwner;
};

// Chooses the class for the block whose label was just read; the stream stands after the label
// and must be left there.
using TGIFExtensionFactory = std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage* Owner, platform::TStream*)>;
// The extension registry; a later registration of a label wins.
void RegisterExtension(uint8_t Label, TGIFExtensionFactory Factory);
using TGIFAppExtensionFactory = std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage* Owner)>;
// The application-extension registry, keyed by the 11 bytes of identifier and code.
void RegisterAppExtension(const std::string& IdentifierAndCode, TGIFAppExtensionFactory Factory);

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  explicit TGIFGraphicControlExtension(TGIFSubImage* AOwner);
  ~TGIFGraphicControlExtension() override;
  std::string ClassName() const override { return "TGIFGraphicControlExtension"; }
  uint8_t GetLabel() const override { return 0xF9; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const override;

  uint8_t Packed() const { return FData[1]; }
  bool Transparent() const { return (FData[1] & 1) != 0; }
  void SetTransparent(bool Value);
  bool UserInput() const { return (FData[1] & 2) != 0; }
  void SetUserInput(bool Value);
  uint8_t Disposal() const { return (FData[1] >> 2) & 7; }
  void SetDisposal(uint8_t Value);
  uint16_t Delay() const { return static_cast<uint16_t>(FData[2] | FData[3] << 8); }
  void SetDelay(uint16_t Value);
  uint8_t TransparentColorIndex() const { return FData[4]; }
  // An index beyond the frame's active table warns and uses 0.
  void SetTransparentColorIndex(int32_t Index);
  const std::array<uint8_t, 6>& Bytes() const { return FData; }

 protected:
  void SaveData(platform::TStream* Stream) override;
  void LoadData(platform::TStream* Stream) override;

 private:
  std::array<uint8_t, 6> FData{4, 0, 0, 0, 0, 0};
};

class TGIFTextExtension : public TGIFExtension {
 public:
  explicit TGIFTextExtension(TGIFSubImage* AOwner) : TGIFExtension(AOwner) { Fixed[0] = 12; }
  std::string ClassName() const override { return "TGIFTextExtension"; }
  uint8_t GetLabel() const override { return 0x01; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const override;
  std::array<uint8_t, 13> Fixed{};  // block size, grid, cell size, colour indices
  std::vector<std::string> Text;    // one line per sub-block

 protected:
  void SaveData(platform::TStream* Stream) override;
  void LoadData(platform::TStream* Stream) override;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  explicit TGIFCommentExtension(TGIFSubImage* AOwner) : TGIFExtension(AOwner) {}
  std::string ClassName() const override { return "TGIFCommentExtension"; }
  uint8_t GetLabel() const override { return 0xFE; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const override;
  std::vector<std::string> Text;

 protected:
  void SaveData(platform::TStream* Stream) override;
  void LoadData(platform::TStream* Stream) override;
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  explicit TGIFApplicationExtension(TGIFSubImage* AOwner) : TGIFExtension(AOwner) {}
  std::string ClassName() const override { return "TGIFApplicationExtension"; }
  uint8_t GetLabel() const override { return 0xFF; }
  std::array<uint8_t, 8> Identifier{};
  std::array<uint8_t, 3> Authentication{};

 protected:
  void SaveData(platform::TStream* Stream) override;
  void LoadData(platform::TStream* Stream) override;
  virtual void SaveAppData(platform::TStream* Stream) = 0;
  virtual void LoadAppData(platform::TStream* Stream) = 0;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  explicit TGIFUnknownAppExtension(TGIFSubImage* AOwner) : TGIFApplicationExtension(AOwner) {}
  std::string ClassName() const override { return "TGIFUnknownAppExtension"; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const override;
  std::vector<std::string> Blocks;  // the data sub-blocks as read

 protected:
  void SaveAppData(platform::TStream* Stream) override;
  void LoadAppData(platform::TStream* Stream) override;
};

// The looping block ("NETSCAPE2.0" / "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* AOwner);
  std::string ClassName() const override { return "TGIFAppExtNSLoop"; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* NewOwner) const override;
  uint16_t Loops = 0;  // 0: without end
  uint32_t BufferSize = 0;

 protected:
  void SaveAppData(platform::TStream* Stream) override;
  void LoadAppData(platform::TStream* Stream) override;
};

// ---------------------------------------------------------------------------------------------
// Frames

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGifGraphic* AImage);
  ~TGIFSubImage() override;
  std::string ClassName() const override { return "TGIFSubImage"; }
  // Another frame is copied; a TBitmap32 or a class-library picture is converted.
  void Assign(const platform::TPersistent* Source) override;
  int32_t Left() const { return Descriptor[1] | Descriptor[2] << 8; }
  int32_t Top() const { return Descriptor[3] | Descriptor[4] << 8; }
  int32_t Width() const { return Descriptor[5] | Descriptor[6] << 8; }
  int32_t Height() const { return Descriptor[7] | Descriptor[8] << 8; }
  platform::TRect BoundsRect() const { return platform::Rect(Left(), Top(), Left() + Width(), Top() + Height()); }
  bool Interlaced() const { return (Descriptor[9] & 0x40) != 0; }
  void SetInterlaced(bool Value);
  // Drops the pixels and allocates a zeroed buffer when the size changes; grows the screen.
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  uint8_t GetPixel(int32_t X, int32_t Y) const;
  uint8_t* Scanline(int32_t Y);
  // Without its width x height pixel indices a frame is neither drawn nor written.
  bool Empty() const { return Width() == 0 || Height() == 0 || Data.size() != size_t(Width()) * Height(); }
  TGIFColorMap& ActiveColorMap();
  const TGIFColorMap& ActiveColorMap() const;
  int32_t GetVersion() const override;
  void Clear();

  TGIFGraphicControlExtension* GraphicControlExtension() const { return FGCE; }
  bool HasGraphicControl() const { return FGCE != nullptr; }
  // The first graphic control extension gives the transparent index.
  bool Transparent() const { return FGCE && FGCE->Transparent(); }
  int32_t TransparentIndex() const { return Transparent() ? FGCE->TransparentColorIndex() : -1; }
  // Takes an extension made for this frame.
  TGIFExtension* AddExtension(std::unique_ptr<TGIFExtension> Extension);
  void DeleteExtension(TGIFExtension* Extension);
  int32_t ExtensionCount() const { return static_cast<int32_t>(FExtensions.size()); }
  TGIFExtension* Extensions(int32_t Index) const { return FExtensions.at(Index).get(); }

  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  // The frame's pixels as a 32-bit picture of its own size: opaque colours, transparent pixels
  // alpha 0. Cached until the pixels, bounds or tables change.
  const std::vector<uint32_t>& Pixels32();
  void Changed();
  // One frame onto Canvas (its rectangle scaled from the screen into R, or at its own size at
  // every tile position); through its transparency with DoTransparent.
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R, bool DoTransparent, bool DoTile);
  // The frame on its own as a bitmap of its size.
  void AssignTo(platform::TPersistent* Dest) const override;

  uint8_t Descriptor[10] = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> Data;
  TGIFLocalColorMap ColorMap;

 private:
  friend class TGIFGraphicControlExtension;
  std::vector<std::unique_ptr<TGIFExtension>> FExtensions;
  TGIFGraphicControlExtension* FGCE = nullptr;
  std::vector<uint32_t> FPixels32;
  bool FPixelsStale = true;
  bool FPixelsCube = false;
};

// ---------------------------------------------------------------------------------------------
// The image

using TGIFWarning = std::function<void(platform::TObject* Sender, int32_t Severity, const std::string& Message)>;
// Stage 0 starting, 1 running, 2 ending.
using TGIFProgress = std::function<void(platform::TObject* Sender, int32_t Stage, int32_t Percent, bool RedrawNow,
                                        const platform::TRect& R, const std::string& Message)>;

class TGifGraphic : public platform::TGraphic {
 public:
  TGifGraphic();
  ~TGifGraphic() override;
  std::string ClassName() const override { return "TGifGraphic"; }

  // nullptr clears; another TGifGraphic is copied; any other graphic becomes one frame.
  void Assign(const platform::TPersistent* Source) override;
  void Clear();
  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  bool Empty() const override { return FImages.empty(); }
  int32_t Width() const override { return Header.ScreenWidth; }
  int32_t Height() const override { return Header.ScreenHeight; }
  void SetWidth(int32_t Value) override;
  void SetHeight(int32_t Value) override;
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R) override;
  std::unique_ptr<platform::TGraphic> CreateNew() const override { return std::make_unique<TGifGraphic>(); }
  // True only for the same object.
  bool Equals(const platform::TGraphic* Other) const override { return Other == this; }
  // Returns the image as a bitmap and puts the GIF file itself on the clipboard under CF_GIF.
  void SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data,
                             platform::TPaletteEntries& Palette) override;
  // CF_GIF: the bytes are a GIF file; CF_BITMAP: the bitmap becomes one frame. Empty Data means
  // the clipboard's own data of Format.
  void LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                               const platform::TPaletteEntries& Palette) override;

  int32_t Count() const { return static_cast<int32_t>(FImages.size()); }
  TGIFSubImage* Images(int32_t Index) const { return FImages.at(Index).get(); }
  TGIFSubImage* Add();  // a new empty frame
  // A frame converted from a graphic, or a frame taken as it is (ownership passes).
  TGIFSubImage* Add(const platform::TPersistent* Source);
  TGIFSubImage* Add(std::unique_ptr<TGIFSubImage> Frame);
  void Delete(int32_t Index);
  TGIFColorMap& GlobalColorMap() { return Header.ColorMap; }
  int32_t HighestBitsPerPixel() const;
  // Loop count of the first looping extension of any frame, -1 without one.
  int32_t Loops() const;

  // The palette the image is drawn with: the cube when dithering for a palette display, else the
  // global table, else frame 0's.
  TGIFPaletteEntries GetPalette() override;
  void SetPalette(const TGIFPaletteEntries& Value) override;
  bool CubePaletteInUse() const;

  // Stops every painter of this image.
  void StopDraw();
  TGIFPainter* Painter() const { return FPainter; }
  // The whole image as last painted off-screen (nullptr when none).
  platform::TBitmap* Bitmap() const { return FBitmap.get(); }
  void DropBitmap();

  void Warning(platform::TObject* Sender, int32_t Severity, const std::string& Message);
  void Progress(platform::TObject* Sender, int32_t Stage, int32_t Percent, const std::string& Message);
  // Clean-up pass over the frames (option bits 1, 2, 4, 8, 16).
  void Optimize(uint8_t Options, TColorReduction AColorReduction, TDitherMode ADitherMode, int32_t AReductionBits);
  void Changed() override;

  TGIFHeader Header;
  uint16_t DrawOptions = GIFDefaultDrawOptions;
  TColorReduction ColorReduction = rmCube216;
  int32_t ReductionBits = 8;
  TDitherMode DitherMode = dmNearest;
  TGIFCompression Compression = gcLZW;
  uint8_t ThreadPriority = 3;
  int32_t AnimationSpeed = 100;  // percent
  platform::TColor BackgroundColor = 0x1FFFFFFF;  // clNone
  TGIFWarning OnWarning;
  TGIFProgress OnProgress;
  platform::TNotifyEvent OnPaintStart, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;

 protected:
  void AssignTo(platform::TPersistent* Dest) const override;

 private:
  friend class TGIFPainter;
  std::vector<std::unique_ptr<TGIFSubImage>> FImages;
  TGIFPaletteEntries FPalette;
  bool FDrawing = false;
  bool FGettingPalette = false;
  void ReleasePainter(TGIFPainter* P);
  TGIFPainter* FPainter = nullptr;
  std::vector<TGIFPainter*> FPainters;
  platform::TCanvas* FDrawCanvas = nullptr;  // where the own painter's animation is shown
  platform::TRect FDrawRect{};
  std::unique_ptr<platform::TBitmap> FBitmap;
};

// ---------------------------------------------------------------------------------------------
// Drawing and animation

// Time and waiting for painters: milliseconds, a blocking wait for synchronous painting, and a
// GUI-thread wake-up for background painting. Tests put a fake clock in its place.
class TGIFClock {
 public:
  virtual ~TGIFClock() = default;
  virtual int64_t Now() = 0;
  virtual void Sleep(int32_t Ms) = 0;
  // Calls Painter->Tick() after Ms milliseconds on the GUI thread; a new call replaces the old.
  virtual void Schedule(TGIFPainter* Painter, int32_t Ms) = 0;
  virtual void Cancel(TGIFPainter* Painter) = 0;
};
// nullptr restores the system clock (GetTickCount, sleeping, platform timers).
void SetGIFClock(TGIFClock* Clock);
TGIFClock* GIFClock();

// Plays the frames of an image onto a canvas with their delays, disposal methods and loop count:
// all at once inside Draw (synchronous), or one frame per timer tick on the GUI thread.
class TGIFPainter : public platform::TObject {
 public:
  TGIFPainter(TGifGraphic* AImage, platform::TCanvas* ACanvas, const platform::TRect& ARect, uint16_t AOptions);
  ~TGIFPainter() override;
  std::string ClassName() const override { return "TGIFPainter"; }
  bool Async() const { return (DrawOptions & goAsync) != 0; }
  // Synchronous: plays everything. Asynchronous: paints the first frame and schedules the next.
  void Execute();
  // The clock's wake-up of an asynchronous painter.
  void Tick();
  void Stop();
  bool Terminated() const { return FTerminated; }
  bool Started() const { return FStarted; }
  bool Finished() const { return FFinished; }

  TGifGraphic* Image;
  platform::TCanvas* Canvas;
  platform::TRect Rect;
  uint16_t DrawOptions;
  int32_t AnimationSpeed;
  int32_t ActiveImage = -1;
  uint8_t Disposal = 0, PreviousDisposal = 0;
  platform::TNotifyEvent OnPaintStart, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;

 private:
  friend class TGifGraphic;
  void Fire(const platform::TNotifyEvent& Event);
  void StartRun();
  bool StartPass();
  bool FrameLoopGoes() const;
  // Paints ActiveImage and computes its delay; false when the animation ends here.
  void PaintActive();
  bool Advance();  // after a frame: next frame, next pass, or false at the end
  int32_t ComputeWait();
  void ScheduleNext();  // asynchronous: the wake-up for the next frame
  void Finish();
  void PaintFrame(TGIFSubImage* Frame);
  void ClearArea(TGIFSubImage* Frame);
  bool CanvasValid() const;
  platform::TColor Background() const;

  std::unique_ptr<platform::TBitmap> FFrameBuffer, FPreviousBuffer, FBackupBuffer;
  bool FTerminated = false, FStarted = false, FFinished = false, FRestart = false;
  int32_t FLoopCount = 1, FFirstFrame = 0, FDelay = 0, FPass = 0;
  bool FLoopSeen = false;
  int64_t FOldTime = 0, FOldDelay = 0;
  bool FInTick = false;
  // Taken under goValidateCanvas: the destination's device, and a token that expires with the
  // destination canvas, so a freed destination is noticed without being read.
  const void* FCanvasHandle = nullptr;
  std::weak_ptr<const void> FCanvasLifetime;
};

// The clipboard format "GIF Image" (0 before InitializeGifGraphic).
extern uint16_t CF_GIF;

// Registers TGifGraphic with the picture class under "GIF" ("GIF Image") and as the graphic of
// the clipboard format CF_GIF.
void InitializeGifGraphic();
void FinalizeGifGraphic();

// A stream that only passes bytes on: reading, seeking and (unless a descendant says otherwise)
// writing raise "Invalid stream operation".
class TGIFStream : public platform::TStream {
 public:
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
};

// Collects bytes into data sub-blocks of at most 255 bytes, each written with its length byte.
class TGIFWriter : public TGIFStream {
 public:
  explicit TGIFWriter(platform::TStream* S) : FStream(S) {}
  int32_t Write(const void* Buffer, int32_t Count) override;
  void Put(uint8_t B) {
    FBuf[FFill++] = B;
    if (FFill == 256) Flush();
  }
  // Writes the last, partly filled block.
  void Finish() {
    if (FFill > 1) Flush();
  }

 private:
  void Flush() {
    FBuf[0] = static_cast<uint8_t>(FFill - 1);
    FStream->WriteBuffer(FBuf, FFill);
    FFill = 1;
  }
  platform::TStream* FStream;
  uint8_t FBuf[256];
  int32_t FFill = 1;
};

// Row access to a bitmap at 8 bits (indices) or 24 bits (blue, green, red) per pixel: the reader
// converts the bitmap to that format; the writer collects the rows of a new bottom-up device-
// independent bitmap (8 bits: with a 256-entry table) and loads the bitmap from it at Finish.
class TDIBReader {
 public:
  TDIBReader(platform::TBitmap* ABitmap, platform::TPixelFormat APixelFormat);
  const uint8_t* ScanLine(int32_t Row);

 private:
  platform::TBitmap* FBitmap;
};

class TDIBWriter {
 public:
  TDIBWriter(platform::TBitmap* ABitmap, platform::TPixelFormat APixelFormat, int32_t AWidth, int32_t AHeight,
             const TGIFPaletteEntries& Palette = {});
  // Row 0 is the top row.
  uint8_t* ScanLine(int32_t Row);
  // Loads the bitmap from the rows; afterwards there is no row memory.
  void Finish();

 private:
  platform::TBitmap* FBitmap;
  int32_t FHeight, FRowBytes, FOffset;
  std::vector<uint8_t> FFile;
};

// Pixel-data coder: decodes a frame's data into its index buffer, encodes one back (LZW, or a
// run-length code stream any decoder reads).
void GIFDecode(TGIFSubImage* Frame, platform::TStream* Stream);
void GIFEncode(platform::TStream* Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Data,
               bool Interlaced, int32_t Width, int32_t Height, TGifGraphic* WarnTo = nullptr,
               TGIFCompression Compression = gcLZW);

// Colour reduction of 32-bit pixels ($AARRGGBB, alpha ignored) to at most 256 colours: the
// palette of the method and the index of every pixel, dithered. rmPalette uses Palette.
struct TGIFReduced {
  TGIFPaletteEntries Palette;
  std::vector<uint8_t> Indices;
};
// Called every 32 rows (and after the last) with the percent of rows done.
using TGIFRowProgress = std::function<void(int32_t Percent)>;
// rmNone has no palette to map to: this form leaves the result empty (the bitmap form copies).
TGIFReduced ReduceColors(const uint32_t* Pixels, int32_t Width, int32_t Height, TColorReduction Reduction,
                         TDitherMode Dither, int32_t ReductionBits, const TGIFPaletteEntries& Palette = {},
                         const TGIFRowProgress& OnRows = nullptr);
// A new bitmap of 8 bits per pixel with the method's palette, or for rmNone a 24-bit copy; an
// unknown method or ditherer gives an empty bitmap. The source is left as it is.
std::unique_ptr<platform::TBitmap> ReduceColors(const platform::TBitmap& Bitmap, TColorReduction Reduction,
                                                TDitherMode Dither, int32_t ReductionBits,
                                                const TGIFPaletteEntries& Palette = {},
                                                const TGIFRowProgress& OnRows = nullptr);
// Octree quantisation to at most MaxColors colours.
TGIFPaletteEntries OctreeQuantize(const uint32_t* Pixels, int64_t Count, int32_t MaxColors);
// Opaque pixels ($FFRRGGBB) mapped to the 216-colour cube with serpentine Floyd-Steinberg
// dithering; pixels of alpha 0 are left out of the dithering and kept.
void DitherToCube(std::vector<uint32_t>& Pixels, int32_t Width, int32_t Height);
// Makes Frame a picture of Width x Height pixels, reduced with its image's settings.
void GIFFrameFromPixels(TGIFSubImage* Frame, const uint32_t* Pixels, int32_t Width, int32_t Height);

// Largest number of pixels a code stream of Bytes bytes can decode to.
int64_t GIFMaxPixelsFor(int64_t Bytes);

}  // namespace raster
