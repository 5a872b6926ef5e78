// The size limit in front of a download's file.

#include "update/delivery/size_limited_stream.h"

#include <string>

namespace brixa {

std::int64_t TSizeLimitedStream::Read(void* buffer, std::int64_t count) {
  return target_.Read(buffer, count);
}

std::int64_t TSizeLimitedStream::Write(const void* buffer, std::int64_t count) {
  if (count > limit_ - target_.Position()) {
    throw EUpdateTooLarge("the download is larger than the " + std::to_string(limit_) +
                          " bytes announced");
  }
  return target_.Write(buffer, count);
}

std::int64_t TSizeLimitedStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return target_.Seek(offset, origin);
}

void TSizeLimitedStream::SetSize(std::int64_t size) {
  if (size > limit_) {
    throw EUpdateTooLarge("the download is larger than the " + std::to_string(limit_) +
                          " bytes announced");
  }
  target_.SetSize(size);
}

}  // namespace brixa
