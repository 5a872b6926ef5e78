// The entity field table, and the fields it cannot carry alone: "Content-Range" and "Expires".

#include "http/message/entity_header_info.h"

#include <limits>

#include "http/client/http_exceptions.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

// An optional sign followed by digits, whatever its size.
[[nodiscard]] bool IsWholeNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char ch : text) {
    if (!IsDigit(ch)) return false;
  }
  return true;
}

}  // namespace

std::span<const THeaderField<TIdEntityHeaderInfo>> TIdEntityHeaderInfo::Fields() noexcept {
  using E = TIdEntityHeaderInfo;
  constexpr std::uint8_t kValue = hfRead | hfWrite | hfCopy | hfReset;
  constexpr std::uint8_t kText = kValue | hfOneLine;
  // In the order the lines are written. "Last-Modified" is only read: requests send it as
  // "If-Modified-Since". The range fields come from "Content-Range" and "Expires" may count
  // seconds: ReadFields reads both itself.
  static constexpr THeaderField<E> fields[] = {
      {{}, &E::headerLines_, hfCopy | hfReset},
      {"Connection", &E::connection_, hfRead | hfWrite | hfReset | hfOneLine},
      {"Content-Version", &E::contentVersion_, kText},
      {"Content-Disposition", &E::contentDisposition_, kText},
      {"Content-Encoding", &E::contentEncoding_, kText},
      {"Content-Language", &E::contentLanguage_, kText},
      {"Content-Type", &E::contentType_, kText},
      {"Content-Length", &E::contentLength_, kValue, {}, UnknownLength},
      {"Cache-control", &E::cacheControl_, kText},
      {"Date", &E::date_, kValue},
      {"ETag", &E::eTag_, kText},
      {"Expires", &E::expires_, hfWrite | hfCopy | hfReset},
      {"Pragma", &E::pragma_, hfRead | hfWrite | hfOneLine},
      {"Last-Modified", &E::lastModified_, hfRead | hfCopy | hfReset},
      {{}, &E::contentRangeStart_, hfCopy | hfReset},
      {{}, &E::contentRangeEnd_, hfCopy | hfReset},
      {{}, &E::contentRangeInstanceLength_, hfCopy | hfReset},
  };
  return fields;
}

TIdEntityHeaderInfo::TIdEntityHeaderInfo()
    : headerLines_(std::make_unique<TIdHeaderList>(HeaderLinesBreakColumn)),
      customHeaders_(std::make_unique<TIdHeaderList>(CustomHeadersBreakColumn)) {
  ResetEntityFields();
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::SetContentLength(std::int64_t value) noexcept {
  contentLength_ = value;
  lengthKnown_ = value >= 0;
}

void TIdEntityHeaderInfo::ResetFields() {
  ResetEntityFields();
}

void TIdEntityHeaderInfo::ResetEntityFields() {
  ResetFieldsOf(Fields(), *this);
}

void TIdEntityHeaderInfo::WriteFields() {
  headerLines_->Clear();
  WriteFieldsOf(Fields(), *this, *headerLines_);
  // Custom lines go out as they stand; a request field written later replaces a namesake.
  headerLines_->AddLines(*customHeaders_);
}

void TIdEntityHeaderInfo::ReadFields() {
  ReadFieldsOf(Fields(), *this, *headerLines_);
  lengthKnown_ = contentLength_ >= 0;
  ReadContentRange();
  ReadExpires();
}

void TIdEntityHeaderInfo::CheckOneLineFields(void (*check)(std::string_view text)) const {
  CheckOneLineFieldsOf(Fields(), *this, check);
}

// "bytes 0-499/1234", "bytes */1234", "bytes 0-499/*": the unit, the range, the instance
// length. A part that does not read as a number gives 0.
void TIdEntityHeaderInfo::ReadContentRange() {
  contentRangeStart_ = 0;
  contentRangeEnd_ = 0;
  contentRangeInstanceLength_ = 0;
  std::string rest = headerLines_->HeaderValue("Content-Range");
  const std::size_t unitEnd = rest.find(' ');
  if (unitEnd == std::string::npos) return;
  rest.erase(0, unitEnd + 1);
  std::string range = TakeUpTo(rest, "/");
  const std::string instanceLength = TakeUpTo(rest, " ");
  const std::string start = TakeUpTo(range, "-");
  contentRangeStart_ = StrToInt64DefTrim(start, 0);
  contentRangeEnd_ = StrToInt64DefTrim(range, 0);
  contentRangeInstanceLength_ = StrToInt64DefTrim(instanceLength, 0);
}

// "Expires" is a date, or (from some servers) a number of seconds from now. A number of 0 or
// less, or one beyond 32 bits, means no usable date.
void TIdEntityHeaderInfo::ReadExpires() {
  const std::string value = headerLines_->HeaderValue("Expires");
  if (!IsWholeNumber(value)) {
    expires_ = InternetDateToLocalTime(value);
    return;
  }
  std::int64_t seconds = 0;
  if (!TryStrToInt64Trim(value, seconds) || seconds <= 0 ||
      seconds > std::numeric_limits<std::int32_t>::max()) {
    expires_ = 0;
    return;
  }
  expires_ = LocalNowBy(clock_) + static_cast<double>(seconds) / kSecondsPerDay;
}

void TIdEntityHeaderInfo::CopyEntityFields(TIdEntityHeaderInfo& destination) const {
  CopyFieldsOf(Fields(), *this, destination);
}

void TIdEntityHeaderInfo::CopyFields(TIdHeaderRecord& destination) const {
  auto* entity = dynamic_cast<TIdEntityHeaderInfo*>(&destination);
  if (entity == nullptr) throw EConvertError(AssignErrorText(ClassName(), destination.ClassName()));
  CopyEntityFields(*entity);
}

}  // namespace brixa
