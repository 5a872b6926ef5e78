#pragma once
// Whether anybody but this user (and the superuser) can change what a folder holds.

#include <string>

namespace brixa {

// True when no other user can put, rename or remove an entry in `directory` or in any folder
// above it: on POSIX each folder up to the root belongs to this user or to the superuser and,
// when others may write it, carries the sticky bit (as /tmp does). False, with `why` naming the
// folder and the reason, otherwise; a folder that cannot be examined counts as unsafe.
// Windows: each folder from `directory` (links and junctions resolved) up to its drive's or
// share's root is owned by this user, LocalSystem, the Administrators or TrustedInstaller, and
// its access list lets nobody else remove, rename or take it over, or change what `directory`
// holds (see FolderAccessProblem).
[[nodiscard]] bool IsSecurePath(const std::string& directory, std::string& why);

}  // namespace brixa
