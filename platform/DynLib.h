// Loading shared libraries at run time. A library that is missing or fails to load is not an
// error: the loader answers with nothing, and callers fall back to doing without it.
#pragma once

#include <string>

namespace platform {

using HMODULE = void*;

// Opens a library by file name or path; nullptr when it cannot be loaded.
HMODULE LoadLibrary(const std::string& FileName);
// Address of an exported symbol; nullptr for a null module or an unknown name.
void* GetProcAddress(HMODULE Module, const std::string& ProcName);
// Closes a module opened by LoadLibrary; a null module is ignored.
bool FreeLibrary(HMODULE Module);

// Owns one loaded library for its lifetime.
class TDynLib {
 public:
  TDynLib() = default;
  explicit TDynLib(const std::string& FileName) { Load(FileName); }
  ~TDynLib() { Unload(); }
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;
  TDynLib(TDynLib&& Other) noexcept : FHandle(Other.FHandle), FFileName(std::move(Other.FFileName)) {
    Other.FHandle = nullptr;
  }
  TDynLib& operator=(TDynLib&& Other) noexcept;

  // Unloads any previous library first; false when the new one cannot be loaded.
  bool Load(const std::string& FileName);
  void Unload();
  bool Loaded() const { return FHandle != nullptr; }
  HMODULE Handle() const { return FHandle; }
  const std::string& FileName() const { return FFileName; }
  // The loader's last error text ("" when none was recorded).
  const std::string& LastError() const { return FLastError; }

  void* Proc(const std::string& Name) const { return GetProcAddress(FHandle, Name); }
  // Typed look-up: Proc<int (*)(int)>("abs").
  template <typename F>
  F Proc(const std::string& Name) const {
    return reinterpret_cast<F>(Proc(Name));
  }

 private:
  HMODULE FHandle = nullptr;
  std::string FFileName;
  std::string FLastError;
};

}  // namespace platform
