// Building the SOCKS chain from the options and attaching it to a handler.

#include "socks_chain.h"

#include "http/client/http.h"
#include "runtime/text/ip_text.h"
#include "transport/io/io_handler_stack.h"
#include "transport/socket/stack.h"
#include "transport/socks/socks_info.h"

namespace brixa::tool {
namespace {

// SOCKS 5 that names the target to the proxy by address, resolved here (curl's --socks5); the
// plain TIdSocksInfo sends names as they are (--socks5-hostname).
class LocallyResolvingSocks5 : public TIdSocksInfo {
 protected:
  void MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost, std::uint16_t APort,
                      TIdIPVersion AIPVersion) override {
    const bool literal = TIdStack::IsIPv4Literal(AHost) || !CanonicalIPv6(AHost).empty();
    const std::string address = literal ? AHost : GStack().ResolveHostAddress(AHost, Id_IPv4);
    TIdSocksInfo::MakeConnection(AIOHandler, address, APort, AIPVersion);
  }
};

[[nodiscard]] std::unique_ptr<TIdSocksInfo> NewHop(SocksKind kind) {
  if (kind == SocksKind::v5) return std::make_unique<LocallyResolvingSocks5>();
  return std::make_unique<TIdSocksInfo>();
}

}  // namespace

SocksChain::SocksChain() = default;
SocksChain::~SocksChain() = default;

bool SocksChain::Build(const std::vector<SocksOption>& AOptions, std::string& error) {
  for (const SocksOption& option : AOptions) {
    const auto address = ParseProxy(option.address);
    if (!address) {
      error = option.flag + " needs [user:pass@]host:port, not '" + option.address + "'";
      return false;
    }
    std::unique_ptr<TIdSocksInfo> hop = NewHop(option.kind);
    hop->SetVersion(option.kind == SocksKind::v4    ? svSocks4
                    : option.kind == SocksKind::v4a ? svSocks4A
                                                    : svSocks5);
    hop->SetHost(address->host);
    hop->SetPort(static_cast<std::uint16_t>(address->port));
    if (!CanonicalIPv6(address->host).empty()) hop->SetIPVersion(Id_IPv6);
    hop->SetUsername(address->username);
    hop->SetPassword(address->password);
    if (!address->username.empty() && option.kind != SocksKind::v4 &&
        option.kind != SocksKind::v4a) {
      hop->SetAuthentication(saUsernamePassword);
    }
    if (!hops_.empty()) hops_.back()->SetChainedProxy(hop.get());
    hops_.push_back(std::move(hop));
  }
  return true;
}

void SocksChain::Attach(TIdIOHandlerStack& handler) {
  if (hops_.empty()) return;
  handler.SetTransparentProxy(hops_.front().get());
}

}  // namespace brixa::tool
