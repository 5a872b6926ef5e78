#pragma once
// A throw-away Kerberos realm on loopback (scripts/kerberos_realm.sh): a KDC, Apache with
// mod_auth_gssapi and squid with negotiate_kerberos_auth, for the Negotiate tests.

#include <memory>
#include <string>

namespace brixa::test {

// One running realm; its servers stop when the object dies. While it lives, this process (and
// every program it starts) uses the realm's krb5.conf; which ticket cache it uses is chosen with
// UseTicket / UseNoTicket. Only on Linux: under Wine, Kerberos cannot be had (Start says so).
class KerberosRealm {
 public:
  // Starts the realm and gets the test user's ticket; null with the reason (a missing package
  // named) in `whyNot`.
  static std::unique_ptr<KerberosRealm> Start(std::string& whyNot);
  ~KerberosRealm();
  KerberosRealm(const KerberosRealm&) = delete;
  KerberosRealm& operator=(const KerberosRealm&) = delete;

  // The user's ticket cache, or an empty one (a user who never ran kinit).
  void UseTicket() const;
  void UseNoTicket() const;

  // "http://127.0.0.1:<port>" of Apache, its https twin, and "127.0.0.1:<port>" of squid.
  [[nodiscard]] std::string ApacheUrl() const;
  [[nodiscard]] std::string ApacheTlsUrl() const;
  [[nodiscard]] std::string SquidAddress() const;
  // The CA file that signs Apache's certificate.
  [[nodiscard]] std::string CaFile() const;

 private:
  KerberosRealm(std::string dir, int apachePort, int apacheTlsPort, int squidPort)
      : dir_(std::move(dir)),
        apachePort_(apachePort),
        apacheTlsPort_(apacheTlsPort),
        squidPort_(squidPort) {}

  std::string dir_;
  int apachePort_;
  int apacheTlsPort_;
  int squidPort_;
};

}  // namespace brixa::test
