// The supported subset of FormatInvariant, specifier by specifier.

#include "runtime/text/format_invariant.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/core/exception.h"

namespace brixa {
namespace {

TEST(FormatInvariantTest, SupportedSubset) {
  struct Case {
    std::string actual, expected;
  };
  const Case cases[] = {
      {FormatInvariant("%s, %.2d %s %.4d %s %s", "Sun", 6, "Nov", 1994, "08:49:37", "GMT"),
       "Sun, 06 Nov 1994 08:49:37 GMT"},
      {FormatInvariant("%lu", 4294967295u), "4294967295"},
      {FormatInvariant("%u", -1), "18446744073709551615"},
      {FormatInvariant("[%5d|%-5d|%05d|%.3d]", 42, 42, -42, -5), "[   42|42   |-0042|-005]"},
      {FormatInvariant("%x %X %.8x", 255, 255u, 255), "ff FF 000000ff"},
      {FormatInvariant("%.2f|%8.3f|%08.2f", 3.14159, -2.5, 1.5), "3.14|  -2.500|00001.50"},
      {FormatInvariant("%e|%g|%.1f", 1.5, 0.0001, 2), "1.500000e+00|0.0001|2.0"},
      {FormatInvariant("%n|%n|%.0n", 1234567.891, -999.5, 1000.0), "1,234,567.89|-999.50|1,000"},
      {FormatInvariant("%1:s %0:s %s", "a", "b", "c"), "b a b"},
      {FormatInvariant("100%% %s", "sure"), "100% sure"},
      {FormatInvariant("%.3s|%-4s|%4s", "abcdef", "ab", "ab"), "abc|ab  |  ab"},
      {FormatInvariant("Socket Error # %d\r\n%s", 10061, "Connection refused."),
       "Socket Error # 10061\r\nConnection refused."},
      {FormatInvariant("%s%c", "x", 'y'), "xy"},
      {FormatInvariant("%d", std::int64_t{-9223372036854775807 - 1}), "-9223372036854775808"},
      {FormatInvariant("no arguments"), "no arguments"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);

  for (const char* bad : {"%d", "%q", "abc%", "%s %s"}) {
    try {
      (void)FormatInvariant(bad, "text");
      ADD_FAILURE() << bad << " formatted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(),
                std::string("Format '") + bad + "' invalid or incompatible with argument");
    }
  }
  EXPECT_THROW((void)FormatInvariant("%s", 5), EConvertError);
  EXPECT_THROW((void)FormatInvariant("%f", "x"), EConvertError);
}

}  // namespace
}  // namespace brixa
