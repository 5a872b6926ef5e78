// The OpenSSL DLL names tried on Windows: beside the program first, then on the search path.

#include "platform/dynamic_library.h"
#include "platform/openssl_library.h"

namespace brixa {

std::vector<std::pair<std::string, std::string>> OpenSSLLibraryNames() {
  static const std::pair<const char*, const char*> kReleases[] = {
      {"libcrypto-3-x64.dll", "libssl-3-x64.dll"},
      {"libcrypto-1_1-x64.dll", "libssl-1_1-x64.dll"},
  };
  // The copy shipped beside the program wins over whatever the search path holds; the bare
  // name then finds one installed for the whole system.
  const std::string own = ProgramDirectory();
  std::vector<std::pair<std::string, std::string>> names;
  for (const auto& [crypto, ssl] : kReleases) {
    if (!own.empty()) names.emplace_back(own + crypto, own + ssl);
    names.emplace_back(crypto, ssl);
  }
  return names;
}

}  // namespace brixa
