#include "app/ColorControl.h"

namespace app {

using namespace platform;

TColorControlForm* ColorControlForm = nullptr;

namespace {

template <typename T>
T* Make(TWinControl* Parent, const char* Name, int32_t L, int32_t T_, int32_t W, int32_t H) {
  auto* c = new T(Parent);
  c->SetName(Name);
  c->SetParent(Parent);
  c->SetBounds(L, T_, W, H);
  return c;
}

TTrackBar* MakeTrackBar(TWinControl* Parent, const char* Name, int32_t Top, int32_t Min, int32_t Max,
                        int32_t Frequency, int32_t Position) {
  auto* t = Make<TTrackBar>(Parent, Name, 8, Top, 150, 22);
  t->SetRange(Min, Max);
  t->SetFrequency(Frequency);
  t->SetPosition(Position);
  t->SetThumbLength(10);
  t->SetTickMarks(tmBottomRight);
  t->SetTickStyle(tsAuto);
  return t;
}

}  // namespace

TColorControlForm::TColorControlForm(TComponent* AOwner) : TForm(AOwner) {
  SetName("ColorControlForm");
  SetBorderStyle(bsNone);
  SetClientWidth(166);
  SetClientHeight(226);
  SetColor(clBtnFace);
  // fsStayOnTop: the form is never shown, so there is no window to keep on top.
  OnDeactivate = [this](TObject* Sender) { FormDeactivate(Sender); };

  Shape1 = Make<TShape>(this, "Shape1", 0, 0, 166, 226);
  Shape1->SetAlign(alClient);
  Shape1->SetShape(stRoundRect);
  Shape1->SetPen(clLime, 3);
  Shape1->SetBrushColor(clBtnFace);

  const char* captions[4] = {"Brightness", "Contrast", "Hue", "Saturation"};
  TLabel** labels[4] = {&Label1, &Label2, &Label3, &Label4};
  for (int i = 0; i < 4; ++i) {
    *labels[i] = Make<TLabel>(this, ("Label" + std::to_string(i + 1)).c_str(), 12, 8 + i * 44, 140, 14);
    (*labels[i])->SetCaption(captions[i]);
  }
  SpeedButton1 = Make<TBitBtn>(this, "SpeedButton1", 8, 184, 150, 18);
  SpeedButton1->SetFlat(true);
  SpeedButton1->SetCaption("Reset to Default");

  TrackBar1 = MakeTrackBar(this, "TrackBar1", 22, 0, 10000, 1000, 750);
  TrackBar2 = MakeTrackBar(this, "TrackBar2", 66, 0, 20000, 2000, 10000);
  TrackBar3 = MakeTrackBar(this, "TrackBar3", 110, -180, 180, 36, 0);
  TrackBar4 = MakeTrackBar(this, "TrackBar4", 154, 0, 20000, 2000, 10000);

  CheckBox1 = Make<TCheckBox>(this, "CheckBox1", 12, 204, 140, 17);
  CheckBox1->SetCaption("Utilized colors");
  CheckBox1->SetChecked(true);
}

void TColorControlForm::FormDeactivate(TObject* Sender) {
  (void)Sender;
  Close();
}

}  // namespace app
