// Resampling entry point of the document engine: area averaging when shrinking with the
// linear filter onto an opaque destination (sharper and cheaper than the kernel resampler),
// the transfer routines otherwise.
#pragma once

#include "raster/Raster32.h"
#include "raster/Raster32Transforms.h"

namespace raster {

// StretchAreaAverage when DstRect is neither wider nor taller than SrcRect, StretchFilter is
// sfLinear and DrawMode dmOpaque; StretchTransfer with the same arguments otherwise.
void StretchTransferAuto(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect,
                         TStretchFilter StretchFilter, TDrawMode DrawMode,
                         const TPixelCombineEvent& CombineCallBack = {});

// Each destination pixel is the truncated mean, per byte, of the source block it covers; the
// blocks split SrcRect as evenly as whole pixels allow. Nothing is drawn for a missing or
// empty bitmap or an empty rectangle; SrcRect is clipped to the source, and only destination
// pixels inside Dst are written. A destination larger than the source on an axis repeats
// source pixels (a block is never empty). No blending, no change notification.
void StretchAreaAverage(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect);

}  // namespace raster
