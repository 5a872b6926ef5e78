// The update service's messages: only the fixed lines are requests, and replies parse back
// exactly (the request rate is held in the service's end-to-end test).
#include "update/service/service_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace brixa {
namespace {

TEST(ServiceProtocol, OnlyTheFixedLinesAreRequests) {
  const struct {
    std::string bytes;
    std::optional<TServiceRequest> request;
  } cases[] = {
      // clang-format off
      {"CHECK\n", TServiceRequest::srCheck},
      {"STATUS\n", TServiceRequest::srStatus},
      {"CHECK", std::nullopt},
      {"check\n", std::nullopt},
      {"CHECK\r\n", std::nullopt},
      {"CHECK /tmp/evil.exe\n", std::nullopt},
      {"STATUS\nCHECK\n", std::nullopt},
      {std::string("CHECK\0\n", 7), std::nullopt},
      {"", std::nullopt},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(ParseServiceRequest(c.bytes), c.request) << c.bytes;
  EXPECT_LE(kCheckRequest.size(), kMaxServiceRequestBytes);
  EXPECT_LE(kStatusRequest.size(), kMaxServiceRequestBytes);
}

TEST(ServiceProtocol, RepliesParseBackAndNothingElseDoes) {
  const TServiceStatus statuses[] = {
      {},
      {TServicePhase::spDownloading, 1234, 99999, TRunOutcome::roNone},
      {TServicePhase::spDone, 5, 5, TRunOutcome::roHeldBack},
      {TServicePhase::spInstalling, 0, -1, TRunOutcome::roInstalled},
  };
  for (const TServiceStatus& status : statuses) {
    const std::string line = FormatServiceStatus(status);
    EXPECT_LE(line.size(), kMaxServiceReplyBytes);
    EXPECT_EQ(ParseServiceStatus(line), status) << line;
  }
  for (const char* bad :
       {"STATE idle 0 -1 none", "STATE idle -5 -1 none\n", "STATE idle 0 -1 none extra\n",
        "STATE busy 0 -1 none\n", "STATE idle 0 -1 held back\n", "REFUSED too-many\n",
        "STATE idle 0 99999999999999999999 none\n"}) {
    EXPECT_FALSE(ParseServiceStatus(bad).has_value()) << bad;
  }
  EXPECT_FALSE(ParseServiceStatus(FormatServiceRefusal(TServiceRefusal::rfMalformed)));
}

}  // namespace
}  // namespace brixa
