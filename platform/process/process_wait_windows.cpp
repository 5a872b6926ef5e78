// Waiting on the process's handle, opened by its id.

#include <windows.h>

#include "platform/process/process_wait.h"

namespace brixa {

std::optional<int> WaitForChildExit(std::uint64_t processId, std::uint32_t timeoutMs) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                       static_cast<DWORD>(processId));
  if (process == nullptr) return std::nullopt;
  std::optional<int> code;
  DWORD exitCode = 0;
  if (::WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process, &exitCode)) {
    code = static_cast<int>(exitCode);
  }
  ::CloseHandle(process);
  return code;
}

}  // namespace brixa
