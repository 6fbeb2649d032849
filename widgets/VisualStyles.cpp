#include "widgets/VisualStyles.h"

#include "platform/StyleDraw.h"
#include "platform/SysUtils.h"

namespace widgets {

struct TThemeData {
  bool Combo = false;
};

namespace {
bool& Bound() {
  static bool bound = false;
  return bound;
}
}  // namespace

void InitializeVisualStyles() { BindThemeLibrary(); }
void FinalizeVisualStyles() { UnbindThemeLibrary(); }

bool BindThemeLibrary() {
  if (!Bound()) Bound() = platform::StyledDrawingAvailable();
  return Bound();
}

void UnbindThemeLibrary() { Bound() = false; }
bool ThemeLibraryBound() { return Bound(); }
bool IsThemedOS() { return true; }
bool IsThemeActive() { return Bound(); }
bool IsAppThemed() { return Bound(); }

HTHEME OpenThemeData(platform::HWND Window, const std::string& ClassList) {
  (void)Window;
  if (!Bound()) return nullptr;
  if (platform::SameText(ClassList, "button")) return new TThemeData{false};
  if (platform::SameText(ClassList, "combobox")) return new TThemeData{true};
  return nullptr;
}

void CloseThemeData(HTHEME Theme) { delete Theme; }

bool DrawThemeBackground(HTHEME Theme, platform::TCanvas* Canvas, int32_t PartId, int32_t StateId,
                         const platform::TRect& R) {
  using namespace platform;
  if (!Theme || !Canvas) return false;
  TStyledState st;
  TStyledPart part;
  if (Theme->Combo) {
    if (PartId != CP_DROPDOWNBUTTON) return false;
    part = spComboDropDown;
    st.Hot = StateId == CBXS_HOT;
    st.Pressed = StateId == CBXS_PRESSED;
  } else if (PartId == BP_PUSHBUTTON) {
    part = spPushButton;
    st.Hot = StateId == PBS_HOT;
    st.Pressed = StateId == PBS_PRESSED;
    st.Disabled = StateId == PBS_DISABLED;
  } else if (PartId == BP_CHECKBOX || PartId == BP_RADIOBUTTON) {
    part = PartId == BP_CHECKBOX ? spCheckBox : spRadioButton;
    st.Checked = StateId >= 5 && StateId <= 8;
    const int32_t kind = (StateId - 1) % 4;  // normal, hot, pressed, disabled
    st.Hot = kind == 1;
    st.Pressed = kind == 2;
    st.Disabled = kind == 3;
  } else {
    return false;
  }
  DrawStyledPart(Canvas, part, R, st);
  return true;
}

}  // namespace widgets
