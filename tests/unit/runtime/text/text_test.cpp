// The text helpers: splitting, comparisons without case, positions and integer conversions.

#include "runtime/text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "platform/core/exception.h"
#include "runtime/network_exception.h"

namespace brixa {
namespace {

TEST(TextTest, TakeUpToSplitsAtTheFirstDelimiter) {
  struct Case {
    std::string input;
    std::string_view delimiter;
    bool caseSensitive;
    std::string taken, left;
  };
  const Case cases[] = {
      {"a:b:c", ":", true, "a", "b:c"},
      {"abc", ":", true, "abc", ""},
      {"", ":", true, "", ""},
      {"Content-Type: text/html", ":", true, "Content-Type", " text/html"},
      {"aXb", "x", false, "a", "b"},
      {"aXb", "x", true, "aXb", ""},
      {"key\r\n\r\nbody", "\r\n\r\n", true, "key", "body"},
      {"AbCdEf", "cD", false, "Ab", "Ef"},  // result keeps the input's case
      {"x:", ":", true, "x", ""},
  };
  for (Case c : cases) {
    std::string input = c.input;
    EXPECT_EQ(TakeUpTo(input, c.delimiter, true, c.caseSensitive), c.taken) << c.input;
    EXPECT_EQ(input, c.left) << c.input;
  }
  std::string kept = "a:b";
  EXPECT_EQ(TakeUpTo(kept, ":", false), "a");
  EXPECT_EQ(kept, "a:b");
  std::string whole = "abc";
  EXPECT_EQ(TakeUpTo(whole, ":", false), "abc");
  EXPECT_EQ(whole, "abc");
}

TEST(TextTest, CaseInsensitiveComparisons) {
  EXPECT_TRUE(SameTextNoCase("Content-LENGTH", "content-length"));
  EXPECT_FALSE(SameTextNoCase("abc", "abcd"));
  EXPECT_FALSE(SameTextNoCase("a[", "a{"));  // only letters fold
  EXPECT_TRUE(StartsWithNoCase("Basic realm", "BASIC"));
  EXPECT_FALSE(StartsWithNoCase("Bas", "Basic"));
  EXPECT_TRUE(EndsWithNoCase("www.Example.COM", ".example.com"));
  EXPECT_FALSE(EndsWithNoCase("com", ".com"));
  EXPECT_TRUE(StartsWithNoCase("x", ""));

  EXPECT_EQ(IndexOfText("b", {"a", "B", "b"}, true), 2);
  EXPECT_EQ(IndexOfText("b", {"a", "B", "b"}, false), 1);
  EXPECT_EQ(IndexOfText("z", {"a"}, false), -1);
  const std::vector<std::string> list{"GET", "HEAD"};
  EXPECT_EQ(IndexOfText("head", list, false), 1);
  EXPECT_EQ(IndexOfText("head", list, true), -1);

  EXPECT_EQ(TextPos("b", "abcb"), 2);
  EXPECT_EQ(TextPos("B", "abcb"), 0);
  EXPECT_EQ(TextPos("CB", "abcb", false), 3);
  EXPECT_EQ(TextPos("abcde", "abc", false), 0);
}

TEST(TextTest, CharacterPositionChecks) {
  EXPECT_TRUE(CharIs("abc", 2, 'b'));
  EXPECT_FALSE(CharIs("abc", 2, 'c'));
  EXPECT_FALSE(CharIs("abc", 4, 'c'));
  EXPECT_TRUE(CharAtIsInSet("a;b", 2, ",;"));
  EXPECT_FALSE(CharAtIsInSet("a;b", 3, ",;"));
  EXPECT_FALSE(CharAtIsInSet("", 1, ",;"));
  for (const std::int64_t bad : {0, -5}) {
    try {
      (void)CharIs("abc", bad, 'a');
      ADD_FAILURE() << "position " << bad << " accepted";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Invalid ACharPos");
    }
    EXPECT_THROW((void)CharAtIsInSet("abc", bad, "a"), EIdException);
  }
}

TEST(TextTest, IntegerConversionsTrimAndReadDecimalOrHex) {
  struct Case {
    std::string_view text;
    bool valid;
    std::int64_t value;
  };
  const Case cases32[] = {
      {"42", true, 42},
      {" \t 42\r\n", true, 42},
      {"-17", true, -17},
      {"+8", true, 8},
      {"$FF", true, 255},
      {"0x1f", true, 31},
      {"0X10", true, 16},
      {"$FFFFFFFF", true, -1},  // hexadecimal uses all 32 bits
      {"2147483647", true, 2147483647},
      {"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
      {"2147483648", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"12a", false, 0},
      {"1 2", false, 0},
      {"0x", false, 0},
      {"$", false, 0},
      {"-", false, 0},
      {"3.5", false, 0},
  };
  for (const Case& c : cases32) {
    EXPECT_EQ(StrToIntDefTrim(c.text, -999), c.valid ? c.value : -999) << c.text;
    if (c.valid) {
      EXPECT_EQ(StrToIntTrim(c.text), c.value) << c.text;
    } else {
      EXPECT_THROW((void)StrToIntTrim(c.text), EConvertError) << c.text;
    }
  }
  try {
    (void)StrToIntTrim("x1");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
  }
  EXPECT_EQ(StrToInt64DefTrim(" 9223372036854775807 ", 0),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(StrToInt64DefTrim("9223372036854775808", 7), 7);
  EXPECT_EQ(StrToInt64DefTrim("4294967296", 0), 4294967296LL);
  EXPECT_EQ(StrToInt64DefTrim("$FFFFFFFFFFFFFFFF", 0), -1);

  EXPECT_TRUE(IsNumericText("123"));
  EXPECT_TRUE(IsNumericText("-9223372036854775808"));
  EXPECT_FALSE(IsNumericText("9223372036854775808"));
  EXPECT_FALSE(IsNumericText(" 1"));
  EXPECT_FALSE(IsNumericText("$10"));
  EXPECT_FALSE(IsNumericText(""));
  EXPECT_FALSE(IsNumericText("+"));
}

// The strict digit readers the address and length parsers share: digits only, bounded, and no
// overflow past the limit (a value that would wrap must not come back small).
TEST(TextTest, StrictDigitRunsRespectTheirLimit) {
  const struct {
    const char* text;
    std::uint64_t limit;
    std::optional<std::uint64_t> decimal;
    std::optional<std::uint64_t> hex;
  } cases[] = {
      {"255", 255, 255, std::nullopt},
      {"256", 255, std::nullopt, std::nullopt},
      {"00ff", 255, std::nullopt, 255},
      {"FfFf", 0xFFFF, std::nullopt, 0xFFFF},
      {"10000", 0xFFFF, 10000, std::nullopt},
      {"", 9, std::nullopt, std::nullopt},
      {"+1", 9, std::nullopt, std::nullopt},
      {" 1", 9, std::nullopt, std::nullopt},
      {"0x1", 9, std::nullopt, std::nullopt},
      {"18446744073709551615", UINT64_MAX, UINT64_MAX, std::nullopt},
      {"18446744073709551616", UINT64_MAX, std::nullopt, std::nullopt},
      {"FFFFFFFFFFFFFFFF", UINT64_MAX, std::nullopt, UINT64_MAX},
      {"10000000000000000", UINT64_MAX, 10000000000000000ULL, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDigits(c.text, c.limit), c.decimal) << c.text;
    EXPECT_EQ(ParseHexDigits(c.text, c.limit), c.hex) << c.text;
  }
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

TEST(TextTest, TrimReplaceAndPaths) {
  EXPECT_EQ(Trim("\x01 \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \x1F"), "  a");
  EXPECT_EQ(Trim("\xC3\xA9 "), "\xC3\xA9");  // bytes of non-ASCII characters are not blanks
  EXPECT_EQ(Trim("   "), "");

  EXPECT_EQ(ReplaceFirst("a-b-c", "-", "+"), "a+b-c");
  EXPECT_EQ(ReplaceFirst("abc", "B", "x"), "abc");
  EXPECT_EQ(ReplaceFirst("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceFirst("abc", "abc", ""), "");

  const std::string delimiter(1, PathDelimiter());
  EXPECT_EQ(IncludeTrailingDelimiter("dir"), "dir" + delimiter);
  EXPECT_EQ(IncludeTrailingDelimiter("dir" + delimiter), "dir" + delimiter);
  EXPECT_EQ(IncludeTrailingDelimiter(""), "");

  EXPECT_EQ(UpperCase("mIxEd-1\xC3\xA9"), "MIXED-1\xC3\xA9");
  EXPECT_EQ(LowerCase("MiXeD"), "mixed");
  EXPECT_EQ(Max(3, -4), 3);
  EXPECT_EQ(Min(std::int64_t{1} << 40, std::int64_t{5}), 5);
  EXPECT_EQ(IfThen(false, "yes", "no"), "no");
}

}  // namespace
}  // namespace brixa
