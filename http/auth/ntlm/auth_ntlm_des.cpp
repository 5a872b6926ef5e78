// The DES behind the NTLM version 1 responses: the platform's own when it has one (Windows CNG),
// else libcrypto.

#include "http/auth/ntlm/auth_ntlm_des.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/library/openssl_library.h"

namespace brixa {

namespace {

// libcrypto's legacy DES interface, with prototypes of our own: a block is 8 bytes, and the
// key schedule 16 rounds of two 32-bit words.
using DES_cblock = unsigned char[8];
struct DES_key_schedule {
  alignas(8) unsigned char ks[16 * 8];
};
constexpr int DES_ENCRYPT = 1;

using TDESSetOddParity = void (*)(DES_cblock*);
using TDESSetKey = int (*)(const DES_cblock*, DES_key_schedule*);
using TDESEcbEncrypt = void (*)(const DES_cblock*, DES_cblock*, DES_key_schedule*, int);

struct TOpenSSLDes {
  TDESSetOddParity SetOddParity = nullptr;
  TDESSetKey SetKey = nullptr;
  TDESEcbEncrypt EcbEncrypt = nullptr;
  [[nodiscard]] bool Complete() const { return SetOddParity && SetKey && EcbEncrypt; }
};

// Bound once libcrypto is there; a failed attempt is repeated on the next call, as the loader
// does, so a library installed meanwhile is found.
TOpenSSLDes OpenSSLDes() {
  static TOpenSSLDes bound;
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  if (!bound.Complete() && LoadOpenSSL()) {
    bound.SetOddParity =
        OpenSSLFunction<TDESSetOddParity>(TOpenSSLModule::omCrypto, "DES_set_odd_parity");
    bound.SetKey = OpenSSLFunction<TDESSetKey>(TOpenSSLModule::omCrypto, "DES_set_key");
    bound.EcbEncrypt = OpenSSLFunction<TDESEcbEncrypt>(TOpenSSLModule::omCrypto, "DES_ecb_encrypt");
  }
  return bound;
}

}  // namespace

void NTLMSpreadDesKey(const std::uint8_t* key7, std::uint8_t* key8) {
  key8[0] = key7[0];
  key8[1] = static_cast<std::uint8_t>((key7[0] << 7) | (key7[1] >> 1));
  key8[2] = static_cast<std::uint8_t>((key7[1] << 6) | (key7[2] >> 2));
  key8[3] = static_cast<std::uint8_t>((key7[2] << 5) | (key7[3] >> 3));
  key8[4] = static_cast<std::uint8_t>((key7[3] << 4) | (key7[4] >> 4));
  key8[5] = static_cast<std::uint8_t>((key7[4] << 3) | (key7[5] >> 5));
  key8[6] = static_cast<std::uint8_t>((key7[5] << 2) | (key7[6] >> 6));
  key8[7] = static_cast<std::uint8_t>(key7[6] << 1);
}

void RaiseNTLMDesUnavailable() {
  throw EIdNTLMDesUnavailable(RSOSSLCouldNotLoadSSLLibrary);
}

// The system's DES comes first: where it exists, no library beside the program is ever loaded
// for NTLM.
bool NTLMDesAvailable() {
  return PlatformDesAvailable() || OpenSSLDes().Complete();
}

bool NTLMDesEncrypt(const std::uint8_t* key7, const std::uint8_t* block, std::uint8_t* out) {
  DES_cblock key;
  NTLMSpreadDesKey(key7, key);
  if (PlatformDesAvailable()) return PlatformDesEncrypt(key, block, out);
  const TOpenSSLDes des = OpenSSLDes();
  if (!des.Complete()) return false;
  des.SetOddParity(&key);
  DES_key_schedule schedule{};
  des.SetKey(&key, &schedule);
  DES_cblock in;
  DES_cblock result;
  std::memcpy(in, block, 8);
  des.EcbEncrypt(&in, &result, &schedule, DES_ENCRYPT);
  std::memcpy(out, result, 8);
  return true;
}

}  // namespace brixa
