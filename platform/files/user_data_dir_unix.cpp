// $XDG_STATE_HOME or ~/.local/state, made with mode 0700 where missing.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files/user_data_dir.h"

namespace brixa {

namespace {

constexpr mode_t kOwnerOnly = S_IRWXU;

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return {};
}

// Makes every missing folder of `path` (absolute, no trailing slash); true when it is a folder.
bool MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string prefix = at == std::string::npos ? path : path.substr(0, at);
    if (::mkdir(prefix.c_str(), kOwnerOnly) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

constexpr const char* kMachineStateRoot = "/var/lib/brixa-update";
constexpr mode_t kOthersMayEnter = 0755;

}  // namespace

std::string MachineStateDirectory(const std::string& product) {
  if (::mkdir(kMachineStateRoot, kOthersMayEnter) != 0 && errno != EEXIST) return {};
  const std::string folder = std::string(kMachineStateRoot) + "/" + product;
  if (::mkdir(folder.c_str(), kOwnerOnly) != 0 && errno != EEXIST) return {};
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
  return folder + "/";
}

std::string UserStateDirectory(const std::string& appName) {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    base = home + "/.local/state";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string folder = base + "/" + appName;
  if (!MakeFolders(folder)) return {};
  return folder + "/";
}

}  // namespace brixa
