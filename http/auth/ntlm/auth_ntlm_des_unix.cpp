// No system DES on POSIX: NTLM needs libcrypto here.

#include "http/auth/ntlm/auth_ntlm_des.h"

namespace brixa {

// Here DES comes from libcrypto only.
bool PlatformDesAvailable() {
  return false;
}

bool PlatformDesEncrypt(const std::uint8_t* /*key8*/, const std::uint8_t* /*block*/,
                        std::uint8_t* /*out*/) {
  return false;
}

}  // namespace brixa
