#include "document/dtpBitmapShape.h"

#include "document/XmlDocuments.h"
#include "platform/SysUtils.h"
#include "raster/Raster32Transforms.h"
#include "raster/dtpRasterFormats.h"

namespace document {

namespace {
// Pixels per millimetre at 150 DPI.
constexpr double kImportDpm = 5.905511811;

// Unlocks on every way out, so a failed decode leaves the lock count right.
struct TLockScope {
  TdtpResource* R;
  explicit TLockScope(TdtpResource* Res) : R(Res) { R->Lock(); }
  ~TLockScope() {
    try {
      R->Unlock();
    } catch (...) {
    }
  }
};
}  // namespace

TdtpBitmapShape::TdtpBitmapShape() : FImage(std::make_unique<TdtpResource>(this)) {
  SetCursorId(-38);
  FImage->OnImport = [this](TdtpResource* R, const std::string& F) { ImportImage(R, F); };
  FImage->OnLoadObject = [this](TdtpResource* R) { LoadImage(R); };
  FImage->OnChange = [this](TdtpResource* R) { ImageChanged(R); };
}

TdtpBitmapShape::~TdtpBitmapShape() = default;

const TShapeClass& TdtpBitmapShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpBitmapShape>("TdtpBitmapShape", &TdtpEffectShape::StaticClass());
  return cls;
}

TBitmap32* TdtpBitmapShape::Picture() const { return dynamic_cast<TBitmap32*>(FImage->Object()); }

void TdtpBitmapShape::ImportImage(TdtpResource* /*Resource*/, const std::string& FileName) {
  TMapStream* data = FImage->Data();
  data->SetSize(0);
  const raster::TdtpRasterClass cls = raster::FindRasterClass(FileName);
  if (cls && (raster::GetRasterFlags(cls) & raster::rfStreamReader)) {
    platform::TFileStream f(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
    data->SetPosition(0);
    data->CopyFrom(&f, 0);
    const std::string ext = platform::LowerCase(platform::ExtractFileExt(FileName));
    // Bytes that hold no picture are refused here, where the resource can still keep the
    // picture they would replace, rather than failing at every paint.
    if (data->Size() == 0) throw raster::ERasterError(raster::SBitmapIsEmpty);
    TBitmap32 check;
    data->SetPosition(0);
    raster::LoadRasterFromStream(data, ext, &check, platform::TPoint{0, 0}, 0);
    if (check.Empty()) throw raster::ERasterError(raster::SBitmapIsEmpty);
    data->SetPosition(0);
    FImage->Ext = ext;
    return;
  }
  // A format that cannot be read from a stream (JPEG 2000) could never be decoded from the
  // stored bytes: the picture is stored as PNG, which keeps every pixel.
  constexpr const char* kStoredExt = ".png";
  if (!raster::TdtpImageFiler::FindWriterClass(kStoredExt)) {
    std::string m = raster::SUnknownRasterFormat;
    throw raster::ERasterError(m.replace(m.find("%s"), 2, kStoredExt));
  }
  TBitmap32 bmp;
  raster::TdtpImageFiler reader;
  reader.FileName = FileName;
  reader.Load(&bmp);
  if (bmp.Empty()) throw raster::ERasterError(raster::SBitmapIsEmpty);
  raster::TdtpImageFiler writer;
  writer.Extension = kStoredExt;
  writer.Stream = data;
  data->SetPosition(0);
  writer.Save(&bmp);
  FImage->Ext = kStoredExt;
}

void TdtpBitmapShape::LoadImage(TdtpResource* /*Resource*/) {
  auto bmp = std::make_unique<TBitmap32>();
  raster::LoadRasterFromStream(FImage->Data(), FImage->Ext, bmp.get(), platform::TPoint{0, 0}, 0);
  if (bmp->Empty()) throw raster::ERasterError(raster::SBitmapIsEmpty);
  FImage->SetObject(std::move(bmp));
}

// New bytes arrived: a shape without a size takes the picture's; any shape shows the new
// picture and is modified, so that a save writes it.
void TdtpBitmapShape::ImageChanged(TdtpResource* /*Resource*/) {
  if (DocWidth() == 0 && DocHeight() == 0) {
    TLockScope lock(FImage.get());
    if (TBitmap32* pic = Picture()) {
      SetDocWidth(float(pic->Width() / kImportDpm));
      SetDocHeight(float(pic->Height() / kImportDpm));
      StoreAspectRatio();
    }
  }
  Refresh();
  Changed();
}

void TdtpBitmapShape::Clear() {
  // One change for the whole clear, told when the picture is gone too.
  BeginUpdate();
  try {
    TdtpEffectShape::Clear();
    // Back to a resource without bytes, as created; a locked one keeps its picture.
    FImage->Storage = TdtpResourceStorage::Embedded;
    FImage->Modified = false;
    FImage->SetState(0);
    if (FImage->State() == 0) {
      FImage->ArchName = "";
      FImage->Ext = "";
      FImage->FileName = "";
    }
    Refresh();
    Changed();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TdtpBitmapShape::PaintShape(TBitmap32* Bitmap) {
  if (!Document() || !Bitmap) return;
  TLockScope lock(FImage.get());
  TBitmap32* pic = Picture();
  if (!pic || pic->Empty()) return;
  const platform::TRect src{0, 0, pic->Width(), pic->Height()};
  const platform::TRect dst{ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom()};
  raster::StretchTransfer(Bitmap, dst, pic, src, Document()->Quality(), pic->DrawMode());
}

void TdtpBitmapShape::LoadFromXml(TXmlNode* Node) {
  TdtpEffectShape::LoadFromXml(Node);
  if (!Node) return;
  if (TXmlNode* img = Node->NodeByName("Image")) FImage->LoadFromXml(img);
}

void TdtpBitmapShape::SaveToXml(TXmlNode* Node) {
  TdtpEffectShape::SaveToXml(Node);
  if (!Node) return;
  FImage->SaveToXml(Node->NodeNew("Image"));
}

void InitializeDtpBitmapShape() { RegisterShapeClass(TdtpBitmapShape::StaticClass()); }

}  // namespace document
