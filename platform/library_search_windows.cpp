// Library loads by bare name limited to System32 for the whole process.

#include <windows.h>

#include "platform/library_search.h"

namespace brixa {

bool HardenLibrarySearch() noexcept {
  // The application folder is left out too: libraries shipped beside the program are loaded
  // by their full path (LoadLibraryEx with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR), never by name.
  const bool restricted = ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
  // Takes the current folder out of the legacy search order as well, for loads that name
  // their own search flags (or a system where the call above failed).
  (void)::SetDllDirectoryA("");
  return restricted;
}

}  // namespace brixa
