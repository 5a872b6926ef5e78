#pragma once
// The system's verdict on a program file's code signature, and the signer of a PKCS#7
// signature block.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

enum class TCodeSignatureState {
  csSigned,       // the signature verifies; SignerCertificate is its signer's
  csUnsigned,     // the file carries no signature the system knows
  csInvalid,      // a signature that does not verify: bytes changed, untrusted, malformed
  csNotSupported  // this system does not check code signatures
};

struct TCodeSignature {
  TCodeSignatureState State = TCodeSignatureState::csNotSupported;
  unsigned long Status = 0;       // the system's own answer (an HRESULT on Windows)
  std::string SignerCertificate;  // DER, when csSigned
};

// Checks the Authenticode signature of the program file open as `handle` (a HANDLE with read
// access), reading it through that handle only: nothing is opened again by name, so the file
// checked is the file the handle holds. `fileName` names it for the system's records.
// Windows: WinVerifyTrust (wintrust.dll from the system folder) with the generic verify action,
// no user interface, no revocation check and no network fetch (cache only); the primary
// signer's certificate is taken from the provider's state. Windows insists on a chain to a
// trusted root; Wine does not. POSIX: csNotSupported (programs there carry no Authenticode
// signature).
[[nodiscard]] TCodeSignature VerifyCodeSignature(std::intptr_t handle, const std::string& fileName);

// The DER certificate of the one signer of the PKCS#7 SignedData `der`, found among the
// certificates it carries by the signer's issuer and serial number, without verifying anything.
// nullopt when `der` is not such a structure, has no or several signers, or does not carry
// the signer's certificate. Raises ESignatureError when the platform's crypto (libcrypto on
// POSIX, crypt32 on Windows) cannot be used.
[[nodiscard]] std::optional<std::string> SignedDataSignerCertificate(std::string_view der);

}  // namespace brixa
