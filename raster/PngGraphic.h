// TPngGraphic: Portable Network Graphics files as a list of chunk objects, the image held in a
// bottom-up device-independent bitmap (1, 4, 8 or 24 bits a pixel with a 256-entry colour
// table) plus a top-down alpha plane for images with an alpha channel. Reads every colour type,
// bit depth and interlace method, writes with a chosen set of row filters, and converts to and
// from the class library's bitmap. Errors are the EPNG... exceptions with their fixed texts.
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"

namespace raster {

#define KD_PNG_EXCEPTION(Name) KD_DECLARE_EXCEPTION(Name, platform::Exception)
KD_PNG_EXCEPTION(EPngError);
KD_PNG_EXCEPTION(EPNGIHDRNotFirst);
KD_PNG_EXCEPTION(EPNGSizeExceeds);
KD_PNG_EXCEPTION(EPNGUnknownCriticalChunk);
KD_PNG_EXCEPTION(EPNGUnknownCompression);
KD_PNG_EXCEPTION(EPNGUnknownInterlace);
KD_PNG_EXCEPTION(EPngUnexpectedEnd);
KD_PNG_EXCEPTION(EPNGNoImageData);
KD_PNG_EXCEPTION(EPngInvalidCRC);
KD_PNG_EXCEPTION(EPngInvalidIHDR);
KD_PNG_EXCEPTION(EPNGMissingMultipleIDAT);
KD_PNG_EXCEPTION(EPNGZLIBError);
KD_PNG_EXCEPTION(EPNGInvalidPalette);
KD_PNG_EXCEPTION(EPNGInvalidFileHeader);
KD_PNG_EXCEPTION(EPNGOutMemory);
KD_PNG_EXCEPTION(EPNGHeaderNotPresent);
#undef KD_PNG_EXCEPTION

inline constexpr const char* SPngNoPixels =
    "The \"Portable Network Graphics\" image has no pixels and can not be saved.";

// String-table texts by id (65120..65151); empty for an unknown id.
std::string PngErrorText(int32_t Id);
// zlib's code as the codec names it: "data error (-3)".
std::string PngZlibCodeText(int32_t Code);

enum TFilter : uint8_t { pfNone, pfSub, pfUp, pfAverage, pfPaeth };
using TFilters = uint8_t;  // bit n set: filter n allowed
constexpr TFilters FilterBit(TFilter F) { return static_cast<TFilters>(1u << F); }

// Deflate's largest ratio: a 258-byte match costs at least two bits.
inline constexpr int64_t kDeflateMaxRatio = 1032;

class TPngGraphic;
class TChunkIHDR;
class TChunk;

// How to make a chunk of one class for an image (the class's constructor).
using TChunkFactory = std::function<std::unique_ptr<TChunk>(TPngGraphic* Owner)>;

class TChunk {
 public:
  explicit TChunk(TPngGraphic* Owner);
  virtual ~TChunk();
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  // The class's chunk name ("IHDR"); empty for a plain chunk.
  virtual std::string GetName() const { return {}; }
  virtual std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const;
  virtual void Assign(const TChunk* Source);
  virtual bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size);
  virtual bool SaveToStream(platform::TStream* Stream);

  void ResizeData(uint32_t Size);
  int32_t Index() const;
  // The owner's first chunk; EPNGHeaderNotPresent for a chunk of no image or an empty list.
  TChunkIHDR* Header() const;

  std::vector<uint8_t> Data{0};  // DataSize + 1 bytes
  uint32_t DataSize = 0;
  TPngGraphic* Owner;
  std::string Name;
};

class TChunkIEND : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IEND"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
};

class TChunkIHDR : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IHDR"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
  // Sets up the bitmap layout and zeroed pixels (and alpha plane) for the header fields.
  void PrepareImageData();

  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColorType = 0;
  uint8_t CompressionMethod = 0;
  uint8_t FilterMethod = 0;
  uint8_t InterlaceMethod = 0;

  bool HasPalette = false;
  int32_t BitsPerPixel = 0;  // of the bitmap
  int32_t BytesPerRow = 0;
  std::vector<uint8_t> ImageData;   // bottom-up rows
  std::vector<uint8_t> ImageAlpha;  // top-down, Width bytes a row; empty without alpha
  // Colour-keyed images whose 8-bit colours cannot tell the key from its neighbours (16-bit
  // samples, or a gamma table that merges levels): top-down, a byte a pixel, 1 where the file's
  // samples equal the tRNS key held in KeyMaskOf. Empty when the 8-bit colour decides.
  std::vector<uint8_t> KeyMask;
  std::array<uint8_t, 6> KeyMaskOf{};
  std::array<uint32_t, 256> Palette{};  // 0x00RRGGBB (blue in the low byte)
};

class TChunkPLTE : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "PLTE"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
  uint32_t Item(uint8_t N) const;
  uint32_t Count = 0;
};

class TChunkgAMA : public TChunk {
 public:
  explicit TChunkgAMA(TPngGraphic* Owner);
  std::string GetName() const override { return "gAMA"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  uint32_t Gamma();
  void SetGamma(uint32_t Value);
};

class TChunktRNS : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tRNS"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
  // The colour left out when drawing (a TColor, $00BBGGRR).
  platform::TColor TransparentColor() const;
  void SetTransparentColor(platform::TColor Value);
  bool BitTransparency = false;
  std::array<uint8_t, 256> PaletteValues{};
};

class TChunkIDAT : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IDAT"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
};

class TChunktIME : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tIME"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tEXt"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  void Assign(const TChunk* Source) override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
  std::string Keyword;
  std::string Text;
};

class TChunkzTXt : public TChunktEXt {
 public:
  using TChunktEXt::TChunktEXt;
  std::string GetName() const override { return "zTXt"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* Owner) const override;
  bool LoadFromStream(platform::TStream* Stream, const std::string& ChunkName, uint32_t Size) override;
  bool SaveToStream(platform::TStream* Stream) override;
};

class TPngGraphic;

// The chunk list of an image in file order (the header first): a view over the image's chunks,
// which the image owns.
class TPNGList {
 public:
  explicit TPNGList(TPngGraphic* Owner) : FOwner(Owner) {}
  uint32_t Count() const;
  // nullptr at or beyond Count.
  TChunk* Item(uint32_t Index) const;
  // -1 when the chunk is not in the list.
  int32_t IndexOf(const TChunk* Chunk) const;
  // The first chunk of class T or of a class derived from it; nullptr when none.
  template <class T>
  T* FindChunk() const;
  // A new chunk of class T where the PNG order wants it (gAMA after the header, tRNS after the
  // palette or before the image data, others before IEND); EPngError 65130 for a critical class
  // or a second gAMA or tRNS, 65131 without header and IEND.
  template <class T>
  T* AddChunk();
  // Appends a chunk made for this image (no chunk: an empty place).
  TChunk* Add(std::unique_ptr<TChunk> Chunk);
  // Inserts before Position when Position < Count (no chunk: an empty place); otherwise nothing
  // happens and the chunk is handed back.
  std::unique_ptr<TChunk> Insert(std::unique_ptr<TChunk> Chunk, uint32_t Position);
  // Takes the chunk out of the list (ownership passes to the caller, the chunk belongs to no
  // image until it is added to one); nullptr when absent.
  std::unique_ptr<TChunk> Remove(TChunk* Chunk);
  // Puts Chunk at Index and hands back the chunk that was there, which belongs to no image
  // any more. An index at or beyond Count, or no chunk, changes nothing and hands Chunk back.
  std::unique_ptr<TChunk> SetItem(uint32_t Index, std::unique_ptr<TChunk> Chunk);
  // Sets Count: a smaller Size frees the chunks beyond (0 empties the list), a larger one adds
  // empty places, which Item reads as nullptr until SetItem fills them and which saving and
  // copying pass over.
  void SetSize(uint32_t Size);

 private:
  TPngGraphic* FOwner;
};

// Chunk classes by name: reading makes an unknown name's chunk with the first class registered
// for it (a plain TChunk when there is none, which an upper-case first letter refuses). The nine
// classes of the codec are registered first. Classes override NewSameClass so that copies of
// an image keep them.
void RegisterChunkClass(const std::string& Name, TChunkFactory Factory);
template <class T>
void RegisterChunkClass() {
  RegisterChunkClass(T(nullptr).GetName(), [](TPngGraphic* O) { return std::unique_ptr<TChunk>(new T(O)); });
}
// The chunk of the first class registered for Name (case-sensitive), else a plain TChunk;
// its Name is Name.
std::unique_ptr<TChunk> CreateChunkByName(TPngGraphic* Owner, const std::string& Name);
// Number of registered chunk classes (the codec's nine plus any added). The registry is freed
// by FinalizePngGraphic and filled again by the next initialisation or use.
int32_t RegisteredChunkClassCount();

class TPngGraphic : public platform::TGraphic {
 public:
  TPngGraphic();
  ~TPngGraphic() override;
  std::string ClassName() const override { return "TPngGraphic"; }

  void Assign(const platform::TPersistent* Source) override;
  void AssignTo(platform::TPersistent* Dest) const override;
  bool Empty() const override { return FChunks.empty(); }
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t) override;
  void SetHeight(int32_t) override;
  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R) override;
  std::unique_ptr<platform::TGraphic> CreateNew() const override;

  void ClearChunks();
  TChunkIHDR* Header() const;
  bool HeaderPresent() const;
  bool GetTransparent() const;
  platform::TColor TransparentColor() const;
  uint8_t* Scanline(int32_t Y) const;
  uint8_t* AlphaScanline(int32_t Y) const;
  // Row Y of the header's KeyMask while it still belongs to the current tRNS key, else nullptr.
  const uint8_t* KeyMaskRow(int32_t Y) const;
  void CreateAlpha();
  platform::TColor Pixel(int32_t X, int32_t Y) const;
  void SetPixel(int32_t X, int32_t Y, platform::TColor Value);

  // Greyscale and palette images: the 256 entries of the colour table (made once and kept until
  // new image memory is prepared); other types: what was made before, or nothing. Needs the
  // header (EPNGHeaderNotPresent).
  platform::TPaletteEntries GetPalette() override;
  // The clipboard goes through the platform bitmap: saving draws the image on a new bitmap of
  // its size, loading rebuilds the image from the bitmap (not transparent).
  void SaveToClipboardFormat(uint16_t& Format, std::vector<uint8_t>& Data,
                             platform::TPaletteEntries& Palette) override;
  void LoadFromClipboardFormat(uint16_t Format, const std::vector<uint8_t>& Data,
                               const platform::TPaletteEntries& Palette) override;
  TPNGList Chunks() { return TPNGList(this); }

  // Renders the image as the raster format reads it: opaque where drawn, 0 where left out,
  // partially transparent pixels blended over black with their alpha kept; 0xAARRGGBB.
  void RenderARGB(uint32_t* Dest) const;

  TFilters Filters = FilterBit(pfSub);
  int32_t CompressionLevel = 7;
  uint8_t InterlaceMethod = 0;
  uint32_t MaxIdatSize() const { return FMaxIdatSize; }
  void SetMaxIdatSize(uint32_t Value) { FMaxIdatSize = Value < 65535 ? 65535 : Value; }

  // The chunk list in file order.
  int32_t ChunkCount() const { return static_cast<int32_t>(FChunks.size()); }
  TChunk* Chunk(int32_t Index) const { return FChunks[static_cast<size_t>(Index)].get(); }
  template <class T>
  T* FindChunk() const {
    for (auto& c : FChunks)
      if (auto* t = dynamic_cast<T*>(c.get())) return t;
    return nullptr;
  }
  template <class T>
  T* AddChunk() {
    auto c = std::make_unique<T>(this);
    T* raw = c.get();
    AddChunkObject(std::move(c));
    return raw;
  }

  std::array<uint8_t, 256> GammaTable{};
  std::array<uint8_t, 256> InverseTable{};

 private:
  friend class TChunk;
  friend class TChunkIDAT;
  friend class TChunkIHDR;
  friend class TPNGList;
  platform::TPaletteEntries FPaletteCache;
  bool FPaletteMade = false;
  void AddChunkObject(std::unique_ptr<TChunk> Chunk);
  void ResetGamma();
  void AssignFromBitmap(const platform::TBitmap* Bitmap);
  int TransparencyMode() const;  // 0 none, 1 binary, 2 partial
  bool HasPaletteKey() const;
  std::vector<std::unique_ptr<TChunk>> FChunks;
  uint32_t FMaxIdatSize = 65535;
};

template <class T>
T* TPNGList::FindChunk() const {
  return FOwner->FindChunk<T>();
}

template <class T>
T* TPNGList::AddChunk() {
  return FOwner->AddChunk<T>();
}

// PNG CRC-32 (polynomial 0xEDB88320) continued from Crc (start with 0xFFFFFFFF; complement at the end).
uint32_t UpdatePngCrc(uint32_t Crc, const uint8_t* Data, size_t Size);

void InitializePngGraphic();
void FinalizePngGraphic();

}  // namespace raster
