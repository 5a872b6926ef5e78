// Loading, symbol lookup and freeing with LoadLibraryExA, from System32 or a full path only, and
// without the system's error dialogs.

#include <windows.h>

#include <bit>

#include "platform/core/system_error.h"
#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {
// SEM_NOOPENFILEERRORBOX: a missing file is an answer to the caller, not a dialog to the user.
constexpr UINT kNoOpenFileErrorBox = 0x8000;

// "C:\..." or "C:/..." (a drive letter alone, "C:x", is relative to that drive's current
// folder), or a UNC or device path.
[[nodiscard]] bool IsAbsolutePath(const std::string& path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

// Where the library and the libraries it imports may come from: a bare name from System32
// alone; a full path as given, its imports from its own folder and System32.
[[nodiscard]] DWORD SearchFlagsFor(const std::string& name) {
  if (IsBareLibraryName(name)) return LOAD_LIBRARY_SEARCH_SYSTEM32;
  if (IsAbsolutePath(name)) return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  return 0;
}
}  // namespace

bool TDynamicLibrary::Load(const std::string& AFileName) {
  Free();
  FErrorCode = 0;
  FErrorText.clear();
  const DWORD flags = SearchFlagsFor(AFileName);
  if (flags == 0) {
    FErrorCode = ERROR_INVALID_PARAMETER;
    FErrorText = AFileName + ": neither a system library name nor an absolute path";
    return false;
  }
  const UINT oldMode = ::SetErrorMode(kNoOpenFileErrorBox);
  const HMODULE library = ::LoadLibraryExA(AFileName.c_str(), nullptr, flags);
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
