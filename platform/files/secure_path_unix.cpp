// The walk from a folder up to the root, folder by folder, by owner and mode.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/files/secure_path.h"

namespace brixa {

namespace {

constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

bool SafeFolder(const std::string& path, std::string& why) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
    why = path + " belongs to another user";
    return false;
  }
  if ((info.st_mode & kOthersWrite) != 0 && (info.st_mode & S_ISVTX) == 0) {
    why = path + " can be written by other users and is not sticky";
    return false;
  }
  return true;
}

}  // namespace

bool IsSecurePath(const std::string& directory, std::string& why) {
  // The folders as they are, links resolved: a link's own folder is walked where it points.
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(directory.c_str(), nullptr),
                                                         &std::free);
  if (!real) {
    why = directory + ": " + std::strerror(errno);
    return false;
  }
  std::string path = real.get();
  for (;;) {
    if (!SafeFolder(path, why)) return false;
    if (path == "/") return true;
    const std::size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

}  // namespace brixa
