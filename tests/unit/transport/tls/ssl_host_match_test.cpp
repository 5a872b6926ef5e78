// Certificate names matched by RFC 6125, and address literals as IP address entries.

#include "transport/tls/ssl_host_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brixa {
namespace {

// RFC 6125 name rules the system TLS handler applies itself, since the system's own check is
// not trusted everywhere to apply them.
TEST(TlsHostMatchTest, DnsNamesAndWildcardsFollowRfc6125) {
  struct Case {
    const char* pattern;
    const char* host;
    bool matches;
  };
  const Case cases[] = {
      {"localhost", "localhost", true},
      {"LocalHost", "localHOST", true},
      {"www.example.com", "www.example.com.", true},  // a final dot is the same name
      {"www.example.com", "example.com", false},
      {"*.example.com", "www.example.com", true},
      {"*.example.com", "WWW.Example.Com", true},
      {"*.example.com", "example.com", false},      // the wildcard is one whole label
      {"*.example.com", "a.b.example.com", false},  // and only one
      {"*.example.com", ".example.com", false},     // never an empty one
      {"*.localhost", "localhost", false},
      {"*.localhost", "a.localhost", false},  // two labels must follow the wildcard
      {"*.com", "example.com", false},
      {"w*.example.com", "www.example.com", false},  // no partial wildcards
      {"*w.example.com", "ww.example.com", false},
      {"www.*.com", "www.example.com", false},
      {"*.*.example.com", "a.b.example.com", false},
      {"127.0.0.1", "127.0.0.1", false},  // an address is never matched by a DNS entry
      {"*.0.0.1", "127.0.0.1", false},
      {"", "localhost", false},
      {"localhost", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TlsDnsNameMatches(c.pattern, c.host), c.matches)
        << c.pattern << " against " << c.host;
  }
}

TEST(TlsHostMatchTest, AddressLiteralsBecomeTheBytesOfAnIPAddressEntry) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(TlsIPAddressBytes("127.0.0.1"), (Bytes{127, 0, 0, 1}));
  EXPECT_EQ(TlsIPAddressBytes("10.200.3.255"), (Bytes{10, 200, 3, 255}));
  Bytes loopback6(16, 0);
  loopback6[15] = 1;
  EXPECT_EQ(TlsIPAddressBytes("::1"), loopback6);
  EXPECT_EQ(TlsIPAddressBytes("[::1]"), loopback6);
  const auto mapped = TlsIPAddressBytes("2001:db8::a:1");
  ASSERT_TRUE(mapped.has_value());
  EXPECT_EQ((Bytes(mapped->begin(), mapped->begin() + 4)), (Bytes{0x20, 0x01, 0x0d, 0xb8}));
  EXPECT_EQ((*mapped)[13], 0x0a);
  EXPECT_EQ((*mapped)[15], 0x01);
  for (const char* name : {"localhost", "example.com", "127.0.0.1.example", "1.2.3", "::g", ""}) {
    EXPECT_FALSE(TlsIPAddressBytes(name).has_value()) << name;
  }
}

}  // namespace
}  // namespace brixa
