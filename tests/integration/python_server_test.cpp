// The HTTP client against python3's http.server, a server it was not written with: HTTP/1.0
// answers without keep-alive, each followed by the server closing its side.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "http/client/http.h"
#include "support/peers/peer_process.h"

namespace brixa {
namespace {

constexpr std::int32_t kReadTimeoutMs = 10000;
constexpr int kRounds = 50;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A 1.0 answer without "Connection: keep-alive" ends its connection: three URLs fetched one
// after another on one client must each get a connection of their own, every time. Reusing
// the connection raced the server's close and failed some runs.
TEST(PythonServer, ThreeUrlsOneAfterAnotherFiftyTimes) {
  BRIXA_PEER_OR_SKIP(server, test::PeerKind::PyHttp);
  const char* const paths[] = {"k1.bin", "index.html", "a/index.html"};
  std::string expected[3];
  for (int i = 0; i < 3; ++i) expected[i] = ReadBytes(server->DocPath(paths[i]));
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    TIdHTTP http;
    http.SetReadTimeout(kReadTimeoutMs);
    for (int i = 0; i < 3; ++i) {
      TMemoryStream body;
      try {
        http.Get(server->BaseUrl() + "/" + paths[i], &body);
        EXPECT_EQ(body.DataString(), expected[i]) << paths[i];
        EXPECT_EQ(http.LastResponse().StatusVersion(), pv1_0);
        EXPECT_FALSE(http.IsConnected()) << paths[i];
      } catch (const Exception& e) {
        ++failures;
        ADD_FAILURE() << "round " << round << " " << paths[i] << ": " << e.ClassName() << " "
                      << e.Message();
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace brixa
