#include "http/request_header_info.h"

#include "http/auth_basic.h"
#include "http/auth_digest.h"

namespace brixa {

namespace {
constexpr const char* RangeUnitPrefix = "bytes=";

// An empty field is not sent, and it leaves a custom line of the same name alone (writing an
// empty value would remove that line).
void SetIfNotEmpty(TIdHeaderList& lines, std::string_view name, const std::string& value) {
  if (!value.empty()) lines.SetHeaderValue(name, value);
}
}  // namespace

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  // A request's lines go on the wire, where folded continuation lines are forbidden and servers
  // answer them with 400: long values stay on one line. (A received header may still be folded;
  // reading joins it.)
  HeaderLines().SetBreakLongLines(false);
  CustomHeaders().SetBreakLongLines(false);
  ResetRequestFields();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::ResetRequestFields() {
  accept_ = DefaultAccept;
  acceptCharSet_.clear();
  userAgent_ = DefaultUserAgent;
  basicAuthentication_ = false;
  range_.clear();
}

void TIdRequestHeaderInfo::ResetFields() {
  ResetRequestFields();
  ResetEntityFields();
}

void TIdRequestHeaderInfo::ReadFields() {
  TIdEntityHeaderInfo::ReadFields();
  const TIdHeaderList& lines = HeaderLines();
  accept_ = lines.HeaderValue("Accept");
  acceptCharSet_ = lines.HeaderValue("Accept-Charset");
  acceptEncoding_ = lines.HeaderValue("Accept-Encoding");
  acceptLanguage_ = lines.HeaderValue("Accept-Language");
  host_ = lines.HeaderValue("Host");
  from_ = lines.HeaderValue("From");
  referer_ = lines.HeaderValue("Referer");
  userAgent_ = lines.HeaderValue("User-Agent");
  const std::string range = lines.HeaderValue("Range");
  const std::size_t equals = range.find('=');
  range_ = equals == std::string::npos ? std::string() : range.substr(equals + 1);
}

void TIdRequestHeaderInfo::WriteFields() {
  TIdEntityHeaderInfo::WriteFields();
  TIdHeaderList& lines = HeaderLines();
  SetIfNotEmpty(lines, "Proxy-Connection", proxyConnection_);
  SetIfNotEmpty(lines, "Host", host_);
  SetIfNotEmpty(lines, "Accept", accept_);
  SetIfNotEmpty(lines, "Accept-Charset", acceptCharSet_);
  SetIfNotEmpty(lines, "Accept-Encoding", acceptEncoding_);
  SetIfNotEmpty(lines, "Accept-Language", acceptLanguage_);
  SetIfNotEmpty(lines, "From", from_);
  SetIfNotEmpty(lines, "Referer", referer_);
  SetIfNotEmpty(lines, "User-Agent", userAgent_);
  if (!range_.empty()) lines.SetHeaderValue("Range", RangeUnitPrefix + range_);
  if (LastModified() > 0) {
    lines.SetHeaderValue("If-Modified-Since", FormatLocalAsHttpDate(LastModified()));
  }
  WriteAuthorization();
}

void TIdRequestHeaderInfo::WriteAuthorization() {
  if (!authScheme_ && basicAuthentication_) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->StoreUsername(username_);
    basic->StorePassword(password_);
    authScheme_ = std::move(basic);
  }
  if (!authScheme_) return;
  // Digest signs the request line, so it must see the one this head goes out with.
  if (auto* digest = dynamic_cast<TIdDigestAuthentication*>(authScheme_.get())) {
    digest->SetMethod(RequestLineMethod());
    digest->SetUri(RequestLineTarget());
  }
  const std::string value = authScheme_->BuildAuthorization();
  if (!value.empty()) HeaderLines().SetHeaderValue("Authorization", value);
}

void TIdRequestHeaderInfo::CopyFields(TIdHeaderRecord& destination) const {
  auto* request = dynamic_cast<TIdRequestHeaderInfo*>(&destination);
  if (request == nullptr) {
    TIdEntityHeaderInfo::CopyFields(destination);
    return;
  }
  request->accept_ = accept_;
  request->acceptCharSet_ = acceptCharSet_;
  request->acceptEncoding_ = acceptEncoding_;
  request->acceptLanguage_ = acceptLanguage_;
  request->from_ = from_;
  request->username_ = username_;
  request->password_ = password_;
  request->referer_ = referer_;
  request->userAgent_ = userAgent_;
  request->basicAuthentication_ = basicAuthentication_;
  request->range_ = range_;
}

}  // namespace brixa
