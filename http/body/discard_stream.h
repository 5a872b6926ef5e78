#pragma once
// TIdDiscardStream: a stream that takes and forgets every byte written to it.

#include <cstdint>

#include "platform/core/stream.h"

namespace brixa {

// A stream that swallows everything written to it. Bodies that must be read off the connection
// but are not wanted (HEAD answers, redirects, challenges answered inside the request) go
// here, so the connection reaches the next response without the body being held anywhere.
// Writes report the full count; reads give nothing; every seek lands on 0; SetSize does nothing.
class TIdDiscardStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  [[nodiscard]] std::int64_t Size() override { return 0; }
};

}  // namespace brixa
