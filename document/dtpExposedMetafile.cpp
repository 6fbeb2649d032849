#include "document/dtpExposedMetafile.h"

#include "document/XmlBitmaps.h"
#include "document/XmlDocuments.h"

namespace document {

namespace {
constexpr double cPixelsPerMm150 = 5.905511811;  // 150 dots per inch
}

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
}

TdtpExposedMetafile::~TdtpExposedMetafile() {
  FImage.reset();
  FPen.reset();
  FBrush.reset();
}

void TdtpExposedMetafile::StyleChanged(platform::TObject*) {
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
  auto m = std::make_unique<TEmfMetafile>();
  m->Picture.LoadFromStream(Resource->Data());
  Resource->SetObject(std::move(m));
}

void TdtpExposedMetafile::ImageChange(TdtpResource* Resource) {
  if (DocWidth() != 0 || DocHeight() != 0) return;
  Resource->Lock();
  try {
    if (auto* m = dynamic_cast<TEmfMetafile*>(Resource->Object()); m && !m->Picture.Empty()) {
      SetDocWidth(float(m->Picture.Width() / cPixelsPerMm150));
      SetDocHeight(float(m->Picture.Height() / cPixelsPerMm150));
      StoreAspectRatio();
    }
  } catch (...) {
    Resource->Unlock();
    throw;
  }
  Resource->Unlock();
}

void TdtpExposedMetafile::PlayRecord(TEmfPlayer& Player, const TEmfRecord& Record) {
  Player.PlayRecord(Record, FOverridePen ? FPen.get() : nullptr, FOverrideBrush ? FBrush.get() : nullptr);
}

void TdtpExposedMetafile::PaintGdi(platform::TCanvas* Canvas) {
  const platform::TRect r = BufferRect();
  FImage->Lock();
  try {
    if (auto* m = dynamic_cast<TEmfMetafile*>(FImage->Object()); m && !m->Picture.Empty() && r.Right > r.Left &&
                                                                 r.Bottom > r.Top) {
      TEmfPlayer player(m->Picture, Canvas, r);
      for (const TEmfRecord& rec : m->Picture.Records()) PlayRecord(player, rec);
    }
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
    FImage->LoadFromXml(n);
    if (FImage->Storage == TdtpResourceStorage::External) FImage->FileName = n->ReadString("FileName", FImage->FileName);
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
