// The platform-neutral part of the peer processes: peer names, URLs and document paths.

#include "support/peers/peer_process.h"

#include "support/temp_dir.h"

namespace brixa::test {

std::string PeerKindName(PeerKind kind) {
  switch (kind) {
    case PeerKind::Nginx:
      return "nginx";
    case PeerKind::Apache:
      return "apache";
    case PeerKind::Squid:
      return "squid";
    case PeerKind::SquidAuth:
      return "squidauth";
    case PeerKind::SquidNTLM:
      return "squidntlm";
    case PeerKind::SquidNTLMClose:
      return "squidntlmclose";
    case PeerKind::Dante:
      return "dante";
    case PeerKind::DanteAuth:
      return "danteauth";
    case PeerKind::Lighttpd:
      return "lighttpd";
    case PeerKind::Tinyproxy:
      return "tinyproxy";
    case PeerKind::PyHttp:
      return "pyhttp";
    case PeerKind::SquidDigest:
      return "squiddigest";
    case PeerKind::SquidNTLMv2:
      return "squidntlmv2";
    case PeerKind::Count:
      break;
  }
  return "unknown";
}

std::string PeerProcess::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string PeerProcess::DocPath(const std::string& relative) const {
  const std::string root = kind_ == PeerKind::Apache ? "/htdocs/" : "/html/";
  return dir_ + root + relative;
}

std::string PeerProcess::ReadFile(const std::string& relative) const {
  return ReadFileText(dir_ + "/" + relative);
}

PeerProcess::~PeerProcess() {
  Stop();
}

}  // namespace brixa::test
