#include "document/dtpExposedMetafile.h"

#include "document/XmlBitmaps.h"
#include "document/XmlDocuments.h"
#include "platform/Classes.h"

namespace document {

namespace {
constexpr double cPixelsPerMm150 = 5.905511811;  // 150 dots per inch
constexpr double cMaxPictureExtent = double(1 << 24);  // pixels, as for the bounds

// The picture's size in its own pixels: its frame, which is what a play maps onto the shape,
// measured with the reference device; without one (or without a frame) the bounds of its ink.
void PictureSize(const platform::TMetafile& M, double& Width, double& Height) {
  const platform::TEnhMetaHeader& h = M.Header();
  Width = M.Width();
  Height = M.Height();
  const double fw = double(h.Frame.Right) - h.Frame.Left, fh = double(h.Frame.Bottom) - h.Frame.Top;
  if (h.DeviceCx > 0 && h.DeviceCy > 0 && h.MillimetersCx > 0 && h.MillimetersCy > 0 && fw > 0 && fh > 0) {
    const double w = fw * h.DeviceCx / h.MillimetersCx / 100, hh = fh * h.DeviceCy / h.MillimetersCy / 100;
    // A header with absurd device figures keeps the bounds rather than a shape kilometres wide.
    if (w < cMaxPictureExtent && hh < cMaxPictureExtent) {
      Width = w;
      Height = hh;
    }
  }
}

}  // namespace

const TShapeClass& TdtpExposedMetafile::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpExposedMetafile>("TdtpExposedMetafile", &TdtpEffectShape::StaticClass());
  return cls;
}

TdtpExposedMetafile::TdtpExposedMetafile()
    : FBrush(std::make_unique<platform::TBrush>()),
      FPen(std::make_unique<platform::TPen>()),
      FImage(std::make_unique<TdtpResource>(this)) {
  FBrush->OnChange = [this](platform::TObject* S) { StyleChanged(S); };
  FPen->OnChange = [this](platform::TObject* S) { StyleChanged(S); };
  FImage->OnLoadObject = [this](TdtpResource* R) { ImageLoad(R); };
  FImage->OnChange = [this](TdtpResource* R) { ImageChange(R); };
  FImage->OnImport = [this](TdtpResource* R, const std::string& F) { ImageImport(R, F); };
}

TdtpExposedMetafile::~TdtpExposedMetafile() {
  FImage.reset();
  FPen.reset();
  FBrush.reset();
}

void TdtpExposedMetafile::StyleChanged(platform::TObject*) {
  FPenHandle.reset();
  FBrushHandle.reset();
  RefreshAll();
  Changed();
}

void TdtpExposedMetafile::SetOverrideBrush(bool Value) {
  if (FOverrideBrush == Value) return;
  FOverrideBrush = Value;
  RefreshAll();
  Changed();
}

void TdtpExposedMetafile::SetOverridePen(bool Value) {
  if (FOverridePen == Value) return;
  FOverridePen = Value;
  RefreshAll();
  Changed();
}

void TdtpExposedMetafile::ImageLoad(TdtpResource* Resource) {
  auto m = std::make_unique<platform::TMetafile>();
  m->LoadFromStream(Resource->Data());
  Resource->SetObject(std::move(m));
}

// Bytes that hold no metafile are refused here, where the resource can still keep the picture
// they would replace, rather than failing at every paint.
void TdtpExposedMetafile::ImageImport(TdtpResource* Resource, const std::string& FileName) {
  TMapStream* data = Resource->Data();
  platform::TFileStream f(FileName, platform::fmOpenRead | platform::fmShareDenyNone);
  data->SetPosition(0);
  data->CopyFrom(&f, 0);
  data->SetSize(f.Size());
  data->SetPosition(0);
  // A document names its external pictures: one damaged since does not stop it from opening.
  if (FReadingXml) return;
  platform::TMetafile check;
  check.LoadFromStream(data);
  data->SetPosition(0);
}

// New bytes arrived: a shape without a size takes the picture's; any shape shows the new
// picture and is modified, so that a save writes it.
void TdtpExposedMetafile::ImageChange(TdtpResource* Resource) {
  if (DocWidth() == 0 && DocHeight() == 0) ImageSize(Resource);
  RefreshAll();
  Changed();
}

void TdtpExposedMetafile::ImageSize(TdtpResource* Resource) {
  Resource->Lock();
  try {
    if (auto* m = dynamic_cast<platform::TMetafile*>(Resource->Object()); m && !m->Empty()) {
      double w, h;
      PictureSize(*m, w, h);
      SetDocWidth(float(w / cPixelsPerMm150));
      SetDocHeight(float(h / cPixelsPerMm150));
      StoreAspectRatio();
    }
  } catch (...) {
    Resource->Unlock();
    throw;
  }
  Resource->Unlock();
}

int TdtpExposedMetafile::PlayRecord(platform::HDC DC, platform::THandleTable* HandleTable,
                                    const platform::TEnhMetaRecord* Record, int32_t ObjectCount) {
  if (FOverridePen && !FPenHandle) FPenHandle = platform::PenHandle(*FPen);
  if (FOverrideBrush && !FBrushHandle) FBrushHandle = platform::BrushHandle(*FBrush);
  return PlayRecordWith(DC, HandleTable, Record, ObjectCount, FOverridePen ? FPenHandle : nullptr,
                        FOverrideBrush ? FBrushHandle : nullptr);
}

void TdtpExposedMetafile::PaintGdi(platform::TCanvas* Canvas) {
  FImage->Lock();
  try {
    auto* m = dynamic_cast<platform::TMetafile*>(FImage->Object());
    if (m && !m->Empty() && DocWidth() > 0 && DocHeight() > 0) {
      // The shape's upright rectangle in millimetres, mapped by the device matrix.
      const TdtpMatrix& d = DeviceMatrix();
      platform::TMetafileTarget t;
      t.Right = DocWidth();
      t.Bottom = DocHeight();
      t.Transform = {d[0][0], d[1][0], d[0][1], d[1][1], d[0][2], d[1][2]};
      platform::EnumEnhMetaFile(
          Canvas, *m,
          [](platform::HDC DC, platform::THandleTable* Table, const platform::TEnhMetaRecord* Record, int32_t Count,
             void* Data) {
            return Data ? static_cast<TdtpExposedMetafile*>(Data)->PlayRecord(DC, Table, Record, Count) : 0;
          },
          this, t);
    }
  } catch (const platform::EMetafileError&) {
    // A damaged record ends the picture; what came before it stays drawn.
  } catch (...) {
    FImage->Unlock();
    throw;
  }
  FImage->Unlock();
}

void TdtpExposedMetafile::SaveToXml(TXmlNode* Node) {
  TdtpEffectShape::SaveToXml(Node);
  if (!Node) return;
  FImage->SaveToXml(Node->NodeNew("Image"));
  Node->WriteBool("OverridePen", FOverridePen);
  if (FOverridePen) Node->WritePen("Pen", FPen.get());
  Node->WriteBool("OverrideBrush", FOverrideBrush);
  if (FOverrideBrush) {
    Node->WriteBrush("Brush", FBrush.get());
    if (FBrush->Bitmap()) WriteBitmapToXml(Node, "BrushBitmap", FBrush->Bitmap());
  }
}

void TdtpExposedMetafile::LoadFromXml(TXmlNode* Node) {
  TdtpEffectShape::LoadFromXml(Node);
  if (!Node) return;
  if (TXmlNode* n = Node->NodeByName("Image")) {
    FReadingXml = true;
    try {
      FImage->LoadFromXml(n);
    } catch (...) {
      FReadingXml = false;
      throw;
    }
    FReadingXml = false;
    // The stored name, as written (loading made it absolute): part of loading, not a change.
    if (FImage->Storage == TdtpResourceStorage::External) {
      ++FLoading;
      FImage->FileName = n->ReadString("FileName", FImage->FileName);
      --FLoading;
    }
  }
  FOverridePen = Node->ReadBool("OverridePen", false);
  if (FOverridePen) Node->ReadPen("Pen", FPen.get());
  FOverrideBrush = Node->ReadBool("OverrideBrush", false);
  if (FOverrideBrush) {
    Node->ReadBrush("Brush", FBrush.get());
    std::unique_ptr<platform::TBitmap> bitmap;
    ReadBitmapFromXml(Node, "BrushBitmap", bitmap);
    if (bitmap) FBrush->SetBitmap(bitmap.get());
  }
}

void InitializeDtpExposedMetafile() { RegisterShapeClass(TdtpExposedMetafile::StaticClass()); }

}  // namespace document
