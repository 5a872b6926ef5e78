// The discard stream's operations, which keep nothing.

#include "http/body/discard_stream.h"

namespace brixa {

std::int64_t TIdDiscardStream::Read(void* /*buffer*/, std::int64_t /*count*/) {
  return 0;
}

std::int64_t TIdDiscardStream::Write(const void* /*buffer*/, std::int64_t count) {
  return count < 0 ? 0 : count;
}

std::int64_t TIdDiscardStream::Seek(std::int64_t /*offset*/, TSeekOrigin /*origin*/) {
  return 0;
}

void TIdDiscardStream::SetSize(std::int64_t /*size*/) {}

}  // namespace brixa
