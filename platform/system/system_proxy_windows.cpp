// Proxy settings and automatic configuration from WinHTTP (winhttp.dll from the system folder,
// loaded on first use): the user's Internet Settings, and the proxy a configuration script or
// discovery gives each URL.

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/library/system_library_windows.h"
#include "platform/system/system_proxy.h"
#include "platform/system/wide_text_windows.h"

namespace brixa {

namespace {

// How long fetching a configuration script may take, step by step. A script server that does
// not answer must not hold up the update check for longer than a direct connection would.
constexpr int kScriptResolveMs = 5000;
constexpr int kScriptConnectMs = 5000;
constexpr int kScriptSendMs = 5000;
constexpr int kScriptReceiveMs = 10000;
// WinHTTP's own errors, which the system's message table does not hold.
constexpr DWORD kLoginFailure = 12015;  // ERROR_WINHTTP_LOGIN_FAILURE

struct TWinHttp {
  TDynamicLibrary library;
  std::string loadError;
  decltype(&::WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfig = nullptr;
  decltype(&::WinHttpGetProxyForUrl) getProxyForUrl = nullptr;
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
  decltype(&::WinHttpCloseHandle) closeHandle = nullptr;

  void Load() {
    if (!LoadSystemLibrary(library, "winhttp.dll", loadError)) return;
    getIEProxyConfig =
        library.Function<decltype(getIEProxyConfig)>("WinHttpGetIEProxyConfigForCurrentUser");
    getProxyForUrl = library.Function<decltype(getProxyForUrl)>("WinHttpGetProxyForUrl");
    open = library.Function<decltype(open)>("WinHttpOpen");
    setTimeouts = library.Function<decltype(setTimeouts)>("WinHttpSetTimeouts");
    closeHandle = library.Function<decltype(closeHandle)>("WinHttpCloseHandle");
    if (!getIEProxyConfig || !getProxyForUrl || !open || !setTimeouts || !closeHandle) {
      loadError = "winhttp.dll lacks the proxy functions";
      library.Free();
    }
  }
};

TWinHttp* WinHttp(std::string& why) {
  static TWinHttp api;
  static std::once_flag loaded;
  std::call_once(loaded, [] { api.Load(); });
  if (api.library.Loaded()) return &api;
  why = api.loadError;
  return nullptr;
}

// The system's 8-bit text of a WinHTTP string, which the caller frees with GlobalFree.
std::string TakeWinHttpText(LPWSTR text) {
  if (text == nullptr) return {};
  std::string result;
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size > 1) {
    result.resize(static_cast<std::size_t>(size));
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
  }
  ::GlobalFree(text);
  return result;
}

// ERROR_WINHTTP_AUTODETECTION_FAILED: discovery found no configuration on the network.
constexpr DWORD kAutoDetectionFailed = 12180;

std::string AutoProxyErrorText(const char* what, DWORD code) {
  const char* meaning = "";
  switch (code) {
    case 12167:  // ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT
      meaning = " (the script could not be fetched)";
      break;
    case 12166:  // ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT
      meaning = " (the script failed to run)";
      break;
    case kAutoDetectionFailed:
      meaning = " (no configuration was found on the network)";
      break;
    case 12006:  // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
      meaning = " (the URL is not one a script can be asked about)";
      break;
    default:
      break;
  }
  char number[16];
  std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
  return std::string(what) + ": error " + number + meaning;
}

// One question to WinHTTP: `flags` picks discovery or the script.
void AskWinHttp(TWinHttp& api, HINTERNET session, const std::wstring& url, DWORD flags,
                const std::wstring& scriptUrl, TAutoProxyAnswer& answer) {
  const bool discovery = (flags & WINHTTP_AUTOPROXY_AUTO_DETECT) != 0;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = flags;
  if (discovery) {
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.lpszAutoConfigUrl = scriptUrl.empty() ? nullptr : scriptUrl.c_str();
  WINHTTP_PROXY_INFO info{};
  BOOL ok = api.getProxyForUrl(session, url.c_str(), &options, &info);
  // The configured script's server may want the user's logon, and is given it only when it
  // asks. A server found by discovery is whoever answered on the network: never.
  if (!ok && !discovery && ::GetLastError() == kLoginFailure) {
    options.fAutoLogonIfChallenged = TRUE;
    ok = api.getProxyForUrl(session, url.c_str(), &options, &info);
  }
  if (!ok) {
    const DWORD code = ::GetLastError();
    if (discovery && code == kAutoDetectionFailed) answer.NothingDiscovered = true;
    answer.Error =
        AutoProxyErrorText(discovery ? "proxy discovery" : "proxy configuration script", code);
    return;
  }
  const std::string proxies = TakeWinHttpText(info.lpszProxy);
  (void)TakeWinHttpText(info.lpszProxyBypass);
  answer.Route = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY
                     ? ParseProxyList(proxies)
                     : std::vector<TProxyListEntry>{};
  // "No proxy", or a list of nothing this client can use: the script said to go direct.
  if (answer.Route.empty()) answer.Route.push_back({true, {}});
  answer.Answered = true;
}

// The one question AskAutoProxy chose, in a WinHTTP session of its own.
TAutoProxyAnswer AskSystem(const std::string& scriptUrl, TProxySource source,
                           const std::string& url) {
  TAutoProxyAnswer answer;
  TWinHttp* api = WinHttp(answer.Error);
  if (api == nullptr) return answer;
  HINTERNET session = api->open(L"BrixaUpdater", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    answer.Error = AutoProxyErrorText("WinHttpOpen", ::GetLastError());
    return answer;
  }
  (void)api->setTimeouts(session, kScriptResolveMs, kScriptConnectMs, kScriptSendMs,
                         kScriptReceiveMs);
  // One question each time, never both flags in one call (which Wine refuses, and which would
  // let discovery answer where a script is configured).
  if (source == psScript) {
    AskWinHttp(*api, session, WideFromUtf8(url), WINHTTP_AUTOPROXY_CONFIG_URL,
               WideFromUtf8(scriptUrl), answer);
  } else {
    AskWinHttp(*api, session, WideFromUtf8(url), WINHTTP_AUTOPROXY_AUTO_DETECT, {}, answer);
  }
  api->closeHandle(session);
  return answer;
}

}  // namespace

TSystemProxySettings ReadSystemProxySettings() {
  std::string why;
  TWinHttp* api = WinHttp(why);
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (api == nullptr || !api->getIEProxyConfig(&config)) {
    return ProxySettingsFromInternetSettings({}, {});
  }
  const std::string script = TakeWinHttpText(config.lpszAutoConfigUrl);
  const std::string proxy = TakeWinHttpText(config.lpszProxy);
  const std::string bypass = TakeWinHttpText(config.lpszProxyBypass);
  TSystemProxySettings settings = ProxySettingsFromInternetSettings(proxy, bypass);
  settings.AutoConfigUrl = script;
  settings.AutoDetect = config.fAutoDetect != FALSE;
  return settings;
}

TAutoProxyAnswer ResolveAutoProxy(const TSystemProxySettings& settings, const std::string& url) {
  return AskAutoProxy(settings, url, [&settings](TProxySource source, const std::string& asked) {
    return AskSystem(settings.AutoConfigUrl, source, asked);
  });
}

}  // namespace brixa
