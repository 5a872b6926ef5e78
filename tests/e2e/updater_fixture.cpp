// The platform-neutral part of the updater's end-to-end fixture.

#include "updater_fixture.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "tools/brixa_release/release_tool.h"

namespace brixa::e2e {

std::string VersionFile(const std::string& stamp, const std::string& sha256) {
  std::string text = "[Updater]\r\nVersion=" + stamp + "\r\n";
  if (!sha256.empty()) text += "SHA256=" + sha256 + "\r\n";
  return text;
}

std::string Sha256Hex(const std::string& bytes) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false);
}

std::string InstallerBytes(std::size_t padding) {
  std::string bytes = test::ReadFileText(
      test::BuildTreePath("tests/brixa_demo_installer" + test::ExecutableSuffix()));
  bytes.append(padding, '\0');
  return bytes;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(test::kPollStep);
  }
  return true;
}

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

std::string ReleaseFile(const std::string& release, const std::string& name) {
  return test::ReadFileText(test::BuildTreePath("test-releases/" + release + "/" + name));
}

bool HaveSignedReleases() {
  return fs::exists(test::BuildTreePath("app/BrixaUpdaterSigned" + test::ExecutableSuffix())) &&
         !ReleaseFile("v2", "version.ini.sig").empty();
}

void PublishRelease(const UpdateServer& server, const std::string& release) {
  for (const char* name : {"version.ini", "version.ini.sig", "update.exe"}) {
    server.Publish(name, ReleaseFile(release, name));
  }
}

// Signs `installer` as a release with brixa-release and the tests' key, with `extra` options
// (--mirror, --rollout), and puts it on the server.
void PublishSigned(const UpdateServer& server, const std::string& installer,
                   const std::string& serial, const std::vector<std::string>& extra) {
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

}  // namespace brixa::e2e
