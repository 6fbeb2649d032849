#include "document/dtpEmfPlayer.h"

namespace document {

int PlayRecordWith(platform::HDC DC, platform::THandleTable* Table, const platform::TEnhMetaRecord* Record,
                   int32_t ObjectCount, const platform::HGDIOBJ& Pen, const platform::HGDIOBJ& Brush) {
  // Selected before every record, so a pen or brush the picture selected never draws.
  platform::HGDIOBJ oldPen, oldBrush;
  if (Pen) oldPen = platform::SelectObject(DC, Pen);
  if (Brush) oldBrush = platform::SelectObject(DC, Brush);
  platform::PlayEnhMetaFileRecord(DC, Table, Record, uint32_t(ObjectCount));
  if (oldPen) platform::SelectObject(DC, oldPen);
  if (oldBrush) platform::SelectObject(DC, oldBrush);
  return 1;
}

TEmfPlayer::TEmfPlayer(const TEmfPicture& Picture, platform::TCanvas* Canvas, const platform::TRect& Rect)
    : FPicture(Picture), FCanvas(Canvas), FRect(Rect) {}

bool TEmfPlayer::Play(const platform::TPen* OverridePen, const platform::TBrush* OverrideBrush) {
  const platform::HGDIOBJ pen = OverridePen ? platform::PenHandle(*OverridePen) : nullptr;
  const platform::HGDIOBJ brush = OverrideBrush ? platform::BrushHandle(*OverrideBrush) : nullptr;
  platform::TMetafileTarget t;
  t.Left = FRect.Left;
  t.Top = FRect.Top;
  t.Right = FRect.Right;
  t.Bottom = FRect.Bottom;
  return platform::EnumEnhMetaFile(
      FCanvas, FPicture,
      [&](platform::HDC DC, platform::THandleTable* Table, const platform::TEnhMetaRecord* Record, int32_t Count,
          void*) { return PlayRecordWith(DC, Table, Record, Count, pen, brush); },
      nullptr, t);
}

}  // namespace document
