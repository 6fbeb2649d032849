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

// The pixels of the nonzero-winding polygon region of Points that lie in (0, 0, W, H), as
// one-row rectangles, top to bottom; the same pixels as the region gives, without scanning the
// rows outside. False (Out empty) when a point lies beyond +-2^18, where the region first cuts
// the polygon.
bool PolygonSpans(const std::vector<platform::TPoint>& Points, int32_t W, int32_t H,
                  std::vector<platform::TRect>& Out);

}  // namespace media
