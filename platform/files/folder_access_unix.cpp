// Folder access through the kernel's own check for the effective user.

#include <fcntl.h>
#include <unistd.h>

#include "platform/files/folder_access.h"

namespace brixa {

bool FolderWritable(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace brixa
