// The SOCKS byte layouts on their own: limits of the counted and terminated fields, and the
// address parser fed every prefix of valid input.

#include "transport/socks/socks_wire.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/core/exception.h"

namespace brixa::socks {
namespace {

TEST(SocksWireTest, FieldsTheirLengthCannotCarryAreRefused) {
  const std::string longest(255, 'n');
  const std::string tooLong(256, 'n');
  EXPECT_EQ(Socks5Request(kCommandConnect, longest, 1).size(), 4u + 1 + 255 + 2);
  EXPECT_THROW((void)Socks5Request(kCommandConnect, tooLong, 1), ERangeError);
  EXPECT_EQ(Socks5UserPassRequest(longest, longest).size(), 1u + 1 + 255 + 1 + 255);
  EXPECT_THROW((void)Socks5UserPassRequest(longest, tooLong), ERangeError);
  EXPECT_THROW((void)Socks5UserPassRequest(tooLong, ""), ERangeError);

  const std::uint8_t any[4] = {0, 0, 0, 1};
  EXPECT_THROW((void)Socks4Request(kCommandConnect, 1, any, "", tooLong), ERangeError);
  // A NUL would end the field early and let the rest pass for the next field.
  EXPECT_THROW((void)Socks4Request(kCommandConnect, 1, any, std::string("a\0b", 3), ""),
               ERangeError);
  EXPECT_THROW((void)Socks4Request(kCommandConnect, 1, any, "", std::string("h\0x", 3)),
               ERangeError);
  // Text is sent as ASCII: what is not ASCII becomes "?".
  const TIdByteArray request = Socks4Request(kCommandConnect, 1, any, "\xC3\xA9", "");
  EXPECT_EQ(std::string(request.begin() + 8, request.end()), std::string("?\0", 2));
}

TEST(SocksWireTest, AddressParserTakesExactlyItsBytesAndNothingFromAShortPrefix) {
  struct Case {
    TIdByteArray bytes;
    std::string host;
    std::uint16_t port;
    TIdIPVersion version;
  };
  const Case cases[] = {
      {{1, 192, 0, 2, 1, 0, 80}, "192.0.2.1", 80, Id_IPv4},
      {{3, 3, 'a', 'b', 'c', 1, 0}, "abc", 256, Id_IPv4},
      {{3, 0, 0, 7}, "", 7, Id_IPv4},
      {{4, 0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xFF},
       "2001:DB8:0:0:0:0:0:1",
       0xFFFF,
       Id_IPv6},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.host);
    TIdByteArray withTrailer = tc.bytes;
    withTrailer.push_back(0xEE);
    const auto parsed = ParseSocks5Address(withTrailer);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->Host, tc.host);
    EXPECT_EQ(parsed->Port, tc.port);
    EXPECT_EQ(parsed->IPVersion, tc.version);
    EXPECT_EQ(parsed->Length, tc.bytes.size());
    for (std::size_t cut = 0; cut < tc.bytes.size(); ++cut) {
      EXPECT_FALSE(ParseSocks5Address(std::span(tc.bytes).first(cut)).has_value()) << cut;
    }
  }
  for (const std::uint8_t type : {0, 2, 5, 255}) {
    EXPECT_FALSE(ParseSocks5Address(TIdByteArray{type, 1, 2, 3, 4, 5, 6, 7, 8}).has_value());
    EXPECT_FALSE(Socks5ReplyRestLength(type, 4).has_value());
  }
  EXPECT_EQ(Socks5ReplyRestLength(kAddressIPv4, 0), 5);
  EXPECT_EQ(Socks5ReplyRestLength(kAddressName, 10), 12);
  EXPECT_EQ(Socks5ReplyRestLength(kAddressIPv6, 0), 17);
}

}  // namespace
}  // namespace brixa::socks
