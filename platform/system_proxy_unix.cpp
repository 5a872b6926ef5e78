// On POSIX the proxy settings come from the environment only.

#include <cstdlib>

#include "platform/system_proxy.h"

namespace brixa {

TSystemProxySettings ReadSystemProxySettings() {
  return ProxySettingsFromEnvironment([](const char* name) { return std::getenv(name); });
}

}  // namespace brixa
