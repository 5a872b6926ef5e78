// Temporary path from $TMPDIR, computer name from gethostname, '/' as the only delimiter.

#include <unistd.h>

#include <cstdlib>

#include "platform/system/system_info.h"

namespace brixa {

std::string SystemTempPath() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  return "/tmp";
}

std::string LocalComputerName() {
  // gethostname may leave the name unterminated when it is cut; keep one byte of zeros spare.
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  std::string name(buffer);
  if (name.size() > kMaxComputerNameLength) name.resize(kMaxComputerNameLength);
  return name;
}

char SystemPathDelimiter() noexcept {
  return '/';
}

bool IsSystemPathDelimiter(char ch) noexcept {
  return ch == '/';
}

}  // namespace brixa
