// The colour-control form: a borderless, stay-on-top panel of brightness, contrast, hue and
// saturation track bars. The program creates it hidden at start-up and nothing shows it or
// reads it; losing activation closes it.
#pragma once

#include <string>

#include "app/AppControls.h"
#include "platform/Forms.h"

namespace app {

class TColorControlForm : public platform::TForm {
 public:
  explicit TColorControlForm(platform::TComponent* AOwner);
  std::string ClassName() const override { return "TColorControlForm"; }

  void FormDeactivate(platform::TObject* Sender);

  TShape* Shape1 = nullptr;
  TLabel* Label1 = nullptr;  // "Brightness"
  TLabel* Label2 = nullptr;  // "Contrast"
  TLabel* Label3 = nullptr;  // "Hue"
  TLabel* Label4 = nullptr;  // "Saturation"
  TBitBtn* SpeedButton1 = nullptr;
  TTrackBar* TrackBar1 = nullptr;  // brightness
  TTrackBar* TrackBar2 = nullptr;  // contrast
  TTrackBar* TrackBar3 = nullptr;  // hue
  TTrackBar* TrackBar4 = nullptr;  // saturation
  TCheckBox* CheckBox1 = nullptr;
};

extern TColorControlForm* ColorControlForm;

}  // namespace app
