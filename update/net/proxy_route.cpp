// Proxy-setting parsing (percent-decoded credentials), bypass matching in both conventions, and
// routing requests and redirects with each proxy's own credentials.

#include "update/net/proxy_route.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <vector>

#include "http/client/http.h"
#include "http/message/uri.h"
#include "runtime/text/ip_text.h"
#include "runtime/text/text.h"
#include "transport/io/tcp_client.h"

namespace brixa {

namespace {

constexpr std::int32_t kEnvironmentDefaultProxyPort = 1080;  // curl's
constexpr std::int32_t kInternetSettingsDefaultProxyPort = 80;
constexpr int kIPv4Bits = 32;
constexpr int kIPv6Bits = 128;

// "%XX" sequences as bytes; a '%' that starts no such sequence stays as it is.
std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool HoldsControlOrBlank(std::string_view text) {
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte <= 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// Splits "host[:port]" or "[v6]:port" / "[v6]"; false when the form is broken. `port` stays -1
// when none is given.
bool SplitHostPort(std::string_view text, std::string& host, std::int32_t& port) {
  port = -1;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (rest.empty()) return !host.empty();
    if (rest.front() != ':') return false;
    port = ParsePortNumber(rest.substr(1));
    return port > 0 && !host.empty();
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    host = std::string(text);
    return !host.empty();
  }
  // More than one ':' without brackets is an IPv6 literal without a port.
  if (text.find(':') != colon) {
    host = std::string(text);
    return true;
  }
  host = std::string(text.substr(0, colon));
  port = ParsePortNumber(text.substr(colon + 1));
  return port > 0 && !host.empty();
}

// --- IP literals --------------------------------------------------------------------------

struct TIpAddress {
  bool V6 = false;
  std::array<std::uint8_t, 16> Bytes{};  // IPv4 in the first four
};

// Only the plain forms: four decimal parts for IPv4 ("10.1" is a name here, as in a URL's
// host), any IPv6 text.
std::optional<TIpAddress> ParseIpLiteral(std::string_view text) {
  TIpAddress address;
  if (text.find(':') != std::string_view::npos) {
    const auto words = IPv6TextToWords(text);
    if (!words) return std::nullopt;
    address.V6 = true;
    for (std::size_t i = 0; i < words->size(); ++i) {
      address.Bytes[2 * i] = static_cast<std::uint8_t>((*words)[i] >> 8);
      address.Bytes[2 * i + 1] = static_cast<std::uint8_t>((*words)[i] & 0xFF);
    }
    return address;
  }
  int parts = 0;
  int value = -1;
  for (const char ch : text) {
    if (ch == '.') {
      if (value < 0 || parts == 3) return std::nullopt;
      address.Bytes[static_cast<std::size_t>(parts++)] = static_cast<std::uint8_t>(value);
      value = -1;
    } else if (ch >= '0' && ch <= '9') {
      value = (value < 0 ? 0 : value * 10) + (ch - '0');
      if (value > 255) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (value < 0 || parts != 3) return std::nullopt;
  address.Bytes[3] = static_cast<std::uint8_t>(value);
  return address;
}

bool SameNetwork(const TIpAddress& a, const TIpAddress& b, int bits) {
  if (a.V6 != b.V6) return false;
  for (std::size_t i = 0; bits > 0; ++i, bits -= 8) {
    const int take = bits >= 8 ? 8 : bits;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - take));
    if ((a.Bytes[i] & mask) != (b.Bytes[i] & mask)) return false;
  }
  return true;
}

bool IsLoopback(std::string_view host) {
  if (SameTextNoCase(host, "localhost")) return true;
  const auto address = ParseIpLiteral(host);
  if (!address) return false;
  if (!address->V6) return address->Bytes[0] == 127;
  TIpAddress one;
  one.V6 = true;
  one.Bytes[15] = 1;
  return SameNetwork(*address, one, kIPv6Bits);
}

// --- the environment's no_proxy -------------------------------------------------------------

std::string WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return LowerCase(name);
}

// A name pattern: the name itself and every name below it; a leading dot changes nothing.
bool NameMatches(std::string_view pattern, std::string_view host) {
  if (!pattern.empty() && pattern.front() == '.') pattern.remove_prefix(1);
  const std::string p = WithoutTrailingDot(pattern);
  const std::string h = WithoutTrailingDot(host);
  if (p.empty()) return false;
  if (h == p) return true;
  return h.size() > p.size() && h.compare(h.size() - p.size(), p.size(), p) == 0 &&
         h[h.size() - p.size() - 1] == '.';
}

// An IP pattern with an optional "/bits".
bool AddressMatches(std::string_view pattern, const TIpAddress& host) {
  int bits = host.V6 ? kIPv6Bits : kIPv4Bits;
  if (const std::size_t slash = pattern.find('/'); slash != std::string_view::npos) {
    const std::int32_t given = ParsePortNumber(pattern.substr(slash + 1));  // 1..65535 digits
    if (given < 0 || given > bits) return false;
    bits = given;
    pattern = pattern.substr(0, slash);
  }
  const auto network = ParseIpLiteral(pattern);
  return network && SameNetwork(*network, host, bits);
}

bool NoProxyEntryMatches(std::string_view entry, std::string_view host, std::int32_t port) {
  if (entry == "*") return true;
  std::string name;
  std::int32_t entryPort = -1;
  // A CIDR suffix is no port; "a:b::/64" is an IPv6 network.
  if (entry.find('/') != std::string_view::npos) {
    name = std::string(entry);
  } else if (!SplitHostPort(entry, name, entryPort)) {
    return false;
  }
  if (entryPort > 0 && entryPort != port) return false;
  if (const auto address = ParseIpLiteral(host)) return AddressMatches(name, *address);
  return NameMatches(name, host);
}

// The entries of a bypass list, separated by `separator` or blanks; empty ones are skipped.
std::vector<std::string_view> ListEntries(std::string_view list, char separator) {
  const auto splits = [separator](char ch) {
    return ch == separator || std::isspace(static_cast<unsigned char>(ch)) != 0;
  };
  std::vector<std::string_view> entries;
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && splits(list[at])) ++at;
    std::size_t end = at;
    while (end < list.size() && !splits(list[end])) ++end;
    if (end > at) entries.push_back(list.substr(at, end - at));
    at = end;
  }
  return entries;
}

bool NoProxyMatches(std::string_view list, std::string_view host, std::int32_t port) {
  for (const std::string_view entry : ListEntries(list, ',')) {
    if (NoProxyEntryMatches(entry, host, port)) return true;
  }
  return false;
}

// --- Internet Settings' bypass list --------------------------------------------------------

// `pattern` with '*' standing for any run of characters, against all of `text`, ignoring case.
bool WildcardMatches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                         std::tolower(static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// One entry: "<local>", or "[scheme://]host-pattern[:port]".
bool InternetSettingsEntryMatches(std::string_view entry, std::string_view protocol,
                                  std::string_view host, std::int32_t port) {
  if (SameTextNoCase(entry, "<local>")) {
    return host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos;
  }
  if (const std::size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
    if (!SameTextNoCase(entry.substr(0, scheme), protocol)) return false;
    entry.remove_prefix(scheme + 3);
  }
  std::string pattern;
  std::int32_t entryPort = -1;
  if (!SplitHostPort(entry, pattern, entryPort)) return false;
  if (entryPort > 0 && entryPort != port) return false;
  return WildcardMatches(pattern, host);
}

bool InternetSettingsMatches(std::string_view list, std::string_view protocol,
                             std::string_view host, std::int32_t port) {
  bool loopbackDirect = true;
  bool matched = false;
  for (const std::string_view entry : ListEntries(list, ';')) {
    if (SameTextNoCase(entry, "<-loopback>")) {
      loopbackDirect = false;
    } else if (InternetSettingsEntryMatches(entry, protocol, host, port)) {
      matched = true;
    }
  }
  return matched || (loopbackDirect && IsLoopback(host));
}

std::int32_t DefaultPortOf(std::string_view protocol) {
  return SameTextNoCase(protocol, "https") ? kHttpsDefaultPort : kHttpDefaultPort;
}

// The proxy text without the password, for messages.
std::string Masked(std::string_view text) {
  std::string out(text);
  const std::size_t at = out.rfind('@');
  const std::size_t start = out.find("://") == std::string::npos ? 0 : out.find("://") + 3;
  if (at != std::string::npos && at > start) {
    const std::size_t colon = out.find(':', start);
    if (colon != std::string::npos && colon < at) out.replace(colon + 1, at - colon - 1, "***");
  }
  for (char& ch : out) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) ch = '?';
  }
  return out;
}

}  // namespace

TProxyParse ParseProxySetting(std::string_view text, std::int32_t defaultPort) {
  TProxyParse result;
  if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    if (!SameTextNoCase(text.substr(0, scheme), "http")) {
      result.Error = "the proxy scheme " + Masked(text.substr(0, scheme)) + ":// is not supported";
      return result;
    }
    text.remove_prefix(scheme + 3);
  }
  if (!text.empty() && text.back() == '/') text.remove_suffix(1);
  TProxyEndpoint endpoint;
  if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = text.substr(0, at);
    const std::size_t colon = user.find(':');
    endpoint.Username = PercentDecode(user.substr(0, colon));
    if (colon != std::string_view::npos) endpoint.Password = PercentDecode(user.substr(colon + 1));
    text.remove_prefix(at + 1);
  }
  std::int32_t port = -1;
  if (text.empty() || HoldsControlOrBlank(text) || text.find('/') != std::string_view::npos ||
      !SplitHostPort(text, endpoint.Host, port)) {
    result.Error = "not a proxy address";
    return result;
  }
  endpoint.Port = port > 0 ? port : defaultPort;
  result.Endpoint = std::move(endpoint);
  return result;
}

bool BypassesProxy(std::string_view bypass, TProxyConvention convention, std::string_view protocol,
                   std::string_view host, std::int32_t port) {
  if (convention == pcInternetSettings)
    return InternetSettingsMatches(bypass, protocol, host, port);
  return NoProxyMatches(bypass, host, port);
}

TProxyLogon ProxyLogonFor(const std::optional<TProxyEndpoint>& proxy) noexcept {
  if (!proxy) return plNone;
  return proxy->Source == psDiscovery ? plKerberosOnly : plNegotiateAndNtlm;
}

TProxyRoute::TProxyRoute(const TSystemProxySettings& settings)
    : convention_(settings.Convention), bypass_(settings.Bypass) {
  const std::int32_t defaultPort = settings.Convention == pcInternetSettings
                                       ? kInternetSettingsDefaultProxyPort
                                       : kEnvironmentDefaultProxyPort;
  http_ = Read(settings.HttpProxy, settings.HttpProxySource, defaultPort);
  https_ = Read(settings.HttpsProxy, settings.HttpsProxySource, defaultPort);
}

TProxyRoute::TSetting TProxyRoute::Read(const std::string& value, const std::string& source,
                                        std::int32_t defaultPort) {
  TSetting setting;
  setting.Set = !value.empty();
  setting.Source = source;
  if (!setting.Set) return setting;
  setting.Parse = ParseProxySetting(value, defaultPort);
  if (setting.Parse.Endpoint) setting.Parse.Endpoint->Source = psManual;
  if (!setting.Parse.Endpoint) {
    setting.Parse.Error = source + "=" + Masked(value) + ": " + setting.Parse.Error;
  }
  return setting;
}

std::optional<TProxyEndpoint> TProxyRoute::ProxyFor(std::string_view protocol,
                                                    std::string_view host,
                                                    std::int32_t port) const {
  if (resolver_) {
    const std::string hostPart = host.find(':') == std::string_view::npos
                                     ? std::string(host)
                                     : "[" + std::string(host) + "]";
    if (const auto automatic = AutoProxyFor(std::string(protocol) + "://" + hostPart + ":" +
                                            std::to_string(port) + "/")) {
      return *automatic;
    }
  }
  return ManualProxyFor(protocol, host, port);
}

std::optional<TProxyEndpoint> TProxyRoute::ManualProxyFor(std::string_view protocol,
                                                          std::string_view host,
                                                          std::int32_t port) const {
  const TSetting* setting = nullptr;
  if (SameTextNoCase(protocol, "http")) setting = &http_;
  if (SameTextNoCase(protocol, "https")) setting = &https_;
  if (setting == nullptr || !setting->Set) return std::nullopt;
  if (BypassesProxy(bypass_, convention_, protocol, host, port)) return std::nullopt;
  if (!setting->Parse.Endpoint) throw EProxySettingError(setting->Parse.Error);
  return setting->Parse.Endpoint;
}

std::optional<TProxyEndpoint> TProxyRoute::ProxyFor(const std::string& url) const {
  if (resolver_) {
    if (const auto automatic = AutoProxyFor(url)) return *automatic;
  }
  const TIdURI uri(url);
  const std::int32_t port =
      uri.PortText().empty() ? DefaultPortOf(uri.Protocol()) : StrToIntDefTrim(uri.PortText(), -1);
  return ManualProxyFor(uri.Protocol(), uri.Host(), port);
}

std::vector<std::string> TProxyRoute::Problems() const {
  std::vector<std::string> problems;
  for (const TSetting* setting : {&http_, &https_}) {
    if (setting->Set && !setting->Parse.Endpoint) problems.push_back(setting->Parse.Error);
  }
  if (problems.size() == 2 && problems[0] == problems[1]) problems.pop_back();
  return problems;
}

namespace {

void PointAt(TIdHTTP& http, const std::optional<TProxyEndpoint>& proxy) {
  TIdProxyConnectionInfo& params = http.ProxyParams();
  params.SetProxyServer(proxy ? proxy->Host : std::string());
  params.SetProxyPort(proxy ? proxy->Port : 0);
  params.SetProxyUsername(proxy ? proxy->Username : std::string());
  params.SetProxyPassword(proxy ? proxy->Password : std::string());
  // The logon this proxy may have, set with the proxy each time: a redirect may lead from the
  // manual proxy to one that discovery found.
  const TProxyLogon logon = ProxyLogonFor(proxy);
  http.SetLogonForProxy(logon != plNone);
  http.SetLogonForProxyKerberosOnly(logon == plKerberosOnly);
}

// The absolute target of a redirect to `location`, resolved against the current one as the
// client will resolve it.
std::optional<TProxyEndpoint> ProxyForRedirect(const TProxyRoute& route, TIdHTTP& http,
                                               const std::string& location) {
  const TIdURI next(location);
  const TIdURI& current = http.CurrentURI();
  std::string protocol = next.Protocol();
  if (protocol.empty()) protocol = SameTextNoCase(current.Protocol(), "https") ? "https" : "http";
  const std::string host = next.Host().empty() ? current.Host() : next.Host();
  std::int32_t port = DefaultPortOf(protocol);
  if (!next.PortText().empty()) {
    port = StrToIntDefTrim(next.PortText(), -1);
  } else if (next.Protocol().empty() && !current.PortText().empty()) {
    port = StrToIntDefTrim(current.PortText(), port);
  }
  return route.ProxyFor(protocol, host, port);
}

}  // namespace

void RouteThroughProxy(TIdHTTP& http, const TProxyRoute& route, const std::string& url) {
  if (route.Empty()) return;  // no settings: the client stays as it was made
  PointAt(http, route.ProxyFor(url));
  // A proxy's 407 is answered inside the request, as a browser does.
  TIdHTTPOptions options = http.HTTPOptions();
  options.Include(hoInProcessAuth);
  http.SetHTTPOptions(options);
  http.OnRedirect = [&http, &route](TComponent*, std::string& dest, std::int32_t&, bool& handled,
                                    std::string&) {
    if (handled) PointAt(http, ProxyForRedirect(route, http, dest));
  };
  // The credentials of the proxy now in use: a challenge comes from that proxy only.
  http.OnProxyAuthorization = [&http](TComponent*, TIdAuthentication* auth, bool& handled) {
    const TIdProxyConnectionInfo& params = http.ProxyParams();
    auth->StoreUsername(params.ProxyUsername());
    auth->StorePassword(params.ProxyPassword());
    handled = !params.ProxyUsername().empty();
  };
}

// --- automatic configuration ---------------------------------------------------------------

TProxyRoute::TProxyRoute(const TSystemProxySettings& settings, TAutoProxyResolver resolver,
                         TProxyReachable reachable)
    : TProxyRoute(settings) {
  if (settings.AutoConfigUrl.empty() && !settings.AutoDetect) return;
  resolver_ = std::move(resolver);
  reachable_ = std::move(reachable);
}

std::optional<std::optional<TProxyEndpoint>> TProxyRoute::AutoProxyFor(
    const std::string& url) const {
  const TAutoProxyAnswer answer = resolver_(url);
  std::optional<TProxyEndpoint> last;
  for (const TProxyListEntry& entry : answer.Route) {
    if (entry.Direct) return std::optional<TProxyEndpoint>();
    const TProxyParse parse = ParseProxySetting(entry.Proxy, kInternetSettingsDefaultProxyPort);
    if (!parse.Endpoint) continue;
    last = parse.Endpoint;
    last->Source = answer.From == psScript ? psScript : psDiscovery;
    if (&entry == &answer.Route.back() || !reachable_ || reachable_(*last)) return last;
  }
  // No proxy of the list took connections: the last one gets the request, which then fails
  // there; the list did not allow going direct.
  if (last) return last;
  if (answer.NothingDiscovered) return std::nullopt;
  std::fprintf(stderr,
               "BrixaUpdater: the proxy configuration gave no route for %s (%s); the manual proxy "
               "setting is used\n",
               Masked(url).c_str(),
               answer.Answered ? "no usable entry" : Masked(answer.Error).c_str());
  return std::nullopt;
}

namespace {

// How long a proxy of an automatic configuration's list may take to accept a connection before
// the next one is tried: the updater's own connect limit.
constexpr std::int32_t kProxyProbeTimeoutMs = 3000;

bool AcceptsConnections(const TProxyEndpoint& proxy) {
  try {
    TIdTCPClient probe;
    probe.SetHost(proxy.Host);
    probe.SetPort(static_cast<std::uint16_t>(proxy.Port));
    probe.SetConnectTimeout(kProxyProbeTimeoutMs);
    probe.ConnectToHost();
    probe.CloseConnection(false);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

const TProxyRoute& UpdaterProxyRoute() {
  static const TProxyRoute route = [] {
    const TSystemProxySettings settings = ReadSystemProxySettings();
    TProxyRoute read(
        settings, [settings](const std::string& url) { return ResolveAutoProxy(settings, url); },
        AcceptsConnections);
    // The updater has no window for this and must not go around the user's proxy: the line
    // tells why no update check happens.
    for (const std::string& problem : read.Problems()) {
      std::fprintf(stderr, "BrixaUpdater: unusable proxy setting %s\n", problem.c_str());
    }
    return read;
  }();
  return route;
}

}  // namespace brixa
