// The units' start-up and shut-down in the program's link order. The program and the tests call
// the same pair; InitializeUnits may be called more than once.
#pragma once

namespace app {

void InitializeUnits();
void FinalizeUnits();

}  // namespace app
