// Sample documents of the drawing shapes the program shows (rectangles, ellipses and lines),
// written through the engine, for trying the tools and for measurements. Start the units with
// app::InitializeUnits first.
#pragma once

#include <cstdint>
#include <string>

#include "document/dtpDocument.h"
#include "document/dtpLineShape.h"
#include "document/dtpPage.h"
#include "document/dtpPolygonShape.h"
#include "platform/Graphics.h"

namespace tools {

// A reproducible colour for shape K of page P.
inline platform::TColor SampleShapeColor(int32_t P, int32_t K) {
  uint32_t h = uint32_t(P) * 2654435761u ^ uint32_t(K) * 40503u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return platform::TColor(h & 0xFFFFFF);
}

// Fills Doc with Pages pages of ShapesPerPage shapes and saves it as FileName. Each page's first
// shape is a large block in its top-left quarter (20 x 20 mm, 80 x 100 mm; red on odd pages,
// blue on even ones) so renders are easy to check; then rectangles, ellipses and lines take
// turns, scattered over the page.
inline void MakeShapesDocument(document::TdtpDocument& Doc, const std::string& FileName, int32_t Pages,
                               int32_t ShapesPerPage) {
  Doc.Clear();
  for (int32_t p = 0; p < Pages; ++p) {
    document::TdtpPage* page = Doc.GetPage(Doc.AddPage(nullptr));
    for (int32_t k = 0; k < ShapesPerPage; ++k) {
      const float x = float((k * 37 + p * 11) % 180) + 5, y = float((k * 53 + p * 7) % 267) + 5;
      const float w = 8 + float(k % 15), h = 6 + float(k % 11);
      const platform::TColor colour = SampleShapeColor(p, k);
      document::TdtpShape* shape;
      if (k == 0 || (k - 1) % 3 == 0) {
        auto s = document::NewShape<document::TdtpRectangleShape>();
        s->SetFillColor(k == 0 ? (p % 2 ? platform::TColor(0xFF0000) : platform::TColor(0x0000FF)) : colour);
        s->SetUseOutline(false);
        shape = s.get();
        page->AddShape(std::move(s));
        if (k == 0)
          shape->SetDocBounds(20, 20, 80, 100);
        else
          shape->SetDocBounds(x, y, w, h);
      } else if ((k - 1) % 3 == 1) {
        auto s = document::NewShape<document::TdtpEllipseShape>();
        s->SetFillColor(colour);
        s->SetOutlineColor(platform::TColor(0x000000));
        shape = s.get();
        page->AddShape(std::move(s));
        shape->SetDocBounds(x, y, w, h);
      } else {
        auto s = document::NewShape<document::TdtpLineShape>();
        document::TdtpLineShape* line = s.get();
        shape = line;
        page->AddShape(std::move(s));
        line->SetDocBounds(x, y, w, h);
        line->SetLinePoint(0, {x, y});
        line->SetLinePoint(1, {x + w, y + h});
        line->SetFillColor(colour);
        line->SetLineWidth(0.8f);
      }
      shape->SetName("Shape" + std::to_string(k + 1));
    }
  }
  Doc.SaveToFile(FileName);
}

}  // namespace tools
