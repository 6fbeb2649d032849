// Internals shared by the Graphics_*.cpp files: the canvas's device state and pixel helpers.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Colors.h"
#include "platform/Graphics.h"

namespace platform {

struct TCanvasState {
  QPaintDevice* Device = nullptr;
  QPainter* External = nullptr;
  std::unique_ptr<QPainter> Own;
  bool HasClip = false;
  QRegion Clip;
  int32_t BkMode = OPAQUE;
  TColor BkColor = clWhite;
  int32_t PhysWidth = 0, PhysHeight = 0, PhysOffsetX = 0, PhysOffsetY = 0;
  std::recursive_mutex LockMutex;
  std::atomic<int32_t> Locks{0};
  std::atomic<std::thread::id> Owner{};
};

inline QColor ToQColor(TColor c) {
  uint32_t rgb = static_cast<uint32_t>(ColorToRGB(c));
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

inline uint32_t ToQRgb(TColor c) {
  uint32_t rgb = static_cast<uint32_t>(ColorToRGB(c));
  return 0xFF000000u | (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
}

// Coordinates are kept within +-(2^30 - 1): far beyond any device, and their differences fit
// in 32 bits.
constexpr int32_t kCoordLimit = (1 << 30) - 1;
inline int32_t ClampCoord(int64_t v) {
  return static_cast<int32_t>(v < -kCoordLimit ? -kCoordLimit : v > kCoordLimit ? kCoordLimit : v);
}
inline QRect ToQRect(const TRect& r) {
  int32_t l = ClampCoord(r.Left), t = ClampCoord(r.Top), rr = ClampCoord(r.Right), b = ClampCoord(r.Bottom);
  return QRect(l, t, rr - l, b - t);
}
inline TRect FromQRect(const QRect& q) { return {q.x(), q.y(), q.x() + q.width(), q.y() + q.height()}; }

// Pixel access in 0xRRGGBB, for the two layouts bitmaps use (32-bit words and BGR bytes).
inline bool Is24(const QImage& img) { return img.format() == QImage::Format_BGR888; }
inline uint32_t ReadRgb(const QImage& img, int x, int y) {
  const uchar* line = img.constScanLine(y);
  if (Is24(img)) {
    const uchar* p = line + 3 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16);
  }
  return reinterpret_cast<const uint32_t*>(line)[x] & 0xFFFFFFu;
}
// Writes through the constant scanline so a painter open on the image stays valid; callers make
// sure the image is not shared first.
inline void WriteRgb(QImage& img, int x, int y, uint32_t rgb) {
  uchar* line = const_cast<uchar*>(img.constScanLine(y));
  if (Is24(img)) {
    uchar* p = line + 3 * x;
    p[0] = rgb & 0xFF;
    p[1] = (rgb >> 8) & 0xFF;
    p[2] = (rgb >> 16) & 0xFF;
    return;
  }
  uint32_t& w = reinterpret_cast<uint32_t*>(line)[x];
  w = (w & 0xFF000000u) | (rgb & 0xFFFFFFu);
}

// Off: Rectangle always draws through the painter (tests compare the direct path against it).
void SetDirectRectangles(bool On);

// The device's area in the canvas's coordinates.
QRect LogicalDeviceRect(const TCanvasState& s);

// A copy of part of an image as opaque ARGB32, for drawing through Qt: the fourth byte of a
// bitmap's pixels is not alpha to the platform, so it must not make pixels see-through.
QImage OpaqueCopy(const QImage& src, const QRect& part);

}  // namespace platform
