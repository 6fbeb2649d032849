// libFuzzer target of the metafile player: load, then play into a small bitmap with and
// without the override, so that every accepted record is also drawn; every output pixel is read.
#include <cstddef>
#include <cstdint>

#include <QGuiApplication>
#include <QImage>
#include <cstdlib>

#include "document/dtpEmfPlayer.h"
#include "platform/Graphics.h"
#include "platform/Metafile.h"

namespace {

void FuzzEmf(const uint8_t* data, size_t size) {
  platform::TMetafile pic;
  try {
    pic.LoadFromBytes(data, size);
  } catch (const platform::EMetafileError&) {
    return;
  }
  platform::TBitmap b;
  b.SetPixelFormat(platform::pf32bit);
  b.SetSize(64, 48);
  try {
    document::TEmfPlayer(pic, b.Canvas(), platform::TRect{0, 0, 64, 48}).Play();
  } catch (const platform::EMetafileError&) {
  }
  try {
    platform::TPen pen;
    platform::TBrush brush;
    brush.SetStyle(platform::bsCross);
    document::TEmfPlayer(pic, b.Canvas(), platform::TRect{60, 2, 2, 40}).Play(&pen, &brush);
  } catch (const platform::EMetafileError&) {
  }
  const QImage& img = b.Image();
  uint32_t sum = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) sum += img.pixel(x, y);
  volatile uint32_t sink = sum;
  (void)sink;
}

}  // namespace

// Undefined behaviour (an overflow on absurd sizes) is a finding like a crash.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

// Caches the font and windowing libraries keep until the process ends are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6Core\nleak:libQt6Gui\nleak:libglib\n";
}

// Text records need the fonts of a GUI application.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication* app = new QGuiApplication(*argc, *argv);
  (void)app;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  FuzzEmf(data, size);
  return 0;
}
