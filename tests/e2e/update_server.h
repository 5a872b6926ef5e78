#pragma once
// The update server of the updater's end-to-end tests: nginx on the address the updater was
// built for (BRIXA_UPDATE_SERVER), serving a /brixakit/ tree that each test fills. On Linux a
// test starts its own nginx from the demo server's configuration template, with the rate limit
// and extra locations it needs; a Windows test binary under Wine cannot start a Linux server
// and uses the plain one that scripts/peers.sh started beside it (BRIXA_PEER_UPDATESERVER_DIR).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "brixa/build_config.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "transport/io/tcp_client.h"

namespace brixa::test {

inline constexpr int kServerLifetimeMs = 180000;  // an nginx left running is killed after this
inline constexpr int kServerReadyTimeoutMs = 10000;
inline constexpr int kServerStopTimeoutMs = 10000;
inline constexpr int kProbeTimeoutMs = 2000;
inline constexpr auto kPollStep = std::chrono::milliseconds(50);

struct ServerAddress {
  std::string host;
  int port = 0;
};

// Host and port of the server the updater under test was built for.
[[nodiscard]] inline ServerAddress BuiltInServer() {
  const std::string server = kUpdateServer;
  const std::size_t colon = server.rfind(':');
  if (colon == std::string::npos) return {server, 80};
  return {server.substr(0, colon), std::atoi(server.c_str() + colon + 1)};
}

// True when something accepts a connection on 127.0.0.1:`port`.
[[nodiscard]] inline bool Listening(int port) {
  TIdTCPClient probe;
  probe.SetHost("127.0.0.1");
  probe.SetPort(static_cast<std::uint16_t>(port));
  probe.SetConnectTimeout(kProbeTimeoutMs);
  try {
    probe.ConnectToHost();
    probe.CloseConnection(false);
    return true;
  } catch (...) {
    return false;
  }
}

struct UpdateServerOptions {
  std::int64_t rateBytesPerSecond = 0;  // limit of each /brixakit/ download; 0: none
  std::string extraLocations;           // nginx location blocks added to the server
  // https on the port the https test updaters were built for, with the certificate made for
  // them (BRIXA_TLS_UPDATE_DIR/server.crt); the build must have made them.
  bool tls = false;
  [[nodiscard]] bool Plain() const { return rateBytesPerSecond == 0 && extraLocations.empty(); }
};

class UpdateServer {
 public:
  // A running server, or null with `whyNot` filled (the test should skip with it).
  static std::unique_ptr<UpdateServer> Start(const UpdateServerOptions& options,
                                             std::string& whyNot) {
    ServerAddress address = BuiltInServer();
    if (options.tls) {
#ifdef BRIXA_TLS_UPDATE_PORT
      address = {"127.0.0.1", BRIXA_TLS_UPDATE_PORT};
#else
      whyNot = "no https test updaters: openssl was missing when the build was configured";
      return nullptr;
#endif
    }
    if (address.host != "127.0.0.1") {
      whyNot =
          "the updater was built for " + std::string(kUpdateServer) + ", not a server on 127.0.0.1";
      return nullptr;
    }
    std::unique_ptr<UpdateServer> server(new UpdateServer(address.port));
    if (!server->Launch(options, whyNot)) return nullptr;
    return server;
  }

  ~UpdateServer() {
    Stop();
  }
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // A file of the served /brixakit/ folder, as this process opens it.
  [[nodiscard]] std::string TreePath(const std::string& name) const {
    return htmlDir_ + "/brixakit/" + name;
  }
  void Publish(const std::string& name, const std::string& bytes) const {
    WriteFileText(TreePath(name), bytes);
  }
  // The access log lines written since this object was made.
  [[nodiscard]] std::string AccessLog() const {
    const std::string log = ReadFileText(dir_ + "/access.log");
    return log.size() > logStart_ ? log.substr(logStart_) : std::string();
  }
  // How many requests with `method` for `path` the log shows.
  [[nodiscard]] int Requests(const std::string& method, const std::string& path) const {
    const std::string needle = "\"" + method + " " + path + " ";
    const std::string log = AccessLog();
    int count = 0;
    for (std::size_t at = log.find(needle); at != std::string::npos;
         at = log.find(needle, at + 1)) {
      ++count;
    }
    return count;
  }

 private:
  explicit UpdateServer(int port) : port_(port) {}

#ifdef _WIN32
  bool Launch(const UpdateServerOptions& options, std::string& whyNot) {
    if (!options.Plain()) {
      whyNot = "needs an nginx configured by the test, which only the Linux build can start";
      return false;
    }
    const char* dir =
        std::getenv(options.tls ? "BRIXA_PEER_UPDATESERVERTLS_DIR" : "BRIXA_PEER_UPDATESERVER_DIR");
    if (dir == nullptr || *dir == '\0') {
      whyNot =
          "BRIXA_PEER_UPDATESERVER_DIR not set: start the peers with scripts/peers.sh start "
          "(scripts/test.sh does)";
      return false;
    }
    dir_ = std::string("Z:") + dir;  // Wine shows the Linux root as drive Z:
    htmlDir_ = dir_ + "/html";
    std::error_code ec;
    std::filesystem::remove_all(htmlDir_ + "/brixakit", ec);
    std::filesystem::create_directories(htmlDir_ + "/brixakit", ec);
    logStart_ = ReadFileText(dir_ + "/access.log").size();
    if (!Listening(port_)) {
      whyNot = "the pre-started update server does not answer on port " + std::to_string(port_);
      return false;
    }
    return true;
  }
  void Stop() {}
#else
  static constexpr const char* kNginx = "/usr/sbin/nginx";

  bool Launch(const UpdateServerOptions& options, std::string& whyNot) {
    if (!std::filesystem::exists(kNginx)) {
      whyNot = std::string(kNginx) + " is missing: install the Debian package nginx";
      return false;
    }
    if (Listening(port_)) {
      whyNot = "port " + std::to_string(port_) +
               " is taken (is the demo server running?); the updater under test only talks to it";
      return false;
    }
    root_ = std::make_unique<TempDir>();
    dir_ = root_->Root();
    htmlDir_ = dir_ + "/html";
    std::filesystem::create_directories(htmlDir_ + "/brixakit");
    std::filesystem::create_directories(dir_ + "/tmp");
    WriteFileText(dir_ + "/nginx.conf", Configuration(options));
    nginx_ = std::thread([this] {
      (void)RunProgram(kNginx, NginxArguments({}), kServerLifetimeMs);
      ended_ = true;
    });
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerReadyTimeoutMs);
    while (!ended_ && std::chrono::steady_clock::now() < deadline) {
      if (Listening(port_)) return true;
      std::this_thread::sleep_for(kPollStep);
    }
    whyNot = "nginx did not come up on port " + std::to_string(port_) + ": " +
             ReadFileText(dir_ + "/error.log");
    Stop();
    return false;
  }

  std::vector<std::string> NginxArguments(const std::vector<std::string>& more) const {
    std::vector<std::string> arguments{"-p", dir_ + "/",         "-c", dir_ + "/nginx.conf",
                                       "-e", dir_ + "/error.log"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  std::string Configuration(const UpdateServerOptions& options) const {
    std::string text = ReadFileText(std::string(BRIXA_SOURCE_DIR) + "/tools/demo/nginx.conf.in");
    Replace(text, "@ROOT@", dir_);
    std::string listen = "127.0.0.1:" + std::to_string(port_);
#ifdef BRIXA_TLS_UPDATE_DIR
    // The rest of the listen directive's line takes the certificate directives.
    if (options.tls) {
      const std::string certificates = BRIXA_TLS_UPDATE_DIR;
      listen += " ssl; ssl_certificate " + certificates + "/server.crt; ssl_certificate_key " +
                certificates + "/server.key";
    }
#endif
    Replace(text, "@LISTEN@", listen);
    Replace(text, "@RATE@", std::to_string(options.rateBytesPerSecond));
    Replace(text, "@LOCATIONS@", options.extraLocations);
    return text;
  }

  static void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }

  void Stop() {
    if (!nginx_.joinable()) return;
    if (!ended_) (void)RunProgram(kNginx, NginxArguments({"-s", "stop"}), kServerStopTimeoutMs);
    nginx_.join();
  }

  std::unique_ptr<TempDir> root_;
  std::thread nginx_;
  std::atomic<bool> ended_{false};
#endif

  int port_;
  std::string dir_;
  std::string htmlDir_;
  std::size_t logStart_ = 0;
};

}  // namespace brixa::test
