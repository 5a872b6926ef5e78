// The scheme registry (Basic, Digest and NTLM built in) and the credential handling every scheme
// shares.

#include "http/auth/authentication.h"

#include <mutex>
#include <vector>

#include "http/auth/auth_basic.h"
#include "http/auth/auth_digest.h"
#include "http/auth/ntlm/auth_ntlm.h"
#include "http/message/header_list.h"
#include "runtime/text/format_invariant.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr std::string_view kUsernameParam = "Username";
constexpr std::string_view kPasswordParam = "Password";

// The value of the first line named `name`, untrimmed: credentials may begin or end with blanks
// and must come back exactly as stored. A line in another shape (added raw) reads as LineValue.
[[nodiscard]] std::string RawParam(const TIdHeaderList& list, std::string_view name) {
  const int index = list.FindHeader(name);
  if (index < 0) return {};
  const std::string& line = list.Strings(index);
  const std::string prefix = list.LineName(index) + list.Separator();
  if (line.starts_with(prefix)) return line.substr(prefix.size());
  return list.LineValue(index);
}

struct TSchemeEntry {
  std::string Name;
  TIdAuthenticationClass Class;
};

// The process-wide registry. Made on first use with the built-in schemes already in it: a lookup
// therefore always sees them, and no static-initialisation order or linker dropping an unused
// object file can lose them.
class TSchemeRegistry {
 public:
  TSchemeRegistry() {
    entries_.push_back({"Basic", TIdAuthenticationClass::Of<TIdBasicAuthentication>()});
    entries_.push_back({"Digest", TIdAuthenticationClass::Of<TIdDigestAuthentication>()});
    entries_.push_back({"NTLM", TIdAuthenticationClass::Of<TIdNTLMAuthentication>()});
  }

  // At exit: NTLM's class lives in the same image, but its DES comes from a library that is
  // being unloaded, so nothing may find it any more.
  ~TSchemeRegistry() { Unregister("NTLM"); }

  void Register(std::string_view name, TIdAuthenticationClass cls) {
    const std::lock_guard lock(mutex_);
    if (Find(name) != entries_.end()) {
      throw EIdAlreadyRegisteredAuthenticationMethod(
          FormatInvariant(RSHTTPAuthAlreadyRegistered, cls.ClassName()));
    }
    for (const TSchemeEntry& entry : entries_) {
      if (entry.Class.Rank() == cls.Rank() && !(entry.Class == cls)) {
        throw EIdAuthenticationRankTaken(FormatInvariant(RSHTTPAuthRankTaken, cls.Rank(),
                                                         cls.ClassName(), entry.Class.ClassName()));
      }
    }
    entries_.push_back({std::string(name), cls});
  }

  void Unregister(std::string_view name) {
    const std::lock_guard lock(mutex_);
    const auto it = Find(name);
    if (it != entries_.end()) entries_.erase(it);
  }

  [[nodiscard]] TIdAuthenticationClass Lookup(std::string_view name) {
    const std::lock_guard lock(mutex_);
    const auto it = Find(name);
    return it == entries_.end() ? TIdAuthenticationClass() : it->Class;
  }

 private:
  [[nodiscard]] std::vector<TSchemeEntry>::iterator Find(std::string_view name) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (SameTextNoCase(it->Name, name)) return it;
    }
    return entries_.end();
  }

  std::mutex mutex_;
  std::vector<TSchemeEntry> entries_;  // unsorted, in registration order
};

TSchemeRegistry& Registry() {
  static TSchemeRegistry registry;
  return registry;
}

}  // namespace

int TIdAuthenticationClass::ChallengeStrength(std::string_view challenge) const {
  if (factory_ == nullptr) return 0;
  return strength_ == nullptr ? 1 : strength_(challenge);
}

std::unique_ptr<TIdAuthentication> TIdAuthenticationClass::Create() const {
  if (factory_ == nullptr) return nullptr;
  std::unique_ptr<TIdAuthentication> made = factory_();
  made->answersWithLogon_ = answersWithLogon_;
  return made;
}

TIdAuthentication::TIdAuthentication()
    : params_(std::make_unique<TIdHeaderList>()), authParams_(std::make_unique<TIdHeaderList>()) {
  // Parameters are stored, never sent: folding would split a long password.
  params_->SetBreakLongLines(false);
  authParams_->SetBreakLongLines(false);
}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::StorePassword(const std::string& password) {
  params_->SetHeaderValue(kPasswordParam, password);
}

void TIdAuthentication::StoreUsername(const std::string& username) {
  params_->SetHeaderValue(kUsernameParam, username);
}

void TIdAuthentication::Restart() {
  step_ = 0;
}

void TIdAuthentication::SetAuthParams(const TIdHeaderList& values) {
  authParams_->AssignLines(values);
}

std::string TIdAuthentication::Username() const {
  return RawParam(*params_, kUsernameParam);
}

std::string TIdAuthentication::Password() const {
  return RawParam(*params_, kPasswordParam);
}

std::string TIdAuthentication::AuthParamStartingWith(std::string_view scheme) const {
  for (const std::string& line : authParams_->Lines()) {
    if (!StartsWithNoCase(line, scheme)) continue;
    // The whole first word: "Basic" does not pick a "BasicPlus" challenge.
    if (line.size() == scheme.size() || line[scheme.size()] == ' ' || line[scheme.size()] == '\t') {
      return line;
    }
  }
  return {};
}

void RegisterAuthScheme(std::string_view name, TIdAuthenticationClass cls) {
  Registry().Register(name, cls);
}

void UnregisterAuthScheme(std::string_view name) {
  Registry().Unregister(name);
}

TIdAuthenticationClass FindAuthScheme(std::string_view name) {
  return Registry().Lookup(name);
}

TIdAuthenticationClass ChooseAuthScheme(const TIdHeaderList& challenges, bool haveCredentials) {
  TIdAuthenticationClass best;
  TIdAuthenticationClass lastResort;
  int bestRank = 0;
  int bestStrength = 0;
  for (const std::string& line : challenges.Lines()) {
    std::string rest = line;
    const TIdAuthenticationClass found = FindAuthScheme(TakeUpTo(rest, " "));
    if (!found || (!haveCredentials && !found.AnswersWithLogon())) continue;
    if (best && found.Rank() < bestRank) continue;  // no need to look closer
    const int strength = found.ChallengeStrength(line);
    if (strength < 0 && !lastResort) lastResort = found;
    if (strength <= 0) continue;
    if (!best || found.Rank() > bestRank || strength > bestStrength) {
      best = found;
      bestRank = found.Rank();
      bestStrength = strength;
    }
  }
  return best ? best : lastResort;
}

}  // namespace brixa
