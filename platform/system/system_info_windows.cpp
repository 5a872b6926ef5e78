// Temporary path, computer name and the two path delimiters of Windows.

#include <windows.h>

#include "platform/system/system_info.h"

namespace brixa {

namespace {
// The classic path limit; GetTempPathA never needs more for a path it can report.
constexpr DWORD kTempPathBufferSize = MAX_PATH;
}  // namespace

std::string SystemTempPath() {
  char buffer[kTempPathBufferSize + 1] = {};
  const DWORD length = ::GetTempPathA(kTempPathBufferSize, buffer);
  // 0 is a failure; a value above the buffer size is the size it would have needed.
  if (length == 0 || length > kTempPathBufferSize) return {};
  return std::string(buffer, length);
}

std::string LocalComputerName() {
  char buffer[kMaxComputerNameLength + 1] = {};
  DWORD length = sizeof buffer;
  if (!::GetComputerNameA(buffer, &length)) return {};
  std::string name(buffer, length);
  if (name.size() > kMaxComputerNameLength) name.resize(kMaxComputerNameLength);
  return name;
}

char SystemPathDelimiter() noexcept {
  return '\\';
}

bool IsSystemPathDelimiter(char ch) noexcept {
  return ch == '\\' || ch == '/';
}

}  // namespace brixa
