// Judging a response head against the file it is to continue, and writing its body there.

#include "update/delivery/range_sink.h"

#include <limits>
#include <utility>

#include "update/delivery/byte_range.h"

namespace brixa {

namespace {

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusPartialContent = 206;

bool IsSuccess(std::int32_t status) {
  return status >= 200 && status <= 299;
}

}  // namespace

TRangeSink::TRangeSink(TStream& file, std::int64_t size,
                       std::function<void(const std::string& validator)> onRestart,
                       std::function<void(std::int64_t held)> onWritten)
    : file_(file),
      bounded_(file, size >= 0 ? size : std::numeric_limits<std::int64_t>::max(),
               [size] {
                 throw EDeliveryTooLong("the installer is larger than the manifest's Size of " +
                                        std::to_string(size) + " bytes");
               }),
      offset_(file.Size()),
      size_(size),
      onRestart_(std::move(onRestart)),
      onWritten_(std::move(onWritten)) {}

void TRangeSink::Begin(const TFetchHead& head) {
  if (begun_) return;
  const std::int32_t status = head.Status;
  if (status == kStatusPartialContent && offset_ > 0 && size_ >= 0) {
    BeginRange(head);
  } else if (status == kStatusOk ||
             (size_ < 0 && IsSuccess(status) && status != kStatusPartialContent)) {
    BeginRestart(head);
  } else {
    throw EDeliveryRefused("unexpected status " + std::to_string(status));
  }
  begun_ = true;
}

void TRangeSink::BeginRange(const TFetchHead& head) {
  const auto range = ParseContentRange(head.ContentRange);
  if (!range || !ContinuesFile(*range, offset_, size_)) {
    throw EDeliveryRefused("206 with Content-Range \"" + head.ContentRange +
                           "\" does not continue " + std::to_string(offset_) + " of " +
                           std::to_string(size_) + " bytes");
  }
  const std::int64_t length = head.ContentLength;
  if (length >= 0 && length != size_ - offset_) {
    throw EDeliveryRefused("206 of " + std::to_string(length) + " bytes for " +
                           std::to_string(size_ - offset_) + " missing");
  }
  file_.SetPosition(offset_);
}

void TRangeSink::BeginRestart(const TFetchHead& head) {
  const std::int64_t length = head.ContentLength;
  if (size_ >= 0 && length >= 0 && length != size_) {
    throw EDeliveryRefused("the server announces " + std::to_string(length) + " bytes, " +
                           (length > size_ ? "larger" : "smaller") +
                           " than the manifest's Size of " + std::to_string(size_));
  }
  file_.SetSize(0);
  file_.SetPosition(0);
  onRestart_(RangeValidatorOf(head.ETag, head.LastModified));
}

void TRangeSink::Write(const void* data, std::int64_t count) {
  if (!begun_) throw EDeliveryRefused("a body arrived before its head was judged");
  bounded_.WriteBuffer(data, count);
  written_ += count;
  onWritten_(file_.Position());
}

}  // namespace brixa
