#pragma once
// SocksChain: the command line's SOCKS proxies, chained under every connection of the client.

#include <memory>
#include <string>
#include <vector>

#include "options.h"

namespace brixa {
class TIdIOHandlerStack;
class TIdSocksInfo;
}  // namespace brixa

namespace brixa::tool {

// The SOCKS proxies of the command line, chained in the order they were given, under every
// connection of one client. The client reaches its target (or its HTTP proxy) through them.
class SocksChain {
 public:
  SocksChain();
  ~SocksChain();
  SocksChain(const SocksChain&) = delete;
  SocksChain& operator=(const SocksChain&) = delete;

  // Makes one proxy per option; false with `error` for an address that does not parse.
  [[nodiscard]] bool Build(const std::vector<SocksOption>& AOptions, std::string& error);
  // Sends the connections of `handler` through the chain (nothing without proxies). The chain
  // must outlive the handler's use of it.
  void Attach(TIdIOHandlerStack& handler);

 private:
  std::vector<std::unique_ptr<TIdSocksInfo>> hops_;
};

}  // namespace brixa::tool
