// brixa-http's SOCKS options against dante: each spelling reaches nginx, a chain of two
// proxies works, and a refusal ends with exit code 97 and the proxy's reason.
#include <gtest/gtest.h>

#include "e2e/brixa_http_program.h"
#include "support/peers/peer_suite.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

using test::BrixaHttp;
using test::PeerKind;

TEST(BrixaHttpSocks, EverySpellingAndAChainReachTheTarget) {
  BRIXA_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  BRIXA_PEER_OR_SKIP(dante, PeerKind::Dante);
  BRIXA_PEER_OR_SKIP(danteAuth, PeerKind::DanteAuth);
  const std::string open = "127.0.0.1:" + std::to_string(dante->Port());
  const std::string authed = "alice:secret@127.0.0.1:" + std::to_string(danteAuth->Port());
  const std::string expected = test::ReadFileText(nginx->DocPath("big.bin"));
  const std::vector<std::vector<std::string>> spellings = {
      {"--socks4", open},
      {"--socks5", open},
      {"--socks5-hostname", open},
      {"--socks5", authed},
      {"-x", "socks4://" + open},
      {"-x", "socks5://" + open},
      {"-x", "SOCKS5H://" + authed},
      // A chain: the first proxy is asked for the second, the second for the target.
      {"--socks5", open, "-x", "socks5h://" + authed},
  };
  for (std::vector<std::string> args : spellings) {
    SCOPED_TRACE(args.back());
    args.push_back(nginx->BaseUrl() + "/big.bin");
    const test::ProgramResult run = BrixaHttp(args);
    EXPECT_EQ(run.exitCode, 0) << run.stdErr;
    EXPECT_TRUE(run.stdOut == expected) << run.stdOut.size();
  }
}

TEST(BrixaHttpSocks, SocksFailuresExitWith97AndTheReason) {
  BRIXA_PEER_OR_SKIP(dante, PeerKind::Dante);
  BRIXA_PEER_OR_SKIP(danteAuth, PeerKind::DanteAuth);
  const test::RefusingPort closed;
  const std::string target = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/";
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--socks5", "127.0.0.1:" + std::to_string(dante->Port())},
       "EIdSocksServerConnectionRefusedError: Connection refused.\n"},
      {{"--socks5", "alice:wrong@127.0.0.1:" + std::to_string(danteAuth->Port())},
       "EIdSocksAuthError: Authentication error to socks server.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(target);
    const test::ProgramResult run = BrixaHttp(args);
    EXPECT_EQ(run.exitCode, 97);
    // The Windows runtime ends stderr lines with CR LF.
    std::string stdErr = run.stdErr;
    std::erase(stdErr, '\r');
    EXPECT_EQ(stdErr, c.reason);
  }
  const test::ProgramResult usage = BrixaHttp({"--socks5", "no-port", target});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_NE(usage.stdErr.find("--socks5 needs [user:pass@]host:port"), std::string::npos);
}

}  // namespace
}  // namespace brixa
