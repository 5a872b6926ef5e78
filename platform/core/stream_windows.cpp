// TFileStream, RemoveFile and FileExists over Win32 file handles and their sharing modes.

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/core/exception.h"
#include "platform/core/stream.h"
#include "platform/core/system_error.h"

namespace brixa {

class TFileHandle {
 public:
  explicit TFileHandle(HANDLE h) : h_(h) {}
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  ~TFileHandle() { ::CloseHandle(h_); }
  [[nodiscard]] HANDLE handle() const noexcept { return h_; }

 private:
  HANDLE h_;
};

namespace {

DWORD ShareFlags(unsigned mode) {
  if (mode == fmCreate) return 0;
  switch (mode & 0xF0u) {
    case fmShareExclusive:
      return 0;
    case fmShareDenyWrite:
      return FILE_SHARE_READ;
    case fmShareDenyNone:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
}

DWORD AccessFlags(unsigned mode) {
  if (mode == fmCreate) return GENERIC_READ | GENERIC_WRITE;
  switch (mode & 3u) {
    case fmOpenWrite:
      return GENERIC_WRITE;
    case fmOpenReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  const DWORD disposition = mode == fmCreate ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = ::CreateFileA(fileName.c_str(), AccessFlags(mode), ShareFlags(mode), nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const std::string reason = SystemErrorText(::GetLastError());
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  }
  handle_ = std::make_unique<TFileHandle>(h);
}

TFileStream::~TFileStream() = default;

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!::ReadFile(handle_->handle(), out + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD put = 0;
    if (!::WriteFile(handle_->handle(), in + done, want, &put, nullptr) || put == 0) break;
    done += put;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER result;
  if (!::SetFilePointerEx(handle_->handle(), distance, &result, method)) return -1;
  return result.QuadPart;
}

void TFileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Position();
  SetPosition(size);
  if (!::SetEndOfFile(handle_->handle())) throw EWriteError("Stream write error");
  SetPosition(std::min(position, size));
}

bool RemoveFile(const std::string& fileName) {
  return ::DeleteFileA(fileName.c_str()) != 0;
}

bool FileExists(const std::string& fileName) {
  const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace brixa
