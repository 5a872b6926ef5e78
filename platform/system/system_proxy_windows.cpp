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

// One question to WinHTTP: `flags` picks discovery or the script. Errors go to `error`.
bool AskWinHttp(TWinHttp& api, HINTERNET session, const std::wstring& url, DWORD flags,
                const std::wstring& scriptUrl, TAutoProxyAnswer& answer, std::string& error) {
  WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = flags;
  if (flags & WINHTTP_AUTOPROXY_AUTO_DETECT) {
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.lpszAutoConfigUrl = scriptUrl.empty() ? nullptr : scriptUrl.c_str();
  WINHTTP_PROXY_INFO info{};
  BOOL ok = api.getProxyForUrl(session, url.c_str(), &options, &info);
  if (!ok && ::GetLastError() == kLoginFailure) {
    // The script's server wants the user's logon: asked for only when it does.
    options.fAutoLogonIfChallenged = TRUE;
    ok = api.getProxyForUrl(session, url.c_str(), &options, &info);
  }
  if (!ok) {
    const DWORD code = ::GetLastError();
    if ((flags & WINHTTP_AUTOPROXY_AUTO_DETECT) && code == kAutoDetectionFailed) {
      answer.NothingDiscovered = true;
    }
    const char* what =
        (flags & WINHTTP_AUTOPROXY_AUTO_DETECT) ? "proxy discovery" : "proxy configuration script";
    if (!error.empty()) error += "; ";
    error += AutoProxyErrorText(what, code);
    return false;
  }
  const std::string proxies = TakeWinHttpText(info.lpszProxy);
  (void)TakeWinHttpText(info.lpszProxyBypass);
  answer.Route = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY
                     ? ParseProxyList(proxies)
                     : std::vector<TProxyListEntry>{};
  // "No proxy", or a list of nothing this client can use: the script said to go direct.
  if (answer.Route.empty()) answer.Route.push_back({true, {}});
  answer.Answered = true;
  return true;
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
  TAutoProxyAnswer answer;
  if (settings.AutoConfigUrl.empty() && !settings.AutoDetect) {
    answer.Error = "no automatic proxy configuration is set";
    return answer;
  }
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
  const std::wstring wideUrl = WideFromUtf8(url);
  // Two questions, not one with both flags: discovery first, as Windows does, then the script.
  if (!(settings.AutoDetect && AskWinHttp(*api, session, wideUrl, WINHTTP_AUTOPROXY_AUTO_DETECT, {},
                                          answer, answer.Error)) &&
      !settings.AutoConfigUrl.empty()) {
    (void)AskWinHttp(*api, session, wideUrl, WINHTTP_AUTOPROXY_CONFIG_URL,
                     WideFromUtf8(settings.AutoConfigUrl), answer, answer.Error);
  }
  api->closeHandle(session);
  if (answer.Answered) answer.Error.clear();
  // With a script set, its failure is what counts, whatever discovery found.
  if (answer.Answered || !settings.AutoConfigUrl.empty()) answer.NothingDiscovered = false;
  return answer;
}

}  // namespace brixa
