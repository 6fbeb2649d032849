// Raster format registry and image filer: registration order and replacement, extension
// lookup, the fallback scan, writer lookup, the JPEG scale choice and the error messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/Classes.h"
#include "platform/SysUtils.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "tests/common/TestSupport.h"

using namespace raster;

namespace {

void StartUp() {
  InitializeDtpRasterFormats();
  InitializeDtpRasterPNG();
  InitializeDtpRasterJ2K();
}

std::string Tmp(const std::string& name) { return kdtest::TempDir() + "/rf_" + name; }

template <class F>
std::string RasterMessage(F f) {
  try {
    f();
  } catch (const ERasterError& e) {
    return e.Message;
  }
  return "no error";
}

// A JPEG of w x h made by ImageMagick.
std::string MakeJpeg(int w, int h) {
  std::string path = Tmp("j" + std::to_string(w) + "x" + std::to_string(h) + ".jpg");
  std::string cmd = "convert -size " + std::to_string(w) + "x" + std::to_string(h) + " gradient:red-blue " + path;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return path;
}

class TPlainRaster : public TdtpRaster {
 public:
  TPlainRaster() : TdtpRaster(Class()) {}
  static TdtpRasterClass Class() {
    static const TdtpRasterClassInfo info{"TPlainRaster", [] { return std::make_unique<TPlainRaster>(); }, {}};
    return &info;
  }
};

}  // namespace

TEST(RasterRegistry, OrderFlagsAndReplacement) {
  StartUp();
  ASSERT_EQ(RasterFormatCount(), 4);  // GIF registers its own row when its unit exists
  EXPECT_EQ(RasterFormat(0)->RasterClassName, "TdtpBmpFormat");
  EXPECT_EQ(RasterFormat(1)->Extensions, ".jpg;.jp;.jpeg;");
  EXPECT_EQ(RasterFormat(2)->Description, "Portable Network Graphics");
  EXPECT_EQ(RasterFormat(3)->RasterClassName, "TJ2KImage");
  EXPECT_EQ(GetRasterFlags(TdtpJpgFormat::Class()), 0x0613);
  EXPECT_EQ(GetRasterFlags(TPlainRaster::Class()), 0);
  RegisterRasterFormat(TdtpPngFormat::Class(), "x", ".png;.pnx;", 0x0001);
  EXPECT_EQ(RasterFormatCount(), 4);
  EXPECT_EQ(RasterFormat(2)->Extensions, ".png;.pnx;");
  InitializeDtpRasterPNG();
  EXPECT_EQ(GetRasterFlags(TdtpPngFormat::Class()), 0x004F);
  EXPECT_EQ(TdtpPngFormat().Flags, 0x004F);
}

TEST(RasterRegistry, FindRasterClass) {
  StartUp();
  EXPECT_EQ(FindRasterClass("photo.JPEG"), TdtpJpgFormat::Class());
  EXPECT_EQ(FindRasterClass("x.jp"), TdtpJpgFormat::Class());
  EXPECT_EQ(FindRasterClass("a/b.png"), TdtpPngFormat::Class());
  EXPECT_EQ(FindRasterClass("x.tif"), nullptr);
  EXPECT_EQ(FindRasterClass("x"), nullptr);
  EXPECT_EQ(FindRasterClass(""), nullptr);
  EXPECT_EQ(TdtpImageFiler::FindWriterClass(".png"), TdtpPngFormat::Class());
  EXPECT_EQ(TdtpImageFiler::FindWriterClass(".jpg"), nullptr);
  EXPECT_EQ(TdtpImageFiler::FindWriterClass(".jp2"), TJ2KImage::Class());
  EXPECT_EQ(TdtpImageFiler::FindWriterClass(""), nullptr);
}

TEST(RasterFiler, StreamsByExtensionAndUnknownFormat) {
  StartUp();
  TBitmap32 src;
  src.SetSize(3, 2);
  src.Clear(0xFF336699);
  platform::TMemoryStream s;
  TdtpPngFormat().SaveToStream(&s, &src);
  for (std::string ext : {".png", "png"}) {
    s.SetPosition(0);
    TBitmap32 out;
    LoadRasterFromStream(&s, ext, &out, {0, 0}, 0);
    EXPECT_EQ(out.Width(), 3);
    EXPECT_EQ(out.Pixel(2, 1), 0xFF336699u);
  }
  s.SetPosition(0);
  TBitmap32 out;
  EXPECT_EQ(RasterMessage([&] { LoadRasterFromStream(&s, ".hck", &out, {0, 0}, 0); }),
            "Unknown raster format \".hck\"");
  TdtpImageFiler filer;
  EXPECT_EQ(RasterMessage([&] { filer.Load(nullptr); }), "Input bitmap not assigned");
  EXPECT_EQ(RasterMessage([&] { filer.Save(nullptr); }), "Input bitmap not assigned");
  // A JPEG 2000 image in a stream: no stream reader.
  TdtpImageFiler j2k;
  j2k.Stream = &s;
  j2k.Extension = ".jp2";
  EXPECT_EQ(RasterMessage([&] { j2k.Load(&out); }), "Loading from stream is not implemented");
}

TEST(RasterFiler, FileNameWinsAndFallbackScan) {
  StartUp();
  std::string jpg = MakeJpeg(20, 10);
  std::string upper = Tmp("Photo.JPG");
  kdtest::WriteFileBytes(upper, kdtest::ReadFileBytes(jpg));
  TdtpImageFiler filer;
  filer.FileName = upper;
  filer.Extension = ".png";
  TBitmap32 bmp;
  filer.Load(&bmp);
  EXPECT_EQ(filer.Extension, ".jpg");
  EXPECT_EQ(filer.Raster->ClassName(), "TdtpJpgFormat");
  EXPECT_EQ(bmp.Width(), 20);
  EXPECT_EQ(filer.ByteCount, static_cast<int32_t>(kdtest::ReadFileBytes(jpg).size()));
  EXPECT_EQ(filer.PageCount, 1);

  // An unregistered extension is read by the first class, BMP, which rejects a JPEG.
  std::string odd = Tmp("picture.xyz");
  kdtest::WriteFileBytes(odd, kdtest::ReadFileBytes(jpg));
  TdtpImageFiler f2;
  f2.FileName = odd;
  try {
    f2.Load(&bmp);
    ADD_FAILURE();
  } catch (const ERasterError&) {
    ADD_FAILURE() << "the bitmap reader's own error was expected";
  } catch (const platform::Exception&) {
  }
  EXPECT_EQ(f2.Raster->ClassName(), "TdtpBmpFormat");
}

TEST(RasterFiler, SaveChoosesWriterWithoutCaseFolding) {
  StartUp();
  TBitmap32 src;
  src.SetSize(5, 4);
  src.Clear(0x80FF0000);
  for (std::string name : {"a.jpg", "b.PNG"}) {
    TdtpImageFiler f;
    f.FileName = Tmp(name);
    platform::DeleteFile(f.FileName);
    f.Save(&src);
    EXPECT_FALSE(platform::FileExists(f.FileName)) << name;
    EXPECT_EQ(f.ByteCount, 0);
  }
  TdtpImageFiler f;
  f.FileName = Tmp("c.png");
  f.Save(&src);
  EXPECT_EQ(f.ByteCount, static_cast<int32_t>(kdtest::ReadFileBytes(f.FileName).size()));
  TdtpImageFiler r;
  r.FileName = f.FileName;
  TBitmap32 back;
  r.Load(&back);
  EXPECT_EQ(back.Pixel(4, 3) >> 24, 0x80u);
  // Through a stream: the Extension's text from its last dot.
  platform::TMemoryStream s;
  TdtpImageFiler fs;
  fs.Stream = &s;
  fs.Extension = "image.png";
  fs.Save(&src);
  EXPECT_EQ(fs.ByteCount, static_cast<int32_t>(s.GetSize()));
}

TEST(RasterFormats, JpegScaleChoice) {
  StartUp();
  std::string jpg = MakeJpeg(64, 48);
  struct {
    platform::TPoint req;
    int w, h;
  } cases[] = {{{1, 1}, 8, 6}, {{16, 12}, 16, 12}, {{17, 12}, 32, 24}, {{4000, 4000}, 64, 48}, {{64, 1}, 64, 48}};
  for (auto& c : cases) {
    platform::TFileStream fs(jpg, platform::fmOpenRead);
    TdtpJpgFormat fmt;
    TBitmap32 bmp;
    fmt.LoadFromStream(&fs, &bmp, c.req, 0);
    EXPECT_EQ(fmt.Width, 64);
    EXPECT_EQ(bmp.Width(), c.w) << c.req.X;
    EXPECT_EQ(bmp.Height(), c.h) << c.req.X;
    EXPECT_EQ(bmp.Pixel(0, 0) >> 24, 0xFFu);
  }
}

TEST(RasterFormats, PagesBaseMethodsAndCornerTransparency) {
  StartUp();
  TBitmap32 src;
  src.SetSize(3, 3);
  src.Clear(0xFF00FF00);
  src.SetPixel(1, 1, 0xFF0000FF);
  platform::TMemoryStream bmpStream;
  TdtpBmpFormat().SaveToStream(&bmpStream, &src);
  TBitmap32 out;
  bmpStream.SetPosition(0);
  EXPECT_EQ(RasterMessage([&] { TdtpBmpFormat().LoadFromStream(&bmpStream, &out, {0, 0}, 1); }),
            "Requested non-existing page");
  std::string jpg = MakeJpeg(8, 8);
  platform::TFileStream js(jpg, platform::fmOpenRead);
  EXPECT_EQ(RasterMessage([&] { TdtpJpgFormat().LoadFromStream(&js, &out, {0, 0}, 1); }), "Requested non-existing page");
  bmpStream.SetPosition(0);
  TdtpBmpFormat().LoadFromStream(&bmpStream, &out, {0, 0}, -1);
  EXPECT_EQ(out.Pixel(0, 0), 0xFF00FF00u);  // BMP does not carry the corner bit

  RegisterRasterFormat(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 0x004F);
  bmpStream.SetPosition(0);
  TdtpBmpFormat().LoadFromStream(&bmpStream, &out, {0, 0}, 0);
  EXPECT_EQ(out.Pixel(0, 0), 0u);
  EXPECT_EQ(out.Pixel(1, 1), 0xFF0000FFu);
  InitializeDtpRasterFormats();

  TPlainRaster plain;
  EXPECT_EQ(RasterMessage([&] { plain.SaveToStream(&bmpStream, &src); }), "Method not implemented");
  EXPECT_EQ(RasterMessage([&] { plain.LoadFromStream(&bmpStream, &src, {0, 0}, 0); }),
            "Loading from stream is not implemented");
  EXPECT_EQ(RasterMessage([&] { plain.LoadFromFile("x", &src, {0, 0}, 0); }), "Method not implemented");
  EXPECT_EQ(RasterMessage([&] { plain.SaveToFile("x", &src); }), "Method not implemented");
  EXPECT_TRUE(TdtpRaster::CanLoad(nullptr));
}

TEST(RasterFiler, AFailedSaveKeepsTheFileThatWasThere) {
  StartUp();
  const std::string folder = Tmp("safe");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/real");
  const std::string keep = folder + "/keep.png";
  TBitmap32 src;
  src.SetSize(3, 2);
  src.Clear(0xFF102030);
  {
    TdtpImageFiler w;
    w.FileName = keep;
    w.Save(&src);
  }
  ::chmod(keep.c_str(), 0640);
  const std::vector<uint8_t> before = kdtest::ReadFileBytes(keep);
  TBitmap32 empty;
  TdtpImageFiler w;
  w.FileName = keep;
  EXPECT_EQ(RasterMessage([&] { w.Save(&empty); }), "Bitmap is empty");
  EXPECT_EQ(kdtest::ReadFileBytes(keep), before);
  EXPECT_EQ(kdtest::FileMode(keep), 0640u);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
  // A save that succeeds replaces the file and keeps its permissions.
  TBitmap32 other;
  other.SetSize(4, 4);
  other.Clear(0xFFFFFFFF);
  TdtpImageFiler ok;
  ok.FileName = keep;
  ok.Save(&other);
  EXPECT_EQ(kdtest::FileMode(keep), 0640u);
  EXPECT_EQ(ok.ByteCount, static_cast<int32_t>(kdtest::ReadFileBytes(keep).size()));
  TdtpImageFiler r;
  r.FileName = keep;
  TBitmap32 back;
  r.Load(&back);
  EXPECT_EQ(back.Width(), 4);
  // A new file gets the permissions a created file gets.
  mode_t mask = ::umask(0);
  ::umask(mask);
  TdtpImageFiler fresh;
  fresh.FileName = folder + "/fresh.bmp";
  fresh.Save(&src);
  EXPECT_EQ(kdtest::FileMode(fresh.FileName), 0666u & ~mask);
  // Through a symbolic link (relative, to another folder): the link stays a link and the file
  // it names is written; a failed save leaves that file as it was.
  const std::string real = folder + "/real/target.png";
  std::filesystem::create_symlink("real/target.png", folder + "/link.png");
  TdtpImageFiler viaLink;
  viaLink.FileName = folder + "/link.png";
  viaLink.Save(&src);  // the link dangled: the file it names is made
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/link.png"));
  ASSERT_TRUE(platform::FileExists(real));
  const std::vector<uint8_t> linked = kdtest::ReadFileBytes(real);
  TdtpImageFiler failing;
  failing.FileName = folder + "/link.png";
  EXPECT_EQ(RasterMessage([&] { failing.Save(&empty); }), "Bitmap is empty");
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/link.png"));
  EXPECT_EQ(kdtest::ReadFileBytes(real), linked);
  TdtpImageFiler again;
  again.FileName = folder + "/link.png";
  again.Save(&other);
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/link.png"));
  EXPECT_NE(kdtest::ReadFileBytes(real), linked);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
  EXPECT_EQ(kdtest::DotFileCount(folder + "/real"), 0);
  // A folder that does not exist: the platform's error, nothing made.
  TdtpImageFiler nowhere;
  nowhere.FileName = folder + "/missing/x.png";
  try {
    nowhere.Save(&src);
    ADD_FAILURE();
  } catch (const platform::EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file " + nowhere.FileName);
  }
}

namespace {

// Runs F in a child process under the unprivileged "nobody" account (the tests run as root,
// which the file system lets write anything) and hands back what F returned.
std::string AsNobody(const std::function<std::string()>& F) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
      out = "no setuid";
    } else {
      try {
        out = F();
      } catch (const platform::Exception& e) {
        out = "exception: " + e.Message;
      } catch (...) {
        out = "other exception";
      }
    }
    [[maybe_unused]] ssize_t n = ::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

std::string SaveOutcome(const std::string& FileName, TBitmap32* Bitmap) {
  try {
    TdtpImageFiler w;
    w.FileName = FileName;
    w.Save(Bitmap);
    return "saved " + std::to_string(w.ByteCount);
  } catch (const platform::Exception& e) {
    return e.Message;
  }
}

int32_t LoadedWidth(const std::string& FileName) {
  TdtpImageFiler r;
  r.FileName = FileName;
  TBitmap32 b;
  r.Load(&b);
  return b.Width();
}

}  // namespace

TEST(RasterFiler, SafeSaveKeepsReadOnlyFilesAndWritesIntoLockedFolders) {
  StartUp();
  const std::string folder = Tmp("rights");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/locked");
  TBitmap32 small, big, empty;
  small.SetSize(3, 2);
  small.Clear(0xFF102030);
  big.SetSize(5, 4);
  big.Clear(0xFFFFFFFF);
  const std::string ro = folder + "/ro.png", w = folder + "/locked/w.png";
  ASSERT_EQ(SaveOutcome(ro, &small).rfind("saved", 0), 0u);
  ASSERT_EQ(SaveOutcome(w, &small).rfind("saved", 0), 0u);
  const std::vector<uint8_t> before = kdtest::ReadFileBytes(ro);
  for (const std::string& p : {folder, folder + "/locked", ro, w}) ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
  ::chmod(std::filesystem::path(folder).parent_path().c_str(), 0755);
  ::chmod(ro.c_str(), 0444);
  ::chmod(w.c_str(), 0640);
  ::chmod((folder + "/locked").c_str(), 0555);
  // A read-only file in a writable folder is not replaced behind its owner's back.
  EXPECT_EQ(AsNobody([&] { return SaveOutcome(ro, &big); }), "Cannot create file " + ro);
  EXPECT_EQ(kdtest::ReadFileBytes(ro), before);
  EXPECT_EQ(kdtest::FileMode(ro), 0444u);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
  // A file of another owner that the saver may write keeps its owner, group and permissions.
  const std::string shared = folder + "/shared.png";
  ASSERT_EQ(SaveOutcome(shared, &small).rfind("saved", 0), 0u);
  ASSERT_EQ(::chown(shared.c_str(), 0, 65534), 0);
  ::chmod(shared.c_str(), 0664);
  EXPECT_EQ(AsNobody([&] { return SaveOutcome(shared, &big); }).rfind("saved", 0), 0u);
  struct stat ss;
  ASSERT_EQ(::stat(shared.c_str(), &ss), 0);
  EXPECT_EQ(ss.st_uid, 0u);
  EXPECT_EQ(ss.st_gid, 65534u);
  EXPECT_EQ(ss.st_mode & 07777, 0664u);
  EXPECT_EQ(LoadedWidth(shared), 5);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
  // A writable file in a folder where nothing can be made is written in place, once its
  // picture has been made completely; a codec that fails leaves it as it was.
  const std::vector<uint8_t> wBefore = kdtest::ReadFileBytes(w);
  EXPECT_EQ(AsNobody([&] { return SaveOutcome(w, &empty); }), "Bitmap is empty");
  EXPECT_EQ(kdtest::ReadFileBytes(w), wBefore);
  EXPECT_EQ(AsNobody([&] { return SaveOutcome(w, &big); }).rfind("saved", 0), 0u);
  EXPECT_EQ(LoadedWidth(w), 5);
  EXPECT_EQ(kdtest::FileMode(w), 0640u);
  // A new file there still cannot be made.
  const std::string fresh = folder + "/locked/fresh.png";
  EXPECT_EQ(AsNobody([&] { return SaveOutcome(fresh, &big); }), "Cannot create file " + fresh);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  ::chmod((folder + "/locked").c_str(), 0755);
  EXPECT_EQ(kdtest::DotFileCount(folder + "/locked"), 0);
}

TEST(RasterFiler, SafeSaveKeepsHardLinksAndLongNames) {
  StartUp();
  const std::string folder = Tmp("links");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  TBitmap32 small, big;
  small.SetSize(3, 2);
  small.Clear(0xFF102030);
  big.SetSize(5, 4);
  big.Clear(0xFFFFFFFF);
  // Every name of a hard-linked file shows the new picture.
  const std::string a = folder + "/a.png", b = folder + "/b.png";
  ASSERT_EQ(SaveOutcome(a, &small).rfind("saved", 0), 0u);
  std::filesystem::create_hard_link(a, b);
  ::chmod(a.c_str(), 0604);
  EXPECT_EQ(SaveOutcome(a, &big).rfind("saved", 0), 0u);
  EXPECT_EQ(LoadedWidth(b), 5);
  EXPECT_EQ(std::filesystem::hard_link_count(a), 2u);
  EXPECT_EQ(kdtest::FileMode(b), 0604u);
  // A device is written to, never replaced by a file; a folder is refused.
  const std::string device = folder + "/null.png";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  EXPECT_EQ(SaveOutcome(device, &big), "saved 0");
  struct stat ds;
  ASSERT_EQ(::stat(device.c_str(), &ds), 0);
  EXPECT_TRUE(S_ISCHR(ds.st_mode));
  ::unlink(device.c_str());
  std::filesystem::create_directories(folder + "/dir.png");
  EXPECT_EQ(SaveOutcome(folder + "/dir.png", &big), "Cannot create file " + folder + "/dir.png");
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/dir.png"));
  // A loop of symbolic links is refused and stays as it was.
  std::filesystem::create_symlink("l2.png", folder + "/l1.png");
  std::filesystem::create_symlink("l1.png", folder + "/l2.png");
  EXPECT_EQ(SaveOutcome(folder + "/l1.png", &big), "Cannot create file " + folder + "/l1.png");
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/l1.png"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/l2.png"));
  // A name as long as a name may be still gets its temporary file beside it.
  const std::string longName = folder + "/" + std::string(251, 'n') + ".png";
  EXPECT_EQ(SaveOutcome(longName, &big).rfind("saved", 0), 0u);
  EXPECT_EQ(LoadedWidth(longName), 5);
  EXPECT_EQ(kdtest::DotFileCount(folder), 0);
}

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The same picture with its rows stored top row first (a negative height).
std::vector<uint8_t> TopDown(const std::vector<uint8_t>& f) {
  const uint32_t off = Le32(f, 10), w = Le32(f, 18), h = Le32(f, 22), bpp = f[28];
  const size_t stride = (w * bpp + 31) / 32 * 4;
  std::vector<uint8_t> out(f.begin(), f.begin() + off);
  for (uint32_t y = h; y-- > 0;) out.insert(out.end(), f.begin() + off + y * stride, f.begin() + off + (y + 1) * stride);
  PutLe32(out, 22, static_cast<uint32_t>(-static_cast<int32_t>(h)));
  return out;
}

// A 4-bit file's pixels as run-length codes: a run of two for each pair, an end of line after
// each row and an end of bitmap.
std::vector<uint8_t> Rle4(const std::vector<uint8_t>& f) {
  const uint32_t off = Le32(f, 10), w = Le32(f, 18), h = Le32(f, 22);
  const size_t stride = (w * 4 + 31) / 32 * 4;
  std::vector<uint8_t> out(f.begin(), f.begin() + off);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; x += 2) {
      const uint8_t pair = f[off + y * stride + x / 2];
      out.insert(out.end(), {static_cast<uint8_t>(std::min<uint32_t>(2, w - x)), x + 1 < w ? pair : uint8_t(pair & 0xF0)});
    }
    out.insert(out.end(), {0, 0});
  }
  out.insert(out.end(), {0, 1});
  PutLe32(out, 30, 2);
  PutLe32(out, 34, static_cast<uint32_t>(out.size() - off));
  PutLe32(out, 2, static_cast<uint32_t>(out.size()));
  return out;
}

// The same picture with a colour table of its first Count entries (each index it uses must lie
// below Count), and the table's entries recoloured when Recolour is set.
std::vector<uint8_t> ShortTable(const std::vector<uint8_t>& f, uint32_t Count, bool Recolour = false) {
  const uint32_t off = Le32(f, 10), table = 14 + Le32(f, 14);
  std::vector<uint8_t> out(f.begin(), f.begin() + table + 4 * Count);
  if (Recolour)
    for (uint32_t i = 0; i < Count; ++i) {
      out[table + 4 * i] = static_cast<uint8_t>(40 + 70 * i);
      out[table + 4 * i + 1] = static_cast<uint8_t>(200 - 50 * i);
      out[table + 4 * i + 2] = static_cast<uint8_t>(90 + 13 * i);
    }
  out.insert(out.end(), f.begin() + off, f.end());
  PutLe32(out, 46, Count);
  PutLe32(out, 10, table + 4 * Count);
  PutLe32(out, 2, static_cast<uint32_t>(out.size()));
  return out;
}

}  // namespace

// Bitmap files of every depth and kind, loaded, saved and loaded again through the format: the
// first load shows ImageMagick's colours (and its alpha for 32 bits, other depths load
// opaque), and the second load gives back every pixel and alpha of the first.
TEST(RasterFormats, EveryKindOfBitmapComesBackThroughASave) {
  if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  const std::string dir = Tmp("bmp-sweep");
  ASSERT_EQ(std::system(("sh '" + kdtest::SourcePath("tools/make-bmp-fixtures.sh") + "' '" + dir + "' >/dev/null 2>&1").c_str()), 0);
  ASSERT_EQ(std::system(("cd '" + dir + "' && convert alpha.png -define bmp3:alpha=true BMP3:b32_3.bmp && "
                         "convert base.png -colors 3 -type palette BMP3:b4_3.bmp").c_str()), 0);
  auto file = [&](const std::string& name) { return kdtest::ReadFileBytes(dir + "/" + name + ".bmp"); };
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> kinds = {
      {"b1", file("b1")},           {"b4", file("b4")},           {"b4_3", file("b4_3")},
      {"b8", file("b8")},           {"rle8", file("rle8")},       {"rle4", Rle4(file("b4"))},
      {"b24", file("b24")},         {"os2_24", file("os2_24")},   {"os2_8", file("os2_8")},
      {"b16_565", file("b16_565")}, {"b16_555", file("b16_555")}, {"b16_4444", file("b16_4444")},
      {"b32_v5", file("b32_v5")},   {"b32_3", file("b32_3")},     {"top-down b1", TopDown(file("b1"))},
      {"top-down b4", TopDown(file("b4"))},    {"top-down b8", TopDown(file("b8"))},
      {"top-down b24", TopDown(file("b24"))},  {"top-down b16_565", TopDown(file("b16_565"))},
      {"top-down b32_v5", TopDown(file("b32_v5"))},
      {"b1, a coloured table", ShortTable(file("b1"), 2, true)},
      {"b4, a table of 3", ShortTable(file("b4_3"), 3)},
      {"b4, a table of 3 in runs", Rle4(ShortTable(file("b4_3"), 3, true))},
      {"b8, a table of 200", ShortTable(file("b8"), 200)},
  };
  for (const auto& [name, bytes] : kinds) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/sweep.bmp";
    kdtest::WriteFileBytes(path, bytes);
    ASSERT_EQ(std::system(("convert '" + path + "' -depth 8 rgba:'" + path + ".rgba'").c_str()), 0);
    const std::vector<uint8_t> m = kdtest::ReadFileBytes(path + ".rgba");
    TdtpBmpFormat fmt;
    TBitmap32 first;
    {
      platform::TMemoryStream s;
      s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
      s.SetPosition(0);
      fmt.LoadFromStream(&s, &first, {0, 0}, 0);
    }
    ASSERT_EQ(m.size(), size_t(first.Width()) * first.Height() * 4);
    const bool alpha = name.find("b32") != std::string::npos;
    for (int i = 0; i < first.Width() * first.Height(); ++i) {
      uint32_t r = m[i * 4], g = m[i * 4 + 1], b = m[i * 4 + 2];
      if (name == "b16_4444") r |= r >> 4, g |= g >> 4, b |= b >> 4;  // bits replicated, not shifted
      const TColor32 want = (alpha ? uint32_t(m[i * 4 + 3]) : 255u) << 24 | r << 16 | g << 8 | b;
      ASSERT_EQ(first.Bits()[i], want) << "first load, pixel " << i;
    }
    platform::TMemoryStream s;
    fmt.SaveToStream(&s, &first);
    s.SetPosition(0);
    TBitmap32 again;
    fmt.LoadFromStream(&s, &again, {0, 0}, 0);
    ASSERT_EQ(again.Width(), first.Width());
    ASSERT_EQ(again.Height(), first.Height());
    int differ = 0;
    for (int i = 0; i < first.Width() * first.Height(); ++i) differ += again.Bits()[i] != first.Bits()[i];
    EXPECT_EQ(differ, 0) << "pixels that changed through the save";
  }
}
