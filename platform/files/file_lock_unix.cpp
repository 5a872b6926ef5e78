// The lock as a flock on a regular file of this user, opened without following a link.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_lock.h"

namespace brixa {

namespace {

constexpr std::intptr_t kNoFile = -1;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;

}  // namespace

TFileLock::TFileLock(const std::string& fileName) : handle_(kNoFile) {
  const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        kOwnerReadWrite);
  if (fd < 0) {
    error_ = "cannot open the lock " + fileName + ": " + std::strerror(errno);
    return;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
      info.st_nlink != 1) {
    ::close(fd);
    error_ = "the lock " + fileName + " is not a plain file of this user";
    return;
  }
  handle_ = fd;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    state_ = TFileLockState::flHeld;
  } else if (errno == EWOULDBLOCK) {
    state_ = TFileLockState::flBusy;
  } else {
    error_ = "cannot lock " + fileName + ": " + std::strerror(errno);
  }
}

TFileLock::~TFileLock() {
  if (handle_ != kNoFile) ::close(static_cast<int>(handle_));
}

}  // namespace brixa
