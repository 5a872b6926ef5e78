// The OpenSSL DLL names tried on Windows: in the program's own folder only, by full path.

#include "platform/library/dynamic_library.h"
#include "platform/library/openssl_library.h"

namespace brixa {

std::vector<std::pair<std::string, std::string>> OpenSSLLibraryNames() {
  static const std::pair<const char*, const char*> kReleases[] = {
      {"libcrypto-3-x64.dll", "libssl-3-x64.dll"},
      {"libcrypto-1_1-x64.dll", "libssl-1_1-x64.dll"},
  };
  // Never by bare name: Windows has no OpenSSL of its own, so a search would only ever find a
  // file someone placed on the search path (or in the folder the program was started from).
  // A program that wants OpenSSL ships it beside itself.
  const std::string own = ProgramDirectory();
  std::vector<std::pair<std::string, std::string>> names;
  if (own.empty()) return names;
  for (const auto& [crypto, ssl] : kReleases) names.emplace_back(own + crypto, own + ssl);
  return names;
}

}  // namespace brixa
