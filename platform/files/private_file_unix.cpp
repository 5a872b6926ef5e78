// Private files over POSIX descriptors: unlink, then O_EXCL | O_NOFOLLOW with mode 0600.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/core/exception.h"
#include "platform/files/private_file.h"

namespace brixa {

namespace {

constexpr std::intptr_t kNoFile = -1;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;

int Fd(std::intptr_t handle) noexcept {
  return static_cast<int>(handle);
}

[[noreturn]] void RaiseCreateError(const std::string& fileName, int error) {
  throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(error));
}

// A plain file of this user with one name, reached without a link.
bool IsOwnPlainFile(int fd) noexcept {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
         info.st_nlink == 1 && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

std::unique_ptr<TPrivateFile> TPrivateFile::Create(const std::string& fileName) {
  if (::unlink(fileName.c_str()) != 0 && errno != ENOENT) RaiseCreateError(fileName, errno);
  const int fd =
      ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerReadWrite);
  if (fd < 0) RaiseCreateError(fileName, errno);
  // The umask may only take bits away, and 0600 is what stays.
  (void)::fchmod(fd, kOwnerReadWrite);
  return std::unique_ptr<TPrivateFile>(new TPrivateFile(fileName, fd));
}

std::unique_ptr<TPrivateFile> TPrivateFile::OpenForAppend(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    if (IsOwnPlainFile(fd)) {
      std::unique_ptr<TPrivateFile> file(new TPrivateFile(fileName, fd));
      (void)file->Seek(0, TSeekOrigin::soEnd);
      return file;
    }
    ::close(fd);
  }
  return Create(fileName);
}

TPrivateFile::~TPrivateFile() {
  if (handle_ != kNoFile) ::close(Fd(handle_));
}

std::int64_t TPrivateFile::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(Fd(handle_), out + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TPrivateFile::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(Fd(handle_), in + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TPrivateFile::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return ::lseek(Fd(handle_), offset, whence);
}

void TPrivateFile::SetSize(std::int64_t size) {
  if (::ftruncate(Fd(handle_), size) != 0) {
    throw EFCreateError("Cannot resize file \"" + fileName_ + "\". " + std::strerror(errno));
  }
}

std::intptr_t TPrivateFile::ReleaseHandle() noexcept {
  const std::intptr_t handle = handle_;
  handle_ = kNoFile;
  return handle;
}

void TPrivateFile::Flush() {
  if (::fsync(Fd(handle_)) != 0) {
    throw EFCreateError("Cannot flush file \"" + fileName_ + "\". " + std::strerror(errno));
  }
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // The rename is durable once the folder that holds both names is.
  const std::string::size_type slash = to.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
  return true;
}

}  // namespace brixa
