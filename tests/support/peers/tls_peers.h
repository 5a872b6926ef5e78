#pragma once
// The TLS test peers: a test PKI made with the openssl CLI, and nginx, openssl s_server and odd
// servers on loopback.

#include <memory>
#include <string>
#include <vector>

namespace brixa::test {

// Certificates for the TLS tests, made once per test binary by tests/support/make_test_pki.sh
// (openssl CLI) in a temp folder: ca.crt (trusted by the tests), otherca.crt (trusted by
// none), and <name>.crt/<name>.key for server (localhost, 127.0.0.1), wronghost
// (other.example), wildcard (*.localhost), unknownca (localhost, by otherca), expired and
// client. Null with `whyNot` filled when openssl is missing or fails.
[[nodiscard]] const std::string* TestPkiDir(std::string& whyNot);

// A server process a test starts on 127.0.0.1; stopped (TERM, then waited for) on destruction.
class TlsPeer {
 public:
  // nginx serving `docRoot` with TLS 1.2 and 1.3 on one port per certificate name given
  // (Port(i) for names[i]; "name@1.2" offers TLS 1.2 alone), keep-alive on. Besides the
  // documents: /cookie sets a plain and a secure cookie, /redirect-http?to=URL redirects.
  static std::unique_ptr<TlsPeer> Nginx(const std::vector<std::string>& certNames,
                                        const std::string& docRoot, std::string& whyNot);
  // `openssl s_server -www` with the server certificate and the extra arguments.
  static std::unique_ptr<TlsPeer> SServer(const std::vector<std::string>& extraArgs,
                                          std::string& whyNot);
  // tests/support/tls_odd_server.py in MODE (reset, truncate) with the server certificate.
  static std::unique_ptr<TlsPeer> OddServer(const std::string& mode, std::string& whyNot);

  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  [[nodiscard]] int Port(std::size_t index = 0) const { return ports_.at(index); }
  [[nodiscard]] const std::string& Dir() const noexcept { return dir_; }

 private:
  TlsPeer() = default;
  std::vector<int> ports_;
  std::string dir_;
  long pid_ = 0;
};

}  // namespace brixa::test
