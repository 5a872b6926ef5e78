#pragma once
// TIdAuthentication, the base of the authentication schemes, and the process-wide registry of
// scheme names.

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/component.h"
#include "runtime/network_exception.h"

namespace brixa {

class TIdHeaderList;
class TIdAuthentication;

// Raised by RegisterAuthScheme for a scheme name that is taken.
BRIXA_DECLARE_ID_EXCEPTION(EIdAlreadyRegisteredAuthenticationMethod, EIdException);
// Raised by RegisterAuthScheme for a class whose rank another registered class has.
BRIXA_DECLARE_ID_EXCEPTION(EIdAuthenticationRankTaken, EIdException);
// Raised by the Digest scheme's Next for a hash algorithm it cannot compute.
BRIXA_DECLARE_ID_EXCEPTION(EIdInvalidAlgorithm, EIdException);

inline constexpr const char* RSHTTPAuthAlreadyRegistered =
    "This authentication method is already registered with class name %s.";
inline constexpr const char* RSHTTPAuthRankTaken =
    "The authentication rank %d of class %s is already taken by class %s.";
inline constexpr const char* RSHTTPUnsupportedAuthAlgorithm =
    "Unsupported hash algorithm. This implementation supports MD5, SHA-256 and SHA-512-256 "
    "encoding.";

// What the client does after asking a scheme object for its next step.
enum TAuthNextAction {
  naAskApplication = 0,  // ask the application for credentials (OnAuthorization), then ask again
  naRetry = 1,           // send the request again with BuildAuthorization's header
  naFail = 2             // give up
};

// The rank of each built-in scheme. Of the challenges a client can answer, the one whose scheme
// ranks highest is answered: the more a scheme protects the credentials, the higher it ranks.
// Basic sends the password itself; Digest a hash of it; NTLM a challenge-response bound to the
// connection; Negotiate hands the exchange to the system's own security package (Kerberos where
// it can). No two registered classes share a rank, so adding a scheme never leaves the choice to
// the order of the server's header lines.
inline constexpr int kAuthRankBasic = 100;
inline constexpr int kAuthRankDigest = 200;
inline constexpr int kAuthRankNTLM = 300;
inline constexpr int kAuthRankNegotiate = 400;

// The request an answer goes with, as the request line and the "Host" line carry it. A scheme
// that signs its request (Digest) or names its target (Negotiate's service) reads it here; the
// client gives it to the server's and the proxy's scheme alike, before each header is built.
struct TIdAuthRequest {
  std::string Method;  // "GET", "CONNECT", ...
  // The request-target exactly as in the request line: "/path?q" to an origin server, the
  // absolute URL through a proxy, "host:port" for CONNECT.
  std::string Target;
  std::string Host;  // the "Host" value: the origin's host, ":port" unless the default
};

// A scheme "class": the class name it reports, the way to make an object of it, its rank, and
// how well it can answer a given challenge line. The empty value (no factory) stands for "none".
// Two values are equal when they make the same class.
//
// A scheme class T provides:
//   static constexpr std::string_view kClassName;   the name reported
//   static constexpr int kRank;                     unique among registered classes (kAuthRank*)
// and may provide:
//   static int ChallengeStrength(std::string_view line);
//       How well an object would answer this challenge line (scheme word included): 0 when it
//       cannot answer it at all, below 0 when it is known but cannot work in this process (it
//       is then taken only when nothing else can be answered, so that its constructor can say
//       why), otherwise higher for a stronger answer within the scheme (Digest's algorithms).
//       Without it every line of the scheme counts as 1.
//   static constexpr bool kAnswersWithLogon;
//       true when an object can answer with the logged-on user's own credentials, none stored.
//       Only such a scheme is considered when the client has no credentials to offer; every
//       other one is then not even ranked, so that nothing is loaded for a scheme that could
//       not answer. Objects made by Create report it (AnswersWithLogon). Without it: false.
class TIdAuthenticationClass {
 public:
  using TFactory = std::unique_ptr<TIdAuthentication> (*)();
  using TStrength = int (*)(std::string_view challenge);

  constexpr TIdAuthenticationClass() noexcept = default;
  constexpr TIdAuthenticationClass(std::string_view className, TFactory factory, int rank,
                                   TStrength strength = nullptr,
                                   bool answersWithLogon = false) noexcept
      : className_(className),
        factory_(factory),
        strength_(strength),
        rank_(rank),
        answersWithLogon_(answersWithLogon) {}

  // The class of T, which must derive from TIdAuthentication, be default-constructible and
  // declare the members above.
  template <class T>
  [[nodiscard]] static TIdAuthenticationClass Of() noexcept {
    TStrength strength = nullptr;
    if constexpr (requires(std::string_view line) { T::ChallengeStrength(line); }) {
      strength = &T::ChallengeStrength;
    }
    bool logon = false;
    if constexpr (requires { T::kAnswersWithLogon; }) logon = T::kAnswersWithLogon;
    return {T::kClassName, &MakeInstance<T>, T::kRank, strength, logon};
  }

  [[nodiscard]] std::string_view ClassName() const noexcept { return className_; }
  [[nodiscard]] bool Assigned() const noexcept { return factory_ != nullptr; }
  explicit operator bool() const noexcept { return Assigned(); }
  [[nodiscard]] int Rank() const noexcept { return rank_; }
  [[nodiscard]] bool AnswersWithLogon() const noexcept { return answersWithLogon_; }
  // T::ChallengeStrength(challenge), or 1 for a class without one; 0 for the empty value.
  [[nodiscard]] int ChallengeStrength(std::string_view challenge) const;
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
  TStrength strength_ = nullptr;
  int rank_ = 0;
  bool answersWithLogon_ = false;
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
  // Whether the next header answers a challenge that only the connection it came on can take:
  // a middle leg of a connection-bound exchange (NTLM's type-3 after the server's type-2). When
  // the peer closed that connection, the exchange can only start over.
  [[nodiscard]] virtual bool NeedsSameConnection() const { return false; }
  // The request the next header goes with; the client sets it before every BuildAuthorization,
  // for a server's scheme and a proxy's alike.
  virtual void SetRequest(const TIdAuthRequest& request) { request_ = request; }
  [[nodiscard]] const TIdAuthRequest& Request() const noexcept { return request_; }
  // Whether the object answers with the logged-on user's own credentials (its class declares
  // kAnswersWithLogon); set by TIdAuthenticationClass::Create.
  [[nodiscard]] bool AnswersWithLogon() const noexcept { return answersWithLogon_; }
  // All steps done (Step equals StepCount): the client settles the object when the connection
  // closes.
  [[nodiscard]] bool Completed() const { return step_ == StepCount(); }

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
  friend class TIdAuthenticationClass;

  int step_ = 0;
  bool answersWithLogon_ = false;
  TIdAuthRequest request_;
  std::unique_ptr<TIdHeaderList> params_;
  std::unique_ptr<TIdHeaderList> authParams_;
  std::string realm_;
};

// The process-wide scheme registry, keyed by the scheme word of a challenge ("Basic"), names
// compared without regard to case. "Basic", "Digest" and "NTLM" are present before the first call
// returns; the registry is safe to use from several threads.

// Adds `name`; raises EIdAlreadyRegisteredAuthenticationMethod (with the class name of `cls`)
// when the name is taken, and EIdAuthenticationRankTaken when another class has the rank of
// `cls` (the same class under a second name is fine). A new scheme declares its rank
// (`kRank`, between or above the kAuthRank* values) and registers itself; ChooseAuthScheme then
// weighs it with the others. The logon schemes (Negotiate, and NTLM computed by the system) are
// not in the registry: the client looks them up by challenge word (LogonSchemeFor) where the
// caller allows the logon, and PreferLogonScheme puts one in place of the registry's choice when
// it ranks higher and the system can answer with it now.
void RegisterAuthScheme(std::string_view name, TIdAuthenticationClass cls);
// Removes `name` when present.
void UnregisterAuthScheme(std::string_view name);
// The class registered for `name`, or the empty value.
[[nodiscard]] TIdAuthenticationClass FindAuthScheme(std::string_view name);
// The class that answers the best of `challenges` (one challenge per line, scheme word first):
// the highest rank among the lines whose scheme word is registered and whose strength is
// positive, then the highest strength, then the first line. With `haveCredentials` false only
// classes that answer with the logon are considered. A class of negative strength is the answer
// only when no line can be answered otherwise. The empty value when none fits.
[[nodiscard]] TIdAuthenticationClass ChooseAuthScheme(const TIdHeaderList& challenges,
                                                      bool haveCredentials);

}  // namespace brixa
