// A vector picture (an enhanced metafile kept in a resource) drawn by playing it record by
// record onto the target canvas, so that the shape's own pen and brush can replace the
// picture's: clip art can be recoloured without touching the stored picture.
//
// Call InitializeDtpExposedMetafile() at start-up (after InitializeDtpEffectShape).
#pragma once

#include <memory>

#include "document/dtpEffectShape.h"
#include "document/dtpEmfPlayer.h"
#include "document/dtpResource.h"
#include "platform/Graphics.h"

namespace document {

class TdtpExposedMetafile : public TdtpEffectShape {
 public:
  TdtpExposedMetafile();
  ~TdtpExposedMetafile() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  bool OverrideBrush() const { return FOverrideBrush; }
  void SetOverrideBrush(bool Value);
  bool OverridePen() const { return FOverridePen; }
  void SetOverridePen(bool Value);
  platform::TBrush* Brush() const { return FBrush.get(); }
  platform::TPen* Pen() const { return FPen.get(); }
  TdtpResource* Image() const { return FImage.get(); }

  // Plays the picture into the shape's own rectangle through the device matrix, whatever the
  // bitmap's margins (shadows) or turn.
  void PaintGdi(platform::TCanvas* Canvas) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;
  // One record, with the shape's pen and brush selected around it when they override; 1 goes on.
  virtual int PlayRecord(platform::HDC DC, platform::THandleTable* HandleTable, const platform::TEnhMetaRecord* Record,
                         int32_t ObjectCount);

 private:
  void ImageLoad(TdtpResource* Resource);
  void ImageChange(TdtpResource* Resource);
  // A shape without a size takes the picture's at 150 DPI.
  void ImageSize(TdtpResource* Resource);
  void ImageImport(TdtpResource* Resource, const std::string& FileName);
  void StyleChanged(platform::TObject* Sender);

  bool FOverrideBrush = false;
  bool FOverridePen = false;
  bool FReadingXml = false;  // the picture comes from a stored document, not an import
  std::unique_ptr<platform::TBrush> FBrush;
  std::unique_ptr<platform::TPen> FPen;
  std::unique_ptr<TdtpResource> FImage;
  platform::HGDIOBJ FPenHandle, FBrushHandle;  // made from the pen and brush on first use
};

void InitializeDtpExposedMetafile();

}  // namespace document
