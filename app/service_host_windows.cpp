// The service under the Windows service manager, and its registration.

#include <windows.h>

#include <cstdio>

#include "app/service_host.h"
#include "platform/files/module_path.h"

namespace brixa {

namespace {

constexpr DWORD kStopWaitHintMs = 5000;

// What ServiceMain needs; the dispatcher gives it no argument of ours.
std::string gName;
const TServiceBody* gBody = nullptr;
std::atomic<bool> gStop{false};
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
int gExitCode = kServiceExitOk;

void ReportState(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwServiceSpecificExitCode = static_cast<DWORD>(gExitCode);
  status.dwWaitHint = state == SERVICE_STOP_PENDING ? kStopWaitHintMs : 0;
  (void)::SetServiceStatus(gStatusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD /*type*/, LPVOID /*data*/, LPVOID /*context*/) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    gStop = true;
    ReportState(SERVICE_STOP_PENDING);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  gStatusHandle = ::RegisterServiceCtrlHandlerExA(gName.c_str(), OnControl, nullptr);
  if (gStatusHandle == nullptr) return;
  ReportState(SERVICE_RUNNING);
  gExitCode = (*gBody)(gStop);
  ReportState(SERVICE_STOPPED,
              gExitCode == kServiceExitOk ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

class TServiceHandle {
 public:
  explicit TServiceHandle(SC_HANDLE h) noexcept : h_(h) {}
  ~TServiceHandle() {
    if (h_ != nullptr) ::CloseServiceHandle(h_);
  }
  TServiceHandle(const TServiceHandle&) = delete;
  TServiceHandle& operator=(const TServiceHandle&) = delete;
  [[nodiscard]] SC_HANDLE Get() const noexcept { return h_; }

 private:
  SC_HANDLE h_;
};

int Fail(const char* what) {
  std::fprintf(stderr, "%s failed: error %lu\n", what, ::GetLastError());
  return kServiceExitFailed;
}

int Install(const std::string& name) {
  const TServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (manager.Get() == nullptr) return Fail("OpenSCManager");
  // Quoted: a path with blanks is never read as a shorter program plus arguments.
  const std::string command = "\"" + ProgramFileName() + "\"";
  const TServiceHandle service(::CreateServiceA(
      manager.Get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
      nullptr /* LocalSystem */, nullptr));
  if (service.Get() == nullptr) return Fail("CreateService");
  if (!::StartServiceA(service.Get(), 0, nullptr)) return Fail("StartService");
  return kServiceExitOk;
}

int Uninstall(const std::string& name) {
  const TServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.Get() == nullptr) return Fail("OpenSCManager");
  const TServiceHandle service(
      ::OpenServiceA(manager.Get(), name.c_str(), SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS));
  if (service.Get() == nullptr) return Fail("OpenService");
  SERVICE_STATUS status{};
  (void)::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  if (!::DeleteService(service.Get())) return Fail("DeleteService");
  return kServiceExitOk;
}

}  // namespace

int RunServiceHost(const std::vector<std::string>& arguments, const std::string& name,
                   const TServiceBody& body) {
  if (arguments == std::vector<std::string>{"--install"}) return Install(name);
  if (arguments == std::vector<std::string>{"--uninstall"}) return Uninstall(name);
  if (!arguments.empty()) {
    std::fprintf(stderr, "usage: %s [--install | --uninstall]\n", name.c_str());
    return kServiceExitUsage;
  }
  gName = name;
  gBody = &body;
  SERVICE_TABLE_ENTRYA table[] = {{gName.data(), ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherA(table)) return Fail("StartServiceCtrlDispatcher");
  return gExitCode;
}

}  // namespace brixa
