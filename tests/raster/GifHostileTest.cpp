// Hostile GIF files and memory: whatever a file of N bytes declares (many frames, frames in far
// corners, huge screens), reading it never holds more than a fixed budget plus what N bytes of
// code can decode to, and drawing it through the raster adapter a small multiple of that.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "raster/GifGraphic.h"
#include "raster/dtpRasterGIF.h"

using namespace raster;
using Bytes = std::vector<uint8_t>;

// Every form of the global operators goes through one header-prefixed allocation, so that the
// bytes live since tracking started can be counted; blocks from before are never subtracted.
namespace {
constexpr size_t kHeader = 64;  // keeps every alignment up to 64
constexpr uint32_t kTracked = 0x7A11C0DE, kUntracked = 0x0DDBA11;
std::atomic<bool> gTrack{false};
std::atomic<int64_t> gLive{0}, gPeak{0};
struct Head {
  size_t Size, Offset;
  uint32_t Mark;
};
void* Allocate(size_t n, size_t align) {
  align = std::max<size_t>(align, 16);
  const size_t pad = std::max(kHeader, align);
  void* base = std::aligned_alloc(align, (n + pad + align - 1) / align * align);
  if (!base) return nullptr;
  char* user = static_cast<char*>(base) + pad;
  Head* h = reinterpret_cast<Head*>(user - sizeof(Head));
  h->Size = n;
  h->Offset = pad;
  h->Mark = gTrack.load(std::memory_order_relaxed) ? kTracked : kUntracked;
  if (h->Mark == kTracked) {
    const int64_t now = gLive += static_cast<int64_t>(n);
    int64_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
  }
  return user;
}
void* AllocateOrThrow(size_t n, size_t align) {
  if (void* p = Allocate(n, align)) return p;
  throw std::bad_alloc();
}
void Release(void* p) {
  if (!p) return;
  char* user = static_cast<char*>(p);
  Head* h = reinterpret_cast<Head*>(user - sizeof(Head));
  if (h->Mark == kTracked) gLive -= static_cast<int64_t>(h->Size);
  std::free(user - h->Offset);
}
}  // namespace

void* operator new(size_t n) { return AllocateOrThrow(n, 0); }
void* operator new[](size_t n) { return AllocateOrThrow(n, 0); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new(size_t n, std::align_val_t a) { return AllocateOrThrow(n, size_t(a)); }
void* operator new[](size_t n, std::align_val_t a) { return AllocateOrThrow(n, size_t(a)); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

namespace {

void Append(Bytes& b, const Bytes& tail) { b.insert(b.end(), tail.begin(), tail.end()); }
void Put16(Bytes& b, int v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// LZW data of W x H indices as our encoder writes it.
Bytes Lzw(int bpp, const Bytes& px, int w, int h) {
  platform::TMemoryStream s;
  GIFEncode(&s, bpp, 1 << bpp, px.data(), false, w, h);
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  s.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

struct TFrameSpec {
  int left, top, width, height;
};

// A screen of SW x SH with a 4-colour global table and the given frames, each with CODE.
Bytes MakeFile(int sw, int sh, const std::vector<TFrameSpec>& frames, const Bytes& code) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(b, sw);
  Put16(b, sh);
  Append(b, {0x81, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0});
  for (const TFrameSpec& f : frames) {
    Append(b, {'!', 0xF9, 4, 8, 3, 0, 0, 0});  // restore to background, delay 3
    b.push_back(',');
    Put16(b, f.left);
    Put16(b, f.top);
    Put16(b, f.width);
    Put16(b, f.height);
    b.push_back(0);
    Append(b, code);
  }
  b.push_back(';');
  return b;
}

// The peak of bytes held above what was held before, while F runs; exceptions are swallowed.
int64_t PeakOf(const std::function<void()>& f) {
  gLive = 0;
  gPeak = 0;
  gTrack = true;
  try {
    f();
  } catch (const platform::Exception&) {
  }
  gTrack = false;
  return gPeak.load();
}

int64_t ReaderPeak(const Bytes& file) {
  return PeakOf([&] {
    platform::TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
    s.SetPosition(0);
    TGifGraphic g;
    g.LoadFromStream(&s);
  });
}

int64_t AdapterPeak(const Bytes& file) {
  return PeakOf([&] {
    platform::TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
    s.SetPosition(0);
    TBitmap32 bmp;
    TdtpGifFormat fmt;
    fmt.LoadFromStream(&s, &bmp, {0, 0}, 0);
  });
}

// The limits: a fixed budget, plus the pixels the file's bytes can decode to (one byte each in
// the model; the adapter adds the drawn picture and frame 0's colours, four bytes each).
constexpr int64_t kFixed = int64_t(1) << 20;
int64_t ReaderLimit(size_t n) { return kFixed + GIFMaxPixelsFor(static_cast<int64_t>(n)) * 5 / 4; }
int64_t AdapterLimit(size_t n) {
  return kFixed + (int64_t(4) << 22) * 4 + GIFMaxPixelsFor(static_cast<int64_t>(n)) * 10;
}

std::vector<Bytes> HostileFiles() {
  std::vector<Bytes> files;
  const Bytes tiny = {2, 2, 0x44, 0x01, 0};      // one pixel
  const Bytes empty = {2, 0};                    // no code at all
  Bytes zeros(4096 * 64, 0);
  const Bytes dense = Lzw(2, zeros, 4096, 64);   // long runs: the most pixels per byte
  // Many frames, each declaring more than its data.
  for (int count : {1, 24, 100, 350})
    for (TFrameSpec f : {TFrameSpec{0, 0, 4096, 4096}, TFrameSpec{0, 0, 65535, 1}, TFrameSpec{0, 0, 1, 65535},
                         TFrameSpec{0, 0, 2048, 2048}, TFrameSpec{0, 0, 64, 64}, TFrameSpec{0, 0, 0, 0}})
      for (const Bytes* code : {&tiny, &empty, &dense}) {
        if (code == &dense && count > 24) continue;
        files.push_back(MakeFile(f.width ? f.width : 4096, f.height ? f.height : 4096,
                                 std::vector<TFrameSpec>(count, f), *code));
      }
  // Frames in far corners of small, matching and huge screens.
  for (int s : {0, 1, 2048, 2049, 10000, 16384, 65535})
    for (TFrameSpec f : {TFrameSpec{65534, 65534, 1, 1}, TFrameSpec{9999, 9999, 1, 1}, TFrameSpec{0, 65534, 1, 1},
                         TFrameSpec{65534, 0, 1, 1}, TFrameSpec{2047, 2047, 1, 1}})
      for (int count : {1, 30}) files.push_back(MakeFile(s, s, std::vector<TFrameSpec>(count, f), tiny));
  // Huge screens of any shape around honest frames.
  for (auto [w, h] : {std::pair{65535, 65535}, std::pair{65535, 4096}, std::pair{4096, 65535}, std::pair{16384, 16384},
                      std::pair{65535, 1}, std::pair{1, 65535}})
    files.push_back(MakeFile(w, h, {{0, 0, 4096, 64}}, dense));
  // Honest large content stays readable and within the limits too.
  files.push_back(MakeFile(4096, 64, std::vector<TFrameSpec>(8, TFrameSpec{0, 0, 4096, 64}), dense));
  // Random damage to some of them.
  std::mt19937 rng(7);
  const size_t n = files.size();
  for (size_t i = 0; i < n; i += 3) {
    Bytes b = files[i];
    for (int k = 0; k < 4; ++k) b[13 + rng() % (b.size() - 13)] = static_cast<uint8_t>(rng());
    files.push_back(std::move(b));
  }
  return files;
}

}  // namespace

TEST(GifHostile, NoFileHoldsMoreThanItsBytesCanDecodeTo) {
  InitializeDtpRasterGIF();
  const std::vector<Bytes> files = HostileFiles();
  ASSERT_GT(files.size(), 150u);
  int64_t worstReader = 0, worstAdapter = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const Bytes& f = files[i];
    const int64_t r = ReaderPeak(f);
    ASSERT_LE(r, ReaderLimit(f.size())) << "file " << i << " of " << f.size() << " bytes";
    const int64_t a = AdapterPeak(f);
    ASSERT_LE(a, AdapterLimit(f.size())) << "file " << i << " of " << f.size() << " bytes";
    worstReader = std::max(worstReader, r);
    worstAdapter = std::max(worstAdapter, a);
  }
  // The files are hostile enough to matter: without the limits one would have taken gigabytes.
  EXPECT_GT(worstReader, int64_t(1) << 20);
}

TEST(GifHostile, HonestLargeFileStillLoads) {
  Bytes zeros(4096 * 64, 0);
  zeros[5] = 3;
  const Bytes file = MakeFile(4096, 64, std::vector<TFrameSpec>(8, TFrameSpec{0, 0, 4096, 64}), Lzw(2, zeros, 4096, 64));
  platform::TMemoryStream s;
  s.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  s.SetPosition(0);
  TGifGraphic g;
  g.LoadFromStream(&s);
  ASSERT_EQ(g.Count(), 8);
  EXPECT_EQ(g.Images(7)->Data, zeros);
}
