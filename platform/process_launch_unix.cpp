#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process_launch.h"

extern char** environ;

namespace brixa {

namespace {

void MakeExecutableForOwner(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) return;  // posix_spawn reports the missing file
  if ((info.st_mode & S_IXUSR) != 0) return;
  (void)::chmod(fileName.c_str(), (info.st_mode & 07777) | S_IXUSR);
}

}  // namespace

TProcessLaunch LaunchProcess(const std::string& fileName) {
  MakeExecutableForOwner(fileName);
  std::string argument0 = fileName;
  char* argv[] = {argument0.data(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, fileName.c_str(), nullptr, nullptr, argv, environ);
  TProcessLaunch result;
  if (rc != 0) {
    result.ErrorCode = static_cast<unsigned long>(rc);
    return result;
  }
  result.Started = true;
  result.ProcessId = static_cast<std::uint64_t>(pid);
  return result;
}

}  // namespace brixa
