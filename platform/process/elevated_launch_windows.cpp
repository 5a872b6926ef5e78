// The consent prompt through ShellExecuteEx and the "runas" verb.

#include <windows.h>
// after windows.h, whose declarations it needs
#include <shellapi.h>

#include "platform/process/elevated_launch.h"

namespace brixa {

bool CanLaunchElevated() noexcept {
  return true;
}

TProcessLaunch LaunchElevated(const std::string& fileName, const std::string& arguments) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // The process handle tells that it started; no asynchronous start that could outlive the
  // caller's hold on the file, and no error box of the shell's.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "runas";
  info.lpFile = fileName.c_str();
  info.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExA(&info)) return {false, ::GetLastError(), 0};
  TProcessLaunch launch{true, 0, 0};
  if (info.hProcess != nullptr) {
    launch.ProcessId = ::GetProcessId(info.hProcess);
    ::CloseHandle(info.hProcess);
  }
  return launch;
}

}  // namespace brixa
