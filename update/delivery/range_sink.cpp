// Judging a response head against the file it is to continue, and writing its body there.

#include "update/delivery/range_sink.h"

#include <utility>

#include "http/message/http_response.h"
#include "update/delivery/byte_range.h"

namespace brixa {

namespace {

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusPartialContent = 206;

}  // namespace

TRangeSink::TRangeSink(TIdHTTPResponse& response, TStream& file, std::int64_t size,
                       std::function<void(const std::string& validator)> onRestart,
                       std::function<void(std::int64_t held)> onWritten)
    : response_(response),
      file_(file),
      offset_(file.Size()),
      size_(size),
      onRestart_(std::move(onRestart)),
      onWritten_(std::move(onWritten)) {}

void TRangeSink::Begin() {
  if (begun_) return;
  const std::int32_t status = response_.StatusCode();
  if (status == kStatusPartialContent && offset_ > 0) {
    BeginRange();
  } else if (status == kStatusOk) {
    BeginRestart();
  } else {
    throw EDeliveryRefused("unexpected status " + std::to_string(status));
  }
  begun_ = true;
}

void TRangeSink::BeginRange() {
  const std::string value = response_.HeaderLines().HeaderValue("Content-Range");
  const auto range = ParseContentRange(value);
  if (!range || !ContinuesFile(*range, offset_, size_)) {
    throw EDeliveryRefused("206 with Content-Range \"" + value + "\" does not continue " +
                           std::to_string(offset_) + " of " + std::to_string(size_) + " bytes");
  }
  const std::int64_t length = response_.ContentLength();
  if (length >= 0 && length != size_ - offset_) {
    throw EDeliveryRefused("206 of " + std::to_string(length) + " bytes for " +
                           std::to_string(size_ - offset_) + " missing");
  }
  file_.SetPosition(offset_);
}

void TRangeSink::BeginRestart() {
  const std::int64_t length = response_.ContentLength();
  if (length >= 0 && length != size_) {
    throw EDeliveryRefused("the server announces " + std::to_string(length) + " bytes, " +
                           (length > size_ ? "larger" : "smaller") +
                           " than the manifest's Size of " + std::to_string(size_));
  }
  file_.SetSize(0);
  file_.SetPosition(0);
  onRestart_(RangeValidatorOf(response_));
}

std::int64_t TRangeSink::Write(const void* buffer, std::int64_t count) {
  Begin();
  if (count > size_ - file_.Position()) {
    throw EDeliveryTooLong("the installer is larger than the manifest's Size of " +
                           std::to_string(size_) + " bytes");
  }
  file_.WriteBuffer(buffer, count);
  written_ += count;
  onWritten_(file_.Position());
  return count;
}

std::int64_t TRangeSink::Read(void* /*buffer*/, std::int64_t /*count*/) {
  return 0;
}

std::int64_t TRangeSink::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t target = origin == TSeekOrigin::soBeginning ? offset : written_ + offset;
  if (target != written_) {
    throw EDeliveryRefused("the client moved within a body it had written");
  }
  return written_;
}

void TRangeSink::SetSize(std::int64_t size) {
  if (size != written_) throw EDeliveryRefused("the client cut a body it had written");
}

}  // namespace brixa
