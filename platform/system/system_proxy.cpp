// The portable half of the proxy settings: how the raw values of each convention become the
// per-protocol proxies. Which hosts bypass them is decided where the URL is known.
#include "platform/system/system_proxy.h"

#include <cctype>
#include <initializer_list>
#include <string_view>

namespace brixa {

namespace {

constexpr const char* kInternetSettingsSource = "Internet Settings";

// The first of `names` that is set, with its name; a set but empty variable ends the search.
bool LookUpFirst(const TEnvironmentLookup& lookup, std::initializer_list<const char*> names,
                 std::string& value, std::string& source) {
  for (const char* name : names) {
    const char* found = lookup(name);
    if (found == nullptr) continue;
    value = found;
    source = name;
    return true;
  }
  return false;
}

bool IsBlankOrSeparator(char ch) {
  return ch == ';' || std::isspace(static_cast<unsigned char>(ch)) != 0;
}

bool SameProtocol(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TSystemProxySettings ProxySettingsFromEnvironment(const TEnvironmentLookup& lookup) {
  TSystemProxySettings settings;
  settings.Convention = pcEnvironment;
  std::string all;
  std::string allSource;
  const bool haveAll = LookUpFirst(lookup, {"all_proxy", "ALL_PROXY"}, all, allSource);
  if (!LookUpFirst(lookup, {"http_proxy"}, settings.HttpProxy, settings.HttpProxySource) &&
      haveAll) {
    settings.HttpProxy = all;
    settings.HttpProxySource = allSource;
  }
  if (!LookUpFirst(lookup, {"https_proxy", "HTTPS_PROXY"}, settings.HttpsProxy,
                   settings.HttpsProxySource) &&
      haveAll) {
    settings.HttpsProxy = all;
    settings.HttpsProxySource = allSource;
  }
  std::string bypassSource;
  (void)LookUpFirst(lookup, {"no_proxy", "NO_PROXY"}, settings.Bypass, bypassSource);
  return settings;
}

TSystemProxySettings ProxySettingsFromInternetSettings(const std::string& proxyServer,
                                                       const std::string& bypass) {
  TSystemProxySettings settings;
  settings.Convention = pcInternetSettings;
  settings.Bypass = bypass;
  std::string common;
  std::size_t at = 0;
  while (at < proxyServer.size()) {
    while (at < proxyServer.size() && IsBlankOrSeparator(proxyServer[at])) ++at;
    std::size_t end = at;
    while (end < proxyServer.size() && !IsBlankOrSeparator(proxyServer[end])) ++end;
    const std::string_view entry(proxyServer.data() + at, end - at);
    at = end;
    if (entry.empty()) continue;
    const std::size_t equals = entry.find('=');
    // "http://host:port" has no '=': the ':' before "//" is not a protocol tag.
    if (equals == std::string_view::npos) {
      if (common.empty()) common = std::string(entry);
      continue;
    }
    const std::string_view protocol = entry.substr(0, equals);
    const std::string value(entry.substr(equals + 1));
    if (SameProtocol(protocol, "http") && settings.HttpProxy.empty()) {
      settings.HttpProxy = value;
    } else if (SameProtocol(protocol, "https") && settings.HttpsProxy.empty()) {
      settings.HttpsProxy = value;
    }
  }
  if (settings.HttpProxy.empty()) settings.HttpProxy = common;
  if (settings.HttpsProxy.empty()) settings.HttpsProxy = common;
  if (!settings.HttpProxy.empty()) settings.HttpProxySource = kInternetSettingsSource;
  if (!settings.HttpsProxy.empty()) settings.HttpsProxySource = kInternetSettingsSource;
  return settings;
}

namespace {

// "PROXY a:1" -> the entry; an unknown kind gives nothing.
bool ReadProxyListEntry(std::string_view entry, TProxyListEntry& out) {
  std::size_t blank = 0;
  while (blank < entry.size() && std::isspace(static_cast<unsigned char>(entry[blank])) == 0) {
    ++blank;
  }
  const std::string_view first = entry.substr(0, blank);
  std::string_view rest = entry.substr(blank);
  while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front())) != 0) {
    rest.remove_prefix(1);
  }
  if (rest.empty()) {
    // WinHTTP's form: a bare address; or the bare word DIRECT.
    out = SameProtocol(first, "DIRECT") ? TProxyListEntry{true, {}}
                                        : TProxyListEntry{false, std::string(first)};
    return true;
  }
  if (!SameProtocol(first, "PROXY") && !SameProtocol(first, "HTTP")) return false;
  if (rest.find_first_of(" \t") != std::string_view::npos) return false;
  out = {false, std::string(rest)};
  return true;
}

}  // namespace

std::vector<TProxyListEntry> ParseProxyList(std::string_view list) {
  std::vector<TProxyListEntry> entries;
  std::size_t at = 0;
  while (at < list.size() && entries.size() < kMaxProxyListEntries) {
    std::size_t end = list.find(';', at);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(at, end - at);
    at = end + 1;
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front())) != 0) {
      entry.remove_prefix(1);
    }
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back())) != 0) {
      entry.remove_suffix(1);
    }
    TProxyListEntry read;
    if (!entry.empty() && ReadProxyListEntry(entry, read)) entries.push_back(std::move(read));
  }
  return entries;
}

TProxySource AutoProxySourceFor(const TSystemProxySettings& settings) noexcept {
  if (!settings.AutoConfigUrl.empty()) return psScript;
  return settings.AutoDetect ? psDiscovery : psManual;
}

TAutoProxyAnswer AskAutoProxy(const TSystemProxySettings& settings, const std::string& url,
                              const TAutoProxyQuestion& ask) {
  const TProxySource source = AutoProxySourceFor(settings);
  TAutoProxyAnswer answer;
  if (source == psManual) {
    answer.Error = "no automatic proxy configuration is set";
  } else {
    answer = ask(source, url);
  }
  answer.From = source;
  if (answer.Answered) answer.Error.clear();
  // Only discovery can find nothing; a script that fails is a failure to report.
  if (answer.Answered || source != psDiscovery) answer.NothingDiscovered = false;
  return answer;
}

}  // namespace brixa
