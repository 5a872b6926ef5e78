#include "http/response_header_info.h"

namespace brixa {

TIdResponseHeaderInfo::TIdResponseHeaderInfo()
    : proxyAuthenticate_(std::make_unique<TIdHeaderList>()),
      wwwAuthenticate_(std::make_unique<TIdHeaderList>()) {
  ResetResponseFields();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::ResetResponseFields() {
  SetContentType(DefaultContentType);
  location_.clear();
  server_.clear();
  acceptRanges_.clear();
  proxyAuthenticate_->Clear();
  wwwAuthenticate_->Clear();
}

void TIdResponseHeaderInfo::ResetFields() {
  ResetEntityFields();
  ResetResponseFields();
}

void TIdResponseHeaderInfo::ReadFields() {
  TIdEntityHeaderInfo::ReadFields();
  const TIdHeaderList& lines = HeaderLines();
  location_ = lines.HeaderValue("Location");
  server_ = lines.HeaderValue("Server");
  proxyConnection_ = lines.HeaderValue("Proxy-Connection");
  wwwAuthenticate_->Clear();
  lines.CollectValues("WWW-Authenticate", wwwAuthenticate_.get());
  proxyAuthenticate_->Clear();
  lines.CollectValues("Proxy-Authenticate", proxyAuthenticate_.get());
  acceptRanges_ = lines.HeaderValue("Accept-Ranges");
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
  if (!acceptRanges_.empty()) lines.SetHeaderValue("Accept-Ranges", acceptRanges_);
}

}  // namespace brixa
