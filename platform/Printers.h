// The class library's printer: one global TPrinter over a QPrinter. A job runs from BeginDoc
// to EndDoc (or Abort); its canvas draws in device pixels of the printable area, and
// GetDeviceCaps of that canvas reports the physical sheet and its offsets.
#pragma once

#include <memory>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Graphics.h"

class QPrinter;
class QPainter;

namespace platform {

KD_DECLARE_EXCEPTION(EPrinter, Exception);

enum TPrinterOrientation : uint8_t { poPortrait, poLandscape };

class TPrinter : public TObject {
 public:
  TPrinter();
  ~TPrinter() override;
  std::string ClassName() const override { return "TPrinter"; }

  // Starts a job; raises EPrinter "Printing in progress" during a job and "Printer selected is
  // not valid" when there is neither a printer nor an output file.
  void BeginDoc();
  // Raise EPrinter "Printer is not currently printing" outside a job.
  void NewPage();
  void EndDoc();
  // Ends the job and discards what was printed (an output file is removed).
  void Abort();
  bool Printing() const { return FPrinting; }
  bool Aborted() const { return FAborted; }
  int32_t PageNumber() const { return FPageNumber; }

  TCanvas* Canvas();
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }
  TPrinterOrientation Orientation() const;
  // Raises EPrinter "Printing in progress" during a job.
  void SetOrientation(TPrinterOrientation Value);

  // Printable area in device pixels.
  int32_t PageWidth() const;
  int32_t PageHeight() const;
  // GetDeviceCaps values: LOGPIXELSX/Y, PHYSICALWIDTH/HEIGHT, PHYSICALOFFSETX/Y, HORZRES/VERTRES.
  int32_t DeviceCaps(int32_t Index) const;

  // Output to a PDF file instead of a printer (empty: the system's default printer).
  void SetOutputFileName(const std::string& FileName);
  std::string OutputFileName() const;
  // Sheet size and unprintable margin in millimetres, as the print dialog's paper choice sets
  // them (PDF sheets are whole points); raises EPrinter "Printing in progress" during a job and
  // "Invalid paper size" for sides outside (0, 5080] or margins that leave nothing.
  void SetPaper(double WidthMm, double HeightMm, double MarginMm);
  // Device resolution in dots per inch, 1 to 9600 (else EPrinter "Invalid resolution").
  void SetResolution(int32_t Dpi);
  int32_t Resolution() const;

  QPrinter& Qt() { return *FPrinter; }

 private:
  void CheckPrinting(bool Expected) const;
  void UpdatePhysical();
  std::unique_ptr<QPrinter> FPrinter;
  std::unique_ptr<QPainter> FPainter;
  std::unique_ptr<TCanvas> FCanvas;
  std::string FTitle;
  bool FPrinting = false;
  bool FAborted = false;
  int32_t FPageNumber = 0;
};

// The application's printer, created on first use.
TPrinter* Printer();
// Replaces the application's printer (nullptr frees it); returns the previous one, which the
// caller then owns.
std::unique_ptr<TPrinter> SetPrinter(std::unique_ptr<TPrinter> NewPrinter);

}  // namespace platform
