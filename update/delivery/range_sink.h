#pragma once
// The response stream of one download attempt: it writes a body into the installer file where
// the response's status and Content-Range say it belongs, or refuses it.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/exception.h"
#include "platform/core/stream.h"

namespace brixa {

class TIdHTTPResponse;

// The answer does not continue or replace the file as asked: nothing of its body was written.
BRIXA_DECLARE_EXCEPTION(EDeliveryRefused, Exception);
// The body ran past the installer's size: this server serves another file.
BRIXA_DECLARE_EXCEPTION(EDeliveryTooLong, Exception);

// The client sees a stream that starts empty. Before the first byte (or, for a response
// without a body, when the caller asks) Begin judges the response head once:
//   - a 206, when the file held bytes at the start, whose Content-Range (and Content-Length,
//     when sent) continue the file to its last byte: the body is appended;
//   - a 200 whose Content-Length, when sent, is the installer's size: the file is emptied,
//     `onRestart` runs with the response's range validator, and the body replaces it;
//   - anything else: EDeliveryRefused, and the file is left as it was.
// A write that would carry the file past `size` raises EDeliveryTooLong before it is made.
class TRangeSink final : public TStream {
 public:
  TRangeSink(TIdHTTPResponse& response, TStream& file, std::int64_t size,
             std::function<void(const std::string& validator)> onRestart,
             std::function<void(std::int64_t held)> onWritten);

  void Begin();
  [[nodiscard]] std::int64_t Written() const noexcept { return written_; }

  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  // The client only asks where it stands and, after a redirect, goes back to where it started,
  // before any byte was written; any other move raises EDeliveryRefused.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  [[nodiscard]] std::int64_t Size() override { return written_; }

 private:
  void BeginRange();
  void BeginRestart();

  TIdHTTPResponse& response_;
  TStream& file_;
  const std::int64_t offset_;  // bytes the file held when the attempt began
  const std::int64_t size_;
  std::function<void(const std::string&)> onRestart_;
  std::function<void(std::int64_t)> onWritten_;
  bool begun_ = false;
  std::int64_t written_ = 0;
};

}  // namespace brixa
