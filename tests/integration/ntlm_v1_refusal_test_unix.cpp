// NTLM answers checked by a verifier that was not written with this client and that knows only
// version 2: impacket's server-side check behind a small HTTP server (ntlm_v2_server.py). The
// version 2 answer passes with the right password and fails with a wrong one; a version 1
// answer (UseNTLMv1) fails even with the right password, so the two are really told apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "http/client/http.h"
#include "support/peers/child_process_unix.h"
#include "support/peers/ntlm_answer.h"
#include "support/peers/peer_process.h"

namespace brixa {
namespace {

constexpr int kReadyTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kProbeTimeoutMs = 30000;
constexpr int kToolTimeoutMs = 60000;
constexpr std::int32_t kReadTimeoutMs = 10000;
// The interpreter Debian's python3-impacket installs into (a python3 earlier on PATH may lack it).
constexpr const char* kPython = "/usr/bin/python3";

// The verifier on a free loopback port, stopped when this goes.
class ImpacketServer {
 public:
  ~ImpacketServer() { test::StopProcess(pid_, kStopTimeoutMs); }

  // Empty when it could not start; `whyNot` says why.
  bool Start(std::string& whyNot) {
    if (test::RunProgram(kPython, {"-c", "import impacket.smbserver"}, kProbeTimeoutMs).exitCode !=
        0) {
      whyNot = "impacket is missing (package python3-impacket)";
      return false;
    }
    dir_ = test::MakeTempDir("brixa-impacket");
    port_ = test::FreeLoopbackPort();
    pid_ = test::Spawn({kPython, std::string(BRIXA_SOURCE_DIR) + "/tests/support/ntlm_v2_server.py",
                        std::to_string(port_), "alice", "secret"},
                       dir_ + "/verdicts.log");
    if (pid_ <= 0 || !test::WaitReady(pid_, {port_}, kReadyTimeoutMs)) {
      whyNot = "the impacket NTLM server did not come up";
      return false;
    }
    return true;
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }
  std::string Verdicts() const {
    std::ifstream in(dir_ + "/verdicts.log");
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

 private:
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST(NtlmIndependentVerifier, AcceptsVersion2WithTheRightPasswordOnlyAndRefusesVersion1) {
  ImpacketServer server;
  std::string whyNot;
  if (!server.Start(whyNot)) GTEST_SKIP() << whyNot;
  const struct {
    const char* password;
    bool v1;
    bool passes;
    const char* verdict;  // the verifier's own log line for this answer
  } cases[] = {{"secret", false, true, "accepted CORP\\alice ntlen="},
               {"wrong", false, false, "refused CORP\\alice ntlen="},
               {"secret", true, false, "refused CORP\\alice ntlen=24"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.password) + (c.v1 ? " v1" : " v2"));
    const std::size_t before = server.Verdicts().size();
    TIdHTTP http;
    http.SetReadTimeout(kReadTimeoutMs);
    http.SetHTTPOptions({hoInProcessAuth});
    http.OnAuthorization = test::AnswerAs("CORP\\alice", c.password, c.v1);
    TMemoryStream body;
    try {
      http.Get(server.Url(), &body);
      EXPECT_TRUE(c.passes);
      EXPECT_EQ(body.DataString(), "welcome alice\n");
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_FALSE(c.passes);
      EXPECT_EQ(e.ReplyCode(), 401);
    }
    const std::string verdicts = server.Verdicts().substr(before);
    EXPECT_EQ(verdicts.rfind(c.verdict, 0), 0u) << verdicts;
    // A version 2 answer is longer than the 24 bytes of version 1 (it carries the blob).
    if (!c.v1) {
      EXPECT_EQ(verdicts.find("ntlen=24\n"), std::string::npos) << verdicts;
    }
  }

  // The command-line tool's answers, checked the same way.
  const std::string tool =
      test::BuildTreePath("tools/brixa_http/brixa-http" + test::ExecutableSuffix());
  for (const auto& [user, exitCode] :
       {std::pair{"CORP\\alice:secret", 0}, std::pair{"CORP\\alice:wrong", 22}}) {
    const test::ProgramResult run =
        test::RunProgram(tool, {"-u", user, server.Url()}, kToolTimeoutMs);
    EXPECT_EQ(run.exitCode, exitCode) << user << ": " << run.stdErr;
    if (exitCode == 0) {
      EXPECT_EQ(run.stdOut, "welcome alice\n");
    }
  }
}

}  // namespace
}  // namespace brixa
