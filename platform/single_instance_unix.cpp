#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/single_instance.h"

namespace brixa {

namespace {

constexpr int kNoFile = -1;

// $XDG_RUNTIME_DIR is private to the user and cleared at log-out; the temp directory is the
// fallback for sessions without one.
std::string LockDirectory() {
  for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      std::string dir = value;
      if (dir.back() != '/') dir += '/';
      return dir;
    }
  }
  return "/tmp/";
}

}  // namespace

TNamedMutex::TNamedMutex(const std::string& name) : handle_(kNoFile) {
  const std::string path = LockDirectory() + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    lastError_ = static_cast<unsigned long>(errno);
    return;
  }
  handle_ = fd;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Like a handle to an existing mutex, the descriptor stays open until Close().
    lastError_ = errno == EWOULDBLOCK ? kErrorAlreadyExists : static_cast<unsigned long>(errno);
  }
}

TNamedMutex::~TNamedMutex() {
  Close();
}

bool TNamedMutex::Valid() const noexcept {
  return handle_ != kNoFile;
}

void TNamedMutex::Close() noexcept {
  if (handle_ == kNoFile) return;
  ::close(static_cast<int>(handle_));  // releases the lock with the last descriptor
  handle_ = kNoFile;
}

}  // namespace brixa
