// Under Wine the peers run on the Linux side; the Windows tests only learn their ports from the
// environment and run programs with Win32 calls.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "support/peers/peer_process.h"
#include "support/temp_dir.h"

namespace brixa::test {
namespace {

std::string Env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::string() : std::string(value);
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Wine shows the Linux root as drive Z:, and Windows file calls accept forward slashes.
std::string LinuxPathToWine(const std::string& path) {
  return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

// Quotes one argument for a Windows command line (the rules the C runtime parses by).
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  int backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(static_cast<std::size_t>(backslashes) * 2 + 1, '\\');
    else
      quoted.append(static_cast<std::size_t>(backslashes), '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(static_cast<std::size_t>(backslashes) * 2, '\\');
  return quoted + "\"";
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// The peers run on the Linux side, started by `scripts/peers.sh start`; this process only
// learns where they are.
std::unique_ptr<PeerProcess> PeerProcess::Start(PeerKind kind, std::string& whyNot) {
  const std::string prefix = "BRIXA_PEER_" + Upper(PeerKindName(kind));
  const std::string port = Env(prefix + "_PORT");
  const std::string dir = Env(prefix + "_DIR");
  if (port.empty() || dir.empty()) {
    whyNot = prefix +
             "_PORT/_DIR not set: start the peers with scripts/peers.sh start before "
             "running the Windows tests (scripts/test.sh does)";
    return nullptr;
  }
  return std::unique_ptr<PeerProcess>(
      new PeerProcess(kind, std::atoi(port.c_str()), LinuxPathToWine(dir), 0));
}

void PeerProcess::Stop() {}

std::string BuildTreePath(const std::string& relative) {
  return LinuxPathToWine(std::string(BRIXA_BINARY_DIR) + "/" + relative);
}

std::string ExecutableSuffix() {
  return ".exe";
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs) {
  ProgramResult result;
  char tempDir[MAX_PATH];
  GetTempPathA(MAX_PATH, tempDir);
  const std::string tag =
      std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
  const std::string outName = std::string(tempDir) + "brixa-run-out-" + tag;
  const std::string errName = std::string(tempDir) + "brixa-run-err-" + tag;
  HANDLE out = InheritableFile(outName);
  HANDLE err = InheritableFile(errName);
  std::string commandLine = Quote(program);
  for (const auto& a : arguments) commandLine += " " + Quote(a);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.timedOut = true;
    } else {
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      result.exitCode = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  result.stdOut = ReadFileText(outName);
  result.stdErr = ReadFileText(errName);
  DeleteFileA(outName.c_str());
  DeleteFileA(errName.c_str());
  return result;
}

}  // namespace brixa::test
