// Loading, symbol lookup and freeing with LoadLibraryA, without the system's error dialogs.

#include <windows.h>

#include <bit>

#include "platform/dynamic_library.h"
#include "platform/system_error.h"

namespace brixa {

namespace {
// SEM_NOOPENFILEERRORBOX: a missing file is an answer to the caller, not a dialog to the user.
constexpr UINT kNoOpenFileErrorBox = 0x8000;
}  // namespace

bool TDynamicLibrary::Load(const std::string& AFileName) {
  Free();
  FErrorCode = 0;
  FErrorText.clear();
  const UINT oldMode = ::SetErrorMode(kNoOpenFileErrorBox);
  const HMODULE library = ::LoadLibraryA(AFileName.c_str());
  const DWORD loadError = ::GetLastError();
  ::SetErrorMode(oldMode);
  if (library == nullptr) {
    FErrorCode = loadError;
    FErrorText = SystemErrorText(loadError);
    return false;
  }
  FHandle = library;
  return true;
}

void TDynamicLibrary::Free() noexcept {
  if (FHandle != nullptr) ::FreeLibrary(static_cast<HMODULE>(FHandle));
  FHandle = nullptr;
}

void* TDynamicLibrary::Symbol(const char* AName) const noexcept {
  if (FHandle == nullptr) return nullptr;
  return std::bit_cast<void*>(::GetProcAddress(static_cast<HMODULE>(FHandle), AName));
}

}  // namespace brixa
