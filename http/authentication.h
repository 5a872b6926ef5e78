#pragma once
// TIdAuthentication, the base of the authentication schemes, and the process-wide registry of
// scheme names.

#include <memory>
#include <string>
#include <string_view>

#include "platform/component.h"
#include "runtime/network_exception.h"

namespace brixa {

class TIdHeaderList;
class TIdAuthentication;

// Raised by RegisterAuthScheme for a scheme name that is taken.
BRIXA_DECLARE_ID_EXCEPTION(EIdAlreadyRegisteredAuthenticationMethod, EIdException);
// Raised by the Digest scheme's Next for a hash algorithm it cannot compute.
BRIXA_DECLARE_ID_EXCEPTION(EIdInvalidAlgorithm, EIdException);

inline constexpr const char* RSHTTPAuthAlreadyRegistered =
    "This authentication method is already registered with class name %s.";
inline constexpr const char* RSHTTPUnsupportedAuthAlgorithm =
    "Unsupported hash algorithm. This implementation supports MD5, SHA-256 and SHA-512-256 "
    "encoding.";

// What the client does after asking a scheme object for its next step.
enum TAuthNextAction {
  naAskApplication = 0,  // ask the application for credentials (OnAuthorization), then ask again
  naRetry = 1,           // send the request again with BuildAuthorization's header
  naFail = 2             // give up
};

// A scheme "class": the class name it reports and the way to make an object of it. The empty
// value (no factory) stands for "none". Two values are equal when they make the same class.
class TIdAuthenticationClass {
 public:
  using TFactory = std::unique_ptr<TIdAuthentication> (*)();

  constexpr TIdAuthenticationClass() noexcept = default;
  constexpr TIdAuthenticationClass(std::string_view className, TFactory factory) noexcept
      : className_(className), factory_(factory) {}

  // The class of T, which must derive from TIdAuthentication, be default-constructible and
  // declare `static constexpr std::string_view kClassName`.
  template <class T>
  [[nodiscard]] static TIdAuthenticationClass Of() noexcept {
    return {T::kClassName, &MakeInstance<T>};
  }

  [[nodiscard]] std::string_view ClassName() const noexcept { return className_; }
  [[nodiscard]] bool Assigned() const noexcept { return factory_ != nullptr; }
  explicit operator bool() const noexcept { return Assigned(); }
  // A new object of the class; nullptr for the empty value.
  [[nodiscard]] std::unique_ptr<TIdAuthentication> Create() const;

  friend bool operator==(const TIdAuthenticationClass& a, const TIdAuthenticationClass& b) {
    return a.factory_ == b.factory_;
  }

 private:
  template <class T>
  static std::unique_ptr<TIdAuthentication> MakeInstance() {
    return std::make_unique<T>();
  }

  std::string_view className_;
  TFactory factory_ = nullptr;
};

// Base of the authentication schemes. An object keeps the user name and password, reads the
// server's challenge (AuthParams), tells the client what to do next and produces the value of the
// "Authorization" / "Proxy-Authorization" header for its current step.
//
// The user name and password live in Params under "Username" and "Password" and are kept byte for
// byte (no trimming, no folding). An object is used by one thread at a time.
class TIdAuthentication : public TPersistent {
 public:
  TIdAuthentication();
  ~TIdAuthentication() override;

  // Reads the challenge in AuthParams and decides the client's next move.
  [[nodiscard]] virtual TAuthNextAction Next() = 0;
  // The number of steps after which the exchange is complete (the client then discards it).
  [[nodiscard]] virtual int StepCount() const { return 0; }
  virtual void StorePassword(const std::string& password);
  virtual void StoreUsername(const std::string& username);
  virtual void Restart();
  // The header value for the current step; empty when nothing is to be sent.
  [[nodiscard]] virtual std::string BuildAuthorization() = 0;
  // Whether the connection must stay open between the steps.
  [[nodiscard]] virtual bool NeedsKeepAlive() const { return false; }

  [[nodiscard]] int Step() const noexcept { return step_; }
  void SetStep(int step) noexcept { step_ = step; }
  // "Username", "Password" and, for Basic, the items of the challenge.
  [[nodiscard]] TIdHeaderList& Params() noexcept { return *params_; }
  [[nodiscard]] const TIdHeaderList& Params() const noexcept { return *params_; }
  // The challenge values received, one per line, scheme word included.
  [[nodiscard]] TIdHeaderList& AuthParams() noexcept { return *authParams_; }
  [[nodiscard]] const TIdHeaderList& AuthParams() const noexcept { return *authParams_; }
  // Replaces AuthParams by a copy of `values` (the challenge lines of a response).
  void SetAuthParams(const TIdHeaderList& values);
  [[nodiscard]] const std::string& Realm() const noexcept { return realm_; }
  void SetRealm(std::string realm) { realm_ = std::move(realm); }

  // The stored credentials, exactly as given to StoreUsername / StorePassword.
  [[nodiscard]] std::string Username() const;
  [[nodiscard]] std::string Password() const;

  // The first AuthParams line whose first word is `scheme` (ignoring case); empty when none.
  [[nodiscard]] std::string AuthParamStartingWith(std::string_view scheme) const;

 private:
  int step_ = 0;
  std::unique_ptr<TIdHeaderList> params_;
  std::unique_ptr<TIdHeaderList> authParams_;
  std::string realm_;
};

// The process-wide scheme registry, keyed by the scheme word of a challenge ("Basic"), names
// compared without regard to case. "Basic", "Digest" and "NTLM" are present before the first call
// returns; the registry is safe to use from several threads.

// Adds `name`; raises EIdAlreadyRegisteredAuthenticationMethod (with the class name of `cls`)
// when the name is taken.
void RegisterAuthScheme(std::string_view name, TIdAuthenticationClass cls);
// Removes `name` when present.
void UnregisterAuthScheme(std::string_view name);
// The class registered for `name`, or the empty value.
[[nodiscard]] TIdAuthenticationClass FindAuthScheme(std::string_view name);

}  // namespace brixa
