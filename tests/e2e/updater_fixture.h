#pragma once
// The updater as a binary: a copy of BrixaUpdater in a temp product folder, run against nginx
// serving /brixakit/ on the address it was built for, with a stand-in installer that leaves a
// marker. Outcomes are read from the files left behind, the exit code, what the user was shown
// and the server's access log. On Linux the updater runs without a display, so its console
// window and message boxes print on stderr; on Windows (under Wine) a helper thread finds each
// message box, notes its text and presses OK, as a person would.
//
// What the updater's end-to-end tests of every area share: the product folder, the suite's
// fixture, the signed releases the build made, and the user's proxy setting for one scope.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/peers/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "update_server.h"

namespace brixa::e2e {

namespace fs = std::filesystem;
using test::ProgramResult;
using test::UpdateServer;
using test::UpdateServerOptions;

inline constexpr int kRunTimeoutMs = 60000;
inline constexpr int kMarkerTimeoutMs = 15000;
inline constexpr int kDownloadStartTimeoutMs = 15000;
inline constexpr const char* kMarker = "installer_ran.txt";
inline constexpr const char* kTempExe = "brixaupdatetemp.exe";
inline constexpr const char* kTempVersion = "version_update.ini";
inline constexpr const char* kDownloadError = "BrixaUpdater: Download Error!";

[[nodiscard]] std::string VersionFile(const std::string& stamp, const std::string& sha256 = {});

[[nodiscard]] std::string Sha256Hex(const std::string& bytes);

// The stand-in installer of the platform under test, with `padding` zero bytes appended (both
// executable formats ignore bytes past their end), so a rate-limited download lasts a while.
[[nodiscard]] std::string InstallerBytes(std::size_t padding = 0);

// Points the updaters started from now on at `dir` for their state and log.
void UseStateDir(const std::string& dir);

bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

// A server that announces more bytes than it sends (through nginx, which passes the announced
// length on and closes when its upstream does).
[[nodiscard]] std::unique_ptr<test::ScriptedServer> ShortInstallerUpstream();

// A file of the signed releases the build made with openssl alone (tests/e2e/sign_fixtures.sh):
// test-releases/<release>/{version.ini,version.ini.sig,update.exe}.
[[nodiscard]] std::string ReleaseFile(const std::string& release, const std::string& name);

[[nodiscard]] bool HaveSignedReleases();

// Puts a release's three files on the server.
void PublishRelease(const UpdateServer& server, const std::string& release);
// Signs `installer` as a release with brixa-release and the tests' key, with `extra` options
// (--mirror, --rollout, --arguments), and puts it on the server.
void PublishSigned(const UpdateServer& server, const std::string& installer,
                   const std::string& serial, const std::vector<std::string>& extra = {});

// The bytes nginx sent for the GETs of `path` ("... \"GET <path> HTTP/1.1\" <status> <bytes>").
[[nodiscard]] std::int64_t BytesSent(const UpdateServer& server, const std::string& path);

// A product folder holding a copy of the updater and, when given, a local version file.
class ProductDir {
 public:
  // `program`: which build of the updater to install (the plain one, or the one that requires
  // signed updates).
  // `folder`: the product's folder below the test's temp folder ("": the temp folder itself),
  // for tests that set the folder above it up.
  explicit ProductDir(const std::string& program = "BrixaUpdater", std::string folder = {})
      : folder_(std::move(folder)) {
    const std::string built = test::BuildTreePath("app/" + program + test::ExecutableSuffix());
    fs::create_directories(Path(""));
    updater_ = Path("BrixaUpdater" + test::ExecutableSuffix());
    fs::copy_file(built, updater_);
  }
  void SetLocalStamp(const std::string& stamp) const {
    test::WriteFileText(Path("version.ini"), VersionFile(stamp));
  }
  [[nodiscard]] std::string Path(const std::string& name) const {
    return dir_.Path(folder_.empty() ? name : folder_ + "/" + name);
  }
  // The test's temp folder: the product's folder or the one above it.
  [[nodiscard]] const std::string& Root() const { return dir_.Root(); }
  [[nodiscard]] bool Has(const std::string& name) const { return fs::exists(Path(name)); }
  // The user's state folder the updater is given: its rollback state and run log.
  [[nodiscard]] std::string StateDir() const { return dir_.Path("state"); }
  [[nodiscard]] std::string RunLog() const {
    return test::ReadFileText(StateDir() + "/BrixaUpdater/updater.log");
  }
  // A run to its end; on Windows the message boxes it shows are pressed OK and their texts
  // added to its stderr.
  [[nodiscard]] ProgramResult Run(int timeoutMs = kRunTimeoutMs) const;
  // A run ended by the test after `timeoutMs`, as a user's shutdown would end it.
  [[nodiscard]] ProgramResult RunFor(int timeoutMs) const {
    UseStateDir(StateDir());
    return test::RunProgram(updater_, {}, timeoutMs);
  }
  [[nodiscard]] bool WaitForMarker() const {
    return WaitFor([this] { return Has(kMarker); }, kMarkerTimeoutMs);
  }

 private:
  test::TempDir dir_;
  std::string folder_;
  std::string updater_;
};

class UpdaterEndToEnd : public ::testing::Test {
 protected:
#ifndef _WIN32
  // Every run of the suite gets its own single-instance lock folder, and no display: the
  // console window prints on stderr and message boxes return at once.
  static void SetUpTestSuite();
  static void TearDownTestSuite();
#endif

  static bool OnWindows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
  }
};

#define SERVER_OR_SKIP(var, options)                            \
  std::string var##WhyNot;                                      \
  auto var = test::UpdateServer::Start((options), var##WhyNot); \
  if (!(var)) GTEST_SKIP() << var##WhyNot

#ifdef _WIN32

// The proxy settings of the user's Internet Settings for one scope, set with reg.exe as an
// administrator's script would, and put back as they were afterwards (the other tests of the
// Wine run share this registry). WinHTTP reads the binary DefaultConnectionSettings value of
// the Connections key; ProxyEnable, ProxyServer and ProxyOverride are the older values that
// Windows keeps beside it and Wine ignores, set here too so the state is what Windows writes.
class ScopedInternetSettings {
 public:
  ScopedInternetSettings(const std::string& proxyServer, const std::string& bypass);
  ~ScopedInternetSettings();
  ScopedInternetSettings(const ScopedInternetSettings&) = delete;
  ScopedInternetSettings& operator=(const ScopedInternetSettings&) = delete;

  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  struct Saved {
    std::string key;
    std::string name;
    bool present = false;
    DWORD type = 0;
    std::string data;
  };

  void Save(const std::string& key, const std::string& name);

  std::vector<Saved> saved_;
  bool ok_ = false;
};

#else

// Proxy variables for the updater runs of one scope, restored afterwards. The suite runs with
// all of them unset (see SetUpTestSuite).
class ScopedProxyEnvironment {
 public:
  explicit ScopedProxyEnvironment(
      std::initializer_list<std::pair<const char*, std::string> > values);
  ~ScopedProxyEnvironment();
  ScopedProxyEnvironment(const ScopedProxyEnvironment&) = delete;
  ScopedProxyEnvironment& operator=(const ScopedProxyEnvironment&) = delete;

 private:
  std::vector<std::string> names_;
};

#endif  // _WIN32

}  // namespace brixa::e2e
