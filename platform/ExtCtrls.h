// Panels and timers of the class library.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Component.h"
#include "platform/Controls.h"

class QTimer;

namespace platform {

enum TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A container with an outer bevel, a border, an inner bevel and a centred caption.
class TCustomPanel : public TCustomControl {
 public:
  explicit TCustomPanel(TComponent* AOwner);
  std::string ClassName() const override { return "TCustomPanel"; }

  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut Value);
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value);
  int32_t BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int32_t Value);
  int32_t BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int32_t Value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);

 protected:
  void Paint() override;
  void AdjustClientRect(TRect& Rect) override;
  void CreateParams(TCreateParams& Params) override;

 private:
  void Changed();
  TBevelCut FBevelInner = bvNone;
  TBevelCut FBevelOuter = bvRaised;
  int32_t FBevelWidth = 1;
  int32_t FBorderWidth = 0;
  TBorderStyle FBorderStyle = bsNone;
  TAlignment FAlignment = taCenter;
};

class TPanel : public TCustomPanel {
 public:
  explicit TPanel(TComponent* AOwner) : TCustomPanel(AOwner) {}
  std::string ClassName() const override { return "TPanel"; }
};

// Calls OnTimer every Interval milliseconds on the GUI thread while Enabled and Interval > 0.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }

  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);

  TNotifyEvent OnTimer;

 protected:
  virtual void Timer();

 private:
  void UpdateTimer();
  uint32_t FInterval = 1000;
  bool FEnabled = true;
  std::unique_ptr<QTimer> FTimer;
};

}  // namespace platform
