// Printing: one sheet per page, each page scaled to the whole physical sheet and turned a
// quarter when that gives a larger scale.
#include <algorithm>

#include "document/dtpDocument.h"
#include "platform/Graphics.h"
#include "platform/Printers.h"

namespace document {

using namespace platform;

float TdtpDocument::PrintQualityDpm() const {
  switch (FPrintQuality) {
    case pqLow: return 5.905512f;
    case pqMedium: return 11.811024f;
    case pqHigh: return 23.622047f;
    default: return 0;
  }
}

void TdtpDocument::PrintPage(int32_t Index) { PrintRange(Index, 1); }

void TdtpDocument::PrintRange(int32_t First, int32_t Count) {
  // Only the indices of the range that can have a page: the others would print nothing, and
  // a huge count must not build a huge list.
  const int64_t from = std::max<int64_t>(First, 0);
  const int64_t to = std::min<int64_t>(int64_t(First) + std::max(Count, 0), GetPageCount());
  std::vector<int32_t> pages;
  for (int64_t i = from; i < to; ++i) pages.push_back(int32_t(i));
  Print(pages);
}

void TdtpDocument::Print(const std::vector<int32_t>& Pages) {
  CheckNotBusy();
  BeginBusy(crHourGlass);
  // The page restores what it changes, but a failure half-way must not leave the view
  // printing or at the printer's resolution either.
  const int32_t printing = FPrinting;
  const float render = FRenderDpm, screen = FScreenDpm;
  const raster::TStretchFilter quality = FQuality;
  const float ox = FOriginX, oy = FOriginY;
  try {
    PrintJob(Pages);
  } catch (...) {
    if (Printer()->Printing()) {
      try {
        Printer()->Abort();
      } catch (...) {
      }
    }
    FPrinting = printing;
    FRenderDpm = render;
    FScreenDpm = screen;
    FQuality = quality;
    FOriginX = ox;
    FOriginY = oy;
    FOutputRendering = false;
    if (TdtpPage* page = CurrentPage()) page->FreeBuffersAll();
    Invalidate();
    EndBusy();
    throw;
  }
  EndBusy();
}

void TdtpDocument::PrintJob(const std::vector<int32_t>& Pages) {
  const int32_t n = int32_t(Pages.size());
  DoProgress(ptPrinting, 0, n, 0);
  TPrinter* printer = Printer();
  // The job starts with the first page that prints: a list without one prints no sheet.
  bool first = true;
  for (int32_t i = 0; i < n; ++i) {
    DoProgress(ptPrinting, i + 1, n, float(i) / float(n));
    TdtpPage* page = GetPage(Pages[size_t(i)]);
    // Its size decides whether it prints and how it is turned: read a stored page first.
    if (page) page->EnsureLoaded();
    if (!page || !(page->DocWidth() > 0) || !(page->DocHeight() > 0)) continue;
    // A new sheet before every printed page but the first: no blank sheet at the end, and
    // none for indices without a page.
    if (first)
      printer->BeginDoc();
    else
      printer->NewPage();
    first = false;
    TRect r{0, 0, printer->DeviceCaps(PHYSICALWIDTH), printer->DeviceCaps(PHYSICALHEIGHT)};
    OffsetRect(r, -printer->DeviceCaps(PHYSICALOFFSETX), -printer->DeviceCaps(PHYSICALOFFSETY));
    const float w = float(r.Width()), h = float(r.Height());
    const float s1 = std::min(w / page->DocWidth(), h / page->DocHeight());
    const float s2 = std::min(h / page->DocWidth(), w / page->DocHeight());
    // A turned page is drawn a quarter turn counter-clockwise (its top edge along the sheet's
    // left side), the way printers turn landscape pages.
    page->PaintTo(printer->Canvas(), r, PrintQualityDpm(), s1 < s2 ? 1 : 0, false, false);
    DoProgress(ptPrinting, i + 1, n, float(i + 1) / float(n));
  }
  if (!first) printer->EndDoc();
  DoProgress(ptPrinting, n, n, 100.0f);
}

}  // namespace document
