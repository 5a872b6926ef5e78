// Under Wine the TLS peers run on the Linux side; this finds them through the environment.

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "support/peers/tls_peers.h"

namespace brixa::test {

// The TLS peers run on the Linux side, started by `scripts/peers.sh start`; this process only
// learns where they are.
namespace {

constexpr const char* kNotStarted =
    "BRIXA_PEER_TLS_* not set: start the peers with scripts/peers.sh start before running the "
    "Windows tests (scripts/test.sh does; needs the packages nginx and openssl)";

std::string Env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::string() : std::string(value);
}

// Wine shows the Linux root as drive Z:.
std::string WinePath(const std::string& path) {
  return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

// "server@1.2" -> BRIXA_PEER_TLS_PORT_SERVER12
std::string PortVariable(const std::string& listener) {
  std::string name = "BRIXA_PEER_TLS_PORT_";
  for (const char c : listener) {
    if (c != '@' && c != '.')
      name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return name;
}

}  // namespace

const std::string* TestPkiDir(std::string& whyNot) {
  static const std::string dir = WinePath(Env("BRIXA_PEER_TLS_DIR"));
  if (dir.empty()) {
    whyNot = kNotStarted;
    return nullptr;
  }
  return &dir;
}

// The listeners were made for the certificate names scripts/peers.sh knows, serving the
// docs/ folder of the certificates' folder: `docRoot` must be that folder.
std::unique_ptr<TlsPeer> TlsPeer::Nginx(const std::vector<std::string>& certNames,
                                        const std::string& docRoot, std::string& whyNot) {
  const std::string* pki = TestPkiDir(whyNot);
  if (pki == nullptr) return nullptr;
  if (docRoot != *pki + "/docs") {
    whyNot = "the TLS nginx of scripts/peers.sh serves " + *pki + "/docs only";
    return nullptr;
  }
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  for (const std::string& name : certNames) {
    const std::string port = Env(PortVariable(name));
    if (port.empty()) {
      whyNot = PortVariable(name) + " not set: scripts/peers.sh starts no listener for " + name;
      return nullptr;
    }
    peer->ports_.push_back(std::atoi(port.c_str()));
  }
  peer->dir_ = *pki;
  return peer;
}

std::unique_ptr<TlsPeer> TlsPeer::SServer(const std::vector<std::string>&, std::string& whyNot) {
  whyNot = "openssl s_server is started by the Linux test run only";
  return nullptr;
}

std::unique_ptr<TlsPeer> TlsPeer::OddServer(const std::string& mode, std::string& whyNot) {
  std::string upper;
  for (const char c : mode) {
    if (c != '-') upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string port = Env("BRIXA_PEER_TLS" + upper + "_PORT");
  if (port.empty()) {
    whyNot = "BRIXA_PEER_TLS" + upper + "_PORT not set (scripts/peers.sh start, package python3)";
    return nullptr;
  }
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  peer->ports_.push_back(std::atoi(port.c_str()));
  return peer;
}

// The peers belong to the script that started them; nothing to stop here.
TlsPeer::~TlsPeer() = default;

}  // namespace brixa::test
