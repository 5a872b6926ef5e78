// No program loads a library from the folder it was started in or from PATH, whatever a server
// or a proxy answers: brixa-http meets challenges offering NTLM, Negotiate and Digest (with and
// without credentials, from a server and from a proxy, over http and https), TLS over both
// backends, with the marker DLL planted under every library name in both places.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/brixa_http_program.h"
#include "e2e/library_planting_windows.h"
#include "platform/library/dynamic_library.h"
#include "support/scripted_server.h"

namespace brixa {
namespace {

using test::ChallengingPeer;
using test::ScriptedServer;

// The marker DLL works where it is planted: loaded by its full path, it leaves its marker
// (so a test below that finds none proves something).
TEST(LibraryPlanting, TheMarkerDllMarksALoad) {
  test::PlantedLibraries planted;
  TDynamicLibrary library;
  const std::string copy = std::filesystem::current_path().string() + "\\libcrypto-3-x64.dll";
  (void)library.Load(copy);  // DllMain refuses the load after writing its marker
  ASSERT_EQ(planted.Loaded().size(), 1u);
  EXPECT_EQ(planted.Loaded().front(), copy + ".loaded");
}

TEST(LibraryPlanting, BrixaHttpLoadsNothingPlantedWhateverItMeets) {
  test::PlantedLibraries planted;
  const auto url = [](const ScriptedServer& s, const char* scheme) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(s.Port()) + "/";
  };
  const struct {
    std::vector<std::string> args;
    bool proxy;
    const char* scheme;
  } cases[] = {
      {{}, false, "http"},
      {{"-u", "DOM\\alice:secret"}, false, "http"},
      {{"-x"}, true, "http"},
      {{"-U", "DOM\\alice:secret", "-x"}, true, "http"},
      {{"-U", "DOM\\alice:secret", "-x"}, true, "https"},
      {{"-k"}, false, "https"},
      {{"-k", "--tls-backend", "openssl"}, false, "https"},
      {{"--tls-backend", "openssl", "-U", "DOM\\alice:secret", "-x"}, true, "https"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    ScriptedServer peer(ChallengingPeer(c.proxy ? 407 : 401), {.stepTimeoutMs = 2000});
    if (c.proxy) {
      args.push_back("http://127.0.0.1:" + std::to_string(peer.Port()));
      args.push_back(std::string(c.scheme) + "://origin.example/");
    } else {
      args.push_back(url(peer, c.scheme));
    }
    std::string line;
    for (const auto& a : args) line += a + " ";
    SCOPED_TRACE(line);
    const auto run = test::BrixaHttp(args);
    EXPECT_NE(run.exitCode, -1) << run.stdErr;
    if (!c.proxy && line.find("openssl") != std::string::npos) {
      // OpenSSL was needed and is not beside the program: found nowhere else. (Through the
      // proxy, whose challenges never end, no handshake starts.)
      EXPECT_NE(run.stdErr.find("Could not load SSL library."), std::string::npos) << run.stdErr;
    }
    EXPECT_EQ(planted.Loaded(), std::vector<std::string>{}) << run.stdErr;
  }
}

}  // namespace
}  // namespace brixa
