// TempDirectory, read once and kept for the life of the process.

#include "platform/system/system_info.h"

namespace brixa {

const std::string& TempDirectory() {
  static const std::string directory = [] {
    std::string path = SystemTempPath();
    if (!path.empty() && !IsSystemPathDelimiter(path.back())) path.push_back(SystemPathDelimiter());
    return path;
  }();
  return directory;
}

}  // namespace brixa
