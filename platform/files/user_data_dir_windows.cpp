// %LOCALAPPDATA%\<appName>\, made where missing.

#include <windows.h>

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

}  // namespace

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
