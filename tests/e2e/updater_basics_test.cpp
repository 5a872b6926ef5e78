// The updater as a binary: a copy of BrixaUpdater in a temp product folder, run against nginx
// serving /brixakit/ on the address it was built for, with a stand-in installer that leaves a
// marker. Outcomes are read from the files left behind, the exit code, what the user was shown
// and the server's access log. On Linux the updater runs without a display, so its console
// window and message boxes print on stderr; on Windows (under Wine) a helper thread finds each
// message box, notes its text and presses OK, as a person would.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "http/client/http.h"
#include "platform/process/single_instance.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "support/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "tools/brixa_release/release_tool.h"
#include "update/delivery/byte_range.h"
#include "update/manifest/manifest.h"
#include "update/state/partial_identity.h"
#include "update_server.h"
#ifdef _WIN32
#include <sddl.h>

#include "library_planting_windows.h"
#include "platform/files/user_sid_windows.h"
#endif

namespace brixa {
namespace {

namespace fs = std::filesystem;
using test::ProgramResult;
using test::UpdateServer;
using test::UpdateServerOptions;

constexpr int kRunTimeoutMs = 60000;
constexpr int kMarkerTimeoutMs = 15000;
constexpr int kDownloadStartTimeoutMs = 15000;
constexpr const char* kMarker = "installer_ran.txt";
constexpr const char* kTempExe = "brixaupdatetemp.exe";
constexpr const char* kTempVersion = "version_update.ini";
constexpr const char* kDownloadError = "BrixaUpdater: Download Error!";
// The test's own requests to the update server wait this long for an answer.
constexpr std::int32_t kProbeReadTimeoutMs = 10000;
// How long a test waits for nginx to log an answer the updater has already read.
constexpr int kLogTimeoutMs = 3000;

std::string VersionFile(const std::string& stamp, const std::string& sha256 = {}) {
  std::string text = "[Updater]\r\nVersion=" + stamp + "\r\n";
  if (!sha256.empty()) text += "SHA256=" + sha256 + "\r\n";
  return text;
}

std::string Sha256Hex(const std::string& bytes) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false);
}

// The stand-in installer of the platform under test, with `padding` zero bytes appended (both
// executable formats ignore bytes past their end), so a rate-limited download lasts a while.
std::string InstallerBytes(std::size_t padding = 0) {
  std::string bytes = test::ReadFileText(
      test::BuildTreePath("tests/brixa_demo_installer" + test::ExecutableSuffix()));
  bytes.append(padding, '\0');
  return bytes;
}

#ifdef _WIN32
// Closes the updater's message boxes while a run lasts and keeps their texts, in the form the
// console backend prints them ("BrixaUpdater: <text>").
class MessageBoxCloser {
 public:
  MessageBoxCloser() : thread_([this] { Watch(); }) {}
  ~MessageBoxCloser() { (void)Finish(); }
  MessageBoxCloser(const MessageBoxCloser&) = delete;
  MessageBoxCloser& operator=(const MessageBoxCloser&) = delete;

  // Stops watching and returns one line per box seen.
  std::string Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return texts_;
  }

 private:
  static constexpr int kMessageTextId = 0xFFFF;  // the text control of a system message box
  static constexpr int kCloseWaitSteps = 100;

  void Watch() {
    while (!stop_) {
      HWND box = ::FindWindowA("#32770", "BrixaUpdater");
      if (box != nullptr) {
        char text[512] = {};
        ::GetDlgItemTextA(box, kMessageTextId, text, sizeof text);
        texts_ += std::string("BrixaUpdater: ") + text + "\n";
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < kCloseWaitSteps && ::IsWindow(box); ++i) ::Sleep(20);
      }
      ::Sleep(50);
    }
  }

  std::atomic<bool> stop_{false};
  std::string texts_;
  std::thread thread_;
};
#endif

// Points the updaters started from now on at `dir` for their state and log.
void UseStateDir(const std::string& dir) {
#ifdef _WIN32
  ::SetEnvironmentVariableA("LOCALAPPDATA", dir.c_str());
  fs::create_directories(dir);
#else
  ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
#endif
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(test::kPollStep);
  }
  return true;
}

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
  [[nodiscard]] ProgramResult Run(int timeoutMs = kRunTimeoutMs) const {
    UseStateDir(StateDir());
#ifdef _WIN32
    MessageBoxCloser closer;
    ProgramResult run = test::RunProgram(updater_, {}, timeoutMs);
    run.stdErr += closer.Finish();
    return run;
#else
    return test::RunProgram(updater_, {}, timeoutMs);
#endif
  }
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
  // Every run of the suite gets its own single-instance lock folder, and no display: the
  // console window prints on stderr and message boxes return at once.
  static void SetUpTestSuite() {
#ifndef _WIN32
    lockDir_ = new test::TempDir();
    fs::permissions(lockDir_->Root(), fs::perms::owner_all);  // the updater only trusts 0700
    Save("XDG_RUNTIME_DIR", savedRuntimeDir_);
    Save("DISPLAY", savedDisplay_);
    ::setenv("XDG_RUNTIME_DIR", lockDir_->Root().c_str(), 1);
    ::unsetenv("DISPLAY");
    // The machine's own proxy must not come between the updater and the test's servers.
    for (std::size_t i = 0; i < kProxyVariables.size(); ++i) {
      Save(kProxyVariables[i], savedProxyVariables_[i]);
      ::unsetenv(kProxyVariables[i]);
    }
#endif
  }
  static void TearDownTestSuite() {
#ifndef _WIN32
    Restore("XDG_RUNTIME_DIR", savedRuntimeDir_);
    Restore("DISPLAY", savedDisplay_);
    for (std::size_t i = 0; i < kProxyVariables.size(); ++i) {
      Restore(kProxyVariables[i], savedProxyVariables_[i]);
    }
    delete lockDir_;
    lockDir_ = nullptr;
#endif
  }

  static bool OnWindows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
  }

 private:
#ifndef _WIN32
  static void Save(const char* name, std::unique_ptr<std::string>& slot) {
    const char* value = std::getenv(name);
    slot = value == nullptr ? nullptr : std::make_unique<std::string>(value);
  }
  static void Restore(const char* name, const std::unique_ptr<std::string>& slot) {
    if (slot)
      ::setenv(name, slot->c_str(), 1);
    else
      ::unsetenv(name);
  }
  static inline test::TempDir* lockDir_ = nullptr;
  static inline std::unique_ptr<std::string> savedRuntimeDir_;
  static inline std::unique_ptr<std::string> savedDisplay_;
  static constexpr std::array<const char*, 8> kProxyVariables = {
      "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
  static inline std::array<std::unique_ptr<std::string>, 8> savedProxyVariables_;
#endif
};

#define SERVER_OR_SKIP(var, options)                            \
  std::string var##WhyNot;                                      \
  auto var = test::UpdateServer::Start((options), var##WhyNot); \
  if (!(var)) GTEST_SKIP() << var##WhyNot

TEST_F(UpdaterEndToEnd, DifferingStampsDownloadAndStartTheInstaller) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  const struct {
    const char* local;  // nullptr: no local version file
    const char* remote;
    bool announceHash;
  } cases[] = {
      {"1.0.0", "1.0.1", false},
      {"2.0", "1.9", true},              // a lower server stamp is an update too
      {"release-A", "release-a", true},  // letter case counts
      {nullptr, "1.0", false},           // no local file: "0000000000"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    ProductDir product;
    if (c.local != nullptr) product.SetLocalStamp(c.local);
    server->Publish("version.ini",
                    VersionFile(c.remote, c.announceHash ? Sha256Hex(installer) : ""));
    server->Publish("update.exe", installer);
    const int downloadsBefore = server->Requests("GET", "/brixakit/update.exe");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
    const std::string marker = test::ReadFileText(product.Path(kMarker));
    EXPECT_NE(marker.find(kTempExe), std::string::npos) << marker;
    EXPECT_NE(marker.find("arguments=0"), std::string::npos) << marker;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    EXPECT_FALSE(product.Has(kTempVersion));
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), downloadsBefore + 1);
    if (!OnWindows()) {
      EXPECT_NE(run.stdErr.find("100%"), std::string::npos) << run.stdErr;
      EXPECT_EQ(run.stdErr.find("Error"), std::string::npos) << run.stdErr;
    }
  }
}

TEST_F(UpdaterEndToEnd, EqualStampsEndWithoutWindowOrDownload) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("update.exe", InstallerBytes());
  const struct {
    const char* local;  // nullptr: no local version file
    const char* remote;
  } cases[] = {
      {"2024.06.01", "2024.06.01"},
      // Only 19 bytes of each stamp take part.
      {"1234567890123456789-local", "1234567890123456789-server"},
      {nullptr, "0000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    ProductDir product;
    if (c.local != nullptr) product.SetLocalStamp(c.local);
    server->Publish("version.ini", VersionFile(c.remote));

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");  // no window, no message
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kTempVersion));
  }
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 3);
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/update.exe"), 0);
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
}

// No version file to be had: the program ends silently, whatever the local stamp.
TEST_F(UpdaterEndToEnd, FailedVersionCheckEndsSilently) {
  ProductDir product;
  product.SetLocalStamp("1.0");
  {
    SERVER_OR_SKIP(server, UpdateServerOptions{});
    server->Publish("update.exe", InstallerBytes());  // there, but never asked for
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
    EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 1);  // a 404 ends the check
    EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 0);
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
  }
  if (OnWindows()) return;  // the Linux side keeps its server running for the whole Wine run
  ASSERT_FALSE(test::Listening(test::BuiltInServer().port));
  const ProgramResult down = product.Run();
  EXPECT_FALSE(down.timedOut);
  EXPECT_EQ(down.exitCode, 0);
  EXPECT_EQ(down.stdErr, "");
  EXPECT_FALSE(product.Has(kTempExe));
  EXPECT_FALSE(product.Has(kMarker));
}

// A server that announces more bytes than it sends (through nginx, which passes the announced
// length on and closes when its upstream does).
std::unique_ptr<test::ScriptedServer> ShortInstallerUpstream() {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 100000\r\n"
      "Connection: close\r\n\r\n";
  using test::Expect;
  using test::Send;
  return std::make_unique<test::ScriptedServer>(std::vector<test::Script>{
      {Expect::LineBlock(), Send(head), test::Close()},
      {Expect::LineBlock(), Send(head + std::string(3000, 'x')), test::Close()},
  });
}

TEST_F(UpdaterEndToEnd, IncompleteOrForgedInstallerIsNeverStarted) {
  const std::string installer = InstallerBytes();
  const auto upstream = ShortInstallerUpstream();
  const struct {
    const char* name;
    bool publish;
    std::string sha256;
    std::string locations;
  } cases[] = {
      {"missing installer", false, "", ""},
      {"forged installer", true, Sha256Hex(installer + "tampered"), ""},
      {"hash that is no hash", true, "not-a-sha256", ""},
      {"short installer", false, "",
       "location = /brixakit/update.exe { proxy_pass http://127.0.0.1:" +
           std::to_string(upstream->Port()) + "; proxy_buffering off; }"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The Windows test has only the plain server that was started beside it.
    if (OnWindows() && !c.locations.empty()) continue;
    UpdateServerOptions options;
    options.extraLocations = c.locations;
    SERVER_OR_SKIP(server, options);
    ProductDir product;
    product.SetLocalStamp("1");
    server->Publish("version.ini", VersionFile("2", c.sha256));
    if (c.publish) server->Publish("update.exe", installer);

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kTempVersion));
    // Started installers write their marker at once; give one that slipped through a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker));
  }
  if (!OnWindows()) {
    EXPECT_TRUE(upstream->WaitDone(5000)) << upstream->Failures();
  }
}

// A product folder other users may change: the download is refused before anything is
// written, with the reason on stderr and in the log.
TEST_F(UpdaterEndToEnd, AProductFolderOthersMayChangeIsRefused) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  ProductDir product;
  product.SetLocalStamp("1");
#ifdef _WIN32
  // Everybody may change the folder: its access list says so (Wine keeps that in the folder's
  // mode, which reads back the same).
  const auto setAccess = [&](const std::string& others) {
    const TUserSid user;
    const std::string sddl =
        "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + SidText(user.Sid()) + ")" + others;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_TRUE(
        ::SetFileSecurityA(product.Path("").c_str(), DACL_SECURITY_INFORMATION, descriptor));
    ::LocalFree(descriptor);
  };
  setAccess("(A;OICI;0x1301ff;;;WD)");
  const ProgramResult run = product.Run();
  setAccess("");
  const char* const reason = "can be changed by other users: S-1-1-0 may";
#else
  fs::permissions(product.Path(""), fs::perms::owner_all | fs::perms::group_all);
  const ProgramResult run = product.Run();
  fs::permissions(product.Path(""), fs::perms::owner_all);
  const char* const reason = "can be written by other users";
#endif
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
  EXPECT_NE(product.RunLog().find(reason), std::string::npos) << product.RunLog();
  EXPECT_NE(product.RunLog().find("not safe"), std::string::npos) << product.RunLog();
  EXPECT_FALSE(product.Has(kTempExe));
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
}

#ifndef _WIN32

// Another local user, in a group that shares a folder with the product's owner (the test runs
// as root and makes the sharing).
constexpr uid_t kOtherUid = 4242;  // a user with no account
constexpr gid_t kSharedGid = 4243;
constexpr int kOtherUserTimeoutMs = 30000;

// Runs the shell `script` as the other user with `arguments` as $1...; what it printed.
std::string RunAsOtherUser(const std::string& script, const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"--reuid=" + std::to_string(kOtherUid),
                                   "--regid=" + std::to_string(kOtherUid),
                                   "--groups=" + std::to_string(kSharedGid),
                                   "/bin/sh",
                                   "-c",
                                   script,
                                   "attacker"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return test::RunProgram("/usr/bin/setpriv", command, kOtherUserTimeoutMs).stdOut;
}

// What the other user tries while the updater runs (run from the folder above the product's,
// $1; $2 the file a planted program would write):
//   rewrite: opens brixaupdatetemp.exe for writing as soon as it appears and puts a script at
//            its start, as a descriptor kept from early on would;
//   swap:    renames the product's folder and plants a folder with its own brixaupdatetemp.exe.
const char* const kRewriteAttack =
    "cd \"$1\" || exit 1; f=product/brixaupdatetemp.exe; i=0\n"
    "while [ ! -e $f ] && [ $i -lt 400 ]; do sleep 0.02; i=$((i + 1)); done\n"
    "if printf '#!/bin/sh\\necho planted > %s\\n' \"$2\" 1<>$f 2>/dev/null; then\n"
    "  echo done; else echo refused; fi\n";
const char* const kSwapAttack =
    "cd \"$1\" || exit 1; i=0\n"
    "while [ $i -lt 100 ]; do\n"
    "  if mv product product.moved 2>/dev/null; then\n"
    "    mkdir product && printf '#!/bin/sh\\necho planted > %s\\n' \"$2\" > "
    "product/brixaupdatetemp.exe && chmod 755 product/brixaupdatetemp.exe && echo done\n"
    "    exit 0\n"
    "  fi\n"
    "  sleep 0.05; i=$((i + 1))\n"
    "done\n"
    "echo refused\n";

// Another user with access to the product's folder, or write access to the folder above it,
// tries to have their own program started in the installer's place while the updater
// downloads; nothing of theirs runs, only the installer served (or, where the folder above can
// be changed by others and is not sticky, nothing at all).
TEST_F(UpdaterEndToEnd, AnotherUserCannotHaveTheirProgramStarted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is missing (package util-linux)";
  const std::string installer = InstallerBytes(512 * 1024);
  UpdateServerOptions slow;
  slow.rateBytesPerSecond = static_cast<std::int64_t>(installer.size() / 3);  // about 3 s
  SERVER_OR_SKIP(server, slow);
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", installer);
  const struct {
    const char* name;
    const char* attack;
    fs::perms above;    // the folder above the product's, group kSharedGid
    fs::perms product;  // the product's folder, group kSharedGid
    bool installs;
  } cases[] = {
      // A group may read the product's folder, and the user's umask of 002 would have let it
      // write the file.
      {"rewrite through an early descriptor", kRewriteAttack, fs::perms(0755), fs::perms(0750),
       true},
      {"folder swapped in a shared folder", kSwapAttack, fs::perms(0770), fs::perms(0700), false},
      {"folder swapped in a sticky shared folder", kSwapAttack, fs::perms(01770), fs::perms(0700),
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProductDir product("BrixaUpdater", "product");
    product.SetLocalStamp("1");
    const std::string planted = product.Root() + "/planted";
    for (const auto& [folder, mode] :
         {std::pair{product.Root(), c.above}, std::pair{product.Path(""), c.product}}) {
      ASSERT_EQ(::chown(folder.c_str(), 0, kSharedGid), 0);
      fs::permissions(folder, mode);
    }
    const int requestsBefore = server->Requests("HEAD", "/brixakit/version.ini");
    std::string attacked;
    std::thread attacker([&] {
      // The swap starts once the updater runs from its folder, as it would on a user's machine.
      (void)WaitFor(
          [&] { return server->Requests("HEAD", "/brixakit/version.ini") > requestsBefore; },
          kDownloadStartTimeoutMs);
      attacked = RunAsOtherUser(c.attack, {product.Root(), planted});
    });
    const mode_t savedMask = ::umask(002);
    const ProgramResult run = product.Run();
    ::umask(savedMask);
    attacker.join();
    fs::permissions(product.Root(), fs::perms::owner_all);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(c.installs, product.WaitForMarker()) << run.stdErr << product.RunLog();
    if (c.installs) {
      EXPECT_EQ(attacked, "refused\n");
      EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    } else {
      EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
      EXPECT_NE(product.RunLog().find("not safe"), std::string::npos) << product.RunLog();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(planted)) << "the other user's program ran";
  }
}

#endif  // _WIN32

// A file of the signed releases the build made with openssl alone (tests/e2e/sign_fixtures.sh):
// test-releases/<release>/{version.ini,version.ini.sig,update.exe}.
std::string ReleaseFile(const std::string& release, const std::string& name) {
  return test::ReadFileText(test::BuildTreePath("test-releases/" + release + "/" + name));
}

bool HaveSignedReleases() {
  return fs::exists(test::BuildTreePath("app/BrixaUpdaterSigned" + test::ExecutableSuffix())) &&
         !ReleaseFile("v2", "version.ini.sig").empty();
}

// Puts a release's three files on the server.
void PublishRelease(const UpdateServer& server, const std::string& release) {
  for (const char* name : {"version.ini", "version.ini.sig", "update.exe"}) {
    server.Publish(name, ReleaseFile(release, name));
  }
}

// Over https the updater trusts the CA it was built with alone and never falls back to clear
// text: pinned to the CA that signed the server's certificate it installs; pinned to another
// it fetches nothing and ends quietly; a TLS stream cut in the installer is a download error.
// Under Wine the same runs go through the system's TLS (Schannel), on Linux through OpenSSL.
TEST_F(UpdaterEndToEnd, OverHttpsOnlyThePinnedCAIsTrusted) {
  if (!fs::exists(test::BuildTreePath("app/BrixaUpdaterTls" + test::ExecutableSuffix())) ||
      !HaveSignedReleases()) {
    GTEST_SKIP() << "no https test updaters: openssl was missing when the build was configured";
  }
  // The https updaters are signed: every signature comes over the pinned TLS too.
  const std::string installer = ReleaseFile("v2", "update.exe");
  const auto upstream = ShortInstallerUpstream();
  enum class Outcome { installed, nothingFetched, downloadError };
  const struct {
    const char* name;
    const char* program;
    std::string locations;
    Outcome outcome;
  } cases[] = {
      {"pinned CA", "BrixaUpdaterTls", "", Outcome::installed},
      {"another CA pinned", "BrixaUpdaterTlsUntrusting", "", Outcome::nothingFetched},
      {"installer cut short", "BrixaUpdaterTls",
       "location = /brixakit/update.exe { proxy_pass http://127.0.0.1:" +
           std::to_string(upstream->Port()) + "; proxy_buffering off; }",
       Outcome::downloadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The Windows test has only the plain https server that was started beside it.
    if (OnWindows() && !c.locations.empty()) continue;
    UpdateServerOptions options;
    options.tls = true;
    options.extraLocations = c.locations;
    SERVER_OR_SKIP(server, options);
    ProductDir product(c.program);
    product.SetLocalStamp("1");
    PublishRelease(*server, "v2");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    if (c.outcome == Outcome::installed) {
      ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
      EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
      EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
      continue;
    }
    EXPECT_FALSE(product.Has(kTempExe));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker));
    if (c.outcome == Outcome::nothingFetched) {
      EXPECT_EQ(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
      EXPECT_FALSE(product.Has(kTempVersion) &&
                   !test::ReadFileText(product.Path(kTempVersion)).empty());
      EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 0);
    } else {
      EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
    }
  }
}

// The lock taken by the test itself, as a first copy would hold it: runs on both platforms.
TEST_F(UpdaterEndToEnd, CopyStartedWhileTheLockIsHeldExitsWithoutNetworkAccess) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", InstallerBytes());
  ProductDir product;
  product.SetLocalStamp("old");
  {
    TNamedMutex first("BrixaUpdater");
    ASSERT_TRUE(first.Valid());
    ASSERT_FALSE(first.AlreadyExists()) << "another updater runs on this machine";
    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
  }
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 0);
  EXPECT_FALSE(product.Has(kTempVersion));
  // Once the lock is free the same copy updates.
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
}

TEST_F(UpdaterEndToEnd, SecondCopyExitsAtOnceWhileTheFirstDownloads) {
  const std::string installer = InstallerBytes(512 * 1024);
  UpdateServerOptions slow;
  // About three seconds for the whole installer.
  slow.rateBytesPerSecond = static_cast<std::int64_t>(installer.size() / 3);
  SERVER_OR_SKIP(server, slow);
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", installer);
  ProductDir first;
  ProductDir second;
  first.SetLocalStamp("old");
  second.SetLocalStamp("old");

  std::atomic<bool> firstEnded{false};
  ProgramResult firstRun;
  std::thread runner([&] {
    firstRun = first.Run();
    firstEnded = true;
  });
  // nginx logs a request when it ends: the file growing shows the download under way.
  const bool downloading = WaitFor(
      [&] {
        std::error_code ec;
        const auto size = fs::file_size(first.Path(kTempExe), ec);
        return (!ec && size > 0) || firstEnded;
      },
      kDownloadStartTimeoutMs);
  const ProgramResult secondRun = second.Run();
  const bool firstStillRunning = !firstEnded;
  runner.join();

  ASSERT_TRUE(downloading);
  EXPECT_TRUE(firstStillRunning) << "the first copy ended before the second one did: "
                                 << firstRun.stdErr;
  EXPECT_EQ(secondRun.exitCode, 0);
  EXPECT_EQ(secondRun.stdErr, "");
  EXPECT_FALSE(second.Has(kTempVersion));
  EXPECT_FALSE(second.Has(kTempExe));
  // The first copy asked once for each file; the second one asked for nothing.
  EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 1);
  EXPECT_EQ(firstRun.exitCode, 0);
  EXPECT_TRUE(first.WaitForMarker()) << firstRun.stdErr;
}

// --- Signed releases -------------------------------------------------------------------------

enum class Signed { installed, refused, downloadError };

// Runs `product` against `release` on `server` and checks the outcome: installed (the marker
// appears), refused (nothing but the manifest and its signature fetched, nothing shown), or a
// download error (the installer fetched but never started). The marker is removed afterwards.
void ExpectSignedRun(const ProductDir& product, const UpdateServer& server,
                     const std::string& release, Signed outcome) {
  SCOPED_TRACE(release);
  PublishRelease(server, release);
  const int downloadsBefore = server.Requests("GET", "/brixakit/update.exe");
  const ProgramResult run = product.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(product.Has(kTempVersion));
  switch (outcome) {
    case Signed::installed:
      EXPECT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
      break;
    case Signed::refused:
      EXPECT_EQ(run.stdErr, "");  // no window, no message
      EXPECT_EQ(server.Requests("GET", "/brixakit/update.exe"), downloadsBefore);
      break;
    case Signed::downloadError:
      EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
      EXPECT_FALSE(product.Has(kTempExe));
      break;
  }
  if (outcome != Signed::installed) {
    // Started installers write their marker at once; give one that slipped through a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker)) << "a refused installer ran";
  }
  fs::remove(product.Path(kMarker));
}

// The bytes nginx sent for the GETs of `path` ("... \"GET <path> HTTP/1.1\" <status> <bytes>").
std::int64_t BytesSent(const UpdateServer& server, const std::string& path) {
  std::istringstream log(server.AccessLog());
  std::int64_t total = 0;
  for (std::string line; std::getline(log, line);) {
    const std::size_t at = line.find("\"GET " + path + " ");
    if (at == std::string::npos) continue;
    std::istringstream rest(line.substr(line.find('"', at + 1) + 1));
    int status = 0;
    std::int64_t bytes = 0;
    rest >> status >> bytes;
    total += bytes;
  }
  return total;
}

// The updater built with the tests' key against a server playing the attacker, in one product
// folder whose state carries over from run to run, as on a user's machine.
TEST_F(UpdaterEndToEnd, SignedReleasesCannotBeReplayedMixedOrFrozen) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  ExpectSignedRun(product, *server, "v2", Signed::installed);
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), ReleaseFile("v2", "update.exe"));
  product.SetLocalStamp("2");  // what the installer would have done

  const struct {
    const char* release;
    Signed outcome;
    const char* logged;  // in the run's log record
  } attacks[] = {
      {"v1", Signed::refused, "rollback"},         // the previous release, replayed as published
      {"lowserial", Signed::refused, "rollback"},  // a new stamp under a lower serial
      {"expired", Signed::refused, "expired"},     // a frozen manifest
      {"otherproduct", Signed::refused, "product"},
      {"foreign", Signed::refused, "signature"},
      {"crossfile", Signed::refused, "larger than"},  // the signed installer served as manifest
      {"nocontext", Signed::refused, "signature"},    // a signature over the bare file
      {"badhash", Signed::downloadError, "SHA-256"},
      {"padded", Signed::downloadError, "larger"},  // more bytes than the manifest's Size
  };
  for (const auto& attack : attacks) {
    ExpectSignedRun(product, *server, attack.release, attack.outcome);
    const std::string log = product.RunLog();
    const std::string last = log.substr(log.rfind('\n', log.size() - 2) + 1);
    EXPECT_NE(last.find(attack.logged), std::string::npos) << attack.release << ": " << last;
  }
  // A deliberate rollback: the old stamp under a higher serial installs.
  ExpectSignedRun(product, *server, "rollback", Signed::installed);
  const std::string log = product.RunLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 11) << log;  // one record per run
}

// Sent without a length (chunked, so the HEAD announces nothing), an installer 32 MiB longer
// than the manifest's Size is cut off at Size: nginx logs what it sent before the updater
// closed, which is Size and what the sockets' buffers took, far from the whole file.
TEST_F(UpdaterEndToEnd, AnInstallerLongerThanItsSizeIsNotReadPastIt) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  if (OnWindows()) GTEST_SKIP() << "needs an nginx configured by the test (Linux side)";
  UpdateServerOptions chunked;
  chunked.extraLocations =
      "location = /brixakit/update.exe { sub_filter_types *; sub_filter '@@never@@' 'x'; }";
  SERVER_OR_SKIP(server, chunked);
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  ExpectSignedRun(product, *server, "padded", Signed::downloadError);
  const std::int64_t size = static_cast<std::int64_t>(ReleaseFile("v2", "update.exe").size());
  const std::int64_t served = static_cast<std::int64_t>(ReleaseFile("padded", "update.exe").size());
  const std::int64_t sent = BytesSent(*server, "/brixakit/update.exe");
  EXPECT_GE(sent, size);
  EXPECT_LT(sent, size + (16 << 20)) << "of " << served;
  EXPECT_NE(product.RunLog().find("larger than"), std::string::npos) << product.RunLog();
}

// A version file of 256 MiB, its length announced or sent chunked without one, to the plain
// and the signed updater: no more than the limit is kept, nothing is written beside the
// product, nothing else is fetched. nginx logs what it sent before the updater closed: the
// limit and what the sockets' buffers took, far from the whole file.
TEST_F(UpdaterEndToEnd, AHugeVersionFileLeavesNothingBehindAndIsNotReadToItsEnd) {
  constexpr std::uintmax_t kHugeVersionFile = std::uintmax_t{256} << 20;
  constexpr std::int64_t kSocketBuffers = std::int64_t{16} << 20;
  const struct {
    const char* program;
    bool chunked;
  } cases[] = {
      {"BrixaUpdater", false},
      {"BrixaUpdater", true},
      {"BrixaUpdaterSigned", false},
      {"BrixaUpdaterSigned", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + (c.chunked ? ", chunked" : ", with its length"));
    if (OnWindows() && c.chunked) continue;  // needs an nginx configured by the test
    if (std::string(c.program) != "BrixaUpdater" && !HaveSignedReleases()) continue;
    UpdateServerOptions options;
    if (c.chunked) {
      options.extraLocations =
          "location = /brixakit/version.ini { sub_filter_types *; sub_filter '@@never@@' 'x'; }";
    }
    SERVER_OR_SKIP(server, options);
    server->Publish("version.ini", VersionFile("2"));
    fs::resize_file(server->TreePath("version.ini"), kHugeVersionFile);  // sparse
    server->Publish("update.exe", InstallerBytes());
    ProductDir product(c.program);
    product.SetLocalStamp("1");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(product.Path(""))) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"BrixaUpdater" + test::ExecutableSuffix(), "state",
                                              "version.ini"}));
    EXPECT_NE(product.RunLog().find("larger than"), std::string::npos) << product.RunLog();
    // nginx writes its line once it finds the connection closed.
    EXPECT_TRUE(WaitFor([&] { return server->Requests("GET", "/brixakit/version.ini") == 1; },
                        kMarkerTimeoutMs));
    const std::int64_t sent = BytesSent(*server, "/brixakit/version.ini");
    EXPECT_LT(sent, kMaxManifestBytes + kSocketBuffers) << "of " << kHugeVersionFile;
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
    fs::remove(server->TreePath("version.ini"));
  }
}

// A vendor rotates keys: an updater trusting the old key only, then one trusting both, then
// one trusting the new key only.
TEST_F(UpdaterEndToEnd, KeyRotationInThreeSteps) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  {
    ProductDir oldKey("BrixaUpdaterSigned");
    oldKey.SetLocalStamp("1");
    ExpectSignedRun(oldKey, *server, "v2new", Signed::refused);
    ExpectSignedRun(oldKey, *server, "v2", Signed::installed);
  }
  for (const char* release : {"v2", "v2new"}) {
    ProductDir both("BrixaUpdaterRotating");
    both.SetLocalStamp("1");
    ExpectSignedRun(both, *server, release, Signed::installed);
  }
  ProductDir newKey("BrixaUpdaterNewKey");
  newKey.SetLocalStamp("1");
  ExpectSignedRun(newKey, *server, "v2", Signed::refused);
  ExpectSignedRun(newKey, *server, "v3new", Signed::installed);
}

// --- Behind the user's proxy -----------------------------------------------------------------

// Lines the proxy logged for the update tree, whatever their method and status.
int ProxiedTreeRequests(const test::PeerProcess& proxy) {
  const std::string tree = " http://" + std::string(kUpdateServer) + "/brixakit/";
  std::istringstream log(proxy.ReadFile("access.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(tree) != std::string::npos) ++count;
  }
  return count;
}

// squid writes its log line once a transaction ends; the updater may be gone by then.
constexpr int kProxyLogTimeoutMs = 10000;

// Checks that the last run's four requests for the update tree went through the proxy, or that
// none did; answers the proxy's count of tree requests for the next run.
int ExpectProxiedRun(const test::PeerProcess& proxy, bool proxied, int before) {
  if (proxied) {
    EXPECT_TRUE(
        WaitFor([&] { return ProxiedTreeRequests(proxy) == before + 4; }, kProxyLogTimeoutMs))
        << proxy.ReadFile("access.log");
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(ProxiedTreeRequests(proxy), before) << proxy.ReadFile("access.log");
  }
  return ProxiedTreeRequests(proxy);
}

#ifndef _WIN32

// Requests for `path` of the update server that `proxy`'s access log shows answered with
// `status` ("200", "302", "407").
int ProxiedRequests(const test::PeerProcess& proxy, const std::string& method,
                    const std::string& path, const std::string& status = "200") {
  const std::string url = " " + method + " http://" + std::string(kUpdateServer) + path + " ";
  std::istringstream log(proxy.ReadFile("access.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(url) != std::string::npos && line.find("/" + status + " ") != std::string::npos)
      ++count;
  }
  return count;
}

// Proxy variables for the updater runs of one scope, restored afterwards. The suite runs with
// all of them unset (see SetUpTestSuite).
class ScopedProxyEnvironment {
 public:
  explicit ScopedProxyEnvironment(
      std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& [name, value] : values) {
      names_.emplace_back(name);
      ::setenv(name, value.c_str(), 1);
    }
  }
  ~ScopedProxyEnvironment() {
    for (const std::string& name : names_) ::unsetenv(name.c_str());
  }
  ScopedProxyEnvironment(const ScopedProxyEnvironment&) = delete;
  ScopedProxyEnvironment& operator=(const ScopedProxyEnvironment&) = delete;

 private:
  std::vector<std::string> names_;
};

TEST_F(UpdaterEndToEnd, UpdatesThroughTheProxyOfHttpProxyWithAndWithoutCredentials) {
  const std::string installer = InstallerBytes();
  const struct {
    const char* what;
    test::PeerKind kind;
    const char* credentials;  // user information of the proxy URL
    bool challenged;
  } cases[] = {
      {"open proxy", test::PeerKind::Squid, "", false},
      {"Basic", test::PeerKind::SquidAuth, "alice:secret@", true},
      // DOMAIN\user, percent-encoded as a URL needs it.
      {"NTLM", test::PeerKind::SquidNTLM, "CORP%5Calice:s%40cret@", true},
      // Digest signs the method and the absolute URL; Samba's NTLM server checks version 2.
      {"Digest", test::PeerKind::SquidDigest, "alice:secret@", true},
      {"NTLMv2", test::PeerKind::SquidNTLMv2, "CORP%5Calice:secret@", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BRIXA_PEER_OR_SKIP(proxy, c.kind);
    SERVER_OR_SKIP(server, UpdateServerOptions{});
    server->Publish("version.ini", VersionFile("2", Sha256Hex(installer)));
    server->Publish("update.exe", installer);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment(
        {{"http_proxy",
          "http://" + std::string(c.credentials) + "127.0.0.1:" + std::to_string(proxy->Port())}});

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    EXPECT_TRUE(WaitFor([&] { return ProxiedRequests(*proxy, "GET", "/brixakit/update.exe") == 1; },
                        kProxyLogTimeoutMs))
        << proxy->ReadFile("access.log");
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/version.ini"), 1);
    EXPECT_EQ(ProxiedRequests(*proxy, "GET", "/brixakit/version.ini"), 1);
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/update.exe"), 1);
    // Each client met the challenge once, on its first request.
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/version.ini", "407") > 0, c.challenged);
    EXPECT_EQ(ProxiedRequests(*proxy, "GET", "/brixakit/update.exe", "407"), 0);
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
    // One record, and no credential in it.
    const std::string log = product.RunLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("decision=installed"), std::string::npos) << log;
    for (const char* secret : {"alice", "secret", "s%40cret", "s@cret"}) {
      EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in " << log;
    }
  }
}

// no_proxy as curl reads it sends the update server's requests around the proxy; a proxy that
// only upper-case HTTP_PROXY names is no proxy.
TEST_F(UpdaterEndToEnd, HostsInNoProxyAreReachedDirectly) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  const std::string viaSquid = "http://127.0.0.1:" + std::to_string(proxy->Port());
  const std::string nowhere = "http://127.0.0.1:1";  // nothing listens: a use would fail
  const struct {
    const char* noProxyName;
    const char* noProxy;
    std::string httpProxy;
    bool proxied;
  } cases[] = {
      {"no_proxy", "localhost,127.0.0.1", viaSquid, false},
      {"NO_PROXY", "127.0.0.0/8", viaSquid, false},
      {"no_proxy", "*", viaSquid, false},
      {"no_proxy", "127.0.0.1:8472, .example.com", viaSquid, true},
      {"HTTP_PROXY", nowhere.c_str(), "", false},
  };
  int proxiedBefore = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.noProxyName) + "=" + c.noProxy);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment(
        {{c.noProxyName, c.noProxy}, {"http_proxy", c.httpProxy}});
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
    proxiedBefore = ExpectProxiedRun(*proxy, c.proxied, proxiedBefore);
  }
}

// The download follows a redirect to a host no_proxy names: that leg goes direct, while the
// first one went through the proxy.
TEST_F(UpdaterEndToEnd, RedirectToABypassedHostGoesDirect) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  const test::ServerAddress address = test::BuiltInServer();
  UpdateServerOptions options;
  options.extraLocations = "location = /brixakit/update.exe { return 302 http://localhost:" +
                           std::to_string(address.port) + "/brixakit/moved.exe; }";
  SERVER_OR_SKIP(server, options);
  const std::string installer = InstallerBytes();
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("moved.exe", installer);
  ProductDir product;
  product.SetLocalStamp("1");
  const ScopedProxyEnvironment environment(
      {{"http_proxy", "127.0.0.1:" + std::to_string(proxy->Port())}, {"no_proxy", "localhost"}});

  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  EXPECT_TRUE(
      WaitFor([&] { return ProxiedRequests(*proxy, "GET", "/brixakit/update.exe", "302") == 1; },
              kProxyLogTimeoutMs))
      << proxy->ReadFile("access.log");
  EXPECT_EQ(proxy->ReadFile("access.log").find("moved.exe"), std::string::npos);
  EXPECT_EQ(server->Requests("GET", "/brixakit/moved.exe"), 1);
}

// A proxy setting the updater cannot use is reported and nothing goes around it.
TEST_F(UpdaterEndToEnd, UnusableProxySettingIsReportedAndNothingGoesDirect) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  for (const char* setting : {"socks5://alice:pw@127.0.0.1:1080", "http://127.0.0.1:99999"}) {
    SCOPED_TRACE(setting);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment({{"http_proxy", setting}});
    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.stdErr.find("unusable proxy setting http_proxy="), std::string::npos)
        << run.stdErr;
    EXPECT_EQ(run.stdErr.find(":pw@"), std::string::npos) << run.stdErr;
    EXPECT_FALSE(product.Has(kTempVersion));
    EXPECT_FALSE(product.Has(kTempExe));
    // The failure is logged with its reason, and without the password.
    const std::string log = product.RunLog();
    EXPECT_NE(log.find("decision=failed"), std::string::npos) << log;
    EXPECT_NE(log.find("proxy"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos) << log;
  }
  EXPECT_EQ(server->AccessLog(), "");
}

#else  // _WIN32

// The proxy settings of the user's Internet Settings for one scope, set with reg.exe as an
// administrator's script would, and put back as they were afterwards (the other tests of the
// Wine run share this registry). WinHTTP reads the binary DefaultConnectionSettings value of
// the Connections key; ProxyEnable, ProxyServer and ProxyOverride are the older values that
// Windows keeps beside it and Wine ignores, set here too so the state is what Windows writes.
class ScopedInternetSettings {
 public:
  ScopedInternetSettings(const std::string& proxyServer, const std::string& bypass) {
    Save(kSettingsKey, "ProxyEnable");
    Save(kSettingsKey, "ProxyServer");
    Save(kSettingsKey, "ProxyOverride");
    Save(kConnectionsKey, "DefaultConnectionSettings");
    ok_ = Add(kSettingsKey, "ProxyEnable", "REG_DWORD", "1") &&
          Add(kSettingsKey, "ProxyServer", "REG_SZ", proxyServer) &&
          Add(kSettingsKey, "ProxyOverride", "REG_SZ", bypass) &&
          Add(kConnectionsKey, "DefaultConnectionSettings", "REG_BINARY",
              ConnectionSettings(proxyServer, bypass));
  }
  ~ScopedInternetSettings() {
    for (const Saved& value : saved_) {
      HKEY key = nullptr;
      if (::RegCreateKeyExA(HKEY_CURRENT_USER, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
        continue;
      }
      if (value.present) {
        ::RegSetValueExA(key, value.name.c_str(), 0, value.type,
                         reinterpret_cast<const BYTE*>(value.data.data()),
                         static_cast<DWORD>(value.data.size()));
      } else {
        ::RegDeleteValueA(key, value.name.c_str());
      }
      ::RegCloseKey(key);
    }
  }
  ScopedInternetSettings(const ScopedInternetSettings&) = delete;
  ScopedInternetSettings& operator=(const ScopedInternetSettings&) = delete;

  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  static constexpr const char* kSettingsKey =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  static constexpr const char* kConnectionsKey =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr std::uint32_t kSettingsVersion = 0x46;
  static constexpr std::uint32_t kDirectAndManualProxy = 0x3;  // PROXY_TYPE_DIRECT | _PROXY

  struct Saved {
    std::string key;
    std::string name;
    bool present = false;
    DWORD type = 0;
    std::string data;
  };

  void Save(const std::string& key, const std::string& name) {
    Saved value;
    value.key = key;
    value.name = name;
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) ==
        ERROR_SUCCESS) {
      DWORD size = 0;
      if (::RegQueryValueExA(handle, name.c_str(), nullptr, &value.type, nullptr, &size) ==
          ERROR_SUCCESS) {
        value.data.resize(size);
        value.present =
            ::RegQueryValueExA(handle, name.c_str(), nullptr, &value.type,
                               reinterpret_cast<BYTE*>(value.data.data()), &size) == ERROR_SUCCESS;
      }
      ::RegCloseKey(handle);
    }
    saved_.push_back(std::move(value));
  }

  static bool Add(const std::string& key, const std::string& name, const std::string& type,
                  const std::string& data) {
    const ProgramResult run =
        test::RunProgram("C:\\windows\\system32\\reg.exe",
                         {"add", "HKCU\\" + key, "/v", name, "/t", type, "/d", data, "/f"}, 30000);
    return run.exitCode == 0;
  }

  // The layout of DefaultConnectionSettings: version, counter, flags, then the proxy, the
  // bypass list and the configuration script's URL, each a 32-bit length and its bytes.
  static std::string ConnectionSettings(const std::string& proxy, const std::string& bypass) {
    std::string hex;
    const auto word = [&hex](std::uint32_t value) {
      char text[9];
      std::snprintf(text, sizeof text, "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                    (value >> 16) & 0xFF, (value >> 24) & 0xFF);
      hex += text;
    };
    const auto text = [&](const std::string& value) {
      word(static_cast<std::uint32_t>(value.size()));
      for (const char ch : value) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(ch));
        hex += pair;
      }
    };
    word(kSettingsVersion);
    word(0);
    word(kDirectAndManualProxy);
    text(proxy);
    text(bypass);
    text("");
    return hex;
  }

  std::vector<Saved> saved_;
  bool ok_ = false;
};

TEST_F(UpdaterEndToEnd, UpdatesThroughTheProxyOfTheInternetSettings) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", installer);
  const std::string squid = "127.0.0.1:" + std::to_string(proxy->Port());
  const struct {
    std::string proxyServer;
    const char* bypass;
    bool proxied;
  } cases[] = {
      // Loopback goes direct unless the list says "<-loopback>".
      {"http=" + squid + ";https=" + squid, "<-loopback>", true},
      {squid, "<-loopback>;*.example.com", true},
      {squid, "<local>", false},
      {"http=" + squid, "<-loopback>;127.0.0.*", false},
      {"https=" + squid, "<-loopback>", false},  // no proxy for http URLs
  };
  int proxiedBefore = ProxiedTreeRequests(*proxy);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proxyServer + " / " + c.bypass);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedInternetSettings settings(c.proxyServer, c.bypass);
    ASSERT_TRUE(settings.Ok()) << "reg.exe could not set the Internet Settings";
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    proxiedBefore = ExpectProxiedRun(*proxy, c.proxied, proxiedBefore);
  }
}

// However the proxy answers (407 offering NTLM, Negotiate and Digest, to the plain and to the
// https updater), the updater loads no library planted in the current folder or on PATH.
TEST_F(UpdaterEndToEnd, LoadsNoLibraryPlantedInTheCurrentFolderOrOnPath) {
  for (const char* program : {"BrixaUpdater", "BrixaUpdaterTls"}) {
    SCOPED_TRACE(program);
    if (!fs::exists(test::BuildTreePath(std::string("app/") + program + test::ExecutableSuffix())))
      continue;
    test::ScriptedServer proxy(test::ChallengingPeer(407), {.stepTimeoutMs = 2000});
    ProductDir product(program);
    product.SetLocalStamp("1");
    const ScopedInternetSettings settings("127.0.0.1:" + std::to_string(proxy.Port()),
                                          "<-loopback>");
    ASSERT_TRUE(settings.Ok()) << "reg.exe could not set the Internet Settings";
    const test::PlantedLibraries planted;
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(proxy.Accepted(), 1u) << "the updater never met the proxy's challenge";
    EXPECT_EQ(planted.Loaded(), std::vector<std::string>{}) << run.stdErr;
  }
}

// Tells Wine, for the programs named, to load the libraries named from beside the program when
// a file of that name is there, as Windows does; for the life of the object (Wine reads its
// per-program settings when a program starts; Windows ignores them).
class ScopedWineNativeFirst {
 public:
  template <std::size_t N>
  ScopedWineNativeFirst(std::initializer_list<const char*> programs, const char* const (&dlls)[N]) {
    for (const char* program : programs) {
      const std::string key = std::string(kAppDefaults) + program;
      keys_.push_back(key);
      HKEY overrides = nullptr;
      if (::RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &overrides, nullptr) != ERROR_SUCCESS) {
        continue;
      }
      for (const char* dll : dlls) {
        const std::string name = std::string(dll).substr(0, std::strlen(dll) - 4);  // no ".dll"
        ::RegSetValueExA(overrides, name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>("native,builtin"), 15);
      }
      ::RegCloseKey(overrides);
    }
  }
  ~ScopedWineNativeFirst() {
    for (const std::string& key : keys_) (void)::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  }
  ScopedWineNativeFirst(const ScopedWineNativeFirst&) = delete;
  ScopedWineNativeFirst& operator=(const ScopedWineNativeFirst&) = delete;

 private:
  static constexpr const char* kAppDefaults = "Software\\Wine\\AppDefaults\\";
  std::vector<std::string> keys_;
};

// Libraries that are not among the system's known DLLs are looked for beside the program
// first. Planted there under the names of the system libraries the updater uses, none is loaded
// through a signed update with its window, nor over https (Schannel): a probe bound to bcrypt
// by a plain import does load the planted one, so the planting works.
TEST_F(UpdaterEndToEnd, LoadsNoSystemLibraryPlantedBesideItself) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  const char* const names[] = {"bcrypt.dll", "crypt32.dll", "secur32.dll", "comctl32.dll"};
  // Windows looks beside the program first for these; Wine does when told to.
  const ScopedWineNativeFirst nativeFirst({"BrixaUpdater.exe", "plant_probe.exe"}, names);
  const auto plant = [&](const ProductDir& product) {
    for (const char* name : names) fs::copy_file(test::MarkerDll(), product.Path(name));
  };
  const auto loaded = [&](const ProductDir& product) {
    std::vector<std::string> found;
    for (const char* name : names) {
      if (product.Has(std::string(name) + ".loaded")) found.emplace_back(name);
    }
    return found;
  };
  {
    ProductDir probe;
    plant(probe);
    fs::copy_file(test::BuildTreePath("tests/plant_probe.exe"), probe.Path("plant_probe.exe"));
    (void)test::RunProgram(probe.Path("plant_probe.exe"), {}, kRunTimeoutMs);
    EXPECT_EQ(loaded(probe), std::vector<std::string>{"bcrypt.dll"})
        << "the probe did not load the planted bcrypt.dll: the planting proves nothing";
  }
  for (const bool tls : {false, true}) {
    const std::string program = tls ? "BrixaUpdaterTls" : "BrixaUpdaterSigned";
    SCOPED_TRACE(program);
    if (!fs::exists(test::BuildTreePath("app/" + program + test::ExecutableSuffix()))) continue;
    UpdateServerOptions options;
    options.tls = tls;
    SERVER_OR_SKIP(server, options);
    PublishRelease(*server, "v2");
    ProductDir product(program);
    plant(product);
    product.SetLocalStamp("1");
    const ProgramResult run = product.Run();
    EXPECT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
    EXPECT_EQ(loaded(product), std::vector<std::string>{}) << run.stdErr;
  }
}

#endif  // _WIN32

// --- The overall deadline --------------------------------------------------------------------

// The user's proxy setting naming a proxy on 127.0.0.1:`port`, for one scope, loopback
// included.
class ScopedLoopbackProxy {
 public:
#ifdef _WIN32
  explicit ScopedLoopbackProxy(std::uint16_t port)
      : settings_("127.0.0.1:" + std::to_string(port), "<-loopback>") {}
  [[nodiscard]] bool Ok() const {
    return settings_.Ok();
  }

 private:
  ScopedInternetSettings settings_;
#else
  explicit ScopedLoopbackProxy(std::uint16_t port)
      : environment_({{"http_proxy", "http://127.0.0.1:" + std::to_string(port)}}) {}
  [[nodiscard]] bool Ok() const {
    return true;
  }

 private:
  ScopedProxyEnvironment environment_;
#endif
};

// What BrixaUpdaterShortDeadline allows a whole run, and how much longer a run may take before
// the test calls it held: starting the program (under Wine too) and its clean-up, generously.
constexpr int kShortDeadlineMs = 4000;
constexpr int kDeadlineMarginMs = 26000;

// Bytes that keep a transfer above the low-speed limit of 1024 bytes a second (1500 a second)
// for as long as the hostile peer below wants, which is always far past the deadline and its
// margin.
constexpr std::size_t kDripPiece = 300;
constexpr int kDripGapMs = 200;
constexpr std::size_t kDrippedInstallerBytes = 150000;  // 100 s
constexpr int kInterimResponses = 70;                   // above the client's limit, ~1 s each
constexpr int kRedirectLegs = 20;                       // above the client's limit, 4 s each

// Sends `bytes` kDripPiece at a time, kDripGapMs apart.
void Drip(test::Script& script, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kDripPiece) {
    script.push_back(test::Pause(kDripGapMs));
    script.push_back(test::Send(bytes.substr(at, kDripPiece)));
  }
}

// `count` header lines of padding, kDripPiece bytes each.
std::string PadLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "X-Pad: " + std::string(kDripPiece - 9, 'p') + "\r\n";
  return lines;
}

std::string ClosingHead(const std::string& status, std::size_t length) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n";
}

test::Script Answer(const std::string& head, const std::string& body = {}) {
  return {test::Expect::LineBlock(), test::Send(head + body), test::Close()};
}

enum class Hold { drip, interim, redirects };

// One connection per request (every answer closes), as a server or as a proxy would play them:
// the request line is never looked at. `drip` and `redirects` let the version check find an
// update and hold the installer's download; `interim` holds the version check.
std::vector<test::Script> HoldingScripts(Hold hold) {
  const std::string version = VersionFile("2");
  const std::string versionHead = ClosingHead("200 OK", version.size());
  std::vector<test::Script> scripts{Answer(versionHead), Answer(versionHead, version)};
  switch (hold) {
    case Hold::drip: {
      const std::string head = ClosingHead("200 OK", kDrippedInstallerBytes);
      scripts.push_back(Answer(head));
      test::Script get{test::Expect::LineBlock(), test::Send(head)};
      Drip(get, std::string(kDrippedInstallerBytes, 'x'));
      scripts.push_back(std::move(get));
      break;
    }
    case Hold::interim: {
      std::string interims;
      for (int i = 0; i < kInterimResponses; ++i) {
        interims += "HTTP/1.1 102 Processing\r\n" + PadLines(4) + "\r\n";
      }
      scripts.assign(1, test::Script{test::Expect::LineBlock()});
      Drip(scripts[0], interims);
      break;
    }
    case Hold::redirects:
      for (int leg = 0; leg < kRedirectLegs; ++leg) {
        test::Script redirect{test::Expect::LineBlock()};
        Drip(redirect, "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                           std::to_string(test::BuiltInServer().port) +
                           "/brixakit/update.exe?leg=" + std::to_string(leg) + "\r\n" +
                           PadLines(20) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        scripts.push_back(std::move(redirect));
      }
      break;
  }
  return scripts;
}

// A server or a proxy that keeps sending, fast enough for the low-speed rule and within every
// count limit of the client, holds the updater no longer than its overall deadline: the run ends
// like any failure and the single-instance lock is free again.
TEST_F(UpdaterEndToEnd, NoServerOrProxyHoldsTheUpdaterPastItsDeadline) {
  const std::string program = "BrixaUpdaterShortDeadline";
  if (!fs::exists(test::BuildTreePath("app/" + program + test::ExecutableSuffix()))) {
    GTEST_SKIP() << "no short-deadline updater in this build";
  }
  const struct {
    const char* name;
    Hold hold;
    bool asProxy;
  } cases[] = {
      {"server drips the installer", Hold::drip, false},
      {"server sends interim responses", Hold::interim, false},
      {"server redirects", Hold::redirects, false},
      {"proxy drips the installer", Hold::drip, true},
      {"proxy sends interim responses", Hold::interim, true},
      {"proxy redirects", Hold::redirects, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Under Wine the update server's port belongs to the server started beside the tests.
    if (OnWindows() && !c.asProxy) continue;
    test::ScriptedServerOptions where;
    if (!c.asProxy) where.port = static_cast<std::uint16_t>(test::BuiltInServer().port);
    test::ScriptedServer peer(HoldingScripts(c.hold), where);
    ASSERT_EQ(peer.Failures(), "") << "port " << where.port;
    std::optional<ScopedLoopbackProxy> proxy;
    if (c.asProxy) proxy.emplace(peer.Port());
    ASSERT_TRUE(!proxy || proxy->Ok()) << "the proxy setting could not be made";
    ProductDir product(program);
    product.SetLocalStamp("1");

    const ProgramResult run = product.Run(kShortDeadlineMs + kDeadlineMarginMs);
    EXPECT_FALSE(run.timedOut) << "held past the deadline";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(peer.Accepted(), c.hold == Hold::interim ? 1u : 3u);
    EXPECT_NE(product.RunLog().find("took longer than allowed"), std::string::npos)
        << product.RunLog();
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kMarker));
    const TNamedMutex next("BrixaUpdater");
    EXPECT_TRUE(next.Valid());
    EXPECT_FALSE(next.AlreadyExists()) << "the lock outlived the run";
  }
}

#ifndef _WIN32

// An image in binary PPM form (what `convert ... ppm:` writes).
struct Picture {
  int width = 0;
  int height = 0;
  std::string rgb;  // width * height * 3 bytes, row by row
  [[nodiscard]] bool Load(const std::string& bytes) {
    std::istringstream in(bytes);
    std::string magic;
    int maxValue = 0;
    in >> magic;
    SkipComments(in);
    in >> width;
    SkipComments(in);
    in >> height;
    SkipComments(in);
    in >> maxValue;
    in.get();  // the single blank after the header
    if (magic != "P6" || maxValue != 255 || width <= 0 || height <= 0) return false;
    rgb = bytes.substr(static_cast<std::size_t>(in.tellg()));
    return rgb.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  }
  static void SkipComments(std::istream& in) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
  }
  [[nodiscard]] bool Is(int x, int y, int r, int g, int b) const {
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    return static_cast<unsigned char>(rgb[at]) == r &&
           static_cast<unsigned char>(rgb[at + 1]) == g &&
           static_cast<unsigned char>(rgb[at + 2]) == b;
  }
};

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// The window system may place a window a few pixels off what was asked (border, rounding).
constexpr int kCentreTolerance = 12;

// Runs the updater on a fresh X server and photographs the screen once a third of the installer
// has arrived; the picture (a PNG for a person, a PPM for the checks) stays in the build tree.
TEST_F(UpdaterEndToEnd, WindowIsCentredAndShowsTheBarMoving) {
  for (const char* tool : {"/usr/bin/xvfb-run", "/usr/bin/xwd", "/usr/bin/convert"}) {
    if (!fs::exists(tool))
      GTEST_SKIP() << tool << " is missing (packages xvfb, x11-apps, imagemagick)";
  }
  const std::string installer = InstallerBytes(768 * 1024);
  UpdateServerOptions slow;
  slow.rateBytesPerSecond = static_cast<std::int64_t>(installer.size() / 3);
  SERVER_OR_SKIP(server, slow);
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", installer);
  ProductDir product;
  product.SetLocalStamp("old");

  // The client sizes the file to the announced length before the body arrives, so the file's
  // existence marks the start; a second later about a third of the body is in.
  const std::string script =
      "cd \"$1\" || exit 2\n"
      "./BrixaUpdater 2> updater.err & pid=$!\n"
      "i=0\n"
      "while [ $i -lt 300 ] && [ ! -e brixaupdatetemp.exe ]; do sleep 0.05; i=$((i + 1)); done\n"
      "sleep 1\n"
      "xwd -root -silent > shot.xwd\n"
      "wait $pid; echo $? > updater.rc\n";
  const std::string screen = "-screen 0 " + std::to_string(kScreenWidth) + "x" +
                             std::to_string(kScreenHeight) + "x24 -br -nolisten tcp";
  const ProgramResult run = test::RunProgram("/usr/bin/xvfb-run",
                                             {"-a", "-s", screen, "/bin/sh", "-c", script, "shot",
                                              product.Path(""), std::to_string(installer.size())},
                                             kRunTimeoutMs);
  ASSERT_FALSE(run.timedOut);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(test::ReadFileText(product.Path("updater.rc")), "0\n");
  EXPECT_EQ(test::ReadFileText(product.Path("updater.err")), "");  // a window, not the console
  EXPECT_TRUE(product.WaitForMarker());

  const std::string png = test::BuildTreePath("tests/updater_window.png");
  const std::string ppm = product.Path("shot.ppm");
  ASSERT_EQ(test::RunProgram("/usr/bin/convert", {"xwd:" + product.Path("shot.xwd"), png}, 30000)
                .exitCode,
            0);
  ASSERT_EQ(
      test::RunProgram("/usr/bin/convert", {png, "-depth", "8", "ppm:" + ppm}, 30000).exitCode, 0);
  Picture shot;
  ASSERT_TRUE(shot.Load(test::ReadFileText(ppm)));
  ASSERT_EQ(shot.width, kScreenWidth);
  ASSERT_EQ(shot.height, kScreenHeight);

  // The window is everything that is not the black root; the bar is green over a grey trough.
  int left = shot.width, top = shot.height, right = -1, bottom = -1, filled = 0, trough = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (shot.Is(x, y, 0, 0, 0)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
      if (shot.Is(x, y, 6, 176, 37)) ++filled;
      if (shot.Is(x, y, 230, 230, 230)) ++trough;
    }
  }
  ASSERT_GE(right, 0) << "blank screenshot " << png;
  const int width = right - left + 1;
  const int height = bottom - top + 1;
  EXPECT_GE(width, 305) << png;
  EXPECT_LE(width, 305 + 2 * kCentreTolerance) << png;
  EXPECT_GE(height, 41) << png;
  EXPECT_LE(height, 41 + 4 * kCentreTolerance) << png;
  EXPECT_NEAR(left + width / 2, kScreenWidth / 2, kCentreTolerance) << png;
  EXPECT_NEAR(top + height / 2, kScreenHeight / 2, kCentreTolerance) << png;
  EXPECT_GT(filled, 0) << "no part of the bar is filled: " << png;
  EXPECT_GT(trough, 0) << "the bar is already full: " << png;
  std::cout << "screenshot: " << png << " window " << width << "x" << height << " at " << left
            << "," << top << ", bar " << filled << " filled / " << trough << " empty pixels\n";
}

#endif  // _WIN32

// --- Delivery: mirrors, resumed downloads, rollout, back-off ---------------------------------

// Signs `installer` as a release with brixa-release and the tests' key, with `extra` options
// (--mirror, --rollout), and puts it on the server.
void PublishSigned(const UpdateServer& server, const std::string& installer,
                   const std::string& serial, const std::vector<std::string>& extra = {}) {
  test::TempDir dir;
  test::WriteFileText(dir.Path("setup.bin"), installer);
  std::vector<std::string> arguments = {
      "sign",     "--key", test::BuildTreePath("test-update-key/private.pem"), "--stamp", "2",
      "--serial", serial};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.push_back(dir.Path("setup.bin"));
  arguments.push_back(dir.Path("release"));
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(release::RunReleaseTool(arguments, out, err), release::kExitOk) << err.str();
  for (const char* name : {"version.ini", "version.ini.sig", "update.exe"}) {
    server.Publish(name, test::ReadFileText(dir.Path("release") + "/" + name));
  }
}

// The last line of the run log.
std::string LastRecord(const ProductDir& product) {
  const std::string log = product.RunLog();
  return log.size() < 2 ? log : log.substr(log.rfind('\n', log.size() - 2) + 1);
}

// The primary serves a tampered installer; of the mirrors one refuses connections, one has no
// such file and the last serves the right one: that one is installed, and the log names it.
TEST_F(UpdaterEndToEnd, MirrorsDeliverWhenThePrimaryFailsAndAreHeldToTheManifest) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes(64 * 1024);
  test::RefusingPort down;
  const std::string base = "http://127.0.0.1:" + std::to_string(test::BuiltInServer().port);
  const std::string good = base + "/brixakit/mirror-update.exe";
  PublishSigned(*server, installer, "100",
                {"--mirror", "http://127.0.0.1:" + std::to_string(down.Port()) + "/u.exe",
                 "--mirror", base + "/brixakit/missing.exe", "--mirror", good});
  std::string tampered = installer;
  tampered[tampered.size() - 1] ^= 1;
  server->Publish("update.exe", tampered);
  server->Publish("mirror-update.exe", installer);
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  const std::string record = LastRecord(product);
  EXPECT_NE(record.find("installed"), std::string::npos) << record;
  EXPECT_NE(record.find("served by " + good), std::string::npos) << record;
  EXPECT_FALSE(product.Has(std::string(kTempExe) + ".partial"));
}

// An updater built with two servers (the first on BRIXA_FALLBACK_TEST_PORT) checks with the
// second when the first refuses the connection or answers 503, installs from it, and logs why
// the first was passed over; with both failing it fails with both reasons and starts nothing.
TEST_F(UpdaterEndToEnd, AFailingFirstUpdateServerHandsOverToTheNext) {
#ifdef BRIXA_FALLBACK_TEST_PORT
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  const std::string first = "127.0.0.1:" + std::to_string(BRIXA_FALLBACK_TEST_PORT);
  const test::Script unavailable = {
      test::Expect::LineBlock(),
      test::Send(
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")};
  const struct {
    const char* what;
    bool firstAnswers;  // a server on the first port answering 503, or none there
    bool secondServes;  // the usual server up with the release, or down
  } cases[] = {
      {"first refuses the connection", false, true},
      {"first answers 503", true, true},
      {"both fail", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The Windows test shares the usual server, started beside it, with every other test.
    if (OnWindows() && !c.secondServes) continue;
    std::optional<test::ScriptedServer> failing;
    if (c.firstAnswers)
      failing.emplace(unavailable, test::ScriptedServerOptions{.port = static_cast<std::uint16_t>(
                                                                   BRIXA_FALLBACK_TEST_PORT)});
    std::unique_ptr<UpdateServer> server;
    if (c.secondServes) {
      std::string whyNot;
      server = UpdateServer::Start(UpdateServerOptions{}, whyNot);
      if (!server) GTEST_SKIP() << whyNot;
      PublishRelease(*server, "v2");
    }
    ProductDir product("BrixaUpdaterFallback");
    product.SetLocalStamp("1");
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    const std::string record = LastRecord(product);
    EXPECT_NE(record.find(first), std::string::npos) << "the first server's failure: " << record;
    if (c.firstAnswers) {
      EXPECT_GE(failing->Accepted(), 1u);
      EXPECT_NE(record.find("503"), std::string::npos) << record;
    }
    if (c.secondServes) {
      EXPECT_TRUE(product.WaitForMarker()) << run.stdErr << record;
      EXPECT_NE(record.find("installed"), std::string::npos) << record;
      EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
    } else {
      EXPECT_NE(record.find("decision=failed"), std::string::npos) << record;
      EXPECT_NE(record.find(":" + std::to_string(test::BuiltInServer().port)), std::string::npos)
          << record;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_FALSE(product.Has(kMarker));
    }
  }
#else
  GTEST_SKIP() << "no fallback updater: openssl was missing at configure";
#endif
}

// The first server answers 503 with "Retry-After: 120": the run installs from the next, and
// the run after it asks only the next, leaving the first alone until its time.
TEST_F(UpdaterEndToEnd, AServerThatAsksToWaitIsLeftAloneWhileTheNextServes) {
#ifdef BRIXA_FALLBACK_TEST_PORT
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  const test::ScriptedServer busy(
      test::Script{test::Expect::LineBlock(),
                   test::Send("HTTP/1.1 503 Service Unavailable\r\nRetry-After: 120\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n")},
      {.port = static_cast<std::uint16_t>(BRIXA_FALLBACK_TEST_PORT)});
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  PublishRelease(*server, "v2");
  ProductDir product("BrixaUpdaterFallback");
  product.SetLocalStamp("1");
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const ProgramResult result = product.Run();
    EXPECT_TRUE(product.WaitForMarker()) << result.stdErr << product.RunLog();
    fs::remove(product.Path(kMarker));
    const std::string record = LastRecord(product);
    EXPECT_NE(record.find("installed"), std::string::npos) << record;
    EXPECT_NE(record.find(run == 1 ? "no check before" : "asked not to be asked before"),
              std::string::npos)
        << record;
    EXPECT_EQ(busy.Accepted(), 1u) << "the first server was asked again";
    EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), run);
  }
#else
  GTEST_SKIP() << "no fallback updater: openssl was missing at configure";
#endif
}

// A download ended with the updater (killed while a slow server sends) is continued by the next
// run: nginx sends only the missing bytes, and the log says how many were reused.
TEST_F(UpdaterEndToEnd, ADownloadEndedWithTheUpdaterIsContinuedByTheNextRun) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  if (OnWindows()) GTEST_SKIP() << "needs a rate-limited nginx configured by the test (Linux side)";
  UpdateServerOptions slow;
  slow.rateBytesPerSecond = 128 * 1024;
  SERVER_OR_SKIP(server, slow);
  const std::string installer = InstallerBytes(768 * 1024);
  PublishSigned(*server, installer, "100");
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const ProgramResult first = product.RunFor(2500);
  EXPECT_TRUE(first.timedOut);
  EXPECT_FALSE(product.Has(kMarker));
  const auto kept = static_cast<std::int64_t>(fs::file_size(product.Path(kTempExe)));
  ASSERT_GT(kept, 0);
  ASSERT_LT(kept, static_cast<std::int64_t>(installer.size()));
  ASSERT_TRUE(product.Has(std::string(kTempExe) + ".partial"));

  const ProgramResult second = product.Run();
  ASSERT_TRUE(product.WaitForMarker()) << second.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  EXPECT_TRUE(WaitFor([&] { return server->AccessLog().find("\" 206 ") != std::string::npos; },
                      kLogTimeoutMs));
  std::istringstream log(server->AccessLog());
  std::string last;
  for (std::string line; std::getline(log, line);) {
    if (line.find("\"GET /brixakit/update.exe ") != std::string::npos) last = line;
  }
  const std::string missing = std::to_string(static_cast<std::int64_t>(installer.size()) - kept);
  EXPECT_NE(last.find("\" 206 " + missing), std::string::npos) << last;
  EXPECT_NE(LastRecord(product).find(std::to_string(kept) + " bytes reused"), std::string::npos)
      << LastRecord(product);
}

// A partial installer an earlier run kept, with its identity (release and the server's entity
// tag), is continued: the one request for the installer is answered 206 with the missing bytes
// alone. Runs on both platforms against the plain server.
TEST_F(UpdaterEndToEnd, AKeptPartialInstallerIsContinuedWithOnlyTheMissingBytes) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes(256 * 1024);
  PublishSigned(*server, installer, "100");
  TIdHTTP http;
  http.SetReadTimeout(kProbeReadTimeoutMs);
  http.Head("http://127.0.0.1:" + std::to_string(test::BuiltInServer().port) +
            "/brixakit/update.exe");
  const std::string etag = RangeValidatorOf(http.LastResponse());
  ASSERT_FALSE(etag.empty());
  http.CloseConnection(true);
  // The test's own HEAD, once nginx has logged it; the updater sends none.
  ASSERT_TRUE(WaitFor([&] { return server->Requests("HEAD", "/brixakit/update.exe") == 1; },
                      kLogTimeoutMs));

  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const std::size_t kept = installer.size() * 3 / 10;
  test::WriteFileText(product.Path(kTempExe), installer.substr(0, kept));
  // As the updater leaves it: readable by the user alone (a file others could change is never
  // continued, it is replaced).
  fs::permissions(product.Path(kTempExe), fs::perms::owner_read | fs::perms::owner_write);
  test::WriteFileText(product.Path(std::string(kTempExe) + ".partial"),
                      TPartialIdentity{100, Sha256Hex(installer), etag}.Serialize());
  const ProgramResult run = product.Run();
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  // nginx logs an answer once it is sent, which may be after the updater has read it.
  EXPECT_TRUE(
      WaitFor([&] { return server->Requests("GET", "/brixakit/update.exe") == 1; }, kLogTimeoutMs));
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/update.exe"), 1);
  EXPECT_EQ(BytesSent(*server, "/brixakit/update.exe"),
            static_cast<std::int64_t>(installer.size() - kept));
  EXPECT_NE(LastRecord(product).find(std::to_string(kept) + " bytes reused"), std::string::npos)
      << LastRecord(product);
}

// Rollout=0 under a higher serial stops a release that was partly out: nothing is fetched.
TEST_F(UpdaterEndToEnd, TheRolloutKillSwitchStopsAReleaseEverywhere) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  PublishSigned(*server, installer, "200", {"--rollout", "0"});
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.stdErr, "");
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
  EXPECT_NE(LastRecord(product).find("held back"), std::string::npos) << LastRecord(product);
  const std::string state = test::ReadFileText(product.StateDir() + "/BrixaUpdater/state.ini");
  EXPECT_NE(state.find("RolloutBucket="), std::string::npos) << state;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(product.Has(kMarker));
  // Back at 100 %, the same machine updates.
  PublishSigned(*server, installer, "201", {"--rollout", "100"});
  (void)product.Run();
  EXPECT_TRUE(product.WaitForMarker()) << product.RunLog();
}

// A 503 with Retry-After, in seconds or as a date: the next run makes no request; once the time
// has passed, it does. Without Retry-After every run asks.
TEST_F(UpdaterEndToEnd, RetryAfterOnTheVersionCheckDefersTheNextChecks) {
  if (OnWindows()) GTEST_SKIP() << "needs an nginx configured by the test (Linux side)";
  const std::string inTwoMinutes = [] {
    const std::time_t at = std::time(nullptr) + 120;
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&at));
    return std::string(text);
  }();
  const struct {
    std::string retryAfter;
    bool defers;
  } cases[] = {{"2", true}, {inTwoMinutes, true}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.retryAfter);
    UpdateServerOptions busy;
    busy.extraLocations =
        "location = /brixakit/version.ini { " +
        (c.retryAfter.empty() ? std::string()
                              : "add_header Retry-After \"" + c.retryAfter + "\" always; ") +
        "return 503; }";
    SERVER_OR_SKIP(server, busy);
    ProductDir product;
    product.SetLocalStamp("1");
    (void)product.Run();
    EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 1);
    (void)product.Run();
    EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), c.defers ? 1 : 2);
    if (c.retryAfter == "2") {
      EXPECT_NE(LastRecord(product).find("deferred"), std::string::npos) << LastRecord(product);
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      (void)product.Run();
      EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 2) << "after the time";
    }
  }
}

}  // namespace
}  // namespace brixa
