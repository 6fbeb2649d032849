// Helpers shared by the test suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdtest {

// Folder for files a test writes for a person to look at (PNG renders, PDFs).
std::string OutputDir();

// A fresh, empty temporary folder that lives until the process ends.
std::string TempDir();

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Permission bits of a file (0 when it does not exist).
uint32_t FileMode(const std::string& Path);
// Files in Folder whose names begin with a dot: what a safe save leaves behind if it fails to
// clean up its temporary file.
int DotFileCount(const std::string& Folder);

// Path of a file in the source tree (fixtures, scripts).
std::string SourcePath(const std::string& relative);

// A program built into the build tree's tools folder, beside tests/.
std::string ToolPath(const std::string& Name);
// Runs Cmd through the shell; returns its exit status and what it printed on both streams.
int RunTool(const std::string& Cmd, std::string& Out);

}  // namespace kdtest
