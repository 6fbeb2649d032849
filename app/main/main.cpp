// De kadrilo: the units start, the application gets its title, the main form and the hidden
// colour form are created, and the message loop runs until the main form closes.
#include <cstdio>
#include <exception>

#include "app/ColorControl.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/FlashPlayer.h"
#include "platform/Forms.h"

int main() {
  // WebEngine must be prepared before the Qt application object exists, and the units' cursors
  // and styles need that object: it is made first, before the units start.
  platform::PrepareFlashPlayer();
  platform::Application()->Initialize();
  int code = 0;
  try {
    app::InitializeUnits();
    platform::TApplication* application = platform::Application();
    application->Initialize();
    application->SetTitle("De kadrilo");
    application->CreateForm(app::Form1);
    application->CreateForm(app::ColorControlForm);
    application->Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "De kadrilo: %s\n", e.what());
    code = 1;
  }
  // The forms go first, then the units finish in reverse order.
  delete app::ColorControlForm;
  app::ColorControlForm = nullptr;
  delete app::Form1;
  app::FinalizeUnits();
  return code;
}
