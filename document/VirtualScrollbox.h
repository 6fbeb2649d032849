// A custom-painted control that scrolls over a virtual area whose size and position are
// floating-point pixels. The window's scroll bars count at most 30000 units: larger areas are
// mapped through a scale factor. Descendants hear of every position change via ScrollChanged
// and set the area with SetVirtualArea; the document view is built on it.
#pragma once

#include <cstdint>

#include "platform/Controls.h"

namespace document {

class TVirtScrollBox : public platform::TCustomControl {
 public:
  explicit TVirtScrollBox(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TVirtScrollBox"; }

  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool Value);
  platform::TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(platform::TBorderStyle Value);
  bool Tracking() const { return FTrack; }
  void SetTracking(bool Value) { FTrack = Value; }
  int32_t LineStep() const { return FLineStep; }
  void SetLineStep(int32_t Value) { FLineStep = Value; }

  float ScrollX() const { return FScrollX; }
  float ScrollY() const { return FScrollY; }
  float VirtualWidth() const { return FVirtualWidth; }
  float VirtualHeight() const { return FVirtualHeight; }
  // Scroll-bar units per pixel.
  float Scale() const { return FScale; }

  // On return DX and DY hold the distances really scrolled.
  virtual void ScrollBy(int32_t& DX, int32_t& DY);
  virtual void SetVirtualArea(float X, float Y, float Width, float Height);
  void UpdateScrollRanges();
  void ResetScrollBars();

 protected:
  virtual void ScrollChanged() {}
  void CreateParams(platform::TCreateParams& Params) override;
  // The border follows Ctl3D: the window is made again.
  void Ctl3DChanged() override;
  void Paint() override;
  void WMSize() override;
  void WMHScroll(int32_t Code, int32_t Pos) override;
  void WMVScroll(int32_t Code, int32_t Pos) override;
  void ScrollMessage(int32_t Bar, int32_t Code, int32_t ThumbPos, int32_t PageSize, float MaxValue, float& Pos);
  // Stores a position without any notification (the document keeps its own origin).
  void SetScrollFields(float X, float Y) {
    FScrollX = X;
    FScrollY = Y;
  }

 private:
  void SetThumb(int32_t Bar, float Value);

  bool FAutoScroll = true;
  platform::TBorderStyle FBorderStyle = platform::bsSingle;
  float FScrollX = 0, FScrollY = 0;
  float FVirtualWidth = 0, FVirtualHeight = 0;
  float FScale = 1.0f;
  bool FTrack = true;
  int32_t FLineStep = 9;
};

}  // namespace document
