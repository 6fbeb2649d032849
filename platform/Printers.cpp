#include "platform/Printers.h"

#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace platform {

namespace {
std::unique_ptr<TPrinter>& GlobalPrinter() {
  static std::unique_ptr<TPrinter> printer;
  return printer;
}
}  // namespace

TPrinter* Printer() {
  auto& p = GlobalPrinter();
  if (!p) p = std::make_unique<TPrinter>();
  return p.get();
}

std::unique_ptr<TPrinter> SetPrinter(std::unique_ptr<TPrinter> NewPrinter) {
  std::unique_ptr<TPrinter> old = std::move(GlobalPrinter());
  GlobalPrinter() = std::move(NewPrinter);
  return old;
}

TPrinter::TPrinter()
    : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)), FCanvas(std::make_unique<TCanvas>()) {
  // A laser printer's usual resolution; the PDF engine would otherwise use 1200 dpi.
  FPrinter->setResolution(600);
  FPrinter->setFullPage(false);
  UpdatePhysical();
}

TPrinter::~TPrinter() {
  if (FPrinting) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TPrinter::CheckPrinting(bool Expected) const {
  if (FPrinting == Expected) return;
  throw EPrinter(Expected ? "Printer is not currently printing" : "Printing in progress");
}

void TPrinter::UpdatePhysical() {
  QRect paper = FPrinter->paperRect(QPrinter::DevicePixel).toRect();
  QRect page = FPrinter->pageRect(QPrinter::DevicePixel).toRect();
  FCanvas->SetPhysicalPage(paper.width(), paper.height(), page.x() - paper.x(), page.y() - paper.y());
}

void TPrinter::BeginDoc() {
  CheckPrinting(false);
  if (FPrinter->outputFileName().isEmpty() && QPrinterInfo::availablePrinters().isEmpty())
    throw EPrinter("Printer selected is not valid");
  FPrinter->setDocName(QString::fromStdString(FTitle));
  FPainter = std::make_unique<QPainter>();
  if (!FPainter->begin(FPrinter.get())) {
    FPainter.reset();
    throw EPrinter("Printer selected is not valid");
  }
  FPrinting = true;
  FAborted = false;
  FPageNumber = 1;
  FCanvas->SetPainter(FPainter.get());
  // Pages arrive as bitmap bands: stored losslessly, not as JPEG, so edges and hairlines print
  // exactly as rendered.
  FPainter->setRenderHint(QPainter::LosslessImageRendering, true);
  UpdatePhysical();
  // Fonts on the printer are sized for its resolution.
  FCanvas->Font()->SetPixelsPerInch(FPrinter->logicalDpiY());
}

void TPrinter::NewPage() {
  CheckPrinting(true);
  FPrinter->newPage();
  ++FPageNumber;
}

void TPrinter::EndDoc() {
  CheckPrinting(true);
  FCanvas->SetPainter(nullptr);
  FPainter->end();
  FPainter.reset();
  FPrinting = false;
  FPageNumber = 0;
}

void TPrinter::Abort() {
  CheckPrinting(true);
  FCanvas->SetPainter(nullptr);
  FPrinter->abort();
  FPainter->end();
  FPainter.reset();
  FPrinting = false;
  FAborted = true;
  FPageNumber = 0;
  QString out = FPrinter->outputFileName();
  if (!out.isEmpty()) QFile::remove(out);
}

TCanvas* TPrinter::Canvas() { return FCanvas.get(); }

TPrinterOrientation TPrinter::Orientation() const {
  return FPrinter->pageLayout().orientation() == QPageLayout::Landscape ? poLandscape : poPortrait;
}

void TPrinter::SetOrientation(TPrinterOrientation Value) {
  CheckPrinting(false);
  FPrinter->setPageOrientation(Value == poLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  UpdatePhysical();
}

int32_t TPrinter::PageWidth() const { return FPrinter->pageRect(QPrinter::DevicePixel).toRect().width(); }
int32_t TPrinter::PageHeight() const { return FPrinter->pageRect(QPrinter::DevicePixel).toRect().height(); }

int32_t TPrinter::DeviceCaps(int32_t Index) const {
  QRect paper = FPrinter->paperRect(QPrinter::DevicePixel).toRect();
  QRect page = FPrinter->pageRect(QPrinter::DevicePixel).toRect();
  switch (Index) {
    case HORZRES: return page.width();
    case VERTRES: return page.height();
    case LOGPIXELSX: return FPrinter->logicalDpiX();
    case LOGPIXELSY: return FPrinter->logicalDpiY();
    case PHYSICALWIDTH: return paper.width();
    case PHYSICALHEIGHT: return paper.height();
    case PHYSICALOFFSETX: return page.x() - paper.x();
    case PHYSICALOFFSETY: return page.y() - paper.y();
    default: return 0;
  }
}

void TPrinter::SetOutputFileName(const std::string& FileName) {
  CheckPrinting(false);
  if (FileName.empty()) {
    FPrinter->setOutputFormat(QPrinter::NativeFormat);
    FPrinter->setOutputFileName(QString());
  } else {
    FPrinter->setOutputFormat(QPrinter::PdfFormat);
    FPrinter->setOutputFileName(QString::fromStdString(FileName));
  }
  UpdatePhysical();
}

std::string TPrinter::OutputFileName() const { return FPrinter->outputFileName().toStdString(); }

void TPrinter::SetPaper(double WidthMm, double HeightMm, double MarginMm) {
  CheckPrinting(false);
  // PDF pages end at 200 inches a side.
  if (!(WidthMm > 0 && HeightMm > 0 && WidthMm <= 5080 && HeightMm <= 5080 && MarginMm >= 0 &&
        2 * MarginMm < WidthMm && 2 * MarginMm < HeightMm))
    throw EPrinter("Invalid paper size");
  QPageSize size(QSizeF(WidthMm, HeightMm), QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
  FPrinter->setPageSize(size);
  FPrinter->setPageMargins(QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter);
  UpdatePhysical();
}

void TPrinter::SetResolution(int32_t Dpi) {
  CheckPrinting(false);
  // Pixel counts of the largest page stay within 32 bits.
  if (Dpi <= 0 || Dpi > 9600) throw EPrinter("Invalid resolution");
  FPrinter->setResolution(Dpi);
  UpdatePhysical();
}

int32_t TPrinter::Resolution() const { return FPrinter->resolution(); }

}  // namespace platform
