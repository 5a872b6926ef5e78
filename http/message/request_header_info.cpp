// The request field table, the "Range" unit, "If-Modified-Since" and the "Authorization" line.

#include "http/message/request_header_info.h"

#include "http/auth/auth_basic.h"

namespace brixa {

namespace {
constexpr const char* RangeUnitPrefix = "bytes=";
}  // namespace

std::span<const THeaderField<TIdRequestHeaderInfo>> TIdRequestHeaderInfo::Fields() noexcept {
  using R = TIdRequestHeaderInfo;
  constexpr std::uint8_t kText = hfRead | hfWrite | hfCopy | hfOneLine;
  // In the order the lines are written, after the entity's. "Range" carries its unit on the
  // wire: ReadFields and WriteFields handle it themselves, and write "If-Range" after it.
  static constexpr THeaderField<R> fields[] = {
      {"Proxy-Connection", &R::proxyConnection_, hfWrite | hfOneLine},
      {"Host", &R::host_, hfRead | hfWrite | hfOneLine},
      {"Accept", &R::accept_, kText | hfReset, DefaultAccept},
      {"Accept-Charset", &R::acceptCharSet_, kText | hfReset},
      {"Accept-Encoding", &R::acceptEncoding_, kText},
      {"Accept-Language", &R::acceptLanguage_, kText},
      {"From", &R::from_, kText},
      {"Referer", &R::referer_, kText},
      {"User-Agent", &R::userAgent_, kText | hfReset, DefaultUserAgent},
      {"Range", &R::range_, hfCopy | hfReset | hfOneLine},
      {"If-Range", &R::ifRange_, hfRead | hfCopy | hfReset | hfOneLine},
      {{}, &R::username_, hfCopy | hfOneLine},
      {{}, &R::password_, hfCopy},
      {{}, &R::basicAuthentication_, hfCopy | hfReset},
  };
  return fields;
}

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
  ResetFieldsOf(Fields(), *this);
}

void TIdRequestHeaderInfo::ResetFields() {
  ResetRequestFields();
  ResetEntityFields();
}

void TIdRequestHeaderInfo::ReadFields() {
  TIdEntityHeaderInfo::ReadFields();
  ReadFieldsOf(Fields(), *this, HeaderLines());
  const std::string range = HeaderLines().HeaderValue("Range");
  const std::size_t equals = range.find('=');
  range_ = equals == std::string::npos ? std::string() : range.substr(equals + 1);
}

void TIdRequestHeaderInfo::WriteFields() {
  TIdEntityHeaderInfo::WriteFields();
  TIdHeaderList& lines = HeaderLines();
  WriteFieldsOf(Fields(), *this, lines);
  if (!range_.empty()) lines.SetHeaderValue("Range", RangeUnitPrefix + range_);
  if (!ifRange_.empty()) lines.SetHeaderValue("If-Range", ifRange_);
  if (LastModified() > 0) {
    lines.SetHeaderValue("If-Modified-Since", FormatLocalAsHttpDate(LastModified()));
  }
  WriteAuthorization();
}

void TIdRequestHeaderInfo::CheckOneLineFields(void (*check)(std::string_view text)) const {
  TIdEntityHeaderInfo::CheckOneLineFields(check);
  CheckOneLineFieldsOf(Fields(), *this, check);
}

void TIdRequestHeaderInfo::WriteAuthorization() {
  if (!authScheme_ && basicAuthentication_) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->StoreUsername(username_);
    basic->StorePassword(password_);
    authScheme_ = std::move(basic);
  }
  if (!authScheme_) return;
  authScheme_->SetRequest(AuthRequest());
  const std::string value = authScheme_->BuildAuthorization();
  if (!value.empty()) HeaderLines().SetHeaderValue("Authorization", value);
}

TIdAuthRequest TIdRequestHeaderInfo::AuthRequest() const {
  return {.Method = RequestLineMethod(), .Target = RequestLineTarget(), .Host = host_};
}

void TIdRequestHeaderInfo::CopyFields(TIdHeaderRecord& destination) const {
  auto* request = dynamic_cast<TIdRequestHeaderInfo*>(&destination);
  if (request == nullptr) {
    TIdEntityHeaderInfo::CopyFields(destination);
    return;
  }
  CopyFieldsOf(Fields(), *this, *request);
}

}  // namespace brixa
