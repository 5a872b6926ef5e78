// Library loads by bare name limited to System32 for the whole process.

#include <windows.h>

#include "platform/library/library_search.h"

namespace brixa {

namespace {

// The system libraries that are not known DLLs and that the programs import delayed (the
// build's delay-import list): a file of such a name beside the program would otherwise be
// found first.
constexpr const char* kDelayedSystemLibraries[] = {"bcrypt.dll", "crypt32.dll", "secur32.dll",
                                                   "comctl32.dll"};

}  // namespace

bool HardenLibrarySearch() noexcept {
  // The application folder is left out too: libraries shipped beside the program are loaded
  // by their full path (LoadLibraryEx with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR), never by name.
  const bool restricted = ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
  // Takes the current folder out of the legacy search order as well, for loads that name
  // their own search flags (or a system where the call above failed).
  (void)::SetDllDirectoryA("");
  // Bound now, from the system folder, and kept for the process's life: a system library that
  // imports one of them (Schannel imports crypt32) then finds it loaded under that name, where
  // a loader that searches a library's own imports the old way would look beside the program.
  for (const char* name : kDelayedSystemLibraries) {
    (void)::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return restricted;
}

}  // namespace brixa
