#pragma once
// HardenLibrarySearch: the process-wide rule for where libraries loaded by name come from.

namespace brixa {

// Restricts every later load of a library by bare name to the system's own folder, so that no
// load (ours, or one a system library makes for itself) ever searches the current folder or
// PATH, where another user or a download may have placed a file of that name. Called first
// thing in every program's main, before anything can load a library. On Windows this is
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) plus SetDllDirectory("") for a system
// without it, and the system libraries the programs import delayed (bcrypt, crypt32, secur32,
// comctl32) are then loaded from the system folder at once; POSIX loaders never search the current
// folder for a bare name, so there it does nothing. True when the restriction is in force (always
// on POSIX).
bool HardenLibrarySearch() noexcept;

}  // namespace brixa
