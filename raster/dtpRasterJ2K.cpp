#include "raster/dtpRasterJ2K.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

#include <openjpeg-2.5/openjpeg.h>

#include "platform/DynLib.h"
#include "platform/SysUtils.h"

namespace raster {

namespace {

// OpenJPEG's functions, looked up at bind time (the header is used for its types only).
struct TOpj {
  decltype(&opj_create_decompress) create_decompress = nullptr;
  decltype(&opj_create_compress) create_compress = nullptr;
  decltype(&opj_set_default_decoder_parameters) default_decoder = nullptr;
  decltype(&opj_set_default_encoder_parameters) default_encoder = nullptr;
  decltype(&opj_setup_decoder) setup_decoder = nullptr;
  decltype(&opj_setup_encoder) setup_encoder = nullptr;
  decltype(&opj_stream_create_default_file_stream) file_stream = nullptr;
  decltype(&opj_stream_destroy) stream_destroy = nullptr;
  decltype(&opj_read_header) read_header = nullptr;
  decltype(&opj_decode) decode = nullptr;
  decltype(&opj_end_decompress) end_decompress = nullptr;
  decltype(&opj_destroy_codec) destroy_codec = nullptr;
  decltype(&opj_image_destroy) image_destroy = nullptr;
  decltype(&opj_image_create) image_create = nullptr;
  decltype(&opj_start_compress) start_compress = nullptr;
  decltype(&opj_encode) encode = nullptr;
  decltype(&opj_end_compress) end_compress = nullptr;
};

struct TModule {
  std::unique_ptr<platform::TDynLib> Lib;
  TOpj Opj;
  TLibLoadImage LibLoadImage = nullptr;
  TLibSaveImage LibSaveImage = nullptr;
  TLibFreeImage LibFreeImage = nullptr;
};

TModule& Module() {
  static TModule m;
  return m;
}

// Result code of the entry point for an image beyond the pixel limit; Width and Height of the
// record then hold the declared size.
constexpr int32_t kCodeTooLarge = 5;
// Result code for a declared image the file's bytes cannot plausibly hold.
constexpr int32_t kCodeTooShort = 6;

// JPEG 2000 has no floor on bits per sample: a flat picture codes in a few hundred bytes at
// almost any size (our own writer makes 793 bytes of a white 8000 x 8000 image, 240,000 samples
// a byte). The decoder holds 4 bytes a sample, so declared samples are capped per byte of
// file: a file of 160 bytes, about the smallest whole JP2 file, gets at most 170 MB.
constexpr int64_t kJ2KSamplesPerByte = int64_t{1} << 18;

int64_t FileBytes(const char* FileName) {
  std::error_code ec;
  auto n = std::filesystem::file_size(FileName, ec);
  return ec ? 0 : static_cast<int64_t>(n);
}

OPJ_CODEC_FORMAT CodecFor(const char* Ext) {
  std::string e = platform::LowerCase(Ext ? Ext : "");
  if (e == "j2k" || e == "j2c" || e == "jpc") return OPJ_CODEC_J2K;
  return OPJ_CODEC_JP2;
}

// The codec library's three entry points, over OpenJPEG. Samples are handed over in bitmap
// order (blue, green, red) so that rows copy straight into 24-bit scan lines.
int32_t OpjLoadImage(const char* FileName, const char* Ext, TImageContainer* Rec) {
  const TOpj& o = Module().Opj;
  opj_stream_t* stream = o.file_stream(FileName, OPJ_TRUE);
  if (!stream) return 2;
  opj_codec_t* codec = o.create_decompress(CodecFor(Ext));
  opj_dparameters_t params;
  o.default_decoder(&params);
  opj_image_t* image = nullptr;
  int32_t result = 3;
  bool header = codec && o.setup_decoder(codec, &params) && o.read_header(stream, codec, &image) && image;
  // The declared size is checked before the library allocates the planes.
  if (header && !ImageSizeAllowed(int64_t{image->x1} - image->x0, int64_t{image->y1} - image->y0)) {
    Rec->Width = static_cast<int32_t>(std::min<int64_t>(int64_t{image->x1} - image->x0, INT32_MAX));
    Rec->Height = static_cast<int32_t>(std::min<int64_t>(int64_t{image->y1} - image->y0, INT32_MAX));
    result = kCodeTooLarge;
  } else if (header && (int64_t{image->x1} - image->x0) * (int64_t{image->y1} - image->y0) * image->numcomps >
                           (FileBytes(FileName) + 1) * kJ2KSamplesPerByte) {
    Rec->Width = static_cast<int32_t>(image->x1 - image->x0);
    Rec->Height = static_cast<int32_t>(image->y1 - image->y0);
    result = kCodeTooShort;
  } else if (header && o.decode(codec, stream, image) && o.end_decompress(codec, stream)) {
    uint32_t n = image->numcomps;
    uint32_t w = n ? image->comps[0].w : 0, h = n ? image->comps[0].h : 0;
    bool same = n > 0 && n <= 15 && w > 0 && h > 0 && ImageSizeAllowed(w, h);
    for (uint32_t c = 0; same && c < n; ++c)
      same = image->comps[c].w == w && image->comps[c].h == h && image->comps[c].data && image->comps[c].prec >= 1 &&
             image->comps[c].prec <= 31;
    if (!same) {
      result = 4;
    } else {
      auto* data = new uint8_t[static_cast<size_t>(w) * h * n];
      for (uint32_t c = 0; c < n; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        // Colour planes go out blue first; further planes keep their order.
        uint32_t slot = (n >= 3 && c < 3) ? 2 - c : c;
        int64_t bias = comp.sgnd ? (int64_t{1} << (comp.prec - 1)) : 0;
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
          int64_t v = comp.data[i] + bias;
          if (comp.prec > 8) v >>= (comp.prec - 8);
          else if (comp.prec < 8) v = v * 255 / ((int64_t{1} << comp.prec) - 1);
          data[i * n + slot] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
      }
      Rec->Width = static_cast<int32_t>(w);
      Rec->Height = static_cast<int32_t>(h);
      Rec->Format = static_cast<int32_t>(n);
      Rec->Data = data;
      Rec->Palette = nullptr;
      result = 0;
    }
  }
  if (image) o.image_destroy(image);
  if (codec) o.destroy_codec(codec);
  o.stream_destroy(stream);
  return result;
}

int32_t OpjFreeImage(TImageContainer* Rec) {
  delete[] Rec->Data;
  Rec->Data = nullptr;
  return 0;
}

int32_t OpjSaveImage(const char* FileName, const char* Ext, TImageContainer* Rec) {
  const TOpj& o = Module().Opj;
  int32_t n = Rec->Format & 0x0F;
  if ((n != 1 && n != 3 && n != 4) || Rec->Width <= 0 || Rec->Height <= 0 || !Rec->Data) return 4;
  uint32_t w = static_cast<uint32_t>(Rec->Width), h = static_cast<uint32_t>(Rec->Height);
  // The writer has no palette box: indices whose table is not the grey ramp are written as
  // the colours they stand for.
  const uint8_t* pal = Rec->Palette;
  bool grey = true;
  for (int i = 0; pal && grey && i < 256; ++i) grey = pal[3 * i] == i && pal[3 * i + 1] == i && pal[3 * i + 2] == i;
  const int planes = n == 1 && !grey ? 3 : n;
  opj_image_cmptparm_t cp[4];
  std::memset(cp, 0, sizeof cp);
  for (int c = 0; c < planes; ++c) {
    cp[c].dx = cp[c].dy = 1;
    cp[c].w = w;
    cp[c].h = h;
    cp[c].prec = 8;
    cp[c].sgnd = 0;
  }
  opj_image_t* image =
      o.image_create(static_cast<OPJ_UINT32>(planes), cp, planes >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
  if (!image) return 3;
  image->x0 = image->y0 = 0;
  image->x1 = w;
  image->y1 = h;
  const size_t count = static_cast<size_t>(w) * h;
  for (int c = 0; c < planes; ++c) {
    OPJ_INT32* d = image->comps[c].data;
    if (n == 1 && planes == 3) {
      const int k = 2 - c;  // red first in the file; the table is blue, green, red
      for (size_t i = 0; i < count; ++i) d[i] = pal[3 * Rec->Data[i] + k];
    } else {
      int src = c < 3 && n >= 3 ? 2 - c : c;  // red first in the file, alpha last
      for (size_t i = 0; i < count; ++i) d[i] = Rec->Data[i * n + src];
    }
  }
  if (planes == 4) image->comps[3].alpha = 1;
  opj_cparameters_t params;
  o.default_encoder(&params);
  params.tcp_numlayers = 1;
  params.tcp_rates[0] = 0;  // lossless
  params.cp_disto_alloc = 1;
  int res = 1;
  while (res < 6 && (1u << res) <= std::min(w, h)) ++res;
  params.numresolution = res;
  opj_codec_t* codec = o.create_compress(CodecFor(Ext));
  opj_stream_t* stream = o.file_stream(FileName, OPJ_FALSE);
  int32_t result = 3;
  if (!stream) {
    result = 2;
  } else if (codec && o.setup_encoder(codec, &params, image) && o.start_compress(codec, image, stream) &&
             o.encode(codec, stream) && o.end_compress(codec, stream)) {
    result = 0;
  }
  if (stream) o.stream_destroy(stream);
  if (codec) o.destroy_codec(codec);
  o.image_destroy(image);
  return result;
}

std::string ExecutableFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return platform::ExtractFilePath(std::string(buf, static_cast<size_t>(n)));
}

std::string ErrorForCode(int32_t Code) {
  switch (Code) {
    case 2: return "Unable to open file";
    case 3: return "Error in bitmap data";
    case 4: return "Invalid pixel Format";
    default: return "Error in bitmap data: " + platform::IntToStr(Code);
  }
}

std::string ExtWithoutDot(const std::string& FileName) {
  std::string e = platform::ExtractFileExt(FileName);
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  if (e.size() > 255) e.resize(255);
  return e;
}

}  // namespace

void BindJasperLibrary(const std::string& LibraryPath) {
  TModule& m = Module();
  UnbindJasperLibrary();
  auto lib = std::make_unique<platform::TDynLib>();
  bool ok;
  if (!LibraryPath.empty()) {
    ok = lib->Load(LibraryPath);
  } else {
    ok = lib->Load(ExecutableFolder() + "libopenjp2.so.7") || lib->Load("libopenjp2.so.7");
  }
  if (!ok) return;
  TOpj& o = m.Opj;
  o.create_decompress = lib->Proc<decltype(o.create_decompress)>("opj_create_decompress");
  o.create_compress = lib->Proc<decltype(o.create_compress)>("opj_create_compress");
  o.default_decoder = lib->Proc<decltype(o.default_decoder)>("opj_set_default_decoder_parameters");
  o.default_encoder = lib->Proc<decltype(o.default_encoder)>("opj_set_default_encoder_parameters");
  o.setup_decoder = lib->Proc<decltype(o.setup_decoder)>("opj_setup_decoder");
  o.setup_encoder = lib->Proc<decltype(o.setup_encoder)>("opj_setup_encoder");
  o.file_stream = lib->Proc<decltype(o.file_stream)>("opj_stream_create_default_file_stream");
  o.stream_destroy = lib->Proc<decltype(o.stream_destroy)>("opj_stream_destroy");
  o.read_header = lib->Proc<decltype(o.read_header)>("opj_read_header");
  o.decode = lib->Proc<decltype(o.decode)>("opj_decode");
  o.end_decompress = lib->Proc<decltype(o.end_decompress)>("opj_end_decompress");
  o.destroy_codec = lib->Proc<decltype(o.destroy_codec)>("opj_destroy_codec");
  o.image_destroy = lib->Proc<decltype(o.image_destroy)>("opj_image_destroy");
  o.image_create = lib->Proc<decltype(o.image_create)>("opj_image_create");
  o.start_compress = lib->Proc<decltype(o.start_compress)>("opj_start_compress");
  o.encode = lib->Proc<decltype(o.encode)>("opj_encode");
  o.end_compress = lib->Proc<decltype(o.end_compress)>("opj_end_compress");
  bool decoder = o.create_decompress && o.default_decoder && o.setup_decoder && o.file_stream && o.stream_destroy &&
                 o.read_header && o.decode && o.end_decompress && o.destroy_codec && o.image_destroy;
  bool encoder = o.create_compress && o.default_encoder && o.setup_encoder && o.file_stream && o.stream_destroy &&
                 o.destroy_codec && o.image_destroy && o.image_create && o.start_compress && o.encode && o.end_compress;
  if (decoder) {
    m.LibLoadImage = OpjLoadImage;
    m.LibFreeImage = OpjFreeImage;
  }
  if (encoder) m.LibSaveImage = OpjSaveImage;
  m.Lib = std::move(lib);
}

void UnbindJasperLibrary() {
  TModule& m = Module();
  m.LibLoadImage = nullptr;
  m.LibSaveImage = nullptr;
  m.LibFreeImage = nullptr;
  m.Opj = TOpj{};
  m.Lib.reset();
}

bool JasperLibraryBound() { return Module().Lib != nullptr; }

void SetJasperEntryPoints(TLibLoadImage Load, TLibSaveImage Save, TLibFreeImage Free) {
  TModule& m = Module();
  m.LibLoadImage = Load;
  m.LibSaveImage = Save;
  m.LibFreeImage = Free;
}

void LoadJ2KBitmap(const std::string& FileName, std::string& ErrorMsg, platform::TBitmap* Bitmap) {
  ErrorMsg.clear();
  TModule& m = Module();
  if (!m.LibLoadImage) return;
  std::string ext = ExtWithoutDot(FileName);
  TImageContainer rec;
  rec.Reserved2 = 0;
  int32_t code = m.LibLoadImage(FileName.c_str(), ext.c_str(), &rec);
  if (code == kCodeTooLarge) {
    ErrorMsg = ImageTooLargeText(rec.Width, rec.Height);
    return;
  }
  if (code == kCodeTooShort) {
    ErrorMsg = ImageDataTooShortText(rec.Width, rec.Height, FileBytes(FileName.c_str()));
    return;
  }
  if (code != 0) {
    ErrorMsg = ErrorForCode(code);
    return;
  }
  struct TFree {
    TModule& M;
    TImageContainer& R;
    ~TFree() {
      if (M.LibFreeImage) M.LibFreeImage(&R);
    }
  } freeAtEnd{m, rec};
  int32_t planes = rec.Format & 0x0F;
  int32_t n = std::min(planes, 3);
  bool planar = (rec.Format & 0xF0) == 0x10 && n > 1;
  if (n == 0) {
    ErrorMsg = "Unsupported bitmap Format";
    return;
  }
  if (!ImageSizeAllowed(rec.Width, rec.Height)) {
    ErrorMsg = ImageTooLargeText(rec.Width, rec.Height);
    return;
  }
  if (rec.Width <= 0 || rec.Height <= 0 || !rec.Data) {
    ErrorMsg = ErrorForCode(3);
    return;
  }
  // Rows in the record hold every plane the library handed over (planes x Width bytes), of
  // which the first three are copied.
  const size_t pixels = static_cast<size_t>(rec.Width) * rec.Height;
  const size_t stride = static_cast<size_t>(planes) * rec.Width;
  if (planar && planes > 1) {
    std::vector<uint8_t> copy(rec.Data, rec.Data + pixels * planes);
    for (int32_t p = 0; p < planes; ++p)
      for (size_t k = 0; k < pixels; ++k) rec.Data[p + k * planes] = copy[p * pixels + k];
  }
  if (n == 2) {
    ErrorMsg = "Unsupported pixel Format";
    Bitmap->SetSize(0, 0);
    return;
  }
  // A bitmap that is 32 bits on entry asks for the fourth plane as its alpha.
  const bool alpha = planes >= 4 && Bitmap->PixelFormat() == platform::pf32bit;
  if (n == 1) {
    // Indices with the library's palette, else a grey ramp.
    platform::TPaletteEntries pal;
    for (int i = 0; i < 256; ++i)
      pal.push_back(rec.Palette ? platform::RGB(rec.Palette[3 * i + 2], rec.Palette[3 * i + 1], rec.Palette[3 * i])
                                : platform::RGB(i, i, i));
    Bitmap->SetSize(0, 0);
    Bitmap->SetPixelFormat(platform::pf8bit);
    Bitmap->SetPalette(pal);
  } else {
    Bitmap->SetSize(0, 0);
    Bitmap->SetPixelFormat(alpha ? platform::pf32bit : platform::pf24bit);
  }
  Bitmap->SetSize(rec.Width, rec.Height);
  const int32_t keep = n == 1 ? 1 : alpha ? 4 : 3;
  for (int32_t y = 0; y < rec.Height; ++y) {
    const uint8_t* s = rec.Data + static_cast<size_t>(y) * stride;
    uint8_t* d = static_cast<uint8_t*>(Bitmap->ScanLine(y));
    if (planes == keep) {
      std::memcpy(d, s, stride);
    } else if (keep == 1) {
      for (int32_t x = 0; x < rec.Width; ++x) d[x] = s[static_cast<size_t>(x) * planes];
    } else {
      for (int32_t x = 0; x < rec.Width; ++x, s += planes, d += keep) std::memcpy(d, s, static_cast<size_t>(keep));
    }
  }
  if (planes > keep)
    ErrorMsg = "The image contains " + platform::IntToStr(planes) + " color planes, only " + platform::IntToStr(keep) +
               " were loaded";
}

void SaveJ2KBitmap(const std::string& FileName, std::string& ErrorMsg, platform::TBitmap* Bitmap) {
  ErrorMsg.clear();
  TModule& m = Module();
  if (!m.LibSaveImage) return;
  std::string ext = ExtWithoutDot(FileName);
  int32_t n;
  switch (Bitmap->PixelFormat()) {
    case platform::pf8bit: n = 1; break;
    case platform::pf24bit: n = 3; break;
    case platform::pf32bit: n = 4; break;  // the fourth byte is the alpha plane
    default: ErrorMsg = "Unsupported bitmap format"; return;
  }
  // A 32-bit bitmap whose alpha bytes are all 0 has no alpha (nobody set it; it is drawn
  // opaque): it goes out as three planes, not as a fully transparent image.
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  bool anyAlpha = false;
  for (int32_t y = 0; n == 4 && !anyAlpha && y < h; ++y) {
    const uint8_t* s = static_cast<const uint8_t*>(Bitmap->ScanLine(y));
    for (int32_t x = 0; x < w && !anyAlpha; ++x) anyAlpha = s[4 * x + 3] != 0;
  }
  const bool dropAlpha = n == 4 && !anyAlpha;
  if (dropAlpha) n = 3;
  TImageContainer rec;
  rec.Width = w;
  rec.Height = h;
  rec.Format = n;
  size_t row = static_cast<size_t>(n) * rec.Width;
  std::vector<uint8_t> data(row * rec.Height);
  for (int32_t y = 0; y < rec.Height; ++y) {
    const uint8_t* s = static_cast<const uint8_t*>(Bitmap->ScanLine(y));
    uint8_t* d = data.data() + y * row;
    if (!dropAlpha) {
      std::memcpy(d, s, row);
    } else {
      for (int32_t x = 0; x < w; ++x, s += 4, d += 3) std::memcpy(d, s, 3);
    }
  }
  rec.Data = data.data();
  std::vector<uint8_t> palette;
  if (n == 1) {
    // The colour table as blue, green, red; places beyond the bitmap's palette are grey.
    const platform::TPaletteEntries& pal = Bitmap->Palette();
    palette.resize(256 * 3);
    for (size_t i = 0; i < 256; ++i) {
      uint32_t c = i < pal.size() ? static_cast<uint32_t>(pal[i]) : static_cast<uint32_t>(i * 0x010101u);
      palette[3 * i] = static_cast<uint8_t>(c >> 16);
      palette[3 * i + 1] = static_cast<uint8_t>(c >> 8);
      palette[3 * i + 2] = static_cast<uint8_t>(c);
    }
    rec.Palette = palette.data();
  }
  int32_t code = m.LibSaveImage(FileName.c_str(), ext.c_str(), &rec);
  if (code != 0) ErrorMsg = "Error in bitmap data: " + platform::IntToStr(code);
}

TdtpRasterClass TJ2KImage::Class() {
  static const TdtpRasterClassInfo info{"TJ2KImage", [] { return std::make_unique<TJ2KImage>(); }, {}};
  return &info;
}

void TJ2KImage::LoadFromFile(const std::string& FileName, TBitmap32* Bitmap, platform::TPoint, int32_t) {
  if (!Module().LibLoadImage) throw ERasterError(SLibraryNotLoaded);
  platform::TBitmap tmp;
  tmp.SetPixelFormat(platform::pf32bit);  // keeps a fourth plane as alpha
  std::string msg;
  LoadJ2KBitmap(FileName, msg, &tmp);
  // A read that produced no image says why instead of handing back an empty bitmap; the note
  // about planes beyond the third accompanies a loaded image and is no failure.
  if (tmp.Empty() && !msg.empty()) throw ERasterError(msg);
  Bitmap->Assign(&tmp);
}

void TJ2KImage::SaveToFile(const std::string& FileName, TBitmap32* Bitmap) {
  if (!Module().LibSaveImage) throw ERasterError(SLibraryNotLoaded);
  platform::TBitmap tmp;
  tmp.Assign(Bitmap);
  tmp.SetPixelFormat(platform::pf24bit);
  if (tmp.Empty()) throw ERasterError(SBitmapIsEmpty);
  SaveFileSafely(FileName, [&](const std::string& TempName, platform::TStream*) {
    std::string msg;
    SaveJ2KBitmap(TempName, msg, &tmp);
    if (!msg.empty()) throw ERasterError(msg);
  });
}

void TJ2KGraphic::LoadFromFile(const std::string& FileName) {
  if (!Module().LibLoadImage) return;
  std::string msg;
  LoadJ2KBitmap(FileName, msg, this);
  if (!msg.empty()) throw platform::EInvalidGraphic(msg);
}

void TJ2KGraphic::SaveToFile(const std::string& FileName) {
  // Saying nothing would leave the user believing the picture was saved.
  if (!Module().LibSaveImage) throw platform::EInvalidGraphic(SLibraryNotLoaded);
  SaveFileSafely(FileName, [this](const std::string& TempName, platform::TStream*) {
    std::string msg;
    SaveJ2KBitmap(TempName, msg, this);
    if (!msg.empty()) throw platform::EInvalidGraphic(msg);
  });
}

void InitializeDtpRasterJ2K() {
  BindJasperLibrary();
  RegisterRasterFormat(TJ2KImage::Class(), "JPeg2000 Image", ".jp2;", 0x000A);
  // Pictures are loaded at 32 bits so that a transparent image keeps its alpha.
  platform::RegisterFileFormat("JP2", "JPeg2000 Image", [] {
    auto g = std::make_unique<TJ2KGraphic>();
    g->SetPixelFormat(platform::pf32bit);
    return g;
  });
}

void FinalizeDtpRasterJ2K() {
  platform::UnregisterFileFormat("JP2");
  UnbindJasperLibrary();
}

}  // namespace raster
