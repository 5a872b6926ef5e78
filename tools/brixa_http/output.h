#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/stream.h"

namespace brixa::tool {

// Puts standard output into binary mode where the platform translates line ends.
void PrepareBinaryStdout();

// A write-only stream over a C stdio file (standard output). The position is the count of
// bytes written; seeking and resizing are accepted and change nothing, since bytes already
// written cannot be taken back (the client only rewinds to where the current URL began, and
// writes nothing before a redirect is followed).
class StdioStream : public TStream {
 public:
  explicit StdioStream(std::FILE* file) : file_(file) {}
  std::int64_t Read(void* /*buffer*/, std::int64_t /*count*/) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const auto written = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_);
    written_ += static_cast<std::int64_t>(written);
    return static_cast<std::int64_t>(written);
  }
  std::int64_t Seek(std::int64_t /*offset*/, TSeekOrigin /*origin*/) override { return written_; }
  void SetSize(std::int64_t /*size*/) override {}
  [[nodiscard]] std::int64_t Size() override { return written_; }

 private:
  std::FILE* file_;
  std::int64_t written_ = 0;
};

}  // namespace brixa::tool
