#pragma once
// Which HTTP proxy each of the updater's URLs goes through: proxy settings parsed, bypass lists
// matched, and the client pointed at the chosen proxy.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/system_proxy.h"
#include "update/update_errors.h"

namespace brixa {

class TIdHTTP;

// An HTTP proxy as a setting names it.
struct TProxyEndpoint {
  std::string Host;  // without brackets for an IPv6 literal
  std::int32_t Port = 0;
  // Percent-decoded; go to this proxy only, in answer to its challenge.
  std::string Username;
  std::string Password;
  // Where the route found it; one whose origin is not known counts as discovered, the least
  // trusted (see ProxyLogonFor).
  TProxySource Source = psDiscovery;
  friend bool operator==(const TProxyEndpoint&, const TProxyEndpoint&) = default;
};

// Which of the user's logon a proxy may be offered.
enum TProxyLogon {
  plNone,              // none: the URL goes direct
  plKerberosOnly,      // Negotiate through Kerberos alone, never NTLM
  plNegotiateAndNtlm,  // Negotiate (with NTLM inside it where the system does that) and NTLM
};

// The logon `proxy` (nothing: direct) may be offered, by where it came from. The manual setting
// and the configured script name a proxy the user or the administrator chose: it gets the logon
// as the system's own programs offer it. A proxy found by discovery was named by whoever
// answered WPAD on the network; an NTLM answer to it could be cracked or relayed, while a
// Kerberos ticket is good only for the service it names, so only Kerberos may answer it.
[[nodiscard]] TProxyLogon ProxyLogonFor(const std::optional<TProxyEndpoint>& proxy) noexcept;

// The outcome of reading one proxy setting.
struct TProxyParse {
  std::optional<TProxyEndpoint> Endpoint;
  std::string Error;  // why there is no endpoint; never holds the password
};

// Reads "[http://][user[:password]@]host[:port][/]". The user name and password are
// percent-decoded; a port that is missing gives `defaultPort`. Any other scheme (https://,
// socks5://, ...) is refused: this client speaks plain HTTP to its proxy and SOCKS only through
// its own settings.
[[nodiscard]] TProxyParse ParseProxySetting(std::string_view text, std::int32_t defaultPort);

// True when `host` (a name or an IP literal, without brackets) on `port` is in the bypass
// list `bypass`, written in `convention`'s syntax (see TProxyConvention), for a URL of
// `protocol` ("http", "https").
[[nodiscard]] bool BypassesProxy(std::string_view bypass, TProxyConvention convention,
                                 std::string_view protocol, std::string_view host,
                                 std::int32_t port);

// The automatic configuration's answer for a URL, and whether a proxy accepts connections.
using TAutoProxyResolver = std::function<TAutoProxyAnswer(const std::string& url)>;
using TProxyReachable = std::function<bool(const TProxyEndpoint& proxy)>;

// Which proxy, if any, each URL goes through under one set of settings.
class TProxyRoute {
 public:
  // Every URL goes direct.
  TProxyRoute() = default;
  explicit TProxyRoute(const TSystemProxySettings& settings);
  // With automatic configuration (a script or discovery in `settings`): each URL takes the route
  // `resolver` answers; in a list, each proxy but the last is taken only when `reachable` says
  // it accepts connections, and DIRECT only where the list says so. A configuration that cannot
  // answer is reported on stderr and the manual settings decide, as without it. The proxies of
  // an answer carry its From (an answer that is not the script's counts as discovery's).
  TProxyRoute(const TSystemProxySettings& settings, TAutoProxyResolver resolver,
              TProxyReachable reachable);

  // The proxy for an absolute http or https URL; nothing when it goes direct (no setting for
  // its protocol, the host is bypassed, or another protocol). Raises EProxySettingError when
  // the setting that applies cannot be used.
  [[nodiscard]] std::optional<TProxyEndpoint> ProxyFor(const std::string& url) const;
  [[nodiscard]] std::optional<TProxyEndpoint> ProxyFor(std::string_view protocol,
                                                       std::string_view host,
                                                       std::int32_t port) const;
  // One line for each setting that cannot be used, naming where it came from.
  [[nodiscard]] std::vector<std::string> Problems() const;
  [[nodiscard]] bool Empty() const noexcept { return !http_.Set && !https_.Set && !resolver_; }

 private:
  // The manual settings' proxy, without asking the automatic configuration.
  [[nodiscard]] std::optional<TProxyEndpoint> ManualProxyFor(std::string_view protocol,
                                                             std::string_view host,
                                                             std::int32_t port) const;
  // The automatic configuration's proxy for `url`; nothing when it could not answer.
  [[nodiscard]] std::optional<std::optional<TProxyEndpoint>> AutoProxyFor(
      const std::string& url) const;

  struct TSetting {
    bool Set = false;
    TProxyParse Parse;
    std::string Source;
  };
  [[nodiscard]] static TSetting Read(const std::string& value, const std::string& source,
                                     std::int32_t defaultPort);

  TProxyConvention convention_ = pcEnvironment;
  TAutoProxyResolver resolver_;
  TProxyReachable reachable_;
  TSetting http_;
  TSetting https_;
  std::string bypass_;
};

// Points `http` at the proxy `route` gives for `url`, or at none, with that proxy's
// credentials and the logon ProxyLogonFor allows it; done before each request the caller starts.
// Redirects the request follows are routed the same way as they happen (a redirect to a
// bypassed host goes direct), and a proxy's challenge is answered with the credentials of the
// proxy that sent it (Basic, Digest or NTLM, whichever it asks for) or the logon allowed to it.
// `route` must outlive the client's requests.
void RouteThroughProxy(TIdHTTP& http, const TProxyRoute& route, const std::string& url);

// The route of the updater's requests: the settings of the user it runs as, read on first use
// (on the main thread), with the automatic configuration they name followed for every URL. A
// setting that cannot be used is reported once on stderr, with its password masked, and makes
// the requests it applies to fail. The updater's proxy is offered the user's logon as
// ProxyLogonFor allows: Negotiate, and NTLM on Windows, to a proxy of the manual setting or the
// configured script; Kerberos alone to one that discovery found.
[[nodiscard]] const TProxyRoute& UpdaterProxyRoute();

}  // namespace brixa
