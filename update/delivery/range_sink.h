#pragma once
// The body of one download attempt: it writes a response's body into the installer file where
// the response's status and Content-Range say it belongs, or refuses it.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/stream.h"
#include "update/net/bounded_stream.h"
#include "update/net/fetcher.h"
#include "update/update_errors.h"

namespace brixa {

// Begin judges the response head once, before the first body byte:
//   - a 206, when the file held bytes at the start and the size is known, whose Content-Range
//     (and Content-Length, when sent) continue the file to its last byte: the body is appended;
//   - a 200 whose Content-Length, when sent, is the installer's size (any length while the size
//     is not known, and then any 2xx but 206): the file is emptied, `onRestart` runs with the
//     response's range validator, and the body replaces it;
//   - anything else: EDeliveryRefused, and the file is left as it was.
// A write that would carry the file past a known `size` raises EDeliveryTooLong before it is
// made.
class TRangeSink final : public TFetchBody {
 public:
  TRangeSink(TStream& file, std::int64_t size,
             std::function<void(const std::string& validator)> onRestart,
             std::function<void(std::int64_t held)> onWritten);

  void Begin(const TFetchHead& head) override;
  void Write(const void* data, std::int64_t count) override;

  [[nodiscard]] bool Begun() const noexcept { return begun_; }
  [[nodiscard]] std::int64_t Written() const noexcept { return written_; }

 private:
  void BeginRange(const TFetchHead& head);
  void BeginRestart(const TFetchHead& head);

  TStream& file_;
  TBoundedStream bounded_;
  const std::int64_t offset_;  // bytes the file held when the attempt began
  const std::int64_t size_;    // -1: not known
  std::function<void(const std::string&)> onRestart_;
  std::function<void(std::int64_t)> onWritten_;
  bool begun_ = false;
  std::int64_t written_ = 0;
};

}  // namespace brixa
