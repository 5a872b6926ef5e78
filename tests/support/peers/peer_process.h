#pragma once
// The real peer servers of the network tests (nginx, httpd, squid, dante, lighttpd, ...), started
// on loopback, and a runner for the built programs.

#include <memory>
#include <string>
#include <vector>

namespace brixa::test {

// The real servers the network tests talk to, all on 127.0.0.1. Their configurations and
// document trees come from scripts/peers.sh, so a test and a Wine run see the same peers.
enum class PeerKind {
  Nginx,           // static files, redirects, chunked and gzip locations, a log of connection ids
  Apache,          // /basic/ (alice:secret) and /digest/ (bob:secret, qop=auth), realm "Test Realm"
  Squid,           // an open forward proxy
  SquidAuth,       // a forward proxy that wants Basic credentials alice:secret
  SquidNTLM,       // a forward proxy that wants NTLM (any user and password; ntlm_fake_auth)
  SquidNTLMClose,  // the same, closing the connection after its first 407
  Dante,           // SOCKS 4 and 5 without authentication, to loopback targets only
  DanteAuth,       // SOCKS 5 that wants user name and password alice:secret
  Lighttpd,        // static files; its access.log gives per request "<earlier requests on the
                   // connection> \"<request line>\" <status>"
  Tinyproxy,       // an open forward proxy
  PyHttp,          // python3 -m http.server: HTTP/1.0, one request per connection
  SquidDigest,     // a forward proxy that wants Digest credentials alice:secret (digest_file_auth)
  SquidNTLMv2,     // a forward proxy whose NTLM is Samba's ntlm_auth checking the password secret
  Count            // not a peer: the number of kinds above
};
inline constexpr int kPeerKindCount = static_cast<int>(PeerKind::Count);

// One running peer. On Linux the peer is started by the test in a temp dir on a free port and
// stopped (TERM, then wait) when the object dies; on Windows, where a test binary cannot run a
// Linux server, it refers to a peer that scripts/peers.sh started before the run and whose port
// and folder reach the test through BRIXA_PEER_<KIND>_{PORT,DIR}.
class PeerProcess {
 public:
  // Starts (or finds) a peer. Returns null and fills `whyNot` when the peer cannot be had: its
  // binary is missing (the message names the package) or it did not come up.
  static std::unique_ptr<PeerProcess> Start(PeerKind kind, std::string& whyNot);

  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess();

  [[nodiscard]] int Port() const noexcept { return port_; }
  // "http://127.0.0.1:<port>"
  [[nodiscard]] std::string BaseUrl() const;
  // The peer's folder as this process can open it (its logs and configuration live there).
  [[nodiscard]] const std::string& Dir() const noexcept { return dir_; }
  // A path below the served document root, for reading the expected bytes of a document.
  [[nodiscard]] std::string DocPath(const std::string& relative) const;
  // The whole text of a file in the peer's folder (its access log, say); "" when missing.
  [[nodiscard]] std::string ReadFile(const std::string& relative) const;

 private:
  PeerProcess(PeerKind kind, int port, std::string dir, long pid)
      : kind_(kind), port_(port), dir_(std::move(dir)), pid_(pid) {}
  void Stop();

  PeerKind kind_;
  int port_;
  std::string dir_;
  long pid_;  // the server process this object started, or 0 when it started none
};

// The name scripts/peers.sh and the environment use for a kind ("nginx", "squidauth", ...).
[[nodiscard]] std::string PeerKindName(PeerKind kind);

// A file of the build tree (BRIXA_BINARY_DIR) as this process can open or start it.
[[nodiscard]] std::string BuildTreePath(const std::string& relative);
// ".exe" on Windows, "" elsewhere.
[[nodiscard]] std::string ExecutableSuffix();

// Result of running a program to its end.
struct ProgramResult {
  int exitCode = -1;   // -1 when it could not be started or was killed after the time limit
  std::string stdOut;  // everything it wrote to its standard output
  std::string stdErr;  // everything it wrote to its standard error
  bool timedOut = false;
};

// Runs `program` with `arguments` and waits at most `timeoutMs` for it (killing it after that).
[[nodiscard]] ProgramResult RunProgram(const std::string& program,
                                       const std::vector<std::string>& arguments, int timeoutMs);

}  // namespace brixa::test

// Starts a peer into `var` (a std::unique_ptr<PeerProcess>) or skips the current test.
#define BRIXA_PEER_OR_SKIP(var, kind)                                \
  std::string var##WhyNot;                                           \
  auto var = ::brixa::test::PeerProcess::Start((kind), var##WhyNot); \
  if (!(var)) GTEST_SKIP() << var##WhyNot
