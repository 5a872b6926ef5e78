#pragma once
// Where brixa-http's bodies go: standard output in binary mode, or an -o file created only when a
// body is accepted.

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/core/stream.h"

namespace brixa::tool {

// Puts standard output into binary mode where the platform translates line ends.
void PrepareBinaryStdout();

// A write-only stream over a C stdio file. The position is the count of bytes written; seeking
// and resizing are accepted and change nothing, since bytes already written cannot be taken
// back (the client only rewinds to where the current URL began, and writes nothing before a
// redirect is followed). So nothing is ever pre-sized: the output holds the bytes received.
class StdioStream : public TStream {
 public:
  explicit StdioStream(std::FILE* file) : file_(file) {}
  std::int64_t Read(void* /*buffer*/, std::int64_t /*count*/) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t /*offset*/, TSeekOrigin /*origin*/) override { return written_; }
  void SetSize(std::int64_t /*size*/) override {}
  [[nodiscard]] std::int64_t Size() override { return written_; }

 protected:
  void SetFile(std::FILE* file) noexcept { file_ = file; }
  [[nodiscard]] std::FILE* File() const noexcept { return file_; }

 private:
  std::FILE* file_;
  std::int64_t written_ = 0;
};

// The -o file. It is created, or truncated, only when the first byte of an accepted body
// arrives (or when a URL succeeds without one): an answer that fails, an HTTP error included,
// leaves an existing file as it was. This is chosen over a temporary file renamed into place
// because it works unchanged for /dev/null, /dev/stdout and named pipes, and keeps the file's
// owner, mode and links. Bytes go out as they arrive, so a cut transfer leaves exactly what
// was received. Raises EFCreateError when the file cannot be opened, EWriteError when a write
// or the final flush fails.
class LazyFileStream : public StdioStream {
 public:
  explicit LazyFileStream(std::string path) : StdioStream(nullptr), path_(std::move(path)) {}
  ~LazyFileStream() override;
  LazyFileStream(const LazyFileStream&) = delete;
  LazyFileStream& operator=(const LazyFileStream&) = delete;

  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Creates or truncates the file now, if that has not happened yet.
  void Open();
  // Flushes and closes; raises EWriteError when the data did not reach the file.
  void Close();

 private:
  std::string path_;
};

}  // namespace brixa::tool
