// How each kind of header record field is read, written, reset and copied.

#include "http/message/header_field.h"

#include <limits>

#include "runtime/text/text.h"

namespace brixa {

void ReadField(std::string& value, const TIdHeaderList& lines, std::string_view name) {
  value = lines.HeaderValue(name);
}

void ReadField(TDateTime& value, const TIdHeaderList& lines, std::string_view name) {
  value = InternetDateToLocalTime(lines.HeaderValue(name));
}

void ReadField(std::int64_t& value, const TIdHeaderList& lines, std::string_view name) {
  value = ParseContentLength(lines.HeaderValue(name));
}

void ReadField(std::unique_ptr<TIdHeaderList>& value, const TIdHeaderList& lines,
               std::string_view name) {
  value->Clear();
  lines.CollectValues(name, value.get());
}

void WriteField(const std::string& value, TIdHeaderList& lines, std::string_view name) {
  // An empty value would remove a line of the same name that the caller added.
  if (!value.empty()) lines.SetHeaderValue(name, value);
}

void WriteField(TDateTime value, TIdHeaderList& lines, std::string_view name) {
  if (value > 0) lines.SetHeaderValue(name, FormatLocalAsHttpDate(value));
}

void WriteField(std::int64_t value, TIdHeaderList& lines, std::string_view name) {
  if (value >= 0) lines.SetHeaderValue(name, std::to_string(value));
}

void ResetField(std::string& value, std::string_view text, std::int64_t /*number*/) {
  value = text;
}

void ResetField(TDateTime& value, std::string_view /*text*/, std::int64_t /*number*/) {
  value = 0;
}

void ResetField(std::int64_t& value, std::string_view /*text*/, std::int64_t number) {
  value = number;
}

void ResetField(bool& value, std::string_view /*text*/, std::int64_t number) {
  value = number != 0;
}

void ResetField(std::unique_ptr<TIdHeaderList>& value, std::string_view /*text*/,
                std::int64_t /*number*/) {
  value->Clear();
}

void CopyField(const std::unique_ptr<TIdHeaderList>& source,
               std::unique_ptr<TIdHeaderList>& destination) {
  destination->AssignLines(*source);
}

std::int64_t ParseContentLength(std::string_view text) {
  const std::string value = Trim(text);
  if (value.empty()) return -1;
  std::int64_t length = 0;
  for (const char ch : value) {
    if (!IsDigit(ch)) return -1;
    const int digit = ch - '0';
    if (length > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return -1;
    length = length * 10 + digit;
  }
  return length;
}

std::string FormatLocalAsHttpDate(TDateTime local) {
  return FormatHttpDate(local - LocalOffsetFromUTC());
}

}  // namespace brixa
