// Loading, symbol lookup and freeing with dlopen, dlsym and dlclose. A bare name goes through
// the loader's configured folders, which do not include the current one.

#include <dlfcn.h>

#include "platform/library/dynamic_library.h"

namespace brixa {

bool TDynamicLibrary::Load(const std::string& AFileName) {
  Free();
  FErrorCode = 0;
  FErrorText.clear();
  // dlopen takes a name with a slash as a path from the current folder.
  if (!IsBareLibraryName(AFileName) && AFileName.front() != '/') {
    FErrorText = AFileName + ": neither a library name nor an absolute path";
    return false;
  }
  // Symbols stay private to the library (RTLD_LOCAL) and are all bound now, so a library that
  // cannot resolve its own dependencies fails here and not at some later call.
  FHandle = ::dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (FHandle == nullptr) {
    const char* reason = ::dlerror();
    FErrorText = reason != nullptr ? reason : "cannot load " + AFileName;
    return false;
  }
  return true;
}

void TDynamicLibrary::Free() noexcept {
  if (FHandle != nullptr) ::dlclose(FHandle);
  FHandle = nullptr;
}

void* TDynamicLibrary::Symbol(const char* AName) const noexcept {
  if (FHandle == nullptr) return nullptr;
  return ::dlsym(FHandle, AName);
}

}  // namespace brixa
