#pragma once
// The folders brixa-release writes into: held to the rule the updater holds its own folder to.

#include <string>

#include "platform/core/exception.h"

namespace brixa::release {

// A folder the tool will not write into: another user could swap or plant the files it writes.
BRIXA_DECLARE_EXCEPTION(EUnsafeOutputFolder, Exception);

// Makes `folder` ready for the tool's files. It must be a folder no other user can change, nor
// any folder above it (IsSecurePath, the updater's own check of the product's folder); raises
// EUnsafeOutputFolder naming the folder and the reason otherwise. With `create`, missing folders
// are made, private to this user, but only below a folder that passes the same check; nothing is
// created when the check fails.
void PrepareOutputFolder(const std::string& folder, bool create);

// The folder that holds `fileName` ("." for a bare name).
[[nodiscard]] std::string FolderOf(const std::string& fileName);

}  // namespace brixa::release
