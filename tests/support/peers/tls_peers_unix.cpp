// Making the test PKI once per binary, and starting and stopping the TLS peers.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "support/peers/child_process_unix.h"
#include "support/peers/peer_process.h"
#include "support/peers/tls_peers.h"

namespace brixa::test {

namespace {

constexpr int kReadyTimeoutMs = 10000;
constexpr int kPkiTimeoutMs = 120000;

bool Installed(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

// Removes the PKI folder when the test binary ends.
struct PkiHolder {
  std::string dir;
  std::string whyNot;
  ~PkiHolder() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

}  // namespace

const std::string* TestPkiDir(std::string& whyNot) {
  static PkiHolder holder;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!Installed("/usr/bin/openssl")) {
      holder.whyNot = "openssl is not installed (package openssl)";
      return;
    }
    const std::string dir = MakeTempDir("brixa-tls-pki");
    const ProgramResult made = RunProgram(
        "/bin/bash", {std::string(BRIXA_SOURCE_DIR) + "/tests/support/make_test_pki.sh", dir},
        kPkiTimeoutMs);
    if (made.exitCode != 0) {
      holder.whyNot = "making the test certificates failed: " + made.stdErr;
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
      return;
    }
    holder.dir = dir;
  });
  whyNot = holder.whyNot;
  return holder.dir.empty() ? nullptr : &holder.dir;
}

TlsPeer::~TlsPeer() {
  StopProcess(static_cast<pid_t>(pid_), kReadyTimeoutMs);
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::unique_ptr<TlsPeer> TlsPeer::Nginx(const std::vector<std::string>& certNames,
                                        const std::string& docRoot, std::string& whyNot) {
  const std::string* pki = TestPkiDir(whyNot);
  if (pki == nullptr) return nullptr;
  if (!Installed("/usr/sbin/nginx")) {
    whyNot = "nginx is not installed (package nginx)";
    return nullptr;
  }
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  peer->dir_ = MakeTempDir("brixa-tls-nginx");
  const std::string& d = peer->dir_;
  std::filesystem::create_directories(d + "/tmp");
  std::ofstream conf(d + "/nginx.conf");
  conf << "daemon off; worker_processes 1; user root; pid " << d << "/nginx.pid;\n"
       << "error_log " << d << "/error.log info;\nevents { worker_connections 64; }\n"
       << "http {\n  access_log " << d << "/access.log;\n"
       << "  client_body_temp_path " << d << "/tmp/body; proxy_temp_path " << d << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << d << "/tmp/fcgi; uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << d << "/tmp/scgi;\n"
       << "  default_type application/octet-stream; sendfile on; keepalive_requests 100000;\n"
       << "  log_format conn '$connection $request $ssl_protocol pa=$http_proxy_authorization';\n";
  for (const std::string& entry : certNames) {
    // "name@1.2": that certificate with TLS 1.2 alone.
    const std::size_t at = entry.find('@');
    const std::string name = entry.substr(0, at);
    const std::string protocols = at == std::string::npos ? "TLSv1.2 TLSv1.3" : "TLSv1.2";
    const int port = FreeLoopbackPort();
    peer->ports_.push_back(port);
    conf << "  server {\n    listen 127.0.0.1:" << port << " ssl; server_name localhost;\n"
         << "    access_log " << d << "/access.log conn;\n"
         << "    ssl_protocols " << protocols << ";\n"
         << "    ssl_certificate " << *pki << "/" << name << ".crt;\n"
         << "    ssl_certificate_key " << *pki << "/" << name << ".key;\n"
         << "    root " << docRoot << ";\n"
         << "    location /tls12/ { alias " << docRoot << "/; }\n"
         << "    location = /cookie { add_header Set-Cookie \"plain=1; Path=/\";"
         << " add_header Set-Cookie \"hidden=2; Path=/; Secure\"; return 200 ok; }\n"
         << "    location = /redirect-http { return 302 $arg_to; }\n  }\n";
  }
  conf << "}\n";
  conf.close();
  const pid_t pid =
      Spawn({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"},
            d + "/stdout.log");
  peer->pid_ = pid;
  if (pid <= 0 || !WaitReady(pid, peer->ports_, kReadyTimeoutMs)) {
    whyNot = "nginx did not come up";
    return nullptr;
  }
  return peer;
}

std::unique_ptr<TlsPeer> TlsPeer::SServer(const std::vector<std::string>& extraArgs,
                                          std::string& whyNot) {
  const std::string* pki = TestPkiDir(whyNot);
  if (pki == nullptr) return nullptr;
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  peer->dir_ = MakeTempDir("brixa-tls-sserver");
  const int port = FreeLoopbackPort();
  peer->ports_.push_back(port);
  std::vector<std::string> argv = {"/usr/bin/openssl",
                                   "s_server",
                                   "-accept",
                                   "127.0.0.1:" + std::to_string(port),
                                   "-cert",
                                   *pki + "/server.crt",
                                   "-key",
                                   *pki + "/server.key",
                                   "-www",
                                   "-quiet"};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  const pid_t pid = Spawn(argv, peer->dir_ + "/s_server.log");
  peer->pid_ = pid;
  if (pid <= 0 || !WaitReady(pid, peer->ports_, kReadyTimeoutMs)) {
    whyNot = "openssl s_server did not come up";
    return nullptr;
  }
  return peer;
}

std::unique_ptr<TlsPeer> TlsPeer::OddServer(const std::string& mode, std::string& whyNot) {
  const std::string* pki = TestPkiDir(whyNot);
  if (pki == nullptr) return nullptr;
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  peer->dir_ = MakeTempDir("brixa-tls-odd");
  const int port = FreeLoopbackPort();
  peer->ports_.push_back(port);
  const pid_t pid =
      Spawn({"python3", std::string(BRIXA_SOURCE_DIR) + "/tests/support/tls_odd_server.py", mode,
             std::to_string(port), *pki + "/server.crt", *pki + "/server.key"},
            peer->dir_ + "/odd.log");
  peer->pid_ = pid;
  if (pid <= 0 || !WaitReady(pid, peer->ports_, kReadyTimeoutMs)) {
    whyNot = "the python TLS server did not come up (package python3)";
    return nullptr;
  }
  return peer;
}

}  // namespace brixa::test
