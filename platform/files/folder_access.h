#pragma once
// Whether this process may create files in a folder.

#include <string>

namespace brixa {

// True when this process (its effective user, with its groups and privileges) may create a file
// in `folder`. Linux: faccessat(W_OK | X_OK, AT_EACCESS). Windows: a probe file created new
// and deleted on close, which asks the folder's access list itself (the read-only attribute
// means nothing for a folder). A folder that does not exist is not writable.
[[nodiscard]] bool FolderWritable(const std::string& folder);

}  // namespace brixa
