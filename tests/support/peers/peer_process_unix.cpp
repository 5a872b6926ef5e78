// Starting, awaiting and stopping the peers through scripts/peers.sh, and running programs with a
// time limit.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/peers/child_process_unix.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace brixa::test {
namespace {

constexpr int kStartAttempts = 3;        // a port taken between probe and bind costs one
constexpr int kReadyTimeoutMs = 15000;   // all peers were ready within 0.1 s when measured
constexpr int kStopTimeoutMs = 15000;    // squid needs about 2 s after TERM
constexpr int kScriptTimeoutMs = 60000;  // writing the documents and a few files

std::string ScriptPath() {
  return std::string(BRIXA_SOURCE_DIR) + "/scripts/peers.sh";
}

std::string BinaryOf(PeerKind kind) {
  switch (kind) {
    case PeerKind::Nginx:
      return "/usr/sbin/nginx";
    case PeerKind::Apache:
      return "/usr/sbin/apache2";
    case PeerKind::Squid:
    case PeerKind::SquidAuth:
    case PeerKind::SquidNTLM:
    case PeerKind::SquidNTLMClose:
    case PeerKind::SquidDigest:
    case PeerKind::SquidNTLMv2:
      return "/usr/sbin/squid";
    case PeerKind::Dante:
    case PeerKind::DanteAuth:
      return "/usr/sbin/danted";
    case PeerKind::Lighttpd:
      return "/usr/sbin/lighttpd";
    case PeerKind::Tinyproxy:
      return "/usr/bin/tinyproxy";
    case PeerKind::PyHttp:
      return "/usr/bin/python3";
    case PeerKind::Count:
      break;
  }
  return {};
}

std::string PackageOf(PeerKind kind) {
  switch (kind) {
    case PeerKind::Nginx:
      return "nginx";
    case PeerKind::Apache:
      return "apache2";
    case PeerKind::Squid:
    case PeerKind::SquidAuth:
    case PeerKind::SquidNTLM:
    case PeerKind::SquidNTLMClose:
    case PeerKind::SquidDigest:
    case PeerKind::SquidNTLMv2:
      return "squid";
    case PeerKind::Dante:
    case PeerKind::DanteAuth:
      return "dante-server";
    case PeerKind::Lighttpd:
      return "lighttpd";
    case PeerKind::Tinyproxy:
      return "tinyproxy";
    case PeerKind::PyHttp:
      return "python3";
    case PeerKind::Count:
      break;
  }
  return {};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// What a peer leaves outside its folder (squid's shared memory, dante's PAM service file).
void CleanUpAfter(PeerKind kind, int port) {
  const std::vector<std::string> args{ScriptPath(), "cleanup", PeerKindName(kind),
                                      std::to_string(port)};
  (void)RunProgram("/bin/bash", args, kScriptTimeoutMs);
}

void RemoveSharedMemoryOf(int port) {
  const std::string prefix = "sq" + std::to_string(port) + "-";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

}  // namespace

std::unique_ptr<PeerProcess> PeerProcess::Start(PeerKind kind, std::string& whyNot) {
  if (::access(BinaryOf(kind).c_str(), X_OK) != 0) {
    whyNot = BinaryOf(kind) + " is missing: install the Debian package " + PackageOf(kind);
    return nullptr;
  }
  const std::string name = PeerKindName(kind);
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    const int port = FreeLoopbackPort();
    const std::string dir = MakeTempDir("brixa-peer-" + name);
    if (port == 0 || dir.empty()) break;
    const std::vector<std::string> args{ScriptPath(), "config", name, dir, std::to_string(port)};
    const ProgramResult config = RunProgram("/bin/bash", args, kScriptTimeoutMs);
    ProgramResult command = RunProgram(
        "/bin/bash", {ScriptPath(), "command", name, dir, std::to_string(port)}, kScriptTimeoutMs);
    if (config.exitCode != 0 || command.exitCode != 0) {
      whyNot = "scripts/peers.sh failed for " + name + ": " + config.stdErr + command.stdErr;
      std::filesystem::remove_all(dir);
      return nullptr;
    }
    const pid_t pid = Spawn(Lines(command.stdOut), dir + "/stdout.log");
    if (pid > 0 && WaitReady(pid, {port}, kReadyTimeoutMs)) {
      return std::unique_ptr<PeerProcess>(new PeerProcess(kind, port, dir, pid));
    }
    whyNot = name + " did not come up on port " + std::to_string(port) + ": " +
             ReadFileText(dir + "/stdout.log");
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      int status = 0;
      WaitFor(pid, kStopTimeoutMs, &status);
    }
    RemoveSharedMemoryOf(port);
    CleanUpAfter(kind, port);
    std::filesystem::remove_all(dir);
  }
  return nullptr;
}

void PeerProcess::Stop() {
  if (pid_ <= 0) return;
  StopProcess(static_cast<pid_t>(pid_), kStopTimeoutMs);
  pid_ = 0;
  if (kind_ == PeerKind::Squid || kind_ == PeerKind::SquidAuth || kind_ == PeerKind::SquidNTLM ||
      kind_ == PeerKind::SquidNTLMClose || kind_ == PeerKind::SquidDigest ||
      kind_ == PeerKind::SquidNTLMv2)
    RemoveSharedMemoryOf(port_);
  if (kind_ == PeerKind::DanteAuth) CleanUpAfter(kind_, port_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string BuildTreePath(const std::string& relative) {
  return std::string(BRIXA_BINARY_DIR) + "/" + relative;
}

std::string ExecutableSuffix() {
  return {};
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs) {
  ProgramResult result;
  char outName[] = "/tmp/brixa-run-out.XXXXXX";
  char errName[] = "/tmp/brixa-run-err.XXXXXX";
  const int outFd = ::mkstemp(outName);
  const int errFd = ::mkstemp(errName);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  std::vector<char*> args{const_cast<char*>(program.c_str())};
  for (const auto& a : arguments) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outFd);
  ::close(errFd);
  if (rc == 0) {
    int status = 0;
    if (!WaitFor(pid, timeoutMs, &status)) {
      ::kill(pid, SIGKILL);
      WaitFor(pid, timeoutMs, &status);
      result.timedOut = true;
    } else if (WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    }
  }
  result.stdOut = ReadFileText(outName);
  result.stdErr = ReadFileText(errName);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

}  // namespace brixa::test
