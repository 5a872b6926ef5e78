// %LOCALAPPDATA%\<appName>\, made where missing.

#include <windows.h>
// after windows.h, whose declarations they need
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "platform/files/user_data_dir.h"

namespace brixa {

namespace {

constexpr DWORD kMaxVariable = 32767;  // the longest an environment value can be

std::string Variable(const char* name) {
  std::string value(kMaxVariable, '\0');
  const DWORD n = ::GetEnvironmentVariableA(name, value.data(), kMaxVariable);
  if (n == 0 || n >= kMaxVariable) return {};
  value.resize(n);
  return value;
}

// The system and administrators in full, nobody else at all; not inherited from above.
constexpr const char* kMachineFolderAccess = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Makes `folder` with the machine access list when it is missing; true when it is a folder.
bool MakeMachineFolder(const std::string& folder) {
  PSECURITY_DESCRIPTOR access = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kMachineFolderAccess, SDDL_REVISION_1,
                                                              &access, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, access, FALSE};
  const bool made =
      ::CreateDirectoryA(folder.c_str(), &attributes) || ::GetLastError() == ERROR_ALREADY_EXISTS;
  ::LocalFree(access);
  const DWORD found = ::GetFileAttributesA(folder.c_str());
  return made && found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (found & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

std::string MachineStateDirectory(const std::string& product) {
  // The system's own answer, not the environment's: a service's environment is whatever the
  // service manager gave it.
  char common[MAX_PATH] = {};
  if (FAILED(
          ::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
    return {};
  }
  std::string base = common;
  while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  if (base.empty()) return {};
  const std::string root = base + "\\BrixaUpdater";
  const std::string folder = root + "\\" + product;
  if (!MakeMachineFolder(root) || !MakeMachineFolder(folder)) return {};
  return folder + "\\";
}

std::string UserStateDirectory(const std::string& appName) {
  std::string base = Variable("LOCALAPPDATA");
  if (base.empty()) {
    const std::string profile = Variable("USERPROFILE");
    if (profile.empty()) return {};
    base = profile + "\\AppData\\Local";
    (void)::CreateDirectoryA((profile + "\\AppData").c_str(), nullptr);
    (void)::CreateDirectoryA(base.c_str(), nullptr);
  }
  while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  const std::string folder = base + "\\" + appName;
  if (!::CreateDirectoryA(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return {};
  }
  return folder + "\\";
}

}  // namespace brixa
