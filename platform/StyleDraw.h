// Control pictures in the current widget style (the stand-in for the visual-styles library),
// and the shell's file icons.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace platform {

class TCanvas;

enum TStyledPart : uint8_t { spPushButton, spCheckBox, spRadioButton, spComboDropDown, spEditFrame, spSpinUp, spSpinDown };

struct TStyledState {
  bool Checked = false;
  bool Hot = false;
  bool Pressed = false;
  bool Disabled = false;
};

// True when a widget style is there to draw with (a GUI application exists).
bool StyledDrawingAvailable();
// Draws the part in R (canvas coordinates); Caption is shown on push buttons.
void DrawStyledPart(TCanvas* Canvas, TStyledPart Part, const TRect& R, const TStyledState& State,
                    const std::string& Caption = std::string());
// The icon of a file, folder or extension (".txt"), 16 or 32 pixels, drawn at (X, Y).
void DrawFileIcon(TCanvas* Canvas, int32_t X, int32_t Y, const std::string& Path, bool Large);

}  // namespace platform
