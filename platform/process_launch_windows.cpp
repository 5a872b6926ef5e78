#include <windows.h>

#include "platform/process_launch.h"

namespace brixa {

TProcessLaunch LaunchProcess(const std::string& fileName) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  TProcessLaunch result;
  if (!::CreateProcessA(fileName.c_str(), nullptr, &security, &security, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    result.ErrorCode = ::GetLastError();
    return result;
  }
  result.Started = true;
  result.ProcessId = process.dwProcessId;
  // Nothing waits for the new process; its handles are not kept open for the rest of our life.
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return result;
}

}  // namespace brixa
