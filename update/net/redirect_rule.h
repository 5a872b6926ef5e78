#pragma once
// TRedirectRule: where a redirect of the installer's download may lead.

#include <cstdint>
#include <string>
#include <vector>

namespace brixa {

class TIdURI;

// The installer is fetched only from the places the build and the signed manifest name: its
// URLs are the build's servers and the manifest's mirrors. A redirect may lead to the origin
// (scheme, host, port) of one of them, or to https on the default port of one of their hosts
// (a server moving its clients to TLS); never from https to http, to another host, or to
// another port of a named host. Host names compare without regard to case.
class TRedirectRule {
 public:
  // Allows every target: for a client that follows no redirect anyway.
  TRedirectRule() = default;
  explicit TRedirectRule(const std::vector<std::string>& urls);

  // Whether a redirect from `current` to `location` (a "Location" value as sent: absolute,
  // scheme-relative or relative) may be followed; `why` says why not.
  [[nodiscard]] bool Allows(const TIdURI& current, const std::string& location,
                            std::string& why) const;

 private:
  struct TOrigin {
    std::string Scheme;
    std::string Host;
    std::int32_t Port = 0;
  };
  [[nodiscard]] static TOrigin OriginOf(const std::string& scheme, const std::string& host,
                                        const std::string& portText);
  [[nodiscard]] bool Names(const TOrigin& target) const;

  bool any_ = true;
  std::vector<TOrigin> origins_;
};

}  // namespace brixa
