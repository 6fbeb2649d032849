// What shapes and pages need from the document that owns them. The document (TdtpDocument)
// implements this interface; shapes hold a non-owning pointer to it. Every operation has a
// harmless default so that a partial host (a test double, a clipboard holder) stays small.
//
// Coordinates: a document point is a page-local point plus the page's view offset (the
// position the document gives the page in its view, SetViewPosition). Screen pixels are
// (document point - view origin) * ScreenDpm, done by DocToScreen/ScreenToDoc here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Colors.h"
#include "platform/Types.h"
#include "raster/Raster32.h"

namespace platform {
class TCanvas;
}

namespace document {

class TdtpShape;
class TdtpPage;
class TdtpCommand;
class TXmlNode;

enum TdtpHelperMethodtype : uint8_t { hmNone, hmGrid, hmDots, hmPattern };
enum TdtpViewStyleType : uint8_t { vsNormal, vsPrintLayout };

// The 21 hit-test offsets for a nudge scale: (0, 0), the axes at 4, 3, 2, 1 times the scale,
// then the four diagonals at 2.84 times it.
std::vector<platform::TPoint> MakeNudgeOffsets(float Scale);

// 150 DPI, the reference resolution of images and thumbnails.
constexpr float cDefaultDpm = 5.905512f;

class IdtpDocumentHost {
 public:
  virtual ~IdtpDocumentHost() = default;

  // Undo: the shapes record through these. UndoEnabled is the flag and a zero undo lock.
  virtual bool UndoEnabled() const { return false; }
  virtual bool SecondRecording() const { return false; }
  virtual void AddUndo(std::unique_ptr<TdtpCommand> Command);
  virtual void AddSecondCommand(std::unique_ptr<TdtpCommand> Command);
  virtual void BeginUndo() {}
  virtual void EndUndo() {}
  virtual void LockUndo() {}
  virtual void UnlockUndo() {}
  virtual int32_t NextShapeNumber() { return ++FShapeNumber; }

  // Notifications.
  virtual void ShapeChanged(TdtpShape*) {}
  // Called for every shape of a subtree that leaves the document (focus, hot and edited
  // shape references must be dropped).
  virtual void ShapeDestroyed(TdtpShape*) {}
  // Called before Shape (with all it contains) is taken out of the document: an edit of it or of
  // a shape inside it ends first, so that it closes what it opened; rejected when Shape is to be
  // freed, accepted when it moves elsewhere (what was typed goes along).
  // True when ending that edit took Shape itself away (nothing more to remove).
  virtual bool EndEditBeforeRemoval(TdtpShape*, bool /*Accept*/ = false) { return false; }
  virtual void SelectionChanged() {}
  virtual void SetModified(bool) {}
  virtual bool Modified() const { return false; }
  // A host's own elements in a stored shape: written after the shape's children, read back
  // at the same point of loading.
  virtual void ShapeLoadAdditionalInfo(TdtpShape*, TXmlNode*) {}
  virtual void ShapeSaveAdditionalInfo(TdtpShape*, TXmlNode*) {}
  virtual void EndShapeEdit(bool /*Accept*/) {}
  virtual TdtpShape* EditedShape() const { return nullptr; }
  virtual bool ShowHint() const { return false; }
  virtual platform::TColor Color() const { return platform::clWhite; }

  // View.
  virtual void InvalidateScreenRect(const platform::TRect&) {}
  virtual raster::TdtpFloatPoint DocToScreen(const raster::TdtpFloatPoint& P) const;
  virtual raster::TdtpFloatPoint ScreenToDoc(const platform::TPoint& P) const;
  virtual float RenderDpm() const { return cDefaultDpm; }
  virtual float ScreenDpm() const { return cDefaultDpm; }
  virtual raster::TStretchFilter Quality() const { return raster::sfLinear; }
  virtual bool OutputRendering() const { return false; }
  virtual void SetViewCursor(int32_t /*Cursor*/) {}
  virtual platform::TColor HandleColor() const { return 0xFFFFFF; }
  virtual platform::TColor HandleEdgeColor() const { return 0; }
  virtual float StepAngle() const { return 0; }
  // Pixel offsets tried around a point by the hit tests (the table of scale 1 by default).
  virtual const std::vector<platform::TPoint>& NudgeOffsets() const;

  // Page support.
  virtual int32_t IndexOfPage(const TdtpPage*) const { return -1; }
  virtual TdtpPage* CurrentPage() const { return nullptr; }
  virtual void LoadPage(int32_t /*Index*/) {}
  virtual bool IsPrinting() const { return false; }
  virtual void UpdateLayout() {}
  virtual void PageChanged(TdtpPage*) {}
  virtual TdtpHelperMethodtype HelperMethod() const { return hmNone; }
  virtual TdtpViewStyleType ViewStyle() const { return vsPrintLayout; }
  virtual bool ShowMargins() const { return true; }
  virtual float DefaultMarginLeft() const { return 10; }
  virtual float DefaultMarginTop() const { return 10; }
  virtual float DefaultMarginRight() const { return 10; }
  virtual float DefaultMarginBottom() const { return 10; }
  virtual float DefaultGridSize() const { return 5; }
  virtual platform::TColor DefaultGridColor() const { return 0xFFFFC0; }
  virtual platform::TColor DefaultPageColor() const { return 0xFFFFFF; }
  virtual raster::TBitmap32* DefaultBackgroundImage() const { return nullptr; }
  virtual bool DefaultBgrTiled() const { return false; }
  virtual bool HasPaintBackground() const { return false; }
  virtual bool HasPaintForeground() const { return false; }
  virtual void PaintBackground(platform::TCanvas*, const platform::TRect&) {}
  virtual void PaintForeground(platform::TCanvas*, const platform::TRect&) {}
  virtual int32_t ThumbnailWidth() const { return 80; }
  virtual int32_t ThumbnailHeight() const { return 60; }

  // Printing and output rendering, bracketed by the page's PaintTo.
  virtual void BeginPrinting() {}
  virtual void EndPrinting() {}
  virtual void SetOutputRendering(bool) {}
  virtual void SetRenderDpm(float) {}
  virtual void SetScreenDpm(float) {}
  virtual void SetQuality(raster::TStretchFilter) {}
  // The view origin in document millimetres: the document point at the view's top-left.
  virtual raster::TdtpFloatPoint ViewOrigin() const { return {0, 0}; }
  virtual void SetViewOrigin(const raster::TdtpFloatPoint&) {}
  // Progress of a running print (type 2): the stored count and total of the last report.
  virtual int32_t ProgressCount() const { return 0; }
  virtual int32_t ProgressTotal() const { return 0; }
  virtual void DoProgress(int32_t /*Type*/, int32_t /*Count*/, int32_t /*Total*/, float /*Percent*/) {}

 private:
  int32_t FShapeNumber = 0;
};

}  // namespace document
