// What others on the machine can do to the updater's run: a product folder other users may
// change, another user racing the download to have their own program started, and libraries
// planted where a careless load would find them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/process/local_channel.h"
#include "update/service/service_protocol.h"
#include "updater_fixture.h"
#ifdef _WIN32
#include <sddl.h>

#include "library_planting_windows.h"
#include "platform/files/user_sid_windows.h"
#endif

namespace brixa::e2e {
namespace {

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

// A product installed for the whole machine: its folder and what is in it belong to root, the
// update service (when given) beside the updater.
std::unique_ptr<ProductDir> MachineWideProduct(const char* service = nullptr) {
  auto product = std::make_unique<ProductDir>("BrixaUpdater", "product");
  product->SetLocalStamp("1");
  if (service != nullptr) {
    fs::copy_file(test::BuildTreePath(std::string("app/") + service),
                  product->Path("BrixaUpdateService"));
  }
  for (const std::string& folder : {product->Root(), product->Path("")}) {
    fs::permissions(folder, fs::perms(0755));
  }
  return product;
}

// The updater run by the other user, with a state folder of that user's; the log it wrote.
std::string RunAsStandardUser(const ProductDir& product, ProgramResult& run) {
  const std::string state = product.Root() + "/user-state";
  fs::create_directories(state);
  (void)::chown(state.c_str(), kOtherUid, kOtherUid);
  UseStateDir(state);
  run = test::RunProgram(
      "/usr/bin/setpriv",
      {"--reuid=" + std::to_string(kOtherUid), "--regid=" + std::to_string(kOtherUid),
       "--clear-groups", product.Path("BrixaUpdater")},
      kRunTimeoutMs);
  return test::ReadFileText(state + "/BrixaUpdater/updater.log");
}

// The service's daemon, started as root and stopped with SIGTERM at the end of the scope; its
// machine folder is removed before and after.
class Daemon {
 public:
  static constexpr const char* kMachine = "/var/lib/brixa-update/BrixaUpdater";
  explicit Daemon(const std::string& program) {
    fs::remove_all(kMachine);
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--foreground"),
                          nullptr};
    if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = 0;
  }
  ~Daemon() {
    if (pid_ != 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      (void)::waitpid(pid_, &status, 0);
    }
    fs::remove_all(kMachine);
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  [[nodiscard]] bool Started() const { return pid_ != 0; }
  [[nodiscard]] static bool Has(const std::string& name) {
    return fs::exists(std::string(kMachine) + "/" + name);
  }
  // Sends `bytes` as one client; the service's reply line.
  [[nodiscard]] static std::string Ask(const std::string& bytes) {
    std::string error;
    const auto channel = ConnectLocalChannel(kServiceChannelFolder, "BrixaUpdater", 2000, error);
    if (!channel) return "no channel: " + error;
    (void)channel->Write(bytes);
    return channel->ReadLine(kMaxServiceReplyBytes, 3000);
  }
  // Waits for the run in progress to end; its status line.
  [[nodiscard]] static std::string RunEnds() {
    std::string status;
    (void)WaitFor([&] { return (status = Ask("STATUS\n")).rfind("STATE done", 0) == 0; }, 20000);
    return status;
  }

 private:
  pid_t pid_ = 0;
};

#define MACHINE_TEST_OR_SKIP()                                                  \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for the machine's folders"; \
  if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is missing (util-linux)"

// A standard user of a machine-wide product, with no update service: Linux has no consent
// prompt, so the run says why nothing happens, asks for no installer and writes nothing.
TEST_F(UpdaterEndToEnd, AStandardUserOfAMachineWideProductIsToldWhyNothingInstalls) {
  MACHINE_TEST_OR_SKIP();
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  const auto product = MachineWideProduct();
  ProgramResult run;
  const std::string log = RunAsStandardUser(*product, run);
  const char* const why = "cannot be written by this user, and no update service is installed";
  EXPECT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_NE(run.stdErr.find(why), std::string::npos) << run.stdErr;
  EXPECT_NE(log.find(why), std::string::npos) << log;
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
  EXPECT_FALSE(product->Has(kTempExe));
}

// The machine's update service as root, the product's updater as a standard user: the user's
// run asks the service, which installs with none of the user's rights and logs who asked and
// the installer's exit code. What a client sends changes nothing but the answer; a flood is
// refused; a machine folder others may change keeps the service from starting.
TEST_F(UpdaterEndToEnd, TheMachinesUpdateServiceUpdatesForAStandardUser) {
  MACHINE_TEST_OR_SKIP();
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes(64 * 1024));
  const auto product = MachineWideProduct("BrixaUpdateService");
  fs::create_directories(Daemon::kMachine);
  fs::permissions(Daemon::kMachine, fs::perms(0777));
  const ProgramResult unsafe =
      test::RunProgram(product->Path("BrixaUpdateService"), {"--foreground"}, kRunTimeoutMs);
  EXPECT_EQ(unsafe.exitCode, 1);
  EXPECT_NE(unsafe.stdErr.find("no safe machine folder"), std::string::npos) << unsafe.stdErr;

  const Daemon daemon(product->Path("BrixaUpdateService"));
  ASSERT_TRUE(daemon.Started());
  EXPECT_NE(Daemon::RunEnds().find(" installed"), std::string::npos) << "its run at its start";
  fs::remove(std::string(Daemon::kMachine) + "/" + kMarker);
  for (const std::string& attack :
       {std::string("CHECK /tmp/evil.exe\n"), std::string(64 * 1024, 'C'), std::string("STATUS"),
        std::string("http://127.0.0.1:1/x.exe\n"), std::string("\0\xff\n", 3)}) {
    EXPECT_EQ(Daemon::Ask(attack).rfind("REFUSED malformed", 0), 0u) << attack;
  }
  EXPECT_FALSE(Daemon::Has(kMarker)) << "a client's message started a run";

  ProgramResult run;
  const std::string userLog = RunAsStandardUser(*product, run);
  EXPECT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_TRUE(WaitFor([] { return Daemon::Has(kMarker); }, kMarkerTimeoutMs));
  EXPECT_NE(userLog.find("decision=installed"), std::string::npos) << userLog << run.stdErr;
  const std::string serviceLog = test::ReadFileText(std::string(Daemon::kMachine) + "/updater.log");
  EXPECT_NE(serviceLog.find("ended with code 0"), std::string::npos) << serviceLog;
  EXPECT_NE(serviceLog.find("asked by user " + std::to_string(kOtherUid)), std::string::npos)
      << serviceLog;
  EXPECT_FALSE(product->Has(kTempExe)) << "the user's run downloaded";
  struct stat info {};
  ASSERT_EQ(::stat((std::string(Daemon::kMachine) + "/" + kTempExe).c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u) << "the installer is root's alone";

  int refused = 0;
  for (int i = 0; i < kMaxServiceRequestsPerMinute + 20; ++i) {
    refused += Daemon::Ask("STATUS\n").rfind("REFUSED too-many", 0) == 0 ? 1 : 0;
  }
  EXPECT_GE(refused, 20);
  fs::permissions(product->Root(), fs::perms::owner_all);
}

// The signed service, asked again and again: nothing but a release its keys signed, for its
// product, unexpired and not older than the last, is ever started; an installer that ends with
// a code other than 0 is a failed run, with the code in its log.
TEST_F(UpdaterEndToEnd, TheSignedUpdateServiceInstallsOnlyWhatItsKeysSigned) {
  MACHINE_TEST_OR_SKIP();
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  PublishRelease(*server, "expired");
  const auto product = MachineWideProduct("BrixaUpdateServiceSigned");
  const Daemon daemon(product->Path("BrixaUpdateService"));
  ASSERT_TRUE(daemon.Started());
  EXPECT_NE(Daemon::RunEnds().find(" refused"), std::string::npos) << "its run at its start";
  const struct {
    const char* release;
    const char* outcome;
    bool runs;  // the installer is started
  } rows[] = {
      // clang-format off
      {"otherproduct", " refused", false},
      {"foreign", " refused", false},
      {"v2", " installed", true},
      {"lowserial", " refused", false},
      {"badhash", " failed", false},  // its serial, 400, counts once its manifest verifies
      {"exit2", " failed", true},     // the stand-in installer ends with its argument count
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.release);
    if (std::string_view(row.release) == "exit2") {
      PublishSigned(*server, InstallerBytes(), "401", {"--arguments", "/S /quiet"});
    } else {
      PublishRelease(*server, row.release);
    }
    EXPECT_EQ(Daemon::Ask("CHECK\n").rfind("STATE checking", 0), 0u);
    const std::string status = Daemon::RunEnds();
    EXPECT_NE(status.find(row.outcome), std::string::npos) << status;
    EXPECT_EQ(Daemon::Has(kMarker), row.runs);
    fs::remove(std::string(Daemon::kMachine) + "/" + kMarker);
  }
  const std::string log = test::ReadFileText(std::string(Daemon::kMachine) + "/updater.log");
  EXPECT_NE(log.find("the installer ended with code 2"), std::string::npos) << log;
  fs::permissions(product->Root(), fs::perms::owner_all);
}

#endif  // _WIN32

#ifdef _WIN32

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

}  // namespace
}  // namespace brixa::e2e
