// Fixture documents for tests, tools and benchmarks, written through the engine itself.
// TdtpFixtureRect is a plain filled rectangle (its colour stored as "Color"), so fixtures do
// not depend on the drawing shape classes.
#pragma once

#include <cstdint>
#include <string>

#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "document/dtpPage.h"
#include "document/dtpShape.h"
#include "platform/Forms.h"

namespace kdfixture {

class TdtpFixtureRect : public document::TdtpShape {
 public:
  static const document::TShapeClass& StaticClass() {
    static const document::TShapeClass cls =
        document::MakeShapeClass<TdtpFixtureRect>("TdtpFixtureRect", &document::TdtpShape::StaticClass());
    return cls;
  }
  const document::TShapeClass& Class() const override { return StaticClass(); }
  void PaintShape(document::TBitmap32* B) override {
    B->FillRectClipped(ScreenLeft(), ScreenTop(), ScreenRight(), ScreenBottom(), raster::Color32(Color()));
  }
  void SaveToXml(document::TXmlNode* Node) override {
    TdtpShape::SaveToXml(Node);
    if (Node) Node->WriteColor("Color", Color());
  }
  void LoadFromXml(document::TXmlNode* Node) override {
    TdtpShape::LoadFromXml(Node);
    if (Node) FColor = platform::TColor(Node->ReadInteger("Color", 0)) & 0xFFFFFF;
  }
};

// Shape classes, page class and editor cursors, as the application starts them.
inline void InitializeFixtures() {
  platform::InitializeForms();
  document::InitializeDtpShape();
  document::InitializeDtpPage();
  document::InitializeDtpDocument();
  document::RegisterShapeClass(TdtpFixtureRect::StaticClass());
}

// A reproducible colour and place for shape K of page P.
inline platform::TColor FixtureColor(int32_t P, int32_t K) {
  uint32_t h = uint32_t(P) * 2654435761u ^ uint32_t(K) * 40503u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return platform::TColor(h & 0xFFFFFF);
}

// Fills Doc with Pages pages of ShapesPerPage rectangles each (page P's first shape is a
// large block in its top-left quarter, so renders are easy to check) and saves it as FileName.
inline void MakeSampleDocument(document::TdtpDocument& Doc, const std::string& FileName, int32_t Pages,
                               int32_t ShapesPerPage) {
  Doc.Clear();
  for (int32_t p = 0; p < Pages; ++p) {
    const int32_t index = Doc.AddPage(nullptr);
    document::TdtpPage* page = Doc.GetPage(index);
    for (int32_t k = 0; k < ShapesPerPage; ++k) {
      auto s = document::NewShape<TdtpFixtureRect>();
      // Each page's first block is red or blue, so renders and prints are easy to check.
      s->SetColor(k == 0 ? (p % 2 ? platform::TColor(0xFF0000) : platform::TColor(0x0000FF)) : FixtureColor(p, k));
      document::TdtpShape* raw = s.get();
      page->AddShape(std::move(s));
      if (k == 0) {
        raw->SetDocBounds(20, 20, 80, 100);
      } else {
        const float x = float((k * 37 + p * 11) % 180), y = float((k * 53 + p * 7) % 267);
        raw->SetDocBounds(x + 5, y + 5, 8 + float(k % 15), 6 + float(k % 11));
      }
      raw->SetName("Shape" + std::to_string(k + 1));
    }
  }
  Doc.SaveToFile(FileName);
}

}  // namespace kdfixture
