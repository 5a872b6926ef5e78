// On POSIX the proxy settings come from the environment only.

#include <cstdlib>

#include "platform/system/system_proxy.h"

namespace brixa {

TSystemProxySettings ReadSystemProxySettings() {
  return ProxySettingsFromEnvironment([](const char* name) { return std::getenv(name); });
}

TAutoProxyAnswer ResolveAutoProxy(const TSystemProxySettings& /*settings*/,
                                  const std::string& /*url*/) {
  TAutoProxyAnswer answer;
  answer.Error = "proxy auto-configuration is followed on Windows only";
  return answer;
}

}  // namespace brixa
