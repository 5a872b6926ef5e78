// The OpenSSL file names tried on POSIX: versioned sonames, newest release first.

#include "platform/library/openssl_library.h"

namespace brixa {

std::vector<std::pair<std::string, std::string>> OpenSSLLibraryNames() {
  // Sonames only: the unversioned names exist only where development files are installed,
  // and could name a release whose structures these prototypes were not written for.
  return {{"libcrypto.so.3", "libssl.so.3"}, {"libcrypto.so.1.1", "libssl.so.1.1"}};
}

}  // namespace brixa
