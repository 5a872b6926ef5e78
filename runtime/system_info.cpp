#include "runtime/system_info.h"

#include "platform/system_info.h"
#include "runtime/text.h"

namespace brixa {

const std::string& TempDirectory() {
  // Read once: the directory must not move under files a run has already put there.
  static const std::string directory = [] {
    const std::string path = SystemTempPath();
    return path.empty() ? path : IncludeTrailingDelimiter(path);
  }();
  return directory;
}

std::string LocalComputerName() {
  return SystemComputerName();
}

}  // namespace brixa
