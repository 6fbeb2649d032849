// Two-pane splitter: a windowed control that divides its client area into two child panels,
// one above the other or side by side, with a bar between them that the user drags to move
// the division. Controls are placed on the panes (Pane1, Pane2); Position is pane 1's extent
// in pixels, kept between the panes' minimum sizes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/Controls.h"
#include "platform/ExtCtrls.h"

namespace widgets {

enum TSplitterOrientation : uint8_t { soHorizontal, soVertical };
enum TSplitterStyle : uint8_t { ssCheckered, ssSolid };
enum TPaneFrameStyle : uint8_t { ftNone, ftRaised, ftLowered, ftCarved, ftBump };

class TPaneSplitter;

class TSplitterPane : public platform::TCustomPanel {
 public:
  explicit TSplitterPane(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TSplitterPane"; }

  TPaneFrameStyle FrameStyle() const { return FFrameStyle; }
  void SetFrameStyle(TPaneFrameStyle Value);
  uint16_t MinSize() const { return FMinSize; }
  void SetMinSize(uint16_t Value) { FMinSize = Value; }
  // Pixels the frame takes across the pane: two bevels on two sides.
  int32_t FrameSize() const {
    return FFrameStyle == ftNone ? 0 : static_cast<int32_t>(std::min<int64_t>(4 * int64_t{BevelWidth()}, INT32_MAX));
  }

 private:
  TPaneFrameStyle FFrameStyle = ftNone;
  uint16_t FMinSize = 10;
};

// The properties of one pane as seen from the splitter; changing the frame or the minimum
// size re-clamps the position and lays the panes out again.
class TSplitterPaneSetting : public platform::TPersistent {
 public:
  TSplitterPaneSetting(TPaneSplitter* Splitter, int32_t Index) : FSplitter(Splitter), FIndex(Index) {}
  std::string ClassName() const override { return "TSplitterPaneSetting"; }

  platform::TColor Color() const;
  void SetColor(platform::TColor Value);
  TPaneFrameStyle FrameStyle() const;
  void SetFrameStyle(TPaneFrameStyle Value);
  int32_t FrameWidth() const;
  void SetFrameWidth(int32_t Value);
  uint16_t MinSize() const;
  void SetMinSize(uint16_t Value);

 private:
  TSplitterPane* Pane() const;
  void Relayout();
  TPaneSplitter* FSplitter;
  int32_t FIndex;
};

class TPaneSplitter : public platform::TCustomControl {
 public:
  explicit TPaneSplitter(platform::TComponent* AOwner);
  ~TPaneSplitter() override;
  std::string ClassName() const override { return "TPaneSplitter"; }

  TSplitterPane* Pane1() const { return FPane1; }
  TSplitterPane* Pane2() const { return FPane2; }
  TSplitterPaneSetting* Pane1Setting() const { return FPane1Setting.get(); }
  TSplitterPaneSetting* Pane2Setting() const { return FPane2Setting.get(); }

  bool AllowResize() const { return FAllowResize; }
  void SetAllowResize(bool Value) { FAllowResize = Value; }
  bool AutoUpdate() const { return FAutoUpdate; }
  void SetAutoUpdate(bool Value) { FAutoUpdate = Value; }
  platform::TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(platform::TBorderStyle Value);
  TSplitterOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TSplitterOrientation Value);
  // Before the window exists the value is kept as asked and applied (clamped) when the panes
  // are first laid out; afterwards it is clamped at once and the panes move at the next paint.
  int32_t Position() const { return FPosition; }
  void SetPosition(int32_t Value);
  double PositionRatio() const { return FPositionRatio; }
  bool ProportionalResize() const { return FProportionalResize; }
  void SetProportionalResize(bool Value) { FProportionalResize = Value; }
  platform::TColor SplitterColor() const { return FSplitterColor; }
  void SetSplitterColor(platform::TColor Value);
  TSplitterStyle SplitterStyle() const { return FSplitterStyle; }
  void SetSplitterStyle(TSplitterStyle Value) { FSplitterStyle = Value; }
  int32_t Thickness() const { return FThickness; }
  void SetThickness(int32_t Value);

  // The position limits for the current client size and pane settings.
  int32_t LowLimit() const;
  int32_t HighLimit() const;
  void ClampPosition(int32_t Value);
  void LayoutPanes();

  bool OverBar() const { return FOverBar; }
  platform::TPoint LastDragPos() const { return FLastDragPos; }

  platform::TNotifyEvent OnPaneResize;

 protected:
  void CreateParams(platform::TCreateParams& Params) override;
  void Ctl3DChanged() override;
  void CreateWnd() override;
  void WMSize() override;
  void Paint() override;
  bool CursorQuery(platform::TPoint P, platform::TCursor& Cursor) override;
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int32_t X, int32_t Y) override;
  void DoPaneResize(platform::TObject* Sender);
  void DrawDragBar(int32_t X, int32_t Y);
  void XorBar(const platform::TRect& R);
  void InvalidateBar();

 private:
  friend class TSplitterPaneSetting;
  int32_t Extent() const;
  void UpdateRatio(int32_t Extent);
  bool BothPanesVisible() const { return FPane1->Visible() && FPane2->Visible(); }
  // Whether P (client coordinates) lies on the bar, within Thickness of Position.
  bool PointOnBar(platform::TPoint P) const;

  TSplitterPane* FPane1 = nullptr;
  TSplitterPane* FPane2 = nullptr;
  std::unique_ptr<TSplitterPaneSetting> FPane1Setting;
  std::unique_ptr<TSplitterPaneSetting> FPane2Setting;
  bool FAllowResize = true;
  bool FAutoUpdate = false;
  platform::TBorderStyle FBorderStyle = platform::bsNone;
  bool FOverBar = false;
  TSplitterOrientation FOrientation = soVertical;
  int32_t FPosition = 50;
  // Set while a position asked for before the window existed waits for a size it fits in.
  bool FPositionPending = false;
  int32_t FRequestedPosition = 50;
  platform::TPoint FLastDragPos{-1, -1};
  double FPositionRatio = 0.0;
  bool FProportionalResize = false;
  platform::TColor FSplitterColor = platform::clBtnFace;
  TSplitterStyle FSplitterStyle = ssCheckered;
  int32_t FThickness = 2;
};

}  // namespace widgets
