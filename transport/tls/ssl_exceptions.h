#pragma once
// The TLS exceptions of both handlers, with the status and verification codes each carries.

#include <string>
#include <utility>

#include "runtime/network_exception.h"

namespace brixa {

// Every TLS failure. The HTTP client closes the connection on any of them while connecting.
BRIXA_DECLARE_ID_EXCEPTION(EIdSSLProtocolReplyError, EIdException);

// Failures of the system TLS handler (Schannel). Status is the SSPI or certificate call's
// status code (0 when none failed); VerifyResult is nonzero when the peer's certificate or name
// was refused (the certificate call's error, or the trust status bits).
class EIdSchannelError : public EIdSSLProtocolReplyError {
 public:
  explicit EIdSchannelError(std::string message, long status = 0, long verifyResult = 0)
      : EIdSSLProtocolReplyError(std::move(message)),
        status_(status),
        verifyResult_(verifyResult) {}
  [[nodiscard]] long Status() const noexcept { return status_; }
  [[nodiscard]] long VerifyResult() const noexcept { return verifyResult_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdSchannelError"; }

 private:
  long status_;
  long verifyResult_;
};

// Failures of the OpenSSL handler. Those raised around an OpenSSL call carry what OpenSSL said:
// SSLErrorCode is SSL_get_error's answer (0 when none was asked), ReturnCode the call's result,
// and VerifyResult the certificate check's verdict (X509_V_OK, 0, when the chain and the name
// were accepted or not yet checked).
class EIdOpenSSLError : public EIdSSLProtocolReplyError {
 public:
  explicit EIdOpenSSLError(std::string message, int sslErrorCode = 0, int returnCode = 0,
                           long verifyResult = 0)
      : EIdSSLProtocolReplyError(std::move(message)),
        sslErrorCode_(sslErrorCode),
        returnCode_(returnCode),
        verifyResult_(verifyResult) {}
  [[nodiscard]] int SSLErrorCode() const noexcept { return sslErrorCode_; }
  [[nodiscard]] int ReturnCode() const noexcept { return returnCode_; }
  [[nodiscard]] long VerifyResult() const noexcept { return verifyResult_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdOpenSSLError"; }

 private:
  int sslErrorCode_;
  int returnCode_;
  long verifyResult_;
};

// An OpenSSL call that failed as a call (SSL_get_error's family).
BRIXA_DECLARE_EXCEPTION(EIdOpenSSLAPISSLError, EIdOpenSSLError);
// A failure OpenSSL queued in its error queue.
BRIXA_DECLARE_EXCEPTION(EIdOpenSSLAPICryptoError, EIdOpenSSLError);

BRIXA_DECLARE_EXCEPTION(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLModeNotSet, EIdOpenSSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLGetMethodError, EIdOpenSSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLCreatingContextError, EIdOpenSSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLLoadingRootCertError, EIdOpenSSLAPICryptoError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLLoadingCertError, EIdOpenSSLAPICryptoError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLLoadingKeyError, EIdOpenSSLAPICryptoError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLDataBindingError, EIdOpenSSLAPISSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLFDSetError, EIdOpenSSLAPISSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLConnectError, EIdOpenSSLAPISSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLAcceptError, EIdOpenSSLAPISSLError);
BRIXA_DECLARE_EXCEPTION(EIdOSSLUnderlyingCryptoError, EIdOpenSSLAPICryptoError);

inline constexpr const char* RSOSSLCouldNotLoadSSLLibrary = "Could not load SSL library.";
inline constexpr const char* RSOSSLModeNotSet = "Mode has not been set.";
inline constexpr const char* RSOSSLGetMethodError = "Error geting SSL method.";
inline constexpr const char* RSOSSLCreatingContextError = "Error creating SSL context.";
inline constexpr const char* RSOSSLLoadingRootCertError = "Could not load root certificate.";
inline constexpr const char* RSOSSLLoadingCertError = "Could not load certificate.";
inline constexpr const char* RSOSSLLoadingKeyError = "Could not load key, check password.";
inline constexpr const char* RSOSSLSettingCipherError = "SetCipher failed.";
inline constexpr const char* RSOSSLDataBindingError = "Error binding data to SSL socket.";
inline constexpr const char* RSOSSLFDSetError = "Error setting File Descriptor for SSL";
inline constexpr const char* RSOSSLConnectError = "Error connecting with SSL.";
inline constexpr const char* RSOSSLAcceptError = "Error accepting connection with SSL.";
inline constexpr const char* RSSSLEOFViolation = "EOF was observed that violates the protocol";
// Reads and writes over an established connection.
inline constexpr const char* RSOSSLReadError = "Error reading with SSL.";
inline constexpr const char* RSOSSLWriteError = "Error writing with SSL.";

}  // namespace brixa
