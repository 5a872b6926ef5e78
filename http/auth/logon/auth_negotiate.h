#pragma once
// Answering Negotiate (and, on Windows, NTLM) challenges with the user's own logon through the
// system's security package: GSS-API and the Kerberos ticket cache on Linux, SSPI on Windows.

#include <memory>
#include <string>
#include <string_view>

#include "http/auth/authentication.h"
#include "http/auth/logon/security_context.h"
#include "runtime/text/bytes.h"

namespace brixa {

// The longest token text a challenge may carry. A Kerberos answer with a large group list stays
// well below 48 000 bytes (the largest token size Windows allows), which is 64 000 as base64.
inline constexpr std::size_t kMaxLogonTokenText = 64 * 1024;

// Reads a challenge line of `scheme` ("Negotiate <base64>" or the bare word). True with the
// decoded token (empty for the bare word) when the line is that scheme's and well formed; false
// for another scheme, text that is not base64, or a token over kMaxLogonTokenText.
[[nodiscard]] bool ReadLogonChallenge(std::string_view line, std::string_view scheme,
                                      TIdByteArray& token);

// A challenge answered by the system on behalf of the user. The exchange is bound to the
// connection; its legs are driven by the peer's tokens, and any leg may be the last (the peer's
// status decides). The stored user name, when not empty, selects given credentials instead of
// the logon where the system allows it (SSPI); GSS-API always answers with the ticket cache.
//
// These classes are not in the scheme registry: the logon is offered only to the peers a caller
// chose (TIdCustomHTTP::LogonForServer / LogonForProxy), never to any server that asks.
class TIdLogonAuthentication : public TIdAuthentication {
 public:
  TIdLogonAuthentication(TSecurityPackage package, std::string_view scheme);
  ~TIdLogonAuthentication() override;

  // A bare challenge (or step 0) starts a new exchange; a challenge with a token continues the
  // current one. naRetry once a token is ready to send, naFail when the system cannot answer,
  // the challenge is malformed, or the peer keeps the exchange going for too many legs.
  [[nodiscard]] TAuthNextAction Next() override;
  // Any leg sent may be the last (the peer's status decides); an exchange not started or given
  // up (step 0) is not finished, so the object and its ErrorText stay after a failure.
  [[nodiscard]] int StepCount() const override;
  void Restart() override;
  // The token of the current leg, once: later calls give "" until Next makes another.
  [[nodiscard]] std::string BuildAuthorization() override;
  [[nodiscard]] bool NeedsKeepAlive() const override { return true; }
  // A leg that answers the peer's token belongs to the connection that token came on.
  [[nodiscard]] bool NeedsSameConnection() const override { return Step() > 1; }

  // The peer's host name: the service principal is HTTP/host.
  void SetServiceHost(std::string host) { host_ = std::move(host); }
  [[nodiscard]] const std::string& ServiceHost() const noexcept { return host_; }
  // Why the last Next failed, in the system's words; empty after a success.
  [[nodiscard]] const std::string& ErrorText() const noexcept { return error_; }
  [[nodiscard]] TSecurityPackage Package() const noexcept { return package_; }

 private:
  [[nodiscard]] TSecurityIdentity Identity() const;
  [[nodiscard]] TAuthNextAction Fail(std::string why);

  TSecurityPackage package_;
  std::string_view scheme_;
  std::string host_;
  std::unique_ptr<TSecurityContext> context_;
  std::string pending_;
  std::string error_;
};

class TIdNegotiateAuthentication : public TIdLogonAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdNegotiateAuthentication";
  static constexpr int kRank = kAuthRankNegotiate;
  static constexpr bool kAnswersWithLogon = true;
  TIdNegotiateAuthentication() : TIdLogonAuthentication(TSecurityPackage::Negotiate, "Negotiate") {}
};

// NTLM computed by the system (Windows only; elsewhere it never becomes usable).
class TIdSSPINTLMAuthentication : public TIdLogonAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdSSPINTLMAuthentication";
  // Above the library's own NTLM: the system's answers with the logon, and with NTLMv2.
  static constexpr int kRank = kAuthRankNTLM + 1;
  static constexpr bool kAnswersWithLogon = true;
  TIdSSPINTLMAuthentication() : TIdLogonAuthentication(TSecurityPackage::NTLM, "NTLM") {}
};

// Negotiate answered by Kerberos alone: for a peer the logon may reach only through a ticket
// for its own service name, never through NTLM, whose answer anyone who asks can take away and
// crack or relay.
class TIdKerberosAuthentication : public TIdLogonAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdKerberosAuthentication";
  static constexpr int kRank = kAuthRankNegotiate;
  static constexpr bool kAnswersWithLogon = true;
  TIdKerberosAuthentication() : TIdLogonAuthentication(TSecurityPackage::Kerberos, "Negotiate") {}
};

// The logon scheme that answers the challenge word `word` ("Negotiate", and "NTLM" where the
// system has NTLM), or the empty class. With `kerberosOnly` only "Negotiate" has one, answered
// by Kerberos alone (TIdKerberosAuthentication).
[[nodiscard]] TIdAuthenticationClass LogonSchemeFor(std::string_view word,
                                                    bool kerberosOnly = false);

// `chosen` (the best of the other schemes, possibly empty), or the logon scheme of a higher rank
// among `challenges` that can answer now for `user` / `password` (the logon when `user` is
// empty). Asks the system only about the logon schemes the challenges name. `kerberosOnly` as
// for LogonSchemeFor.
[[nodiscard]] TIdAuthenticationClass PreferLogonScheme(TIdAuthenticationClass chosen,
                                                       const TIdHeaderList& challenges,
                                                       const std::string& user,
                                                       const std::string& password,
                                                       bool kerberosOnly = false);

// Whether the logon can answer `word` now: the system package loads and, for the logon, holds
// credentials. `user`/`password` as for TIdLogonAuthentication, `kerberosOnly` as for
// LogonSchemeFor. `why`, when given, receives the reason it cannot.
[[nodiscard]] bool LogonSchemeUsable(std::string_view word, const std::string& user,
                                     const std::string& password, std::string* why = nullptr,
                                     bool kerberosOnly = false);

}  // namespace brixa
