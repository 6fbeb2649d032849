// A shape showing a raster picture. The file's bytes are kept in a resource as they were
// stored and decoded only at the first paint.
#pragma once

#include <memory>
#include <string>

#include "document/dtpEffectShape.h"
#include "document/dtpResource.h"

namespace document {

class TdtpBitmapShape : public TdtpEffectShape {
 public:
  TdtpBitmapShape();
  ~TdtpBitmapShape() override;
  static const TShapeClass& StaticClass();
  const TShapeClass& Class() const override { return StaticClass(); }

  // Also empties the picture, so that a shape assigned from another shows only the other's.
  void Clear() override;
  void PaintShape(TBitmap32* Bitmap) override;
  void LoadFromXml(TXmlNode* Node) override;
  void SaveToXml(TXmlNode* Node) override;

  TdtpResource* Image() const { return FImage.get(); }
  // The decoded picture while the image is locked; null otherwise.
  TBitmap32* Picture() const;

  // Resource handlers.
  void ImportImage(TdtpResource* Resource, const std::string& FileName);
  void LoadImage(TdtpResource* Resource);
  void ImageChanged(TdtpResource* Resource);

 private:
  std::unique_ptr<TdtpResource> FImage;
};

void InitializeDtpBitmapShape();

}  // namespace document
