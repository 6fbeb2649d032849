#include "raster/JpegGraphic.h"

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "platform/SysUtils.h"
#include "raster/GifGraphic.h"
#include "raster/Raster32.h"
#include "raster/dtpRasterFormats.h"

namespace raster {

// One decoded image: its rows and what the header said.
struct TDecoded {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Components = 0;  // 1 grey, 3 RGB, 4 CMYK
  bool FileGray = false;
  bool CMYK = false;
  bool Progressive = false;
  int64_t DataBytes = 0;  // after the header
  std::vector<uint8_t> Pixels;  // rows of Width * Components bytes
};

// Calls out of a decode: the monitor's percentage and, in buffered-image mode, each finished
// intermediate pass (the image's rows hold it). A callback that throws ends the decode; the
// exception is kept here and raised again once libjpeg has been left.
struct TDecodeHooks {
  std::function<void(int Percent)> Percent;
  std::function<void(const TDecoded& D)> Pass;
  std::exception_ptr Error;
};

namespace {

// Results of DecodeJpeg besides libjpeg's message codes: the image is beyond the bitmap's pixel
// limit, or the data cannot hold an image of the declared size.
constexpr int kTooLarge = -100;
constexpr int kTooShort = -101;

// Largest number of 8 x 8 blocks (over all components) that one byte of entropy-coded data
// can stand for. Huffman coding spends at least one bit on every block. Arithmetic coding has
// no such floor (a blank page codes in a few bytes), so its allocation is bounded by the pixel
// limit alone.
constexpr int64_t kHuffmanBlocksPerByte = 8;

struct TErrorMgr {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorMgr*>(cinfo->err);
  std::longjmp(err->Jump, 1);
}

void OutputMessage(j_common_ptr) {}

void ResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

void SetupErrors(TErrorMgr& err) {
  jpeg_std_error(&err.Pub);
  err.Pub.error_exit = ErrorExit;
  err.Pub.output_message = OutputMessage;
  err.Pub.reset_error_mgr = ResetErrorMgr;
}

[[noreturn]] void RaiseJpeg(int Code) { throw EJPEG("JPEG error #" + platform::IntToStr(Code)); }

struct TDecodeOptions {
  int ScaleShift = 0;
  bool Smoothing = true;
  bool Grayscale = false;
  bool Fast = false;
  bool HeaderOnly = false;
  // Files of several scans are shown pass by pass (buffered-image mode).
  bool Progressive = false;
};

constexpr int kHookFailed = -102;

struct TProgressMgr {
  jpeg_progress_mgr Pub;
  TDecodeHooks* Hooks;
};

// Runs a hook outside libjpeg's view: false when it threw (the exception is kept).
template <class Fn>
bool CallHook(TDecodeHooks* H, Fn&& F) {
  try {
    F();
    return true;
  } catch (...) {
    H->Error = std::current_exception();
    return false;
  }
}

void Monitor(j_common_ptr cinfo) {
  auto* pm = reinterpret_cast<TProgressMgr*>(cinfo->progress);
  const jpeg_progress_mgr& p = pm->Pub;
  if (!pm->Hooks || !pm->Hooks->Percent || p.total_passes <= 0) return;
  double part = p.pass_limit > 0 ? static_cast<double>(p.pass_counter) / static_cast<double>(p.pass_limit) : 0.0;
  int percent = static_cast<int>((part + p.completed_passes) * 100.0 / p.total_passes);
  if (percent > 100) percent = 100;
  if (!CallHook(pm->Hooks, [&] { pm->Hooks->Percent(percent); }))
    std::longjmp(reinterpret_cast<TErrorMgr*>(cinfo->err)->Jump, 2);
}



// Returns 0 or libjpeg's message code. No C++ object with a destructor is created after the
// setjmp, so the long jump skips nothing.
// Reads every output row of the current pass into Out.
void ReadRows(jpeg_decompress_struct& cinfo, TDecoded& Out, std::vector<JSAMPROW>& rows) {
  const size_t stride = static_cast<size_t>(Out.Width) * Out.Components;
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION first = cinfo.output_scanline;
    JDIMENSION n = std::min<JDIMENSION>(16, cinfo.output_height - first);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = Out.Pixels.data() + (first + i) * stride;
    jpeg_read_scanlines(&cinfo, rows.data(), n);
  }
}

int DecodeJpeg(const uint8_t* Data, size_t Size, const TDecodeOptions& Opt, TDecoded& Out,
               TDecodeHooks* Hooks = nullptr) {
  jpeg_decompress_struct cinfo;
  TErrorMgr err;
  SetupErrors(err);
  cinfo.err = &err.Pub;
  TProgressMgr progress{};
  progress.Pub.progress_monitor = Monitor;
  progress.Hooks = Hooks;
  std::vector<JSAMPROW> rows;
  if (setjmp(err.Jump)) {
    int code = err.Pub.msg_code;
    jpeg_destroy_decompress(&cinfo);
    if (Hooks && Hooks->Error) return kHookFailed;
    return code ? code : -1;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress.Pub;
  // Room for the coefficients of a progressive image as large as the pixel limit allows.
  cinfo.mem->max_memory_to_use = 3L << 30;
  jpeg_mem_src(&cinfo, const_cast<uint8_t*>(Data), static_cast<unsigned long>(Size));
  jpeg_read_header(&cinfo, TRUE);
  Out.FileGray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  Out.Progressive = jpeg_has_multiple_scans(&cinfo);
  Out.CMYK = cinfo.out_color_space == JCS_CMYK && cinfo.num_components == 4;
  Out.Width = static_cast<int32_t>(cinfo.image_width);
  Out.Height = static_cast<int32_t>(cinfo.image_height);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1u << Opt.ScaleShift;
  cinfo.do_block_smoothing = Opt.Smoothing;
  if (Opt.Grayscale) cinfo.out_color_space = JCS_GRAYSCALE;
  if (Opt.Fast) {
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.two_pass_quantize = FALSE;
    cinfo.dither_mode = JDITHER_ORDERED;
  }
  if (Opt.HeaderOnly) {
    jpeg_calc_output_dimensions(&cinfo);
    Out.Width = static_cast<int32_t>(cinfo.output_width);
    Out.Height = static_cast<int32_t>(cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_calc_output_dimensions(&cinfo);
  Out.Width = static_cast<int32_t>(cinfo.output_width);
  Out.Height = static_cast<int32_t>(cinfo.output_height);
  // Pixels are made of grey, colour or CMYK samples only; planes of another colour space (two,
  // for instance) have no conversion to them.
  if (cinfo.out_color_components != 1 && cinfo.out_color_components != 3 && cinfo.out_color_components != 4) {
    jpeg_destroy_decompress(&cinfo);
    return JERR_CONVERSION_NOTIMPL;
  }
  // These checks come before libjpeg or this code allocates for the image. A file of several
  // scans keeps the coefficients of the whole image however much it is reduced.
  bool multiScan = jpeg_has_multiple_scans(&cinfo);
  if (multiScan && !ImageSizeAllowed(cinfo.image_width, cinfo.image_height)) {
    Out.Width = static_cast<int32_t>(cinfo.image_width);
    Out.Height = static_cast<int32_t>(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return kTooLarge;
  }
  if (!ImageSizeAllowed(cinfo.output_width, cinfo.output_height)) {
    jpeg_destroy_decompress(&cinfo);
    return kTooLarge;
  }
  int64_t blocks = 0;
  for (int c = 0; c < cinfo.num_components; ++c)
    blocks += static_cast<int64_t>(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
  Out.DataBytes = static_cast<int64_t>(cinfo.src->bytes_in_buffer);
  if (!cinfo.arith_code && blocks > (Out.DataBytes + 1) * kHuffmanBlocksPerByte) {
    Out.Width = static_cast<int32_t>(cinfo.image_width);
    Out.Height = static_cast<int32_t>(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return kTooShort;
  }
  const bool buffered = Opt.Progressive && multiScan;
  cinfo.buffered_image = buffered ? TRUE : FALSE;
  jpeg_start_decompress(&cinfo);
  Out.Width = static_cast<int32_t>(cinfo.output_width);
  Out.Height = static_cast<int32_t>(cinfo.output_height);
  Out.Components = cinfo.output_components;
  size_t stride = static_cast<size_t>(Out.Width) * Out.Components;
  Out.Pixels.assign(stride * Out.Height, 0);
  rows.resize(16);
  if (!buffered) {
    ReadRows(cinfo, Out, rows);
  } else {
    // One quick pass after each scan, then the last scan again with the chosen quality.
    const J_DCT_METHOD best = cinfo.dct_method;
    for (;;) {
      int r;
      do r = jpeg_consume_input(&cinfo);
      while (r == JPEG_ROW_COMPLETED || r == JPEG_REACHED_SOS);
      if (r != JPEG_SCAN_COMPLETED) break;
      cinfo.dct_method = JDCT_IFAST;
      jpeg_start_output(&cinfo, cinfo.input_scan_number);
      ReadRows(cinfo, Out, rows);
      jpeg_finish_output(&cinfo);
      if (Hooks && Hooks->Pass && !CallHook(Hooks, [&] { Hooks->Pass(Out); })) std::longjmp(err.Jump, 2);
    }
    cinfo.dct_method = best;
    jpeg_start_output(&cinfo, cinfo.input_scan_number);
    ReadRows(cinfo, Out, rows);
    jpeg_finish_output(&cinfo);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

// RGB rows top-down in, JPEG bytes out. Returns 0 or libjpeg's message code.
int EncodeJpeg(const uint8_t* Rgb, int32_t W, int32_t H, int Quality, bool Gray, bool Progressive,
               std::vector<uint8_t>& Out, TDecodeHooks* Hooks = nullptr) {
  jpeg_compress_struct cinfo;
  TErrorMgr err;
  SetupErrors(err);
  cinfo.err = &err.Pub;
  TProgressMgr progress{};
  progress.Pub.progress_monitor = Monitor;
  progress.Hooks = Hooks;
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  if (setjmp(err.Jump)) {
    int code = err.Pub.msg_code;
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    if (Hooks && Hooks->Error) return kHookFailed;
    return code ? code : -1;
  }
  jpeg_create_compress(&cinfo);
  cinfo.progress = &progress.Pub;
  jpeg_mem_dest(&cinfo, &mem, &memSize);
  cinfo.image_width = static_cast<JDIMENSION>(W);
  cinfo.image_height = static_cast<JDIMENSION>(H);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, Quality, TRUE);
  if (Gray) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  if (Progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(Rgb) + static_cast<size_t>(cinfo.next_scanline) * W * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Out.assign(mem, mem + memSize);
  std::free(mem);
  return 0;
}

}  // namespace

void ConvertCMYKRows(uint8_t* P, int64_t Count, bool Inverted) {
  for (int64_t i = 0; i < Count; ++i, P += 4) {
    int c = P[0], m = P[1], y = P[2], k = P[3];
    int r, g, b;
    if (Inverted) {
      r = k + c - 255;
      g = k + m - 255;
      b = k + y - 255;
    } else {
      r = 255 - (k + c);
      g = 255 - (k + m);
      b = 255 - (k + y);
    }
    // Bitmap rows are blue, green, red.
    P[0] = static_cast<uint8_t>(b < 0 ? 0 : b);
    P[1] = static_cast<uint8_t>(g < 0 ? 0 : g);
    P[2] = static_cast<uint8_t>(r < 0 ? 0 : r);
  }
}

TJPEGImage::TJPEGImage() : FData(std::make_shared<TJPEGData>()) {}
TJPEGImage::~TJPEGImage() = default;

std::unique_ptr<platform::TGraphic> TJPEGImage::CreateNew() const { return std::make_unique<TJPEGImage>(); }

void TJPEGImage::FreeBitmap() { FBitmap.reset(); }

// An option of decoding drops the decoded bitmap so that the next use decodes again; a bitmap
// that no bytes stand behind is the image itself and stays.
void TJPEGImage::FreeDecoded() {
  if (!FData->Bytes.empty()) FreeBitmap();
}

bool TJPEGImage::Empty() const { return FData->Bytes.empty() && !FBitmap; }

void TJPEGImage::CalcScaledSize() const {
  if (!FNeedRecalc) return;
  TDecodeOptions opt;
  opt.ScaleShift = FScale;
  opt.HeaderOnly = true;
  TDecoded d;
  if (int code = DecodeJpeg(FData->Bytes.data(), FData->Bytes.size(), opt, d)) RaiseJpeg(code);
  FScaledWidth = d.Width;
  FScaledHeight = d.Height;
  FNeedRecalc = false;
}

int32_t TJPEGImage::Width() const {
  if (FBitmap) return FBitmap->Width();
  if (FScale != jsFullSize && !FData->Bytes.empty()) {
    CalcScaledSize();
    return FScaledWidth;
  }
  return FData->Width;
}

int32_t TJPEGImage::Height() const {
  if (FBitmap) return FBitmap->Height();
  if (FScale != jsFullSize && !FData->Bytes.empty()) {
    CalcScaledSize();
    return FScaledHeight;
  }
  return FData->Height;
}

void TJPEGImage::SetWidth(int32_t) { throw platform::EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::SetHeight(int32_t) { throw platform::EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetScale(TJPEGScale Value) {
  if (FScale == Value) return;
  FreeDecoded();
  FScale = Value;
  FNeedRecalc = true;
  Changed();
}

void TJPEGImage::SetPerformance(TJPEGPerformance Value) {
  if (FPerformance == Value) return;
  FreeDecoded();
  FPerformance = Value;
  Changed();
}

void TJPEGImage::SetGrayscale(bool Value) {
  if (FGrayscale == Value) return;
  FreeDecoded();
  FGrayscale = Value;
  Changed();
}

void TJPEGImage::SetSmoothing(bool Value) {
  if (FSmoothing == Value) return;
  FreeDecoded();
  FSmoothing = Value;
  Changed();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat Value) {
  if (FPixelFormat == Value) return;
  FreeDecoded();
  FPixelFormat = Value;
  Changed();
}

void TJPEGImage::SetProgressiveDisplay(bool Value) {
  if (FProgressiveDisplay == Value) return;
  FreeDecoded();
  FProgressiveDisplay = Value;
  Changed();
}

void TJPEGImage::SetInvertedCMYK(bool Value) {
  if (FInvertedCMYK == Value) return;
  FreeDecoded();
  FInvertedCMYK = Value;
  Changed();
}

void TJPEGImage::ReadHeader() {
  if (FData->Bytes.empty()) return;
  TDecodeOptions opt;
  opt.HeaderOnly = true;
  TDecoded d;
  if (int code = DecodeJpeg(FData->Bytes.data(), FData->Bytes.size(), opt, d)) RaiseJpeg(code);
  FData->Width = d.Width;
  FData->Height = d.Height;
  FData->Grayscale = d.FileGray;
  FData->CMYK = d.CMYK;
  FData->Progressive = d.Progressive;
  FProgressiveEncoding = d.Progressive;
}

void TJPEGImage::LoadFromStream(platform::TStream* Stream) {
  ReadStream(Stream->GetSize() - Stream->GetPosition(), Stream);
}

void TJPEGImage::ReadData(platform::TStream* Stream) {
  int32_t size;
  Stream->ReadBuffer(&size, 4);
  // The length comes from the stream: a negative one or one beyond its end is no image.
  if (size < 0 || size > Stream->GetSize() - Stream->GetPosition()) throw platform::EReadError("Stream read error");
  ReadStream(size, Stream);
}

void TJPEGImage::WriteData(platform::TStream* Stream) {
  Compress();
  int32_t size = static_cast<int32_t>(FData->Bytes.size());
  Stream->WriteBuffer(&size, 4);
  if (size > 0) Stream->WriteBuffer(FData->Bytes.data(), size);
}

void TJPEGImage::DefineProperties(platform::TFiler* Filer) {
  bool hasData;
  platform::TPersistent* ancestor = Filer->Ancestor();
  if (ancestor == nullptr)
    hasData = !Empty();
  else if (auto* g = dynamic_cast<platform::TGraphic*>(ancestor))
    hasData = !Equals(g);
  else
    hasData = true;
  Filer->DefineBinaryProperty(
      "Data", [this](platform::TStream* S) { ReadData(S); }, [this](platform::TStream* S) { WriteData(S); },
      hasData);
}

void TJPEGImage::ReadStream(int64_t Size, platform::TStream* Stream) {
  auto data = std::make_shared<TJPEGData>();
  if (Size > 0) {
    if (Size > INT32_MAX) throw EJPEG("JPEG error #" + platform::IntToStr(JERR_INPUT_EOF));
    data->Bytes.resize(static_cast<size_t>(Size));
    Stream->ReadBuffer(data->Bytes.data(), static_cast<int32_t>(Size));
  }
  FreeBitmap();
  FData = data;
  FNeedRecalc = true;
  ReadHeader();
  Changed();
}

namespace {
void RowToRgb(platform::TBitmap* bmp, int32_t y, uint8_t* d);
}  // namespace

void TJPEGImage::Compress() {
  if (!FData->Bytes.empty() || !FBitmap || FBitmap->Empty()) return;
  int32_t w = FBitmap->Width(), h = FBitmap->Height();
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y) RowToRgb(FBitmap.get(), y, rgb.data() + static_cast<size_t>(y) * w * 3);
  auto data = std::make_shared<TJPEGData>();
  TDecodeHooks hooks;
  hooks.Percent = [this](int Percent) { Progress(platform::psRunning, Percent, false, 0); };
  FLastTick = -1;
  FLastPercent = -1;
  Progress(platform::psStarting, 0, false, 0);
  int code = EncodeJpeg(rgb.data(), w, h, FCompressionQuality, FGrayscale, FProgressiveEncoding, data->Bytes,
                        OnProgress ? &hooks : nullptr);
  if (code) {
    try {
      Progress(platform::psEnding, 0, false, 0);
    } catch (...) {
    }
    if (code == kHookFailed) std::rethrow_exception(hooks.Error);
    RaiseJpeg(code);
  }
  Progress(platform::psEnding, 100, true, h);
  data->Width = w;
  data->Height = h;
  data->Grayscale = FGrayscale;
  FData = data;
}

void TJPEGImage::SaveToStream(platform::TStream* Stream) {
  Compress();
  if (!FData->Bytes.empty())
    Stream->WriteBuffer(FData->Bytes.data(), static_cast<int32_t>(FData->Bytes.size()));
}

void TJPEGImage::Decode(TDecoded& D, TDecodeHooks* Hooks) const {
  TDecodeOptions opt;
  opt.ScaleShift = FScale;
  opt.Smoothing = FSmoothing;
  opt.Grayscale = FGrayscale;
  opt.Fast = FPerformance == jpBestSpeed;
  opt.Progressive = FProgressiveDisplay;
  if (int code = DecodeJpeg(FData->Bytes.data(), FData->Bytes.size(), opt, D, Hooks)) {
    if (code == kHookFailed) std::rethrow_exception(Hooks->Error);
    if (code == kTooLarge) throw EJPEG(ImageTooLargeText(D.Width, D.Height));
    if (code == kTooShort) throw EJPEG(ImageDataTooShortText(D.Width, D.Height, D.DataBytes));
    RaiseJpeg(code);
  }
}

void TJPEGImage::Progress(platform::TProgressStage Stage, int Percent, bool RedrawNow, int32_t Rows) {
  if (!OnProgress) return;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  if (Stage == platform::psRunning && !RedrawNow) {
    // At most one report per interval, and only when the figure moved.
    if (Percent == FLastPercent || (FLastTick >= 0 && now - FLastTick < ProgressInterval)) return;
  }
  FLastTick = now;
  FLastPercent = Percent;
  int32_t w = FBitmap ? FBitmap->Width() : 0;
  OnProgress(this, Stage, static_cast<uint8_t>(Percent < 0 ? 0 : Percent > 100 ? 100 : Percent), RedrawNow,
             platform::Rect(0, 0, w, Rows), "");
}

namespace {

// The decoder's rows into a bitmap of the decoded size: 8 bits with a grey ramp for grey
// output, 32 bits for CMYK, 24 bits otherwise; with Quantize the colours are reduced to at
// most 236 by the octree quantiser and mapped (Floyd-Steinberg dithered unless Fast).
void FillBitmap(platform::TBitmap* bmp, TDecoded& d, bool InvertedCMYK, bool Quantize, bool Fast) {
  if (d.Components == 1) {
    bmp->SetSize(0, 0);
    bmp->SetPixelFormat(platform::pf8bit);
    platform::TPaletteEntries grey;
    for (int i = 0; i < 256; ++i) grey.push_back(platform::RGB(i, i, i));
    bmp->SetPalette(grey);
    bmp->SetSize(d.Width, d.Height);
    for (int32_t y = 0; y < d.Height; ++y)
      std::memcpy(bmp->ScanLine(y), d.Pixels.data() + static_cast<size_t>(y) * d.Width, static_cast<size_t>(d.Width));
    return;
  }
  if (Quantize) {
    std::vector<uint32_t> px(static_cast<size_t>(d.Width) * d.Height);
    for (size_t i = 0; i < px.size(); ++i) {
      const uint8_t* s = d.Pixels.data() + i * d.Components;
      if (d.Components == 4) {
        uint8_t q[4] = {s[0], s[1], s[2], s[3]};
        ConvertCMYKRows(q, 1, InvertedCMYK);
        px[i] = (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0];
      } else {
        px[i] = (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2];
      }
    }
    TGIFPaletteEntries pal = OctreeQuantize(px.data(), static_cast<int64_t>(px.size()), 236);
    TGIFReduced r = ReduceColors(px.data(), d.Width, d.Height, rmPalette, Fast ? dmNearest : dmFloydSteinberg, 8, pal);
    bmp->SetSize(0, 0);
    bmp->SetPixelFormat(platform::pf8bit);
    bmp->SetPalette(r.Palette);
    bmp->SetSize(d.Width, d.Height);
    if (r.Indices.size() == px.size())
      for (int32_t y = 0; y < d.Height; ++y)
        std::memcpy(bmp->ScanLine(y), r.Indices.data() + static_cast<size_t>(y) * d.Width, static_cast<size_t>(d.Width));
    return;
  }
  bmp->SetSize(0, 0);
  bmp->SetPixelFormat(d.Components == 4 ? platform::pf32bit : platform::pf24bit);
  bmp->SetSize(d.Width, d.Height);
  for (int32_t y = 0; y < d.Height; ++y) {
    uint8_t* row = static_cast<uint8_t*>(bmp->ScanLine(y));
    const uint8_t* s = d.Pixels.data() + static_cast<size_t>(y) * d.Width * d.Components;
    if (d.Components == 4) {
      std::memcpy(row, s, static_cast<size_t>(d.Width) * 4);
      ConvertCMYKRows(row, d.Width, InvertedCMYK);
    } else {
      for (int32_t x = 0; x < d.Width; ++x, s += 3, row += 3) {
        row[0] = s[2];
        row[1] = s[1];
        row[2] = s[0];
      }
    }
  }
}

// One row of any bitmap as red, green, blue bytes.
void RowToRgb(platform::TBitmap* bmp, int32_t y, uint8_t* d) {
  const uint8_t* s = static_cast<const uint8_t*>(bmp->ScanLine(y));
  const int32_t bpp = bmp->BitsPerPixel(), w = bmp->Width();
  if (bpp <= 8) {
    const platform::TPaletteEntries& pal = bmp->Palette();
    for (int32_t x = 0; x < w; ++x, d += 3) {
      int32_t bit = x * bpp;
      uint32_t i = (s[bit >> 3] >> (8 - bpp - (bit & 7))) & ((1u << bpp) - 1);
      uint32_t c = i < pal.size() ? static_cast<uint32_t>(pal[i]) : 0;
      d[0] = c & 0xFF;
      d[1] = (c >> 8) & 0xFF;
      d[2] = (c >> 16) & 0xFF;
    }
    return;
  }
  const int step = bpp == 24 ? 3 : 4;
  for (int32_t x = 0; x < w; ++x, s += step, d += 3) {
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
  }
}

}  // namespace

platform::TBitmap* TJPEGImage::Bitmap() {
  if (FBitmap) return FBitmap.get();
  if (FData->Bytes.empty()) {
    FBitmap = std::make_unique<platform::TBitmap>();
    return FBitmap.get();
  }
  // The bitmap exists while decoding, so a progress listener can show the passes; after a
  // failure the part decoded stays.
  FBitmap = std::make_unique<platform::TBitmap>();
  platform::TBitmap* bmp = FBitmap.get();
  const bool quantize = FPixelFormat == jf8Bit;
  const bool fast = FPerformance == jpBestSpeed;
  TDecodeHooks hooks;
  hooks.Percent = [this](int Percent) { Progress(platform::psRunning, Percent, false, 0); };
  hooks.Pass = [this, bmp](const TDecoded& D) {
    TDecoded copy = D;
    FillBitmap(bmp, copy, FInvertedCMYK, false, true);
    Progress(platform::psRunning, FLastPercent < 0 ? 0 : FLastPercent, true, D.Height);
  };
  FLastTick = -1;
  FLastPercent = -1;
  Progress(platform::psStarting, 0, false, 0);
  TDecoded d;
  try {
    Decode(d, &hooks);
    FillBitmap(bmp, d, FInvertedCMYK, quantize, fast);
  } catch (...) {
    Progress(platform::psEnding, 0, false, 0);
    throw;
  }
  Progress(platform::psEnding, 100, true, bmp->Height());
  return bmp;
}

void TJPEGImage::DecodeTo32(TBitmap32* Dest) {
  if (!FBitmap && !FData->Bytes.empty() && FPixelFormat == jf24Bit && !OnProgress) {
    // Straight from the decoder's rows, without a 24-bit copy in between (large photographs).
    TDecoded d;
    Decode(d);
    Dest->SetSize(d.Width, d.Height);
    if (Dest->Empty()) return;
    for (int32_t y = 0; y < d.Height; ++y) {
      uint8_t* s = d.Pixels.data() + static_cast<size_t>(y) * d.Width * d.Components;
      TColor32* p = Dest->ScanLine(y);
      if (d.Components == 4) ConvertCMYKRows(s, d.Width, FInvertedCMYK);
      for (int32_t x = 0; x < d.Width; ++x, s += d.Components) {
        if (d.Components == 4)
          p[x] = 0xFF000000u | (uint32_t{s[2]} << 16) | (uint32_t{s[1]} << 8) | s[0];
        else if (d.Components == 3)
          p[x] = 0xFF000000u | (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2];
        else
          p[x] = 0xFF000000u | uint32_t{s[0]} * 0x010101u;
      }
    }
    Dest->Changed();
    return;
  }
  platform::TBitmap* bmp = Bitmap();
  Dest->SetSize(bmp->Width(), bmp->Height());
  if (Dest->Empty()) return;
  std::vector<uint8_t> rgb(static_cast<size_t>(Dest->Width()) * 3);
  for (int32_t y = 0; y < Dest->Height(); ++y) {
    RowToRgb(bmp, y, rgb.data());
    TColor32* d = Dest->ScanLine(y);
    for (int32_t x = 0; x < Dest->Width(); ++x)
      d[x] = 0xFF000000u | (uint32_t{rgb[3 * x]} << 16) | (uint32_t{rgb[3 * x + 1]} << 8) | rgb[3 * x + 2];
  }
  Dest->Changed();
}

void TJPEGImage::Assign(const platform::TPersistent* Source) {
  if (auto* j = dynamic_cast<const TJPEGImage*>(Source)) {
    if (j == this) return;
    FData = j->FData;
    FreeBitmap();
    if (j->FBitmap) {
      FBitmap = std::make_unique<platform::TBitmap>();
      FBitmap->Assign(j->FBitmap.get());
    }
    FNeedRecalc = true;
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<const platform::TBitmap*>(Source)) {
    FData = std::make_shared<TJPEGData>();
    FBitmap = std::make_unique<platform::TBitmap>();
    FBitmap->Assign(b);
    FNeedRecalc = true;
    Changed();
    return;
  }
  platform::TGraphic::Assign(Source);
}

void TJPEGImage::AssignTo(platform::TPersistent* Dest) const {
  if (auto* b = dynamic_cast<platform::TBitmap*>(Dest)) {
    b->Assign(const_cast<TJPEGImage*>(this)->Bitmap());
    return;
  }
  platform::TGraphic::AssignTo(Dest);
}

void TJPEGImage::Draw(platform::TCanvas* Canvas, const platform::TRect& R) {
  Canvas->StretchDraw(R, Bitmap());
}

bool TJPEGImage::Equals(const platform::TGraphic* Other) const {
  auto* j = dynamic_cast<const TJPEGImage*>(Other);
  if (!j) return false;
  if (j->FData == FData) return true;
  return !FData->Bytes.empty() && !j->FData->Bytes.empty() && FData->Bytes == j->FData->Bytes;
}

void InitializeJpegGraphic() {
  platform::RegisterFileFormat("jpeg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
  platform::RegisterFileFormat("jpg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
}

void FinalizeJpegGraphic() {
  platform::UnregisterFileFormat("jpeg");
  platform::UnregisterFileFormat("jpg");
}

}  // namespace raster
