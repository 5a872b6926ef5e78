#pragma once
// The system's own authentication packages (GSS-API on Linux, SSPI on Windows) as a client-side
// token exchange: the user's logon answers a peer's Negotiate or NTLM challenge without a password
// stored anywhere in this program.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brixa {

// The package a context speaks. Negotiate is SPNEGO (Kerberos, and NTLM where the system offers
// it); NTLM is the system's NTLM, which only SSPI has; Kerberos is the Kerberos mechanism alone
// (SSPI's Kerberos package, GSS-API's krb5 mechanism), which can never fall back to NTLM. Its
// tokens go in a "Negotiate" header, as RFC 4559 allows.
enum class TSecurityPackage { Negotiate, NTLM, Kerberos };

// Whose credentials answer: the logon's (User empty) or the ones given here. Only SSPI can use
// given ones; GSS-API always uses the user's ticket cache.
struct TSecurityIdentity {
  std::string User;  // "DOMAIN\user", "user@REALM" or a bare user name
  std::string Password;
};

using TSecurityToken = std::vector<std::uint8_t>;

// One step of the exchange: the token to send (possibly empty) and whether the system expects
// another token from the peer.
enum class TSecurityStatus { Continue, Complete, Failed };

// One client-side security context for one peer. Tokens go in as the peer sent them and come out
// ready to be sent; the context is freed with the object. Used by one thread at a time.
class TSecurityContext {
 public:
  virtual ~TSecurityContext() = default;
  TSecurityContext(const TSecurityContext&) = delete;
  TSecurityContext& operator=(const TSecurityContext&) = delete;

  // The first call takes an empty `input`. On Failed, `output` is empty and ErrorText says why.
  [[nodiscard]] virtual TSecurityStatus Step(const TSecurityToken& input,
                                             TSecurityToken& output) = 0;
  [[nodiscard]] const std::string& ErrorText() const noexcept { return errorText_; }

 protected:
  TSecurityContext() = default;
  void SetErrorText(std::string text) { errorText_ = std::move(text); }

 private:
  std::string errorText_;
};

// Whether `package` can answer for `identity` here: the system library loads, has the package,
// and (for the logon) the user holds usable credentials, such as an unexpired Kerberos ticket.
// Loads the system library on first use and keeps it for the life of the process. On false,
// `why` says what is missing.
[[nodiscard]] bool SecurityPackageUsable(TSecurityPackage package,
                                         const TSecurityIdentity& identity, std::string& why);

// A context for the HTTP service on `host` (the Kerberos principal HTTP/host). Null when the
// package cannot be used; `why` then says why.
[[nodiscard]] std::unique_ptr<TSecurityContext> NewSecurityContext(
    TSecurityPackage package, const std::string& host, const TSecurityIdentity& identity,
    std::string& why);

}  // namespace brixa
