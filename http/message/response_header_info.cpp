// The response field table and the "Content-Range" line a response writes.

#include "http/message/response_header_info.h"

namespace brixa {

std::span<const THeaderField<TIdResponseHeaderInfo>> TIdResponseHeaderInfo::Fields() noexcept {
  using S = TIdResponseHeaderInfo;
  // "Accept-Ranges" is written after the entity's lines and "Content-Range", which WriteFields
  // builds from the range fields.
  static constexpr THeaderField<S> fields[] = {
      {"Location", &S::location_, hfRead | hfReset},
      {"Server", &S::server_, hfRead | hfReset},
      {"Proxy-Connection", &S::proxyConnection_, hfRead},
      {"WWW-Authenticate", &S::wwwAuthenticate_, hfRead | hfReset},
      {"Proxy-Authenticate", &S::proxyAuthenticate_, hfRead | hfReset},
      {"Accept-Ranges", &S::acceptRanges_, hfRead | hfWrite | hfReset},
      {"Retry-After", &S::retryAfter_, hfRead | hfReset},
  };
  return fields;
}

TIdResponseHeaderInfo::TIdResponseHeaderInfo()
    : proxyAuthenticate_(std::make_unique<TIdHeaderList>()),
      wwwAuthenticate_(std::make_unique<TIdHeaderList>()) {
  ResetResponseFields();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::ResetResponseFields() {
  SetContentType(DefaultContentType);
  ResetFieldsOf(Fields(), *this);
}

void TIdResponseHeaderInfo::ResetFields() {
  ResetEntityFields();
  ResetResponseFields();
}

void TIdResponseHeaderInfo::ReadFields() {
  TIdEntityHeaderInfo::ReadFields();
  ReadFieldsOf(Fields(), *this, HeaderLines());
}

void TIdResponseHeaderInfo::WriteFields() {
  TIdEntityHeaderInfo::WriteFields();
  TIdHeaderList& lines = HeaderLines();
  if (RangeKnown() || InstanceLengthKnown()) {
    std::string range = "bytes ";
    range += RangeKnown()
                 ? std::to_string(ContentRangeStart()) + "-" + std::to_string(ContentRangeEnd())
                 : std::string("*");
    range += "/";
    range += InstanceLengthKnown() ? std::to_string(ContentRangeInstanceLength()) : "*";
    lines.SetHeaderValue("Content-Range", range);
  }
  WriteFieldsOf(Fields(), *this, lines);
}

}  // namespace brixa
