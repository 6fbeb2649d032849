// Small class-library controls the forms need and the platform layer does not offer yet: the
// notebook with named pages, a label, a button with a caption, a track bar, a check box and a
// shape that draws a frame. Each keeps only what the forms set and read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ExtCtrls.h"

namespace app {

// A label: caption text on the parent's colour, no bevel.
class TLabel : public platform::TCustomPanel {
 public:
  explicit TLabel(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TLabel"; }
};

// A push button with a caption; OnClick fires on a click.
class TBitBtn : public platform::TCustomPanel {
 public:
  explicit TBitBtn(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TBitBtn"; }
  bool Flat() const { return FFlat; }
  void SetFlat(bool Value);

 private:
  bool FFlat = false;
};

// One page of a notebook: a client-aligned panel shown only while active.
class TNotebookPage : public platform::TCustomPanel {
 public:
  explicit TNotebookPage(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TPage"; }
};

// A stack of named pages of which one is shown.
class TNotebook : public platform::TCustomPanel {
 public:
  explicit TNotebook(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TNotebook"; }

  // Adds a page named Caption at the end; the first page becomes active.
  TNotebookPage* AddPage(const std::string& Caption);
  int32_t PageCount() const { return int32_t(FPages.size()); }
  TNotebookPage* Pages(int32_t Index) const { return FPages.at(size_t(Index)); }
  int32_t PageIndex() const { return FPageIndex; }
  // Outside 0..PageCount-1 nothing changes.
  void SetPageIndex(int32_t Value);
  // The caption of the active page ("" when none).
  std::string ActivePage() const;
  // Activates the page with this caption (case-insensitive); an unknown name changes nothing.
  void SetActivePage(const std::string& Value);

  platform::TNotifyEvent OnPageChanged;

 private:
  std::vector<TNotebookPage*> FPages;
  std::vector<std::string> FCaptions;
  int32_t FPageIndex = -1;
};

enum TTickMark : uint8_t { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle : uint8_t { tsNone, tsAuto, tsManual };

// A horizontal track bar. Position stays within Min..Max.
class TTrackBar : public platform::TCustomControl {
 public:
  explicit TTrackBar(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TTrackBar"; }
  int32_t Min() const { return FMin; }
  int32_t Max() const { return FMax; }
  // Setting the range clamps the position into it.
  void SetRange(int32_t AMin, int32_t AMax);
  int32_t Frequency() const { return FFrequency; }
  void SetFrequency(int32_t Value);
  int32_t Position() const { return FPosition; }
  void SetPosition(int32_t Value);
  int32_t ThumbLength() const { return FThumbLength; }
  void SetThumbLength(int32_t Value);
  TTickMark TickMarks() const { return FTickMarks; }
  void SetTickMarks(TTickMark Value) { FTickMarks = Value; }
  TTickStyle TickStyle() const { return FTickStyle; }
  void SetTickStyle(TTickStyle Value) { FTickStyle = Value; }

 protected:
  void Paint() override;

 private:
  int32_t FMin = 0, FMax = 10, FFrequency = 1, FPosition = 0, FThumbLength = 20;
  TTickMark FTickMarks = tmBottomRight;
  TTickStyle FTickStyle = tsAuto;
};

// A check box; a click toggles Checked.
class TCheckBox : public platform::TCustomControl {
 public:
  explicit TCheckBox(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TCheckBox"; }
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value);

 protected:
  void Click() override;
  void Paint() override;

 private:
  bool FChecked = false;
};

enum TShapeType : uint8_t { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };

// A shape drawn with the pen and brush (the colour form's frame).
class TShape : public platform::TGraphicControl {
 public:
  explicit TShape(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TShape"; }
  TShapeType Shape() const { return FShape; }
  void SetShape(TShapeType Value);
  platform::TColor PenColor() const { return FPenColor; }
  int32_t PenWidth() const { return FPenWidth; }
  void SetPen(platform::TColor Color, int32_t Width);
  platform::TColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(platform::TColor Value);

 protected:
  void Paint() override;

 private:
  TShapeType FShape = stRectangle;
  platform::TColor FPenColor = platform::clBlack;
  int32_t FPenWidth = 1;
  platform::TColor FBrushColor = platform::clWhite;
};

}  // namespace app
