#pragma once
// Loading a library of Windows itself from the system folder, never from a search path.

#include <string>

#include "platform/library/dynamic_library.h"

namespace brixa {

// Loads `name` ("secur32.dll") from the system folder into `library`. A file of that name beside
// the program or in the current folder is never taken. False with the reason in `why`.
[[nodiscard]] bool LoadSystemLibrary(TDynamicLibrary& library, const char* name, std::string& why);

}  // namespace brixa
