// Shared by the application's tests: the units started as the program starts them, and the
// sample catalogue written once per test run.
#pragma once

#include <string>

namespace apptest {

// InitializeUnits, with the user's cache folder moved into the tests' temporary folder.
void StartUnits();
// A folder holding the generated sample catalogue (every document and movie).
const std::string& SampleFolder();

}  // namespace apptest
