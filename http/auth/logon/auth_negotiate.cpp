// The Negotiate / system NTLM exchange: reading the peer's token, driving the system's context
// leg by leg, and writing the answer.

#include "http/auth/logon/auth_negotiate.h"

#include <utility>

#include "http/message/header_list.h"
#include "runtime/codec/mime_coder.h"
#include "runtime/text/text.h"

namespace brixa {
namespace {

// Legs one exchange may take. Kerberos needs one, NTLM inside Negotiate two; a peer that keeps
// sending tokens beyond this is not authenticating.
constexpr int kMaxLegs = 6;

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Whole groups of four, the alphabet only, at most two "=" at the very end.
bool IsStrictBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  std::size_t end = text.size();
  for (int fill = 0; fill < 2 && end > 0 && text[end - 1] == '='; ++fill) --end;
  for (std::size_t i = 0; i < end; ++i) {
    if (!IsBase64Char(text[i])) return false;
  }
  return true;
}

}  // namespace

bool ReadLogonChallenge(std::string_view line, std::string_view scheme, TIdByteArray& token) {
  token.clear();
  if (!StartsWithNoCase(line, scheme)) return false;
  const std::string_view rest = line.substr(scheme.size());
  if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') return false;
  const std::string text = Trim(rest);
  if (text.size() > kMaxLogonTokenText || !IsStrictBase64(text)) return false;
  token = TIdDecoderMIME::DecodeBytes(text);
  return true;
}

TIdLogonAuthentication::TIdLogonAuthentication(TSecurityPackage package, std::string_view scheme)
    : package_(package), scheme_(scheme) {}

TIdLogonAuthentication::~TIdLogonAuthentication() = default;

TSecurityIdentity TIdLogonAuthentication::Identity() const {
  return {Username(), Password()};
}

TAuthNextAction TIdLogonAuthentication::Fail(std::string why) {
  error_ = std::move(why);
  context_.reset();
  pending_.clear();
  TIdAuthentication::Restart();
  return naFail;
}

TAuthNextAction TIdLogonAuthentication::Next() {
  TIdByteArray token;
  if (!ReadLogonChallenge(AuthParamStartingWith(scheme_), scheme_, token)) {
    return Fail(std::string(scheme_) + ": no well-formed challenge");
  }
  // A bare challenge after a leg is a new exchange (the next request on the connection) or the
  // refusal of the last one: either way a new context is the only answer, and the client's
  // retry limit ends a refusal.
  if (Step() == 0 || token.empty()) {
    if (host_.empty()) return Fail("no host to authenticate to");
    std::string why;
    context_ = NewSecurityContext(package_, host_, Identity(), why);
    if (!context_) return Fail(why);
    SetStep(0);
    token.clear();
  } else if (!context_ || Step() >= kMaxLegs) {
    return Fail(std::string(scheme_) + ": the peer continued an exchange that is over");
  }
  TSecurityToken output;
  if (context_->Step(token, output) == TSecurityStatus::Failed) return Fail(context_->ErrorText());
  if (output.empty()) return Fail(std::string(scheme_) + ": the system has nothing to send");
  pending_ = std::string(scheme_) + " " + TIdEncoderMIME::EncodeBytes(output);
  error_.clear();
  SetStep(Step() + 1);
  return naRetry;
}

int TIdLogonAuthentication::StepCount() const {
  return Step() == 0 ? kMaxLegs : Step();
}

void TIdLogonAuthentication::Restart() {
  context_.reset();
  pending_.clear();
  TIdAuthentication::Restart();
}

std::string TIdLogonAuthentication::BuildAuthorization() {
  return std::exchange(pending_, std::string());
}

TIdAuthenticationClass LogonSchemeFor(std::string_view word, bool kerberosOnly) {
  if (SameTextNoCase(word, "Negotiate")) {
    return kerberosOnly ? TIdAuthenticationClass::Of<TIdKerberosAuthentication>()
                        : TIdAuthenticationClass::Of<TIdNegotiateAuthentication>();
  }
  if (SameTextNoCase(word, "NTLM") && !kerberosOnly) {
    return TIdAuthenticationClass::Of<TIdSSPINTLMAuthentication>();
  }
  return {};
}

TIdAuthenticationClass PreferLogonScheme(TIdAuthenticationClass chosen,
                                         const TIdHeaderList& challenges, const std::string& user,
                                         const std::string& password, bool kerberosOnly) {
  for (const std::string& line : challenges.Lines()) {
    const std::string word = line.substr(0, line.find(' '));
    const TIdAuthenticationClass logon = LogonSchemeFor(word, kerberosOnly);
    if (!logon || (chosen && logon.Rank() <= chosen.Rank())) continue;
    if (LogonSchemeUsable(word, user, password, nullptr, kerberosOnly)) chosen = logon;
  }
  return chosen;
}

bool LogonSchemeUsable(std::string_view word, const std::string& user, const std::string& password,
                       std::string* why, bool kerberosOnly) {
  TSecurityPackage package = TSecurityPackage::Negotiate;
  if (kerberosOnly) {
    package = TSecurityPackage::Kerberos;
  } else if (SameTextNoCase(word, "NTLM")) {
    package = TSecurityPackage::NTLM;
  }
  std::string reason;
  const bool usable = LogonSchemeFor(word, kerberosOnly) &&
                      SecurityPackageUsable(package, {user, password}, reason);
  if (why != nullptr) *why = reason;
  return usable;
}

}  // namespace brixa
