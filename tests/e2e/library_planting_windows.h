#pragma once
// Libraries planted where only a careless load would find them: copies of the marker DLL (its
// DllMain leaves "<its path>.loaded" beside itself) under the names of the libraries the
// programs load, or that a search could find for them, in a folder made the current one and
// in a folder put first on PATH, for the life of the object.

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/peers/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace brixa::test {

// The marker DLL the test build makes with the cross compiler.
[[nodiscard]] inline std::string MarkerDll() {
  return BuildTreePath("tests/plant_marker.dll");
}

// A server (401) or proxy (407) that answers each request with every scheme's challenge at
// once (so whichever the client ranks first is tried), then with an NTLM type-2 message (whose
// answer needs DES), then with all of them again.
[[nodiscard]] inline Script ChallengingPeer(int status) {
  const std::string field = status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate";
  const auto answer = [&](const std::vector<std::string>& challenges) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " Auth\r\n";
    for (const std::string& challenge : challenges) head += field + ": " + challenge + "\r\n";
    return Send(head + "Content-Length: 0\r\n\r\n");
  };
  const std::vector<std::string> all = {
      "NTLM", "Negotiate", "Digest realm=\"r\", nonce=\"abc\", qop=\"auth\"", "Basic realm=\"r\""};
  return {Expect::LineBlock(), answer(all), Expect::LineBlock(),
          answer({"NTLM TlRMTVNTUAACAAAAAAAAADAAAAAFggEAASNFZ4mrze8AAAAAAAAAAAAAAAAwAAAA"}),
          Expect::LineBlock(), answer(all),
          // A refused answer may be followed by one more attempt; it is refused the same way,
          // so no run waits for an answer that never comes.
          Expect::LineBlock(), answer(all)};
}

class PlantedLibraries {
 public:
  PlantedLibraries() {
    // OpenSSL under every name it ever had, the socket, TLS, crypto and proxy libraries, and a
    // few the system ones import themselves.
    static const char* const kNames[] = {
        "libcrypto-3-x64.dll", "libssl-3-x64.dll", "libcrypto-1_1-x64.dll",
        "libssl-1_1-x64.dll",  "libeay32.dll",     "ssleay32.dll",
        "libssl32.dll",        "ws2_32.dll",       "mswsock.dll",
        "wship6.dll",          "fwpuclnt.dll",     "secur32.dll",
        "schannel.dll",        "crypt32.dll",      "bcrypt.dll",
        "ncrypt.dll",          "winhttp.dll",      "dnsapi.dll",
        "iphlpapi.dll",        "comctl32.dll"};
    for (const TempDir* folder : {&current_, &onPath_}) {
      for (const char* name : kNames) std::filesystem::copy_file(MarkerDll(), folder->Path(name));
    }
    savedDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(current_.Root());
    char path[32768] = {};
    const DWORD length = ::GetEnvironmentVariableA("PATH", path, sizeof path);
    savedPath_.assign(path, length < sizeof path ? length : 0);
    ::SetEnvironmentVariableA("PATH", (onPath_.Root() + ";" + savedPath_).c_str());
  }
  ~PlantedLibraries() {
    ::SetEnvironmentVariableA("PATH", savedPath_.c_str());
    std::error_code ignored;
    std::filesystem::current_path(savedDirectory_, ignored);
  }
  PlantedLibraries(const PlantedLibraries&) = delete;
  PlantedLibraries& operator=(const PlantedLibraries&) = delete;

  // Every planted file that was loaded so far; empty when none was.
  [[nodiscard]] std::vector<std::string> Loaded() const {
    std::vector<std::string> loaded;
    for (const TempDir* folder : {&current_, &onPath_}) {
      for (const auto& entry : std::filesystem::directory_iterator(folder->Root())) {
        if (entry.path().extension() == ".loaded") loaded.push_back(entry.path().string());
      }
    }
    return loaded;
  }

 private:
  TempDir current_;
  TempDir onPath_;
  std::filesystem::path savedDirectory_;
  std::string savedPath_;
};

}  // namespace brixa::test
