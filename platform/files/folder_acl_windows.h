#pragma once
// Whether a folder's security descriptor lets anybody but this user and the machine's
// administrators change what the folder holds.

#include <windows.h>

#include <string>

namespace brixa {

enum class TFolderRole {
  kHoldsFiles,  // the folder the updater writes and starts its files in
  kAbove,       // a folder on the way from there up to the drive's root
};

// Empty when the folder described by `descriptor` is safe for `role`; otherwise why not, as
// "belongs to <SID>", "has no access list" or "<SID> may <right>".
//
// Trusted are `user`, LocalSystem, the Administrators group, TrustedInstaller and OWNER RIGHTS
// (the owner, who must be one of the others). The owner must be trusted. Every entry that
// grants and applies to the folder itself (inherit-only ones do not) is read with the generic
// rights mapped to the file rights. For anybody else, any folder must not grant DELETE,
// FILE_DELETE_CHILD, WRITE_DAC or WRITE_OWNER (so nobody can rename, remove or take over an
// entry on the way); the folder that holds the files must not grant FILE_ADD_FILE or
// FILE_ADD_SUBDIRECTORY either (so nobody can put a file or a library beside the product).
// A deny entry is given no credit: whom it really stops depends on group memberships this
// process cannot know for every other user.
[[nodiscard]] std::string FolderAccessProblem(PSECURITY_DESCRIPTOR descriptor, PSID user,
                                              TFolderRole role);

}  // namespace brixa
