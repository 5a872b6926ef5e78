// The HTTP client against servers it was not developed with, on loopback: lighttpd (keep-alive,
// counted bodies, error pages), tinyproxy (an open forward proxy) and python's http.server
// (HTTP/1.0, closes after every answer).
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "http/client/http.h"
#include "support/peers/peer_suite.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

using test::PeerKind;
using test::PeerProcess;

constexpr std::int32_t kReadTimeoutMs = 10000;

class Client : public TIdHTTP {
 public:
  Client() { SetReadTimeout(kReadTimeoutMs); }
};

using ThirdPartyServers = test::PeerSuite;

// lighttpd's log line for each request whose line holds `path`: how many requests its
// connection had carried before. lighttpd writes its log about every two seconds, so wait
// (bounded) for them.
std::vector<int> EarlierRequestsOnConnection(const PeerProcess& lighttpd, const std::string& path,
                                             std::size_t count) {
  std::vector<int> counts;
  for (int i = 0; i < 500; ++i) {
    counts.clear();
    std::istringstream log(lighttpd.ReadFile("access.log"));
    for (std::string line; std::getline(log, line);) {
      if (line.find(" " + path + " ") != std::string::npos) counts.push_back(std::stoi(line));
    }
    if (counts.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return counts;
}

TEST_F(ThirdPartyServers, LighttpdKeepsOneConnectionForHeadAndGets) {
  BRIXA_SUITE_PEER_OR_SKIP(lighttpd, PeerKind::Lighttpd);
  Client http;
  http.Head(lighttpd->BaseUrl() + "/big.bin?ka=1");
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.LastResponse().ContentLength(),
            static_cast<std::int64_t>(test::ReadFileText(lighttpd->DocPath("big.bin")).size()));
  TMemoryStream big;
  http.Get(lighttpd->BaseUrl() + "/big.bin?ka=1", &big);
  EXPECT_TRUE(big.DataString() == test::ReadFileText(lighttpd->DocPath("big.bin")));
  TMemoryStream page;
  http.Get(lighttpd->BaseUrl() + "/index.html?ka=1", &page);
  EXPECT_EQ(page.DataString(), test::ReadFileText(lighttpd->DocPath("index.html")));
  const auto bigLog = EarlierRequestsOnConnection(*lighttpd, "/big.bin?ka=1", 2);
  const auto index = EarlierRequestsOnConnection(*lighttpd, "/index.html?ka=1", 1);
  ASSERT_EQ(bigLog.size(), 2u);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(bigLog[0], 0);
  EXPECT_EQ(bigLog[1], 1);
  EXPECT_EQ(index[0], 2);
}

TEST_F(ThirdPartyServers, LighttpdErrorPageLeavesTheConnectionUsable) {
  BRIXA_SUITE_PEER_OR_SKIP(lighttpd, PeerKind::Lighttpd);
  Client http;
  TMemoryStream none;
  try {
    http.Get(lighttpd->BaseUrl() + "/missing", &none);
    ADD_FAILURE() << "no exception for a 404";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_NE(e.BodyText().find("404"), std::string::npos);
  }
  EXPECT_EQ(none.Size(), 0);
  TMemoryStream page;
  http.Get(lighttpd->BaseUrl() + "/a/index.html", &page);
  EXPECT_EQ(page.DataString(), "second page\n");
}

TEST_F(ThirdPartyServers, TinyproxyForwardsToAnOriginAndBack) {
  BRIXA_SUITE_PEER_OR_SKIP(lighttpd, PeerKind::Lighttpd);
  BRIXA_SUITE_PEER_OR_SKIP(proxy, PeerKind::Tinyproxy);
  Client http;
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy->Port());
  for (const char* path :
       {"/index.html?via=tinyproxy", "/k1.bin?via=tinyproxy", "/big.bin?via=tinyproxy"}) {
    TMemoryStream body;
    http.Get(lighttpd->BaseUrl() + path, &body);
    const std::string document = std::string(path).substr(1, std::string(path).find('?') - 1);
    EXPECT_TRUE(body.DataString() == test::ReadFileText(lighttpd->DocPath(document))) << path;
    EXPECT_EQ(http.Request().ConnectionKind(), ckProxy);
  }
  // The proxy's own answer for an origin nobody listens on is an error status, not a hang.
  TMemoryStream none;
  try {
    http.Get("http://127.0.0.1:1/", &none);
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_GE(e.ReplyCode(), 500);
  }
  EXPECT_EQ(EarlierRequestsOnConnection(*lighttpd, "/big.bin?via=tinyproxy", 1).size(), 1u);
}

TEST_F(ThirdPartyServers, PythonHttpServerAnswersOneRequestPerConnection) {
  BRIXA_SUITE_PEER_OR_SKIP(python, PeerKind::PyHttp);
  Client http;
  TMemoryStream page;
  http.Get(python->BaseUrl() + "/index.html", &page);
  EXPECT_EQ(page.DataString(), test::ReadFileText(python->DocPath("index.html")));
  EXPECT_EQ(http.LastResponse().StatusVersion(), pv1_0);
  TMemoryStream none;
  try {
    http.Get(python->BaseUrl() + "/missing", &none);
    ADD_FAILURE() << "no exception for a 404";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
  }
}

}  // namespace
}  // namespace brixa
