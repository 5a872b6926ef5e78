// The marker as a flock on a file in a directory only this user can enter, so another user can
// neither hold nor fake it.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/process/single_instance.h"

namespace brixa {

namespace {

constexpr int kNoFile = -1;
// Neither the group nor others may have any access to a directory that holds the lock.
constexpr mode_t kForeignAccess = S_IRWXG | S_IRWXO;
constexpr mode_t kPrivateDirectoryMode = S_IRWXU;
constexpr mode_t kLockFileMode = S_IRUSR | S_IWUSR;

std::string WithSeparator(std::string dir) {
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value != '/') return std::nullopt;  // only absolute paths count
  return WithSeparator(value);
}

// A directory held open, so that what was checked is what the lock file is made in.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  explicit DirectoryHandle(int fd) : fd_(fd) {}
  ~DirectoryHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryHandle(DirectoryHandle&& other) noexcept : fd_(std::exchange(other.fd_, kNoFile)) {}
  DirectoryHandle& operator=(DirectoryHandle&&) = delete;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  [[nodiscard]] int Fd() const noexcept { return fd_; }
  [[nodiscard]] bool Valid() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = kNoFile;
};

// Opens `dir` when it is a directory (not a link to one) owned by this user that nobody else
// can enter or change. The runtime directory is made so by the session manager; our own
// fallback by mkdir below.
DirectoryHandle OpenPrivateDirectory(const std::string& dir) {
  DirectoryHandle handle(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!handle.Valid()) return {};
  struct stat info {};
  if (::fstat(handle.Fd(), &info) != 0 || info.st_uid != ::geteuid() ||
      (info.st_mode & kForeignAccess) != 0) {
    errno = EPERM;
    return {};
  }
  return handle;
}

// "<parent><name>-<uid>/", made with mode 0700 when it is missing. A name that another user
// took first (a directory of theirs, a link, a file) is never used: nothing that user controls
// may decide whether our copies see each other.
DirectoryHandle OwnDirectoryIn(const std::string& parent, const std::string& name) {
  const std::string dir = parent + name + "-" + std::to_string(::geteuid());
  if (::mkdir(dir.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) return {};
  return OpenPrivateDirectory(dir);
}

// Where the lock of `name` lives, in order of preference: the session's runtime directory
// ($XDG_RUNTIME_DIR, private and cleared at log-out); a per-user directory in the temp
// directory; a per-user directory in the home directory, which other users cannot squat.
DirectoryHandle LockDirectory(const std::string& name) {
  if (const auto runtime = Variable("XDG_RUNTIME_DIR")) {
    if (DirectoryHandle dir = OpenPrivateDirectory(*runtime); dir.Valid()) return dir;
  }
  const std::string temp = Variable("TMPDIR").value_or("/tmp/");
  if (DirectoryHandle dir = OwnDirectoryIn(temp, name); dir.Valid()) return dir;
  if (const auto home = Variable("HOME")) return OwnDirectoryIn(*home + ".", name);
  return {};
}

// Opens (creating when missing) the lock file without following a link, and accepts only a
// regular file of ours.
int OpenLockFile(const DirectoryHandle& dir, const std::string& fileName) {
  const int fd = ::openat(dir.Fd(), fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          kLockFileMode);
  if (fd < 0) return kNoFile;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    ::close(fd);
    errno = EPERM;
    return kNoFile;
  }
  return fd;
}

}  // namespace

TNamedMutex::TNamedMutex(const std::string& name) : handle_(kNoFile) {
  errno = 0;
  const DirectoryHandle dir = LockDirectory(name);
  if (!dir.Valid()) {
    lastError_ = static_cast<unsigned long>(errno != 0 ? errno : EACCES);
    return;
  }
  const int fd = OpenLockFile(dir, name + ".lock");
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
