#include "update/delivery/byte_range.h"

#include <gtest/gtest.h>

#include "http/message/response_header_info.h"
#include "update/state/partial_identity.h"

namespace brixa {
namespace {

TEST(ByteRangeTest, ContentRangeIsReadStrictly) {
  struct Case {
    const char* value;
    std::optional<TContentRange> range;
  };
  const Case cases[] = {
      {"bytes 100-999/1000", TContentRange{100, 999, 1000}},
      {"bytes 0-0/1", TContentRange{0, 0, 1}},
      {"bytes 100-999/*", TContentRange{100, 999, -1}},
      {"bytes 999999999999999999-999999999999999999/*",
       TContentRange{999999999999999999, 999999999999999999, -1}},
      {"bytes 1000000000000000000-1/*", std::nullopt},  // would overflow
      {"bytes */1000", std::nullopt},
      {"bytes 100-1000/1000", std::nullopt},  // last beyond the length
      {"bytes 200-100/1000", std::nullopt},
      {"bytes 100-/1000", std::nullopt},
      {"bytes -999/1000", std::nullopt},
      {"bytes 100-999", std::nullopt},
      {"bytes 100-999/", std::nullopt},
      {"bytes 100-999/1000 ", std::nullopt},
      {"bytes 100-999/1000,0-1/1000", std::nullopt},
      {"bytes 100 - 999/1000", std::nullopt},
      {"bytes  100-999/1000", std::nullopt},
      {"bytes +100-999/1000", std::nullopt},
      {"Bytes 100-999/1000", std::nullopt},
      {"items 100-999/1000", std::nullopt},
      {"100-999/1000", std::nullopt},
      {"bytes 100-999/*x", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseContentRange(c.value), c.range) << '"' << c.value << '"';
  }
}

TEST(ByteRangeTest, OnlyARangeFromTheOffsetToTheLastByteContinuesAFile) {
  struct Case {
    TContentRange range;
    bool continues;
  };
  const Case cases[] = {
      {{100, 999, 1000}, true}, {{100, 999, -1}, true},     {{101, 999, 1000}, false},
      {{99, 999, 1000}, false}, {{100, 998, 1000}, false},  {{100, 999, 2000}, false},
      {{0, 999, 1000}, false},  {{100, 1999, 2000}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ContinuesFile(c.range, 100, 1000), c.continues)
        << c.range.First << "-" << c.range.Last << "/" << c.range.Complete;
  }
}

TEST(ByteRangeTest, TheValidatorIsTheStrongTagElseTheDateAsSent) {
  struct Case {
    const char* head;
    const char* validator;
  };
  const std::string longTag = "\"" + std::string(kMaxValidatorBytes, 'a') + "\"";
  const Case cases[] = {
      {"ETag: \"5f-1a\"\r\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n", "\"5f-1a\""},
      {"ETag: W/\"5f-1a\"\r\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n",
       "Mon, 07 Dec 2026 10:00:00 GMT"},
      {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n", "Mon, 07 Dec 2026 10:00:00 GMT"},
      {"ETag: unquoted\r\n", ""},
      {"ETag: \"\x01\"\r\n", ""},
      {"Server: x\r\n", ""},
  };
  for (const Case& c : cases) {
    TIdResponseHeaderInfo response;
    response.HeaderLines().SetText(c.head);
    response.ReadFields();
    EXPECT_EQ(RangeValidatorOf(response), c.validator) << c.head;
  }
  TIdResponseHeaderInfo tooLong;
  tooLong.HeaderLines().SetText("ETag: " + longTag + "\r\n");
  tooLong.ReadFields();
  EXPECT_EQ(RangeValidatorOf(tooLong), "");
}

TEST(PartialIdentityTest, RoundTripsAndRefusesEveryDamagedRecord) {
  const std::string hash(64, 'a');
  const TPartialIdentity identity{18446744073709551615ull, hash, "\"5f-1a\""};
  const std::string record = identity.Serialize();
  const auto back = TPartialIdentity::Parse(record);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Serial, identity.Serial);
  EXPECT_EQ(back->Sha256, hash);
  EXPECT_EQ(back->Validator, "\"5f-1a\"");

  const std::string damaged[] = {
      "",
      record.substr(0, record.size() - 1),
      record + "extra=1\n",
      "serial=+1\nsha256=" + hash + "\nvalidator=v\n",
      "serial=01\nsha256=" + hash + "\nvalidator=v\n",
      "serial=\nsha256=" + hash + "\nvalidator=v\n",
      "serial=18446744073709551616\nsha256=" + hash + "\nvalidator=v\n",
      "serial=1x\nsha256=" + hash + "\nvalidator=v\n",
      "serial=1\nsha256=" + hash.substr(1) + "\nvalidator=v\n",
      "serial=1\nsha256=" + std::string(63, 'a') + "g\nvalidator=v\n",
      "serial=1\nvalidator=v\nsha256=" + hash + "\n",
      "serial=1\r\nsha256=" + hash + "\nvalidator=v\n",
      "serial=1\nsha256=" + hash + "\nvalidator=\x7f\n",
      "serial=1\nsha256=" + hash + "\nvalidator=" + std::string(kMaxValidatorBytes + 1, 'v') + "\n",
      "serial=1\nsha256=" + hash + "\nvalidator=" + std::string(kMaxPartialIdentityBytes, 'v') +
          "\n",
  };
  for (const std::string& text : damaged) {
    EXPECT_FALSE(TPartialIdentity::Parse(text)) << text;
  }

  EXPECT_TRUE(identity.Continues(identity.Serial, std::string(64, 'A')));
  EXPECT_FALSE(identity.Continues(identity.Serial - 1, hash)) << "another release";
  EXPECT_FALSE(identity.Continues(identity.Serial, std::string(64, 'b')));
  EXPECT_FALSE((TPartialIdentity{1, hash, ""}.Continues(1, hash))) << "nothing to ask with";
}

}  // namespace
}  // namespace brixa
