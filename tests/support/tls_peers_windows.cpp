#include "support/tls_peers.h"

namespace brixa::test {

namespace {
constexpr const char* kLinuxOnly = "TLS peers are started by the Linux test run only";
}

const std::string* TestPkiDir(std::string& whyNot) {
  whyNot = kLinuxOnly;
  return nullptr;
}

std::unique_ptr<TlsPeer> TlsPeer::Nginx(const std::vector<std::string>&, const std::string&,
                                        std::string& whyNot) {
  whyNot = kLinuxOnly;
  return nullptr;
}

std::unique_ptr<TlsPeer> TlsPeer::SServer(const std::vector<std::string>&, std::string& whyNot) {
  whyNot = kLinuxOnly;
  return nullptr;
}

std::unique_ptr<TlsPeer> TlsPeer::OddServer(const std::string&, std::string& whyNot) {
  whyNot = kLinuxOnly;
  return nullptr;
}

TlsPeer::~TlsPeer() = default;

}  // namespace brixa::test
