// Under Wine there is no KDC to talk to and no Kerberos in the system's SSPI: the realm's
// tests skip with the reason.

#include "support/peers/kerberos_realm.h"

namespace brixa::test {

std::unique_ptr<KerberosRealm> KerberosRealm::Start(std::string& whyNot) {
  whyNot = "Kerberos needs the Linux realm; Wine's SSPI has no Kerberos package";
  return nullptr;
}

KerberosRealm::~KerberosRealm() = default;
void KerberosRealm::UseTicket() const {}
void KerberosRealm::UseNoTicket() const {}
std::string KerberosRealm::ApacheUrl() const {
  return {};
}
std::string KerberosRealm::ApacheTlsUrl() const {
  return {};
}
std::string KerberosRealm::SquidAddress() const {
  return {};
}
std::string KerberosRealm::CaFile() const {
  return {};
}

}  // namespace brixa::test
