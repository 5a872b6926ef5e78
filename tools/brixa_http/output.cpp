// The stdio stream and the lazily opened -o file.

#include "output.h"

#include <cerrno>
#include <cstring>

#include "platform/core/exception.h"

namespace brixa::tool {

std::int64_t StdioStream::Write(const void* buffer, std::int64_t count) {
  const auto done = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_);
  written_ += static_cast<std::int64_t>(done);
  return static_cast<std::int64_t>(done);
}

LazyFileStream::~LazyFileStream() {
  if (File() != nullptr) std::fclose(File());
}

void LazyFileStream::Open() {
  if (File() != nullptr) return;
  std::FILE* file = std::fopen(path_.c_str(), "wb");
  if (file == nullptr) {
    throw EFCreateError("Cannot create file \"" + path_ + "\". " + std::strerror(errno));
  }
  // Unbuffered: each body chunk (up to the client's receive size) is one write, so the file
  // holds what arrived even when the run is killed.
  std::setvbuf(file, nullptr, _IONBF, 0);
  SetFile(file);
}

std::int64_t LazyFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  Open();
  return StdioStream::Write(buffer, count);
}

void LazyFileStream::Close() {
  std::FILE* file = File();
  if (file == nullptr) return;
  SetFile(nullptr);
  const bool flushed = std::fflush(file) == 0;
  if (std::fclose(file) != 0 || !flushed) throw EWriteError("Stream write error");
}

}  // namespace brixa::tool
