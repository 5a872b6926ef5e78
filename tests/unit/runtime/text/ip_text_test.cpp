// IPv6 and IPv4 texts parsed, canonicalised and rejected.

#include "runtime/text/ip_text.h"

#include <gtest/gtest.h>

#include "runtime/network_exception.h"

namespace brixa {
namespace {

struct CanonicalCase {
  const char* text;
  const char* canonical;  // empty: not an IPv6 address
};

TEST(CanonicalIPv6Test, WritesEightUncompressedUpperCaseGroups) {
  const CanonicalCase cases[] = {
      {"::1", "0:0:0:0:0:0:0:1"},
      {"fe80::0001", "FE80:0:0:0:0:0:0:1"},
      {"::", "0:0:0:0:0:0:0:0"},
      {"1::", "1:0:0:0:0:0:0:0"},
      {"2001:db8::8:800:200c:417a", "2001:DB8:0:0:8:800:200C:417A"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:DB8:0:0:0:0:0:1"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:2:3::5:6:7:8", "1:2:3:0:5:6:7:8"},
      {"ffff:FFFF::abcd", "FFFF:FFFF:0:0:0:0:0:ABCD"},
      // An embedded IPv4 tail becomes two groups of two-digit pairs.
      {"::ffff:10.0.0.1", "0:0:0:0:0:FFFF:0A00:0001"},
      {"::1.2.3.4", "0:0:0:0:0:0:0102:0304"},
      {"1:2:3:4:5:6:192.168.0.255", "1:2:3:4:5:6:C0A8:00FF"},
      {"1:2:3:4::255.0.010.1", "1:2:3:4:0:0:FF00:0A01"},
  };
  for (const CanonicalCase& c : cases) {
    EXPECT_EQ(CanonicalIPv6(c.text), c.canonical) << c.text;
  }
}

TEST(CanonicalIPv6Test, RejectsWhatIsNotAnIPv6Address) {
  const char* const invalid[] = {
      "",
      "1:2:3",                  // short, and no "::" to stand for the rest
      "1:2:3:4:5:6:7",          // seven groups
      "1::2::3",                // two "::"
      ":::",                    //
      "12345::1",               // group above FFFF
      "10000::",                //
      "1:2:3:4:5:6:7:8:9",      // too many colons
      "1::2:3:4:5:6:7:8",       //
      "g::1",                   // not hex
      "::1 ",                   // trailing blank
      "1.2.3.4",                // IPv4 only
      "::1.2.3",                // three IPv4 parts
      "::1.2.3.4.5",            // five
      "::1.2.3.256",            // IPv4 part above 255
      "::a.b.c.d",              // letters after the first dot
      "::ffff:1.2.3.4:5",       // a colon after the IPv4 tail
      "1:2:3:4:5:6:7:1.2.3.4",  // nine groups with the tail
      "1:2:3:4:5:6:1..3.4",     // empty IPv4 part
      "::1a.2.3.4",             // hex in the IPv4 tail
      "fe80::1%eth0",           // zone index
  };
  for (const char* text : invalid) {
    EXPECT_EQ(CanonicalIPv6(text), "") << text;
  }
}

TEST(IPv6WordsTest, TextToWordsReadsTheCanonicalGroups) {
  const TIdIPv6Address loopback{0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(IPv6TextToWords("::1"), loopback);
  const TIdIPv6Address mapped{0, 0, 0, 0, 0, 0xFFFF, 0x0A00, 0x0001};
  EXPECT_EQ(IPv6TextToWords("::ffff:10.0.0.1"), mapped);
  const TIdIPv6Address full{0x2001, 0x0DB8, 0x85A3, 0, 0, 0x8A2E, 0x0370, 0x7334};
  EXPECT_EQ(IPv6TextToWords("2001:db8:85a3::8a2e:370:7334"), full);
  EXPECT_FALSE(IPv6TextToWords("1:2:3").has_value());
  EXPECT_FALSE(IPv6TextToWords("").has_value());
}

TEST(IPv6WordsTest, OrRaiseNamesTheTextItWasGiven) {
  EXPECT_EQ(IPv6TextToWordsOrRaise("::2")[7], 2);
  try {
    (void)IPv6TextToWordsOrRaise("zz::1");
    FAIL() << "no exception";
  } catch (const EIdInvalidIPv6Address& e) {
    EXPECT_EQ(e.Message(), "zz::1 is not a valid IPv6 address");
  }
}

TEST(IPv6WordsTest, WordsToTextWritesFourDigitsPerGroupAfterAColon) {
  EXPECT_EQ(IPv6WordsToText({0x2001, 0xDB8, 0, 0, 0, 0, 0xAB, 1}),
            ":2001:0DB8:0000:0000:0000:0000:00AB:0001");
  EXPECT_EQ(IPv6WordsToText({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}),
            ":FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF");
}

struct IPv4Case {
  const char* text;
  std::uint32_t value;
};

TEST(IPv4TextToValueTest, TheLastPartFillsTheRemainingBytes) {
  const IPv4Case cases[] = {
      {"10.0.0.1", 0x0A000001},
      {"255.255.255.255", 0xFFFFFFFF},
      {"10.1", 0x0A000001},
      {"10.1.2", 0x0A010002},
      {"1.65535", 0x0100FFFF},
      {"1.2.65535", 0x0102FFFF},
      {"1", 1},
      {"4294967295", 0xFFFFFFFF},
      {"0x7f.1", 0x7F000001},
      {"0X0A.0xFF.0.0x1", 0x0AFF0001},
      {"010.0.0.1", 0x08000001},
      {"0.0.0.0", 0},
      {"08.0.0.1", 0x08000001},   // not octal (has an 8): decimal
      {"1.2.3.256", 0x01020300},  // each part is masked to the byte it fills
      {"1.70000", 0x01011170},    // 70000 masked to three bytes
  };
  for (const IPv4Case& c : cases) {
    const std::optional<std::uint32_t> value = IPv4TextToValue(c.text);
    ASSERT_TRUE(value.has_value()) << c.text;
    EXPECT_EQ(*value, c.value) << c.text;
  }
}

TEST(IPv4TextToValueTest, RejectsPartsThatAreNoNumber) {
  for (const char* text : {"", "1..2", "a.b.c.d", "0x", "0xg.1", "1.2.3.4.5", "1.2.-3.4", " 1"}) {
    EXPECT_FALSE(IPv4TextToValue(text).has_value()) << text;
  }
}

}  // namespace
}  // namespace brixa
