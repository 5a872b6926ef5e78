#include "http/entity_header_info.h"

#include <limits>

#include "http/http_exceptions.h"
#include "runtime/text.h"

namespace brixa {

namespace {

// A length above this reads as unknown.
constexpr std::int64_t MaxContentLength = std::numeric_limits<std::int64_t>::max();

[[nodiscard]] bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char ch : text) {
    if (!IsDigit(ch)) return false;
  }
  return true;
}

// "Content-Length" is a run of decimal digits and nothing else: a sign, a hexadecimal form or
// trailing text would make this end read a different body length than other parties do.
[[nodiscard]] std::int64_t ParseContentLength(const std::string& text) {
  const std::string value = Trim(text);
  if (!AllDigits(value)) return TIdEntityHeaderInfo::UnknownLength;
  std::int64_t length = 0;
  for (const char ch : value) {
    const int digit = ch - '0';
    if (length > (MaxContentLength - digit) / 10) return TIdEntityHeaderInfo::UnknownLength;
    length = length * 10 + digit;
  }
  return length;
}

// An optional sign followed by digits, whatever its size.
[[nodiscard]] bool IsWholeNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return AllDigits(text);
}

}  // namespace

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
  cacheControl_.clear();
  connection_.clear();
  contentVersion_.clear();
  contentDisposition_.clear();
  contentEncoding_.clear();
  contentLanguage_.clear();
  contentType_.clear();
  eTag_.clear();
  contentLength_ = UnknownLength;
  contentRangeStart_ = 0;
  contentRangeEnd_ = 0;
  contentRangeInstanceLength_ = 0;
  date_ = 0;
  lastModified_ = 0;
  expires_ = 0;
  headerLines_->Clear();
}

std::string TIdEntityHeaderInfo::FormatLocalAsHttpDate(TDateTime local) {
  return FormatHttpDate(local - LocalOffsetFromUTC());
}

void TIdEntityHeaderInfo::WriteFields() {
  TIdHeaderList& lines = *headerLines_;
  lines.Clear();
  lines.SetHeaderValue("Connection", connection_);
  lines.SetHeaderValue("Content-Version", contentVersion_);
  lines.SetHeaderValue("Content-Disposition", contentDisposition_);
  lines.SetHeaderValue("Content-Encoding", contentEncoding_);
  lines.SetHeaderValue("Content-Language", contentLanguage_);
  lines.SetHeaderValue("Content-Type", contentType_);
  if (contentLength_ >= 0) lines.SetHeaderValue("Content-Length", std::to_string(contentLength_));
  lines.SetHeaderValue("Cache-control", cacheControl_);
  if (date_ > 0) lines.SetHeaderValue("Date", FormatLocalAsHttpDate(date_));
  lines.SetHeaderValue("ETag", eTag_);
  if (expires_ > 0) lines.SetHeaderValue("Expires", FormatLocalAsHttpDate(expires_));
  lines.SetHeaderValue("Pragma", pragma_);
  // Custom lines go out as they stand; a request field written later replaces a namesake.
  lines.AddLines(*customHeaders_);
}

void TIdEntityHeaderInfo::ReadFields() {
  const TIdHeaderList& lines = *headerLines_;
  cacheControl_ = lines.HeaderValue("Cache-control");
  connection_ = lines.HeaderValue("Connection");
  contentVersion_ = lines.HeaderValue("Content-Version");
  contentDisposition_ = lines.HeaderValue("Content-Disposition");
  contentEncoding_ = lines.HeaderValue("Content-Encoding");
  contentLanguage_ = lines.HeaderValue("Content-Language");
  contentType_ = lines.HeaderValue("Content-Type");
  ReadContentLength();
  ReadContentRange();
  date_ = InternetDateToLocalTime(lines.HeaderValue("Date"));
  lastModified_ = InternetDateToLocalTime(lines.HeaderValue("Last-Modified"));
  ReadExpires();
  eTag_ = lines.HeaderValue("ETag");
  pragma_ = lines.HeaderValue("Pragma");
}

void TIdEntityHeaderInfo::ReadContentLength() {
  SetContentLength(ParseContentLength(headerLines_->HeaderValue("Content-Length")));
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
  destination.headerLines_->AssignLines(*headerLines_);
  destination.cacheControl_ = cacheControl_;
  destination.contentDisposition_ = contentDisposition_;
  destination.contentEncoding_ = contentEncoding_;
  destination.contentLanguage_ = contentLanguage_;
  destination.contentType_ = contentType_;
  destination.contentVersion_ = contentVersion_;
  destination.contentLength_ = contentLength_;
  destination.contentRangeStart_ = contentRangeStart_;
  destination.contentRangeEnd_ = contentRangeEnd_;
  destination.contentRangeInstanceLength_ = contentRangeInstanceLength_;
  destination.date_ = date_;
  destination.eTag_ = eTag_;
  destination.expires_ = expires_;
  destination.lastModified_ = lastModified_;
}

void TIdEntityHeaderInfo::CopyFields(TIdHeaderRecord& destination) const {
  auto* entity = dynamic_cast<TIdEntityHeaderInfo*>(&destination);
  if (entity == nullptr) throw EConvertError(AssignErrorText(ClassName(), destination.ClassName()));
  CopyEntityFields(*entity);
}

}  // namespace brixa
