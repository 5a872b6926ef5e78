#pragma once
// TBoundedStream: a stream that takes no more than a set number of bytes.

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/core/stream.h"

namespace brixa {

// Passes everything to `target` (borrowed) but calls `refuse` from the write or resize that
// would take the target past `limit` bytes, before any of it is written. `refuse` must raise;
// what it raises is the caller's to choose (a version file that is too large, an installer
// longer than its manifest says). A transfer into it stops being read there, so a hostile
// server cannot fill memory or disk, and the connection must then be closed.
class TBoundedStream final : public TStream {
 public:
  TBoundedStream(TStream& target, std::int64_t limit, std::function<void()> refuse)
      : target_(target), limit_(limit), refuse_(std::move(refuse)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

  [[nodiscard]] std::int64_t Limit() const noexcept { return limit_; }

 private:
  [[noreturn]] void Refuse() const;

  TStream& target_;
  std::int64_t limit_;
  std::function<void()> refuse_;
};

}  // namespace brixa
