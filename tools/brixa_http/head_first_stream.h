#pragma once
// HeadFirstStream: the response head of -i written just before the body it belongs to.

#include <string>

#include "platform/core/stream.h"

namespace brixa::tool {

// Passes a body through to the output, preceded by the response head when one is pending:
// the head of the response whose body arrives is written just before its first byte, so a
// redirect's or a challenge's head (whose body the client drops) never reaches the output
// between the heads of a -i run. Seeks and resizes go to the output.
class HeadFirstStream : public TStream {
 public:
  explicit HeadFirstStream(TStream& output) : output_(output) {}

  // The head of the response just read; replaces a head whose body never came.
  void WriteHead(std::string head) { pending_ = std::move(head); }
  // Writes a pending head now (a response without body bytes, or an error).
  void FlushHead() {
    if (pending_.empty()) return;
    output_.WriteBuffer(pending_.data(), static_cast<std::int64_t>(pending_.size()));
    pending_.clear();
  }

  std::int64_t Read(void* buffer, std::int64_t count) override {
    return output_.Read(buffer, count);
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    FlushHead();
    return output_.Write(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return output_.Seek(offset, origin);
  }
  void SetSize(std::int64_t size) override { output_.SetSize(size); }
  [[nodiscard]] std::int64_t Size() override { return output_.Size(); }

 private:
  TStream& output_;
  std::string pending_;
};

}  // namespace brixa::tool
