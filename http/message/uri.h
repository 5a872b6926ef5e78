#pragma once
// TIdURI: a URL split into its parts and composed back, and the default ports of its protocols.

#include <cstdint>
#include <string>
#include <string_view>

#include "transport/socket/stack_consts.h"

namespace brixa {

// The ports the protocols use when a URI names none.
inline constexpr std::int32_t kHttpDefaultPort = 80;
inline constexpr std::int32_t kHttpsDefaultPort = 443;
inline constexpr std::int32_t kFtpDefaultPort = 21;

// A port as a URL or a proxy setting writes it: one to five decimal digits naming 1 to 65535;
// -1 for anything else, so no other text can be read as some port nobody named.
[[nodiscard]] std::int32_t ParsePortNumber(std::string_view text) noexcept;

// Optional parts that ComposeURI may add to the text.
enum TIdURIOptionalField : unsigned {
  ofAuthInfo = 1u << 0,  // user name and password before the host
  ofBookmark = 1u << 1,  // "#" and the fragment at the end
};
using TIdURIOptionalFields = unsigned;

// A URL split into its parts and composed back.
//
// The parser is textual: no percent-decoding, no validation; every part is kept exactly as
// written and any text gives some set of parts. The fragment ends the text at its first "#",
// the query starts at the first "?" before it; the user information ends at the last "@" of
// the authority. A reference without "://" may still name a scheme ("mailto:x"), which lands
// in Protocol; "//host/path" names another host with the current scheme. Assigning URI replaces
// every part; the parts may also be set one by one (the request cycle merges a new target into a
// kept one).
class TIdURI {
 public:
  TIdURI() = default;
  // Parses `uri` at once when it is not empty.
  explicit TIdURI(const std::string& uri);

  // The composed text without user information and fragment (ComposeURI with no option).
  // Raises EIdURIException when Protocol or Host is empty.
  [[nodiscard]] std::string URI() const { return ComposeURI(0); }
  // Parses `uri` (backslashes read as slashes), replacing every part.
  void SetURI(const std::string& uri);

  // Protocol "://" [user [":" password] "@"] host [":" port] path ["?" query] ["#" fragment].
  // A host holding ":" is an IPv6 literal and is written in brackets. The port is left out
  // when it is the protocol's default (80 for http, 443 for https, 21 for ftp).
  // Raises EIdURIException "Protocol field is empty" / "Host field is empty".
  [[nodiscard]] std::string ComposeURI(TIdURIOptionalFields fields) const;
  // Directory + Resource, then "?" and Query when Query is not empty; blanks, control
  // characters and bytes beyond ASCII percent-encoded, so the text can stand in a request line.
  [[nodiscard]] std::string PathAndQuery() const;
  // Turns every backslash into a forward slash.
  static void NormalizeSlashes(std::string& text);

  [[nodiscard]] const std::string& Resource() const noexcept { return resource_; }
  void SetResource(std::string value) { resource_ = std::move(value); }
  [[nodiscard]] const std::string& Protocol() const noexcept { return protocol_; }
  void SetProtocol(std::string value) { protocol_ = std::move(value); }
  [[nodiscard]] const std::string& PortText() const noexcept { return portText_; }
  void SetPortText(std::string value) { portText_ = std::move(value); }
  [[nodiscard]] const std::string& Directory() const noexcept { return directory_; }
  void SetDirectory(std::string value) { directory_ = std::move(value); }
  // For a bracketed IPv6 literal, the text between the brackets.
  [[nodiscard]] const std::string& Host() const noexcept { return host_; }
  void SetHost(std::string value) { host_ = std::move(value); }
  [[nodiscard]] const std::string& Fragment() const noexcept { return fragment_; }
  void SetFragment(std::string value) { fragment_ = std::move(value); }
  [[nodiscard]] const std::string& User() const noexcept { return user_; }
  void SetUser(std::string value) { user_ = std::move(value); }
  [[nodiscard]] const std::string& Password() const noexcept { return password_; }
  void SetPassword(std::string value) { password_ = std::move(value); }
  [[nodiscard]] const std::string& Query() const noexcept { return query_; }
  void SetQuery(std::string value) { query_ = std::move(value); }
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  void SetIPVersion(TIdIPVersion value) noexcept { ipVersion_ = value; }
  // The text as last assigned, backslashes turned into slashes.
  [[nodiscard]] const std::string& AssignedText() const noexcept { return uri_; }

 private:
  void ParseAuthority(std::string authority);

  std::string resource_;
  std::string protocol_;
  std::string uri_;
  std::string portText_;
  std::string directory_;
  std::string host_;
  std::string fragment_;
  std::string user_;
  std::string password_;
  std::string query_;
  TIdIPVersion ipVersion_ = Id_IPv4;
};

// `host` as it stands in an authority (a URL or a "Host" header): an IPv6 literal (any host
// holding ":") in brackets, anything else unchanged. A host name can never hold ":", and
// without the brackets the last group of the address would read as a port.
[[nodiscard]] std::string HostForAuthority(const std::string& host);

}  // namespace brixa
