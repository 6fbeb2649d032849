// GIF files (87a and 89a) read into and written from an object model that keeps the header,
// the colour tables, every frame with its extension blocks and decoded pixel indices.
#pragma once

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

class TGifGraphic;
class TGIFSubImage;

// One colour table: RGB triples, at most 256.
class TGIFColorMap {
 public:
  explicit TGIFColorMap(TGifGraphic* Image) : FImage(Image) {}
  int32_t Count() const { return static_cast<int32_t>(FData.size() / 3); }
  int32_t Add(platform::TColor Color);
  int32_t AddUnique(platform::TColor Color);
  int32_t IndexOf(platform::TColor Color) const;
  void Delete(int32_t Index);
  platform::TColor Colors(int32_t Index) const;
  void SetColors(int32_t Index, platform::TColor Color);
  void Clear();
  int32_t BitsPerPixel() const;
  void SaveToStream(platform::TStream* Stream) const;
  void LoadFromStream(platform::TStream* Stream, int32_t Count);
  const uint8_t* Data() const { return FData.data(); }
  bool Optimized = false;

 private:
  TGifGraphic* FImage;
  std::vector<uint8_t> FData;
};

// An extension block: "!", label, data. The graphic control block is decoded; every other
// block is kept as its sub-blocks and written back unchanged.
class TGIFExtension {
 public:
  uint8_t Label = 0;
  std::string Fixed;                // the fixed part after the label, with its size byte
  std::vector<std::string> Blocks;  // the data sub-blocks, without the terminator
};

struct TGIFGraphicControl {
  uint8_t Packed = 0;
  uint16_t Delay = 0;
  uint8_t TransparentColorIndex = 0;
  bool Transparent() const { return (Packed & 1) != 0; }
  uint8_t Disposal() const { return (Packed >> 2) & 7; }
};

class TGIFSubImage {
 public:
  explicit TGIFSubImage(TGifGraphic* Image);
  TGifGraphic* Image() const { return FImage; }
  int32_t Left() const { return Descriptor[1] | Descriptor[2] << 8; }
  int32_t Top() const { return Descriptor[3] | Descriptor[4] << 8; }
  int32_t Width() const { return Descriptor[5] | Descriptor[6] << 8; }
  int32_t Height() const { return Descriptor[7] | Descriptor[8] << 8; }
  bool Interlaced() const { return (Descriptor[9] & 0x40) != 0; }
  void SetInterlaced(bool Value);
  // Drops the pixels and allocates a zeroed buffer when the size changes; grows the screen.
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  uint8_t GetPixel(int32_t X, int32_t Y) const;
  uint8_t* Scanline(int32_t Y);
  bool Empty() const { return Data.empty() || Width() == 0 || Height() == 0; }
  TGIFColorMap& ActiveColorMap();
  int32_t GetVersion() const;
  // Transparency as given by the first graphic control extension.
  bool HasGraphicControl() const { return FHasGCE; }
  TGIFGraphicControl& GraphicControl() { return FGCE; }
  void AddGraphicControl(const TGIFGraphicControl& Value);
  bool Transparent() const { return FHasGCE && FGCE.Transparent(); }

  void LoadFromStream(platform::TStream* Stream);
  void SaveToStream(platform::TStream* Stream);

  uint8_t Descriptor[10] = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> Data;
  TGIFColorMap ColorMap;
  std::vector<TGIFExtension> Extensions;  // in file order; the graphic control one as FGCEIndex

 private:
  TGifGraphic* FImage;
  bool FHasGCE = false;
  int32_t FGCEIndex = -1;
  TGIFGraphicControl FGCE;
};

using TGIFWarning = std::function<void(platform::TObject* Sender, int32_t Severity, const std::string& Message)>;

class TGifGraphic : public platform::TGraphic {
 public:
  TGifGraphic();
  ~TGifGraphic() override;
  std::string ClassName() const override { return "TGifGraphic"; }

  void Clear();
  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  bool Empty() const override { return FImages.empty(); }
  int32_t Width() const override { return ScreenWidth; }
  int32_t Height() const override { return ScreenHeight; }
  void SetWidth(int32_t Value) override;
  void SetHeight(int32_t Value) override;
  // Frame 0 stretched over R, its transparent pixels leaving the canvas as it is.
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R) override;
  std::unique_ptr<platform::TGraphic> CreateNew() const override { return std::make_unique<TGifGraphic>(); }
  int32_t Count() const { return static_cast<int32_t>(FImages.size()); }
  TGIFSubImage* Images(int32_t Index) const { return FImages.at(Index).get(); }
  TGIFSubImage* Add();  // a new empty frame
  TGIFColorMap& GlobalColorMap() { return FGlobal; }
  int32_t HighestBitsPerPixel() const;
  // Looping count of a NETSCAPE2.0/ANIMEXTS1.0 block of frame 0, -1 when absent.
  int32_t Loops() const;
  void Warning(platform::TObject* Sender, int32_t Severity, const std::string& Message);

  uint16_t ScreenWidth = 0;
  uint16_t ScreenHeight = 0;
  uint8_t HeaderPacked = 0;
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;
  uint8_t Compression = 0;
  platform::TColor BackgroundColor = 0x1FFFFFFF;
  TGIFWarning OnWarning;

 private:
  std::vector<std::unique_ptr<TGIFSubImage>> FImages;
  TGIFColorMap FGlobal;
};

// Registers TGifGraphic with the picture class under "GIF" ("GIF Image").
void InitializeGifGraphic();
void FinalizeGifGraphic();

// Pixel-data coder: decodes a frame's LZW data into its index buffer, encodes one back.
void GIFDecode(TGIFSubImage* Frame, platform::TStream* Stream);
void GIFEncode(platform::TStream* Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Data,
               bool Interlaced, int32_t Width, int32_t Height, TGifGraphic* WarnTo = nullptr);

}  // namespace raster
