// The size limit in front of a stream.

#include "update/net/bounded_stream.h"

#include "platform/core/exception.h"

namespace brixa {

std::int64_t TBoundedStream::Read(void* buffer, std::int64_t count) {
  return target_.Read(buffer, count);
}

std::int64_t TBoundedStream::Write(const void* buffer, std::int64_t count) {
  if (count > limit_ - target_.Position()) Refuse();
  return target_.Write(buffer, count);
}

std::int64_t TBoundedStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return target_.Seek(offset, origin);
}

void TBoundedStream::SetSize(std::int64_t size) {
  if (size > limit_) Refuse();
  target_.SetSize(size);
}

void TBoundedStream::Refuse() const {
  refuse_();
  // A refusal that forgot to raise must not let the bytes through.
  throw EAssertionFailed("the bounded stream's refusal did not raise");
}

}  // namespace brixa
