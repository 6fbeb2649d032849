// A small stand-in for the document that shapes and pages talk to, recording what they ask.
#pragma once

#include <memory>
#include <vector>

#include "document/dtpCommand.h"
#include "document/dtpDocumentHost.h"

namespace kdtest {

class TTestDocumentHost : public document::IdtpDocumentHost {
 public:
  bool UndoEnabled() const override { return Undo && UndoLock == 0; }
  bool SecondRecording() const override { return Second; }
  void AddUndo(std::unique_ptr<document::TdtpCommand> C) override { Commands.push_back(std::move(C)); }
  void AddSecondCommand(std::unique_ptr<document::TdtpCommand> C) override { SecondCommands.push_back(std::move(C)); }
  void BeginUndo() override { ++UndoBracket; }
  void EndUndo() override { --UndoBracket; }
  void LockUndo() override { ++UndoLock; }
  void UnlockUndo() override { --UndoLock; }
  void ShapeChanged(document::TdtpShape* S) override { Changed.push_back(S); }
  void ShapeDestroyed(document::TdtpShape* S) override { Destroyed.push_back(S); }
  void SelectionChanged() override { ++SelectionChanges; }
  void SetModified(bool V) override { Modified = V; }
  float RenderDpm() const override { return Render; }
  float ScreenDpm() const override { return Screen; }
  bool OutputRendering() const override { return Output; }
  void SetOutputRendering(bool V) override { Output = V; }
  void SetRenderDpm(float V) override { Render = V; }
  void SetScreenDpm(float V) override { Screen = V; }
  void SetQuality(raster::TStretchFilter V) override { Filter = V; }
  raster::TStretchFilter Quality() const override { return Filter; }
  raster::TdtpFloatPoint ViewOrigin() const override { return Origin; }
  void SetViewOrigin(const raster::TdtpFloatPoint& P) override { Origin = P; }
  void BeginPrinting() override { ++Printing; }
  void EndPrinting() override { --Printing; }
  bool IsPrinting() const override { return Printing > 0; }
  document::TdtpHelperMethodtype HelperMethod() const override { return Helper; }
  float DefaultGridSize() const override { return GridSize; }
  platform::TColor Color() const override { return ControlColor; }
  document::TdtpViewStyleType ViewStyle() const override { return Style; }
  bool ShowMargins() const override { return Margins; }
  int32_t IndexOfPage(const document::TdtpPage*) const override { return PageIndex; }
  int32_t ProgressCount() const override { return ProgCount; }
  int32_t ProgressTotal() const override { return ProgTotal; }
  void DoProgress(int32_t Type, int32_t, int32_t, float Percent) override {
    ProgressTypes.push_back(Type);
    Progress.push_back(Percent);
  }

  bool Undo = true;
  bool Second = false;
  int UndoLock = 0, UndoBracket = 0, Printing = 0, SelectionChanges = 0;
  bool Modified = false, Output = false;
  float Render = document::cDefaultDpm, Screen = document::cDefaultDpm, GridSize = 5;
  raster::TStretchFilter Filter = raster::sfLinear;
  raster::TdtpFloatPoint Origin{0, 0};
  document::TdtpHelperMethodtype Helper = document::hmNone;
  platform::TColor ControlColor = platform::clWhite;
  document::TdtpViewStyleType Style = document::vsPrintLayout;
  bool Margins = true;
  int32_t PageIndex = -1, ProgCount = 0, ProgTotal = 0;
  std::vector<int32_t> ProgressTypes;
  std::vector<float> Progress;
  std::vector<std::unique_ptr<document::TdtpCommand>> Commands, SecondCommands;
  std::vector<document::TdtpShape*> Changed, Destroyed;
};

}  // namespace kdtest
