// Playing a metafile with a replacement pen and brush: the rule the metafile shape applies to
// every record (its own pen and brush selected before the record, the picture's selected back
// after it), for callers that play a picture outside a shape.
#pragma once

#include "platform/Graphics.h"
#include "platform/Metafile.h"

namespace document {

using EEmfError = platform::EMetafileError;
using TEmfPicture = platform::TMetafile;

// Plays one record with Pen and Brush (either may be empty) selected around it; returns 1.
int PlayRecordWith(platform::HDC DC, platform::THandleTable* Table, const platform::TEnhMetaRecord* Record,
                   int32_t ObjectCount, const platform::HGDIOBJ& Pen, const platform::HGDIOBJ& Brush);

// Plays a picture into Rect of Canvas; an override pen or brush (when given) draws every
// record instead of the ones the picture selects.
class TEmfPlayer {
 public:
  TEmfPlayer(const TEmfPicture& Picture, platform::TCanvas* Canvas, const platform::TRect& Rect);
  bool Play(const platform::TPen* OverridePen = nullptr, const platform::TBrush* OverrideBrush = nullptr);

 private:
  const TEmfPicture& FPicture;
  platform::TCanvas* FCanvas;
  platform::TRect FRect;
};

}  // namespace document
