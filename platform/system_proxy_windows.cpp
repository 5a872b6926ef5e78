// Proxy settings from WinHTTP's reading of the user's Internet Settings.

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/system_proxy.h"

namespace brixa {

namespace {

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

}  // namespace

TSystemProxySettings ReadSystemProxySettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    return ProxySettingsFromInternetSettings({}, {});
  }
  // A configuration script is neither fetched nor run; automatic detection is not attempted.
  (void)TakeWinHttpText(config.lpszAutoConfigUrl);
  const std::string proxy = TakeWinHttpText(config.lpszProxy);
  const std::string bypass = TakeWinHttpText(config.lpszProxyBypass);
  return ProxySettingsFromInternetSettings(proxy, bypass);
}

}  // namespace brixa
