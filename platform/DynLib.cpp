#include "platform/DynLib.h"

#include <dlfcn.h>

namespace platform {

HMODULE LoadLibrary(const std::string& FileName) {
  if (FileName.empty()) return nullptr;
  return dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(HMODULE Module, const std::string& ProcName) {
  if (!Module || ProcName.empty()) return nullptr;
  return dlsym(Module, ProcName.c_str());
}

bool FreeLibrary(HMODULE Module) {
  if (!Module) return false;
  return dlclose(Module) == 0;
}

TDynLib& TDynLib::operator=(TDynLib&& Other) noexcept {
  if (this != &Other) {
    Unload();
    FHandle = Other.FHandle;
    FFileName = std::move(Other.FFileName);
    Other.FHandle = nullptr;
  }
  return *this;
}

bool TDynLib::Load(const std::string& FileName) {
  Unload();
  FFileName = FileName;
  FHandle = LoadLibrary(FileName);
  if (!FHandle) {
    const char* err = FileName.empty() ? "empty file name" : dlerror();
    FLastError = err ? err : "";
  } else {
    FLastError.clear();
  }
  return FHandle != nullptr;
}

void TDynLib::Unload() {
  if (FHandle) FreeLibrary(FHandle);
  FHandle = nullptr;
}

}  // namespace platform
