// TFileStream, RemoveFile and FileExists over POSIX descriptors; sharing modes are not enforced.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/exception.h"
#include "platform/core/stream.h"

namespace brixa {

class TFileHandle {
 public:
  explicit TFileHandle(int fd) : fd_(fd) {}
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  ~TFileHandle() { ::close(fd_); }
  [[nodiscard]] int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

namespace {

int OpenFlags(unsigned mode) {
  if (mode == fmCreate) return O_RDWR | O_CREAT | O_TRUNC;
  switch (mode & 3u) {
    case fmOpenWrite:
      return O_WRONLY;
    case fmOpenReadWrite:
      return O_RDWR;
    default:
      return O_RDONLY;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  const int fd = ::open(fileName.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
  if (fd < 0) {
    const std::string reason = std::strerror(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  }
  handle_ = std::make_unique<TFileHandle>(fd);
}

TFileStream::~TFileStream() = default;

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(handle_->fd(), out + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(handle_->fd(), in + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return ::lseek(handle_->fd(), offset, whence);
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(handle_->fd(), size) != 0) throw EWriteError("Stream write error");
  if (Position() > size) SetPosition(size);
}

bool RemoveFile(const std::string& fileName) {
  return ::unlink(fileName.c_str()) == 0;
}

bool FileExists(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace brixa
