// Judging a redirect's target by the origins of the installer's URLs.

#include "update/net/redirect_rule.h"

#include "http/message/uri.h"
#include "runtime/text/text.h"

namespace brixa {

TRedirectRule::TRedirectRule(const std::vector<std::string>& urls) : any_(false) {
  for (const std::string& url : urls) {
    const TIdURI uri(url);
    if (!uri.Host().empty())
      origins_.push_back(OriginOf(uri.Protocol(), uri.Host(), uri.PortText()));
  }
}

TRedirectRule::TOrigin TRedirectRule::OriginOf(const std::string& scheme, const std::string& host,
                                               const std::string& portText) {
  TOrigin origin{LowerCase(scheme), LowerCase(host), 0};
  if (portText.empty()) {
    origin.Port = origin.Scheme == "https"  ? kHttpsDefaultPort
                  : origin.Scheme == "http" ? kHttpDefaultPort
                                            : 0;
  } else {
    origin.Port = ParsePortNumber(portText);
  }
  return origin;
}

bool TRedirectRule::Names(const TOrigin& target) const {
  for (const TOrigin& origin : origins_) {
    if (origin.Host != target.Host) continue;
    if (origin.Scheme == target.Scheme && origin.Port == target.Port) return true;
    if (target.Scheme == "https" && target.Port == kHttpsDefaultPort) return true;
  }
  return false;
}

bool TRedirectRule::Allows(const TIdURI& current, const std::string& location,
                           std::string& why) const {
  if (any_) return true;
  const TIdURI next(location);
  // A relative target stays where the current one is, and that was allowed to get here.
  if (next.Host().empty() && next.Protocol().empty()) return true;
  const std::string& scheme = next.Protocol().empty() ? current.Protocol() : next.Protocol();
  const TOrigin target = OriginOf(scheme, next.Host(), next.PortText());
  if (target.Port > 0 && Names(target)) return true;
  why = "a redirect to " + target.Scheme + "://" + target.Host + ":" + std::to_string(target.Port) +
        " leads to neither the build's servers nor the manifest's mirrors";
  return false;
}

}  // namespace brixa
