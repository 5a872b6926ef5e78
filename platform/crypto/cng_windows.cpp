// PEM decoding through crypt32 and hashing through bcrypt, for the signature units.

#include "platform/crypto/cng_windows.h"

#include <wincrypt.h>

#include "platform/crypto/signature.h"

namespace brixa {

std::vector<BYTE> CngPemToDer(std::string_view pem) {
  DWORD size = 0;
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
    throw ESignatureError("the key is not in PEM form");
  }
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr)) {
    throw ESignatureError("the key is not in PEM form");
  }
  der.resize(size);
  return der;
}

void CngHashData(BCRYPT_HASH_HANDLE hash, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (size > 0) {
    const ULONG piece = size > MAXDWORD ? MAXDWORD : static_cast<ULONG>(size);
    if (!CngSucceeded(::BCryptHashData(hash, const_cast<PUCHAR>(bytes), piece, 0))) {
      throw ESignatureError("SHA-256 failed");
    }
    bytes += piece;
    size -= piece;
  }
}

}  // namespace brixa
