#include "http/uri.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "http/http_exceptions.h"
#include "runtime/text.h"

namespace brixa {

namespace {

constexpr std::string_view SchemeSeparator = "://";

struct DefaultPort {
  std::string_view protocol;
  std::int32_t port;
};
constexpr std::array<DefaultPort, 3> DefaultPorts{
    {{"HTTP", kHttpDefaultPort}, {"HTTPS", kHttpsDefaultPort}, {"FTP", kFtpDefaultPort}}};

// The text before the first `delimiter`; `text` keeps what follows it (or becomes empty when
// there is none).
[[nodiscard]] std::string CutAt(std::string& text, char delimiter) {
  const std::size_t found = text.find(delimiter);
  if (found == std::string::npos) return std::exchange(text, {});
  std::string head = text.substr(0, found);
  text.erase(0, found + 1);
  return head;
}

// Splits the query off `work`: after the first "?", or without one after the first "=".
[[nodiscard]] std::string SplitQuery(std::string& work) {
  std::size_t found = work.find('?');
  if (found == std::string::npos) found = work.find('=');
  if (found == std::string::npos) return {};
  std::string query = work.substr(found + 1);
  work.erase(found);
  return query;
}

// Moves the text up to and including the last "/" out of `work`; empty when there is none.
[[nodiscard]] std::string SplitDirectory(std::string& work) {
  const std::size_t last = work.rfind('/');
  if (last == std::string::npos) return {};
  std::string directory = work.substr(0, last + 1);
  work.erase(0, last + 1);
  return directory;
}

[[nodiscard]] bool IsDefaultPort(const std::string& protocol, const std::string& port) {
  return std::any_of(DefaultPorts.begin(), DefaultPorts.end(), [&](const DefaultPort& entry) {
    return SameTextNoCase(protocol, entry.protocol) && port == std::to_string(entry.port);
  });
}

}  // namespace

std::string HostForAuthority(const std::string& host) {
  if (host.find(':') == std::string::npos) return host;
  return "[" + host + "]";
}

TIdURI::TIdURI(const std::string& uri) {
  if (!uri.empty()) SetURI(uri);
}

void TIdURI::NormalizeSlashes(std::string& text) {
  std::replace(text.begin(), text.end(), '\\', '/');
}

void TIdURI::SetURI(const std::string& uri) {
  uri_ = uri;
  NormalizeSlashes(uri_);
  std::string work = uri_;
  resource_.clear();
  protocol_.clear();
  portText_.clear();
  directory_.clear();
  host_.clear();
  fragment_.clear();
  user_.clear();
  password_.clear();
  query_.clear();
  ipVersion_ = Id_IPv4;

  const std::size_t scheme = work.find(SchemeSeparator);
  if (scheme != std::string::npos) {
    protocol_ = work.substr(0, scheme);
    work.erase(0, scheme + SchemeSeparator.size());
    query_ = SplitQuery(work);
    ParseAuthority(CutAt(work, '/'));
    directory_ = "/" + SplitDirectory(work);
  } else {
    query_ = SplitQuery(work);
    directory_ = SplitDirectory(work);
  }
  resource_ = CutAt(work, '#');
  fragment_ = work;
}

void TIdURI::ParseAuthority(std::string authority) {
  const std::size_t at = authority.find('@');
  if (at != std::string::npos) {
    std::string userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    user_ = CutAt(userInfo, ':');
    password_ = user_.empty() ? std::string() : userInfo;
  }
  const std::size_t open = authority.find('[');
  const std::size_t close = authority.find(']');
  if (open != std::string::npos && close != std::string::npos && open < close) {
    host_ = authority.substr(open + 1, close - open - 1);
    std::string rest = authority.substr(close + 1);
    const std::size_t colon = rest.find(':');
    portText_ = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    ipVersion_ = Id_IPv6;
    return;
  }
  host_ = CutAt(authority, ':');
  portText_ = authority;
}

std::string TIdURI::ComposeURI(TIdURIOptionalFields fields) const {
  RaiseIf<EIdURIException>(protocol_.empty(), RSURIProtocolFieldIsEmpty);
  RaiseIf<EIdURIException>(host_.empty(), RSURIHostFieldIsEmpty);
  std::string result = protocol_;
  result += SchemeSeparator;
  if ((fields & ofAuthInfo) != 0 && !user_.empty()) {
    result += user_;
    if (!password_.empty()) result += ":" + password_;
    result += "@";
  }
  result += HostForAuthority(host_);
  if (!portText_.empty() && !IsDefaultPort(protocol_, portText_)) result += ":" + portText_;
  result += PathAndQuery();
  if ((fields & ofBookmark) != 0 && !fragment_.empty()) result += "#" + fragment_;
  return result;
}

std::string TIdURI::PathAndQuery() const {
  std::string result = directory_ + resource_;
  if (!query_.empty()) result += "?" + query_;
  return result;
}

}  // namespace brixa
