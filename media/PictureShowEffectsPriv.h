#pragma once
// Internals of the transition effects that tests reach: the switch between the fast drawing
// and the plain reference drawing every fast result is checked against, and the polygon
// scan the fast drawing uses in place of a polygon region.

#include <cstdint>
#include <vector>

#include "platform/Types.h"

namespace media {

// True: every effect draws the reference way (regions joined, picture drawn clipped).
void SetEffectReferencePath(bool Value);
bool EffectReferencePath();

// Within +-2^15 the polygon region and the scan below give the same pixels; the scan's integer
// arithmetic is exact up to +-2^30.
constexpr int32_t kRegionScanLimit = 1 << 15;
constexpr int32_t kExactScanLimit = 1 << 30;

// The pixels of the nonzero-winding polygon region of Points that lie in (0, 0, W, H), as
// one-row rectangles, top to bottom; the same pixels as the region gives, without scanning the
// rows outside. False (Out empty) when a point lies beyond +-Limit.
bool PolygonSpans(const std::vector<platform::TPoint>& Points, int32_t W, int32_t H,
                  std::vector<platform::TRect>& Out, int32_t Limit = kRegionScanLimit);

// The polygon of one frame of the rotational rectangle (Style 149) or star (150).
std::vector<platform::TPoint> RotationalPolygon(int32_t Style, const platform::TRect& R,
                                                uint16_t Step, uint8_t Progress);

}  // namespace media
