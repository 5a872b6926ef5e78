#pragma once
// Whether anybody but this user (and the superuser) can change what a folder holds.

#include <string>

namespace brixa {

// True when no other user can put, rename or remove an entry in `directory` or in any folder
// above it: on POSIX each folder up to the root belongs to this user or to the superuser and,
// when others may write it, carries the sticky bit (as /tmp does). False, with `why` naming the
// folder and the reason, otherwise; a folder that cannot be examined counts as unsafe.
// Windows: true (the files the updater makes carry an owner-only DACL; the folders' DACLs are
// not walked).
[[nodiscard]] bool IsSecurePath(const std::string& directory, std::string& why);

}  // namespace brixa
