#pragma once
// Schannel's status codes as text, and the failure both halves of the Schannel handler raise.

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "transport/tls/ssl_exceptions.h"

namespace brixa::schannel {

// Names of the status codes a handshake or a record meets, for messages a reader can act on.
struct StatusName {
  long status;
  const char* name;
};
inline constexpr StatusName kStatusNames[] = {
    {SEC_E_INVALID_TOKEN, "SEC_E_INVALID_TOKEN"},
    {SEC_E_INCOMPLETE_MESSAGE, "SEC_E_INCOMPLETE_MESSAGE"},
    {SEC_E_ILLEGAL_MESSAGE, "SEC_E_ILLEGAL_MESSAGE"},
    {SEC_E_ALGORITHM_MISMATCH, "SEC_E_ALGORITHM_MISMATCH"},
    {SEC_E_UNSUPPORTED_FUNCTION, "SEC_E_UNSUPPORTED_FUNCTION"},
    {SEC_E_INTERNAL_ERROR, "SEC_E_INTERNAL_ERROR"},
    {SEC_E_MESSAGE_ALTERED, "SEC_E_MESSAGE_ALTERED"},
    {SEC_E_DECRYPT_FAILURE, "SEC_E_DECRYPT_FAILURE"},
    {SEC_E_CERT_UNKNOWN, "SEC_E_CERT_UNKNOWN"},
    {SEC_E_WRONG_PRINCIPAL, "SEC_E_WRONG_PRINCIPAL"},
    {SEC_E_UNTRUSTED_ROOT, "SEC_E_UNTRUSTED_ROOT"},
    {SEC_E_CERT_EXPIRED, "SEC_E_CERT_EXPIRED"},
    {SEC_E_NO_CREDENTIALS, "SEC_E_NO_CREDENTIALS"},
    {SEC_E_CONTEXT_EXPIRED, "SEC_E_CONTEXT_EXPIRED"},
    {SEC_E_INVALID_HANDLE, "SEC_E_INVALID_HANDLE"},
    {SEC_E_TARGET_UNKNOWN, "SEC_E_TARGET_UNKNOWN"},
    {SEC_I_RENEGOTIATE, "SEC_I_RENEGOTIATE"},
    {SEC_I_CONTEXT_EXPIRED, "SEC_I_CONTEXT_EXPIRED"},
};

[[nodiscard]] inline std::string StatusText(long status) {
  std::array<char, 16> hex{};
  std::snprintf(hex.data(), hex.size(), "0x%08lX", static_cast<unsigned long>(status));
  std::string text = hex.data();
  for (const StatusName& known : kStatusNames) {
    if (known.status == status) return text + " (" + known.name + ")";
  }
  return text;
}

[[noreturn]] inline void Fail(const char* operation, const std::string& step, long status,
                              long verify = 0) {
  throw EIdSchannelError(std::string(operation) + "\n" + step + ": " + StatusText(status), status,
                         verify);
}

}  // namespace brixa::schannel
