// The single-instance marker within a process, across processes, and against other users.

#include "platform/process/single_instance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/thread/clock.h"
#include "support/peers/peer_process.h"
#include "unit/platform/self_launch.h"

namespace brixa {
namespace {

using test::TempDir;

// A name no real updater and no other test run uses.
std::string UniqueName(const char* purpose) {
  return std::string("BrixaTest-") + purpose + "-" + std::to_string(CurrentThreadId()) + "-" +
         std::to_string(MonotonicMilliseconds());
}

#ifndef _WIN32
// The environment variables the lock's place depends on, restored when the scope ends.
class ScopedLockEnvironment {
 public:
  ScopedLockEnvironment() {
    for (const char* name : kNames)
      saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
  }
  ~ScopedLockEnvironment() {
    for (const auto& [name, value] : saved_) test::SetEnvironmentVariable(name, value);
  }
  ScopedLockEnvironment(const ScopedLockEnvironment&) = delete;
  ScopedLockEnvironment& operator=(const ScopedLockEnvironment&) = delete;
  void Set(const char* name, const std::string& value) {
    test::SetEnvironmentVariable(name, value);
  }

 private:
  static constexpr const char* kNames[] = {"XDG_RUNTIME_DIR", "TMPDIR", "HOME"};
  std::vector<std::pair<std::string, std::string>> saved_;
};

#endif

// Every lock of these tests goes to a private directory of the test's own, never to a
// directory other users share.
class SingleInstanceTest : public ::testing::Test {
#ifndef _WIN32
 protected:
  SingleInstanceTest() {
    std::filesystem::permissions(runtimeDir_.Root(), std::filesystem::perms::owner_all);
    env_.Set("XDG_RUNTIME_DIR", runtimeDir_.Root());
  }

 private:
  ScopedLockEnvironment env_;
  TempDir runtimeDir_;
#endif
};

TEST_F(SingleInstanceTest, SecondHolderInTheSameProcessIsToldTheNameExists) {
  const std::string name = UniqueName("local");
  auto first = std::make_unique<TNamedMutex>(name);
  ASSERT_TRUE(first->Valid());
  EXPECT_FALSE(first->AlreadyExists());
  EXPECT_EQ(first->LastError(), 0u);

  TNamedMutex second(name);
  EXPECT_TRUE(second.Valid());
  EXPECT_TRUE(second.AlreadyExists());
  EXPECT_EQ(second.LastError(), kErrorAlreadyExists);

  second.Close();
  first.reset();
  TNamedMutex third(name);
  EXPECT_FALSE(third.AlreadyExists());
}

TEST_F(SingleInstanceTest, AnotherProcessSeesTheNameUntilTheHolderLetsGo) {
  TempDir dir;
  const std::string name = UniqueName("cross");
  auto holder = std::make_unique<TNamedMutex>(name);
  ASSERT_FALSE(holder->AlreadyExists());

  const std::string whileHeld = dir.Path("held.txt");
  EXPECT_EQ(test::RunSelfAs("mutex|" + name + "|" + whileHeld, whileHeld), "1 183");

  holder.reset();
  const std::string afterRelease = dir.Path("released.txt");
  EXPECT_EQ(test::RunSelfAs("mutex|" + name + "|" + afterRelease, afterRelease), "0 0");
}

#ifndef _WIN32
using test::ReadFileText;
using test::WriteFileText;

std::string Uid() {
  return std::to_string(::geteuid());
}

TEST_F(SingleInstanceTest, LockLivesInAPrivateDirectoryOnly) {
  namespace fs = std::filesystem;
  ScopedLockEnvironment env;
  TempDir runtimeDir;
  fs::permissions(runtimeDir.Root(), fs::perms::owner_all);  // as a session's runtime directory
  TempDir shared;
  fs::permissions(shared.Root(), fs::perms::all | fs::perms::sticky_bit);  // like /tmp
  TempDir home;
  const std::string name = UniqueName("where");
  const std::string own = shared.Path(name + "-" + Uid());

  env.Set("XDG_RUNTIME_DIR", runtimeDir.Root());
  env.Set("TMPDIR", shared.Root());
  {
    TNamedMutex guard(name);
    EXPECT_FALSE(guard.AlreadyExists());
    EXPECT_TRUE(fs::exists(runtimeDir.Path(name + ".lock")));
    EXPECT_FALSE(fs::exists(own));
  }
  // Without a runtime directory, or with one that others may enter, a directory of our own
  // in the temp directory, made 0700.
  for (const std::string& runtime : {std::string(), shared.Root()}) {
    SCOPED_TRACE(runtime);
    env.Set("XDG_RUNTIME_DIR", runtime);
    TNamedMutex guard(name);
    EXPECT_TRUE(guard.Valid());
    EXPECT_FALSE(guard.AlreadyExists());
    EXPECT_TRUE(fs::exists(own + "/" + name + ".lock"));
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(shared.Path(name + ".lock")));
  }
  // Our directory loosened by someone: not trusted, the home directory is used instead.
  fs::permissions(own, fs::perms::all);
  env.Set("HOME", home.Root());
  {
    TNamedMutex guard(name);
    EXPECT_TRUE(guard.Valid());
    EXPECT_TRUE(fs::exists(home.Path("." + name + "-" + Uid() + "/" + name + ".lock")));
  }
  // No usable place at all: no handle, a reason, and never "exists".
  env.Set("HOME", "");
  TNamedMutex nowhere(name);
  EXPECT_FALSE(nowhere.Valid());
  EXPECT_NE(nowhere.LastError(), 0u);
  EXPECT_FALSE(nowhere.AlreadyExists());
}

// What another local user can plant in the shared temp directory before our copies start.
// Each squat is tried against the old place of the lock ("<tmp>/<name>.lock") and the new one.
struct Squat {
  const char* what;
  const char* script;  // run as the other user in the shared directory; $N is the lock name,
                       // $V the victim's uid; it holds its locks until ./release exists
};

constexpr Squat kSquats[] = {
    {"held lock files open to all",
     "umask 0; touch \"$N.lock\"; mkdir -m 777 \"$N-$V\"; touch \"$N-$V/$N.lock\"; "
     "exec flock -n \"$N.lock\" flock -n \"$N-$V/$N.lock\" sh -c "
     "'echo held > squatted; while [ ! -e release ]; do sleep 0.05; done'"},
    {"locked-away files",
     "umask 077; touch \"$N.lock\"; mkdir \"$N-$V\"; touch \"$N-$V/$N.lock\"; "
     "echo held > squatted"},
    {"a link to the other user's directory",
     "mkdir -m 777 elsewhere; ln -s elsewhere \"$N-$V\"; ln -s elsewhere/x \"$N.lock\"; "
     "echo held > squatted"},
};

constexpr const char* kOtherUid = "4242";    // a user with no account, so nothing else is its
constexpr const char* kVictimUid = "65534";  // nobody
constexpr int kUserRunTimeoutMs = 30000;

test::ProgramResult RunAsUser(const char* uid, const std::vector<std::string>& command) {
  std::vector<std::string> arguments{std::string("--reuid=") + uid, std::string("--regid=") + uid,
                                     "--clear-groups"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return test::RunProgram("/usr/bin/setpriv", arguments, kUserRunTimeoutMs);
}

// Runs this binary as the victim in `role`, with the shared directory as its temp directory
// and `home` as its home, and no runtime directory.
std::vector<std::string> VictimCommand(const std::string& shared, const std::string& home,
                                       const std::string& role) {
  return {"/usr/bin/env",     "-u",           "XDG_RUNTIME_DIR",
          "TMPDIR=" + shared, "HOME=" + home, std::string(test::kChildRoleVariable) + "=" + role,
          ProgramFileName()};
}

// Two copies of the victim, started one after the other while another user's squat is in
// place, must see each other exactly as without it: the first holds the lock, the second is
// told it exists.
TEST_F(SingleInstanceTest, AnotherUserCanNeitherHoldNorDisableTheLock) {
  namespace fs = std::filesystem;
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  for (const char* tool : {"/usr/bin/setpriv", "/usr/bin/flock"}) {
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is missing (package util-linux)";
  }
  if (RunAsUser(kVictimUid, {"/usr/bin/test", "-x", ProgramFileName()}).exitCode != 0) {
    GTEST_SKIP() << "the test binary cannot be run by uid " << kVictimUid;
  }
  for (const Squat& squat : kSquats) {
    SCOPED_TRACE(squat.what);
    TempDir shared;
    fs::permissions(shared.Root(), fs::perms::all | fs::perms::sticky_bit);
    const std::string home = shared.Path("victim-home");
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    const std::string name = UniqueName("squat");
    const std::string script = "cd \"$1\" && N=\"$2\" V=\"$3\" && " + std::string(squat.script);

    std::thread attacker([&] {
      (void)RunAsUser(kOtherUid,
                      {"/bin/sh", "-c", script, "squat", shared.Root(), name, kVictimUid});
    });
    EXPECT_EQ(test::AwaitFile(shared.Path("squatted")), "held\n");
    const std::string first = shared.Path("first");
    const std::string release = shared.Path("release");
    std::thread holder([&] {
      (void)RunAsUser(kVictimUid, VictimCommand(shared.Root(), home,
                                                "hold|" + name + "|" + release + "|" + first));
    });
    EXPECT_EQ(test::AwaitFile(first), "0 0");
    const std::string second = shared.Path("second");
    (void)RunAsUser(kVictimUid, VictimCommand(shared.Root(), home, "mutex|" + name + "|" + second));
    EXPECT_EQ(ReadFileText(second), "1 183");
    WriteFileText(release, "");
    holder.join();
    attacker.join();
    // Nothing of the victim's went into what the other user planted.
    EXPECT_FALSE(fs::exists(shared.Path("elsewhere/x")));
    // With the squatted temp name refused, the lock moved into the victim's home.
    EXPECT_TRUE(fs::exists(home + "/." + name + "-" + kVictimUid + "/" + name + ".lock"));
  }
}
#endif

}  // namespace
}  // namespace brixa
