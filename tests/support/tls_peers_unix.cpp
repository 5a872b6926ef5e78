#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "support/peer_process.h"
#include "support/tls_peers.h"

extern char** environ;

namespace brixa::test {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr auto kReadyTimeout = std::chrono::seconds(10);
constexpr int kPkiTimeoutMs = 120000;

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(kPollStep);
  }
}

bool WaitReady(pid_t pid, const std::vector<int>& ports) {
  const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
  for (const int port : ports) {
    while (!Accepts(port)) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(kPollStep);
    }
  }
  return true;
}

bool Installed(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

std::string MakeTempDir(const std::string& tag) {
  std::string pattern = "/tmp/brixa-tls-" + tag + ".XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  ::chmod(pattern.c_str(), 0755);
  return pattern;
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
    const std::string dir = MakeTempDir("pki");
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
  StopProcess(static_cast<pid_t>(pid_));
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
  peer->dir_ = MakeTempDir("nginx");
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
  if (pid <= 0 || !WaitReady(pid, peer->ports_)) {
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
  peer->dir_ = MakeTempDir("sserver");
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
  if (pid <= 0 || !WaitReady(pid, peer->ports_)) {
    whyNot = "openssl s_server did not come up";
    return nullptr;
  }
  return peer;
}

std::unique_ptr<TlsPeer> TlsPeer::OddServer(const std::string& mode, std::string& whyNot) {
  const std::string* pki = TestPkiDir(whyNot);
  if (pki == nullptr) return nullptr;
  std::unique_ptr<TlsPeer> peer(new TlsPeer);
  peer->dir_ = MakeTempDir("odd");
  const int port = FreeLoopbackPort();
  peer->ports_.push_back(port);
  const pid_t pid =
      Spawn({"python3", std::string(BRIXA_SOURCE_DIR) + "/tests/support/tls_odd_server.py", mode,
             std::to_string(port), *pki + "/server.crt", *pki + "/server.key"},
            peer->dir_ + "/odd.log");
  peer->pid_ = pid;
  if (pid <= 0 || !WaitReady(pid, peer->ports_)) {
    whyNot = "the python TLS server did not come up (package python3)";
    return nullptr;
  }
  return peer;
}

}  // namespace brixa::test
