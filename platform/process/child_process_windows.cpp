// Waiting for a started program through its process handle.

#include <windows.h>

#include "platform/process/child_process.h"

namespace brixa {

TChildProcess::~TChildProcess() {
  if (handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<std::uint32_t> TChildProcess::Wait(std::uint32_t timeoutMs) {
  if (exitCode_) return exitCode_;
  const auto process = reinterpret_cast<HANDLE>(handle_);
  if (::WaitForSingleObject(process, timeoutMs == kWaitForever ? INFINITE : timeoutMs) !=
      WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return std::nullopt;
  exitCode_ = code;
  return exitCode_;
}

}  // namespace brixa
