// The visual-styles binding: control pictures in the current style, for the mini-HTML
// renderer's embedded controls. Windows binds a run-time library for this; here the widget style
// draws them, so binding always succeeds once a GUI application exists.
#pragma once

#include <cstdint>
#include <string>

#include "platform/AppHooks.h"
#include "platform/Types.h"

namespace platform {
class TCanvas;
}

namespace widgets {

// Opaque theme data for a class list ("button", "combobox").
struct TThemeData;
using HTHEME = TThemeData*;

// Parts and states, with the values of the visual-styles library.
constexpr int32_t BP_PUSHBUTTON = 1;
constexpr int32_t BP_RADIOBUTTON = 2;
constexpr int32_t BP_CHECKBOX = 3;
constexpr int32_t CP_DROPDOWNBUTTON = 1;
constexpr int32_t PBS_NORMAL = 1;
constexpr int32_t PBS_HOT = 2;
constexpr int32_t PBS_PRESSED = 3;
constexpr int32_t PBS_DISABLED = 4;
constexpr int32_t CBS_UNCHECKEDNORMAL = 1;
constexpr int32_t CBS_UNCHECKEDHOT = 2;
constexpr int32_t CBS_UNCHECKEDPRESSED = 3;
constexpr int32_t CBS_CHECKEDNORMAL = 5;
constexpr int32_t CBS_CHECKEDHOT = 6;
constexpr int32_t CBS_CHECKEDPRESSED = 7;
constexpr int32_t RBS_UNCHECKEDNORMAL = 1;
constexpr int32_t RBS_CHECKEDNORMAL = 5;
constexpr int32_t CBXS_NORMAL = 1;
constexpr int32_t CBXS_HOT = 2;
constexpr int32_t CBXS_PRESSED = 3;

// Start-up and shut-down of the unit (BindThemeLibrary / UnbindThemeLibrary).
void InitializeVisualStyles();
void FinalizeVisualStyles();
bool BindThemeLibrary();
void UnbindThemeLibrary();
bool ThemeLibraryBound();
// Whether the system draws styled controls at all (Windows XP, version 5.1, and later).
bool IsThemedOS();
bool IsThemeActive();
bool IsAppThemed();
// nullptr for a class the binding does not draw.
HTHEME OpenThemeData(platform::HWND Window, const std::string& ClassList);
void CloseThemeData(HTHEME Theme);
// Draws a part in a state into R; false when nothing was drawn.
bool DrawThemeBackground(HTHEME Theme, platform::TCanvas* Canvas, int32_t PartId, int32_t StateId,
                         const platform::TRect& R);

}  // namespace widgets
