// The textual URL parser and composer, and the encoding of bytes that may not stand raw in a
// request target.

#include "http/message/uri.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "http/client/http_exceptions.h"
#include "runtime/text/text.h"

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

// Splits the query off `work`: the text after the first "?". Only "?" starts a query; an "="
// is an ordinary character of a path segment ("/dl/file=1.txt" names a file).
[[nodiscard]] std::string SplitQuery(std::string& work) {
  const std::size_t found = work.find('?');
  if (found == std::string::npos) return {};
  std::string query = work.substr(found + 1);
  work.erase(found);
  return query;
}

// Splits the fragment off `work`: the text after the first "#" wherever it stands (RFC 3986,
// 3.5). A fragment is the client's own business and never goes to a server.
[[nodiscard]] std::string SplitFragment(std::string& work) {
  const std::size_t found = work.find('#');
  if (found == std::string::npos) return {};
  std::string fragment = work.substr(found + 1);
  work.erase(found);
  return fragment;
}

[[nodiscard]] bool IsAsciiLetter(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

// The length of the scheme `text` starts with (letter *(letter / digit / "+" / "-" / ".")
// followed by ":"), or 0 when it starts with none. "host:8080/x" has no scheme: a name
// followed by a port number is what people type for a host, and RFC 3986 schemes never
// continue with a digit.
[[nodiscard]] std::size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text.front())) return 0;
  std::size_t i = 1;
  while (i < text.size() && (IsAsciiLetter(text[i]) || (text[i] >= '0' && text[i] <= '9') ||
                             text[i] == '+' || text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  if (i == text.size() || text[i] != ':') return 0;
  const bool portFollows = i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9';
  return portFollows ? 0 : i;
}

// Bytes that may never stand raw in a request target: blanks, controls and anything beyond
// ASCII. They are sent percent-encoded; every other byte ("%" included, so that what is
// already encoded stays as it is) goes as written.
[[nodiscard]] bool NeedsPercentEncoding(unsigned char ch) {
  return ch <= 0x20 || ch >= 0x7F;
}

[[nodiscard]] std::string PercentEncodeTarget(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (!NeedsPercentEncoding(byte)) {
      out.push_back(ch);
      continue;
    }
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
  }
  return out;
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

  fragment_ = SplitFragment(work);
  query_ = SplitQuery(work);
  const std::size_t scheme = work.find(SchemeSeparator);
  const std::size_t schemeLength = SchemeLength(work);
  if (scheme != std::string::npos && scheme == schemeLength) {
    protocol_ = work.substr(0, scheme);
    work.erase(0, scheme + SchemeSeparator.size());
    ParseAuthority(CutAt(work, '/'));
    directory_ = "/" + SplitDirectory(work);
  } else if (schemeLength > 0) {
    // "mailto:x", "javascript:x": a scheme without an authority. Kept so that the client can
    // refuse it rather than take it for a relative path on the current server.
    protocol_ = work.substr(0, schemeLength);
    work.erase(0, schemeLength + 1);
    directory_ = SplitDirectory(work);
  } else if (work.starts_with("//")) {
    // A network-path reference ("//host/path"): another server, same scheme.
    work.erase(0, 2);
    ParseAuthority(CutAt(work, '/'));
    directory_ = "/" + SplitDirectory(work);
  } else {
    directory_ = SplitDirectory(work);
  }
  resource_ = work;
}

void TIdURI::ParseAuthority(std::string authority) {
  // The last "@" ends the user information: a password may hold "@" (and "=" or ":"), a
  // host never does.
  const std::size_t at = authority.rfind('@');
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
  std::string result = PercentEncodeTarget(directory_);
  result += PercentEncodeTarget(resource_);
  if (!query_.empty()) {
    result += '?';
    result += PercentEncodeTarget(query_);
  }
  return result;
}

std::int32_t ParsePortNumber(std::string_view text) noexcept {
  if (text.empty() || text.size() > 5) return -1;
  std::int32_t port = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9') return -1;
    port = port * 10 + (ch - '0');
  }
  return port >= 1 && port <= kMaxPort ? port : -1;
}

}  // namespace brixa
