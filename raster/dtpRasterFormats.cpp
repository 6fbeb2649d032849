#include "raster/dtpRasterFormats.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SysUtils.h"
#include "raster/JpegGraphic.h"

namespace raster {

using platform::TFileStream;
using platform::TStream;

namespace {

std::vector<std::unique_ptr<TRasterClassHolder>>& Registry() {
  static std::vector<std::unique_ptr<TRasterClassHolder>> list;
  return list;
}

TRasterClassHolder* FindHolder(TdtpRasterClass C) {
  for (auto& h : Registry())
    if (h->RasterClass == C) return h.get();
  return nullptr;
}

// Substring search of "ext;" in the entry's list: ".jp" finds ".jp;", "png" finds ".png;".
TRasterClassHolder* FindByExtension(const std::string& Ext) {
  std::string key = Ext + ";";
  for (auto& h : Registry())
    if (h->Extensions.find(key) != std::string::npos) return h.get();
  return nullptr;
}

bool ClassCanLoad(TdtpRasterClass C, TStream* S) { return C->CanLoad ? C->CanLoad(S) : TdtpRaster::CanLoad(S); }

std::string FormatUnknown(const std::string& Ext) {
  std::string m = SUnknownRasterFormat;
  return m.replace(m.find("%s"), 2, Ext);
}

}  // namespace

std::string ImageDataTooShortText(int64_t Width, int64_t Height, int64_t Bytes) {
  return "Image of " + std::to_string(Width) + " x " + std::to_string(Height) + " pixels cannot be held in the " +
         std::to_string(Bytes) + " bytes of data that follow its header";
}

void RegisterRasterFormat(TdtpRasterClass RasterClass, const std::string& Description,
                          const std::string& Extensions, RasterFlags Flags) {
  TRasterClassHolder* h = FindHolder(RasterClass);
  if (!h) {
    Registry().push_back(std::make_unique<TRasterClassHolder>());
    h = Registry().back().get();
    h->RasterClass = RasterClass;
  }
  h->Description = Description;
  h->RasterClassName = RasterClass ? RasterClass->ClassName : std::string();
  h->Extensions = Extensions;
  h->Flags = Flags;
}

TdtpRasterClass FindRasterClass(const std::string& FileName) {
  if (FileName.empty()) return nullptr;
  std::string ext = platform::LowerCase(platform::ExtractFileExt(FileName));
  if (ext.empty()) return nullptr;
  TRasterClassHolder* h = FindByExtension(ext);
  return h ? h->RasterClass : nullptr;
}

RasterFlags GetRasterFlags(TdtpRasterClass RasterClass) {
  TRasterClassHolder* h = FindHolder(RasterClass);
  return h ? h->Flags : 0;
}

int32_t RasterFormatCount() { return static_cast<int32_t>(Registry().size()); }

const TRasterClassHolder* RasterFormat(int32_t Index) {
  if (Index < 0 || Index >= RasterFormatCount()) return nullptr;
  return Registry()[Index].get();
}

void LoadRasterFromStream(TStream* Stream, const std::string& Ext, TBitmap32* Bitmap,
                          platform::TPoint RequestedSize, int32_t PageIndex) {
  TdtpImageFiler filer;
  if (static_cast<int64_t>(RequestedSize.X) * RequestedSize.Y > 0) {
    filer.RequestedWidth = RequestedSize.X;
    filer.RequestedHeight = RequestedSize.Y;
  }
  filer.Extension = Ext;
  filer.Stream = Stream;
  filer.PageIndex = PageIndex;
  filer.Load(Bitmap);
}

// ---- TdtpRaster

TdtpRaster::TdtpRaster(TdtpRasterClass Class) : Flags(GetRasterFlags(Class)), FClass(Class) {}

std::string TdtpRaster::ClassName() const { return FClass ? FClass->ClassName : "TdtpRaster"; }

bool TdtpRaster::CanLoad(TStream*) { return true; }

void TdtpRaster::LoadFromFile(const std::string& FileName, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                              int32_t PageIndex) {
  if (!(Flags & rfStreamReader)) throw ERasterError(SMethodNotImplemented);
  TFileStream fs(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
  LoadFromStream(&fs, Bitmap, RequestedSize, PageIndex);
  ByteCount = static_cast<int32_t>(fs.GetPosition());
}

void TdtpRaster::LoadFromStream(TStream*, TBitmap32*, platform::TPoint, int32_t) {
  throw ERasterError(SLoadFromStreamNotImplemented);
}

void TdtpRaster::SaveToStream(TStream*, TBitmap32*) { throw ERasterError(SMethodNotImplemented); }

void TdtpRaster::SaveToFile(const std::string& FileName, TBitmap32* Bitmap) {
  if (!(Flags & rfStreamWriter)) throw ERasterError(SMethodNotImplemented);
  SaveFileSafely(FileName, [&](const std::string&, TStream* S) {
    SaveToStream(S, Bitmap);
    ByteCount = static_cast<int32_t>(S->GetPosition());
  });
}

// ---- BMP

TdtpRasterClass TdtpBmpFormat::Class() {
  static const TdtpRasterClassInfo info{"TdtpBmpFormat", [] { return std::make_unique<TdtpBmpFormat>(); }, {}};
  return &info;
}

void TdtpBmpFormat::LoadFromStream(TStream* Stream, TBitmap32* Bitmap, platform::TPoint, int32_t PageIndex) {
  if (PageIndex > 0) throw ERasterError(SRequestedNonExistingPage);
  Bitmap->LoadFromStream(Stream);
  if ((Flags & rfCornerTransparency) && static_cast<int64_t>(Bitmap->Width()) * Bitmap->Height() > 0) {
    TColor32 c = Bitmap->GetPixelS(0, Bitmap->Height() - 1);
    TColor32* p = Bitmap->Bits();
    int64_t n = static_cast<int64_t>(Bitmap->Width()) * Bitmap->Height();
    for (int64_t i = 0; i < n; ++i)
      if (p[i] == c) p[i] = 0;
  }
}

void TdtpBmpFormat::SaveToStream(TStream* Stream, TBitmap32* Bitmap) { Bitmap->SaveToStream(Stream); }

// ---- JPEG

TdtpRasterClass TdtpJpgFormat::Class() {
  static const TdtpRasterClassInfo info{"TdtpJpgFormat", [] { return std::make_unique<TdtpJpgFormat>(); }, {}};
  return &info;
}

void TdtpJpgFormat::LoadFromStream(TStream* Stream, TBitmap32* Bitmap, platform::TPoint RequestedSize,
                                   int32_t PageIndex) {
  if (PageIndex > 0) throw ERasterError(SRequestedNonExistingPage);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(Stream);
  Width = jpeg.Width();
  Height = jpeg.Height();
  // Strongest power-of-two reduction (at most 1/8) that keeps both sides at least as requested.
  int64_t s = 1;
  int32_t scale = 0;
  while (Width >= 2 * s * RequestedSize.X && Height >= 2 * s * RequestedSize.Y && s <= 4) {
    s *= 2;
    ++scale;
  }
  jpeg.SetScale(static_cast<TJPEGScale>(scale));
  jpeg.SetPerformance(jpBestQuality);
  jpeg.OnProgress = [this](platform::TObject* Sender, platform::TProgressStage, uint8_t, bool, const platform::TRect&,
                           const std::string&) { JpegProgress(Sender); };
  jpeg.DecodeTo32(Bitmap);
}

// ---- TdtpImageFiler

TdtpImageFiler::TdtpImageFiler() = default;
TdtpImageFiler::~TdtpImageFiler() = default;

bool TdtpImageFiler::UsesStream() const { return Raster && Stream && (Raster->Flags & rfStreamReader); }

TdtpRasterClass TdtpImageFiler::FindWriterClass(const std::string& Ext) {
  if (Ext.empty()) return nullptr;
  std::string key = Ext + ";";
  for (auto& h : Registry())
    if (h->Extensions.find(key) != std::string::npos && (h->Flags & rfWriter)) return h->RasterClass;
  return nullptr;
}

void TdtpImageFiler::DetectFormat() {
  if (Raster) return;
  if (!FileName.empty()) Extension = platform::LowerCase(platform::ExtractFileExt(FileName));
  if (!Extension.empty()) {
    if (TRasterClassHolder* h = FindByExtension(Extension)) {
      Raster = h->RasterClass->Create();
      if (ClassCanLoad(h->RasterClass, nullptr)) return;
      std::unique_ptr<TFileStream> own;
      TStream* probe = nullptr;
      if (UsesStream()) {
        probe = Stream;
      } else if (!FileName.empty()) {
        own = std::make_unique<TFileStream>(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
        probe = own.get();
      }
      if (probe) {
        probe->SetPosition(0);
        if (ClassCanLoad(h->RasterClass, probe)) return;
      }
      Raster.reset();
    }
  }
  // Fallback scan over every registered class.
  std::unique_ptr<TFileStream> own;
  TStream* probe = nullptr;
  if (UsesStream()) {
    probe = Stream;
  } else if (!FileName.empty()) {
    own = std::make_unique<TFileStream>(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
    probe = own.get();
  }
  if (!probe) return;
  for (auto& h : Registry()) {
    if (ClassCanLoad(h->RasterClass, probe)) {
      Raster = h->RasterClass->Create();
      return;
    }
  }
}

void TdtpImageFiler::Load(TBitmap32* Bitmap) {
  if (!Bitmap) throw ERasterError(SInputBitmapNotAssigned);
  if (!Raster) DetectFormat();
  if (!Raster) throw ERasterError(FormatUnknown(Extension));
  platform::TPoint req{RequestedWidth, RequestedHeight};
  if (Stream) {
    int64_t p = Stream->GetPosition();
    Raster->LoadFromStream(Stream, Bitmap, req, PageIndex);
    ByteCount = static_cast<int32_t>(Stream->GetPosition() - p);
  } else if (Raster->Flags & rfStreamReader) {
    TFileStream fs(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
    Raster->LoadFromStream(&fs, Bitmap, req, PageIndex);
    ByteCount = static_cast<int32_t>(fs.GetSize());
  } else {
    Raster->LoadFromFile(FileName, Bitmap, req, PageIndex);
    ByteCount = Raster->ByteCount;
  }
  PageCount = Raster->PageCount;
}

void TdtpImageFiler::Save(TBitmap32* Bitmap) {
  if (!Bitmap) throw ERasterError(SInputBitmapNotAssigned);
  if (!Raster) {
    // No case folding here: "x.PNG" finds no writer.
    TdtpRasterClass c = FindWriterClass(platform::ExtractFileExt(FileName));
    if (!c) {
      size_t dot = Extension.rfind('.');
      c = FindWriterClass(dot == std::string::npos ? std::string() : Extension.substr(dot));
    }
    if (c) Raster = c->Create();
  }
  if (!Raster) return;
  if (UsesStream()) {
    int64_t p = Stream->GetPosition();
    Raster->SaveToStream(Stream, Bitmap);
    ByteCount = static_cast<int32_t>(Stream->GetSize() - p);
  } else {
    Raster->SaveToFile(FileName, Bitmap);
    TFileStream fs(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
    ByteCount = static_cast<int32_t>(fs.GetSize());
  }
}

void InitializeDtpRasterFormats() {
  RegisterRasterFormat(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 0x000F);
  RegisterRasterFormat(TdtpJpgFormat::Class(), "JPEG images", ".jpg;.jp;.jpeg;", 0x0613);
  InitializeJpegGraphic();
}

void FinalizeDtpRasterFormats() {
  FinalizeJpegGraphic();
  Registry().clear();
}

}  // namespace raster
