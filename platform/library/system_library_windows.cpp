// The system folder's libraries by full path.

#include "platform/library/system_library_windows.h"

#include <windows.h>

#include "platform/core/system_error.h"

namespace brixa {

bool LoadSystemLibrary(TDynamicLibrary& library, const char* name, std::string& why) {
  char folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    why = std::string("the system folder is unknown: ") + SystemErrorText(::GetLastError());
    return false;
  }
  if (library.Load(std::string(folder, length) + "\\" + name)) return true;
  why = std::string(name) + ": " + library.ErrorText();
  return false;
}

}  // namespace brixa
