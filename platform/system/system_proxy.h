#pragma once
// The current user's proxy settings, read from the environment or the Windows Internet Settings,
// not yet interpreted.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// Which rules a user's proxy settings follow, and so how they are read and matched.
enum TProxyConvention {
  // The environment as curl reads it: http_proxy, https_proxy and no_proxy. A proxy without a
  // port listens on 1080. The bypass list is separated by commas or blanks; "*" bypasses
  // everything; a name matches itself and every name below it ("example.com" and
  // ".example.com" both match "www.example.com"); IP literals match themselves or, with
  // "/bits", their network; "host:port" matches that port only.
  pcEnvironment,
  // The user's Internet Settings on Windows. A proxy without a port listens on 80. The bypass
  // list is separated by ';' or blanks; '*' stands for any run of characters; "<local>"
  // matches names without a dot; loopback (localhost, 127.0.0.0/8, ::1) goes direct unless the
  // list holds "<-loopback>".
  pcInternetSettings,
};

// The current user's proxy settings as they were written, not yet interpreted.
struct TSystemProxySettings {
  TProxyConvention Convention = pcEnvironment;
  // The proxy for http:// and for https:// URLs: "[scheme://][user[:password]@]host[:port][/]";
  // empty when such URLs go direct.
  std::string HttpProxy;
  std::string HttpsProxy;
  // Where each value came from ("http_proxy", "Internet Settings"), for messages.
  std::string HttpProxySource;
  std::string HttpsProxySource;
  // The hosts that are reached directly, in the convention's syntax.
  std::string Bypass;
  // The automatic configuration of the Internet Settings: the configuration script's URL, and
  // whether the proxy is to be discovered on the network (WPAD). Either makes the proxy of each
  // URL the answer of ResolveAutoProxy (the script when one is set, see AutoProxySourceFor),
  // with the manual proxy above as the fall-back when the configuration cannot answer.
  std::string AutoConfigUrl;
  bool AutoDetect = false;
};

// Where the proxy of a URL comes from, and so how far it is trusted: the manual setting and the
// configuration script are the user's or the administrator's choice; discovery takes whatever
// answers WPAD on the network, which anyone on it can do.
enum TProxySource { psManual, psScript, psDiscovery };

// The automatic configuration `settings` ask for each URL: the configured script when there is
// one, discovery only when no script is set, psManual when neither is on. A script that cannot
// answer is not followed by discovery (the manual setting decides then): that would hand the
// choice of proxy to the network exactly when the administrator's script is out of reach.
[[nodiscard]] TProxySource AutoProxySourceFor(const TSystemProxySettings& settings) noexcept;

// Reads the settings of the user the process runs as: on Windows the Internet Settings through
// WinHttpGetIEProxyConfigForCurrentUser (winhttp.dll from the system folder), elsewhere the
// environment. Never raises; no settings give empty proxies.
[[nodiscard]] TSystemProxySettings ReadSystemProxySettings();

// One entry of a proxy list: a proxy ("host:port") or a direct connection.
struct TProxyListEntry {
  bool Direct = false;
  std::string Proxy;
  friend bool operator==(const TProxyListEntry&, const TProxyListEntry&) = default;
};

// What the automatic configuration answered for one URL.
struct TAutoProxyAnswer {
  // False when neither the script nor discovery could answer; Error then says why, in the
  // system's words.
  bool Answered = false;
  // The ways to the URL in the order they are to be tried; never empty when Answered.
  std::vector<TProxyListEntry> Route;
  std::string Error;
  // Not answered because discovery, the only way configured, found no configuration on the
  // network: the usual case where nobody set one up, not a failure worth reporting; the manual
  // setting applies. A script that cannot be fetched or run never sets this.
  bool NothingDiscovered = false;
  // The configuration that was asked. Discovery, the least trusted, until said otherwise.
  TProxySource From = psDiscovery;
};

// Puts one question to the system's automatic configuration: `source` names which one (the
// settings' script, or discovery), `url` the URL whose proxy is wanted.
using TAutoProxyQuestion =
    std::function<TAutoProxyAnswer(TProxySource source, const std::string& url)>;

// The portable half of ResolveAutoProxy: asks `ask` the one configuration AutoProxySourceFor
// picks, and marks the answer with it. Without automatic configuration `ask` is not called.
[[nodiscard]] TAutoProxyAnswer AskAutoProxy(const TSystemProxySettings& settings,
                                            const std::string& url, const TAutoProxyQuestion& ask);

// Asks the automatic configuration of `settings` for the proxy of `url` (AskAutoProxy). On
// Windows through WinHttpGetProxyForUrl, which fetches and runs the script each time; elsewhere
// there is none and the answer says so.
[[nodiscard]] TAutoProxyAnswer ResolveAutoProxy(const TSystemProxySettings& settings,
                                                const std::string& url);

// The entries of a proxy list as a configuration script writes it ("PROXY a:8080; DIRECT") or
// WinHTTP hands it over ("a:8080;b:3128", blanks allowed). "PROXY" and "HTTP" name a proxy,
// "DIRECT" a direct connection; entries of other kinds (SOCKS, HTTPS) are dropped, as this client
// cannot use them. At most kMaxProxyListEntries are kept.
inline constexpr std::size_t kMaxProxyListEntries = 16;  // a script has no reason for more
[[nodiscard]] std::vector<TProxyListEntry> ParseProxyList(std::string_view list);

// The value of an environment variable, or null when it is not set.
using TEnvironmentLookup = std::function<const char*(const char* name)>;

// The environment's settings as curl takes them: http_proxy only in lower case (a CGI program
// gets a request's "Proxy:" header as HTTP_PROXY), https_proxy before HTTPS_PROXY, all_proxy
// before ALL_PROXY for a scheme that has none of its own, no_proxy before NO_PROXY. A variable
// that is set but empty stops the search and means "direct".
[[nodiscard]] TSystemProxySettings ProxySettingsFromEnvironment(const TEnvironmentLookup& lookup);

// Internet Settings' ProxyServer and bypass list. ProxyServer is either one proxy for every
// protocol ("host:port") or ';'/blank-separated "protocol=proxy" entries; only the http and
// https entries concern this client (SOCKS and FTP entries are for other clients), and an entry
// without "protocol=" serves the protocols that have none of their own.
[[nodiscard]] TSystemProxySettings ProxySettingsFromInternetSettings(const std::string& proxyServer,
                                                                     const std::string& bypass);

}  // namespace brixa
