#pragma once
// TSizeLimitedStream: a stream that takes no more than a set number of bytes.

#include <cstdint>

#include "platform/core/exception.h"
#include "platform/core/stream.h"

namespace brixa {

// More bytes arrived than the manifest announced.
BRIXA_DECLARE_EXCEPTION(EUpdateTooLarge, Exception);

// Passes everything to `target` (borrowed) but raises EUpdateTooLarge from the write that would
// take the target past `limit` bytes, before writing any of it: a download into it stops being
// read there (the endless-data attack), and the connection must then be closed.
class TSizeLimitedStream : public TStream {
 public:
  TSizeLimitedStream(TStream& target, std::int64_t limit) noexcept
      : target_(target), limit_(limit) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

 private:
  TStream& target_;
  std::int64_t limit_;
};

}  // namespace brixa
