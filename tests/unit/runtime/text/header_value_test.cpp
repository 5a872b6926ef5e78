// The header-value helpers: sub-values, booleans, cookie domains, path folding and line wrapping.

#include "runtime/text/header_value.h"

#include <gtest/gtest.h>

namespace brixa {
namespace {

TEST(HeaderValueTest, ExtractHeaderSubValueFindsQuotedAndPlainItems) {
  struct Case {
    std::string_view header, name, expected;
  };
  const Case cases[] = {
      {"text/html; charset=\"utf-8\"", "CHARSET", "utf-8"},
      {"text/html; CharSet=ISO-8859-1; q=1", "charset", "ISO-8859-1"},
      {"text/html; charset = utf-8 ;x=1", "CHARSET", "utf-8 "},  // not trimmed at its end
      {"text/html", "CHARSET", ""},
      {"text/html; charset=\"unterminated", "charset", "unterminated"},
      {"a; xcharset=one; charset=two", "charset", "one"},  // first occurrence anywhere wins
      {"Basic realm=\"a;b\"", "realm", "a;b"},
      {"charset=", "charset", ""},
      {"text/html; charset=utf-8", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractHeaderSubValue(c.header, c.name), c.expected) << c.header;
  }
  EXPECT_EQ(CharsetEncodingOf("text/plain; charset=UTF-8"), ceUTF8);
  EXPECT_EQ(CharsetEncodingOf("text/plain; charset=\"utf8\""), ceUTF8);
  EXPECT_EQ(CharsetEncodingOf("text/plain; charset=iso-8859-1"), ce8Bit);
  EXPECT_EQ(CharsetEncodingOf("text/plain"), ce8Bit);
}

TEST(HeaderValueTest, BooleanTextsReadWithoutLetterCaseAndWriteUpperCase) {
  struct Case {
    std::string_view text;
    std::optional<bool> expected;
  };
  const Case cases[] = {
      {"TRUE", true},      {"true", true},          {"tRuE", true},          {"FALSE", false},
      {"false", false},    {" true", std::nullopt}, {"true ", std::nullopt}, {"", std::nullopt},
      {"1", std::nullopt}, {"yes", std::nullopt},   {"truex", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToBool(c.text), c.expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(BoolToText(true), "TRUE");
  EXPECT_EQ(BoolToText(false), "FALSE");
}

TEST(HeaderValueTest, DottedIPv4AndHostNames) {
  struct Case {
    std::string_view text;
    bool dotted, hostLike;
  };
  const Case cases[] = {
      {"10.0.0.1", true, false},  {" 255.255.255.255 ", true, false},
      {"1.2.3.4.5", true, false}, {"1.2.3", false, true},
      {"256.1.1.1", false, true}, {"1.2.3.-1", false, true},
      {"a.b.c", false, true},     {".b.c", false, false},
      {"1..2.3", false, true},    {"0x1.2.3.4", false, true},
      {"", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDottedIPv4(c.text), c.dotted) << c.text;
    EXPECT_EQ(LooksLikeHostName(c.text), c.hostLike) << c.text;
  }
}

TEST(HeaderValueTest, DomainMatchesTheCookieRules) {
  struct Case {
    std::string_view host, domain;
    bool matches;
  };
  const Case cases[] = {
      {"a.b.c", ".b.c", true},        {"b.c", ".b.c", false},
      {"A.B.C", "a.b.c", true},       {"x.a.b.c", "a.b.c", false},
      {"10.0.0.1", "10.0.0.1", true}, {"10.0.0.1", ".0.0.1", false},
      {".b.c", ".b.c", false},        {"www.EXAMPLE.com", ".example.COM", true},
      {"evilb.c", ".b.c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DomainMatches(c.host, c.domain), c.matches) << c.host << " in " << c.domain;
  }
}

TEST(HeaderValueTest, ResolveRelativePathJoinsAndFolds) {
  struct Case {
    std::string_view base, path, expected;
  };
  const Case cases[] = {
      {"/a/b/", "../c", "/a/c"},
      {"/a/b", "c/", "/a/b/c/"},
      {"/a//b", "c", "/a/b/c"},
      {"/x", "/y", "/y"},
      {"/a/b/c/", "../../d", "/a/d"},
      {"/a/b/", "..", "/a"},
      {"/a/b/", "", "/a/b/"},
      {"/a/", "./c", "/a/./c"},      // a "." segment is copied unchanged
      {"/a/", "..x/y", "/a/..x/y"},  // a name starting with two dots is an ordinary segment
      {"", "c", "c"},
      {"/", "..", "/"},  // nothing above the root
      {"/a/", "../../b", "/b"},
      {"/a/b", "", "/a/b/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveRelativePath(c.base, c.path, "/"), c.expected) << c.base << " + " << c.path;
  }
  EXPECT_EQ(ResolveRelativePath("C:\\dir", "sub\\..\\f", "\\"), "C:\\dir\\f");
}

TEST(HeaderValueTest, LastTextPosSearchesBackwardsWithoutCase) {
  EXPECT_EQ(LastTextPos("/", "a/b/c"), 4);
  EXPECT_EQ(LastTextPos("/", "a/b/c", 3), 2);
  EXPECT_EQ(LastTextPos("/", "a/b/c", 1), 0);
  EXPECT_EQ(LastTextPos("AB", "xabyab"), 5);
  EXPECT_EQ(LastTextPos("ab", "xabyab", 5), 5);  // the match may start at the start position
  EXPECT_EQ(LastTextPos("ab", "xabyab", 4), 2);
  EXPECT_EQ(LastTextPos("ab", "xabyab", 100), 5);
  EXPECT_EQ(LastTextPos("abc", "ab"), 0);
  EXPECT_EQ(LastTextPos("", "ab"), 0);
}

TEST(HeaderValueTest, WrapHeaderLineFoldsAtBreakCharacters) {
  const std::string_view fold = "\r\n ";
  const std::string_view breaks = "\t ,";
  struct Case {
    std::string_view line;
    std::int64_t maxColumn;
    std::string_view expected;
  };
  const Case cases[] = {
      {"short value", 78, "short value"},
      {"aaa bbb ccc", 5, "aaa \r\n bbb \r\n ccc"},
      {"a,b,c,d", 4, "a,b,\r\n c,d"},
      // No break character: the line stays whole however long it is.
      {"abcdefghij", 3, "abcdefghij"},
      // Quoted text is never broken; a break right at a closing quote splits without a fold.
      {"x \"a b c d\" yyy zzz", 4, "x \"a b c d\" \r\n yyy \r\n zzz"},
      // An existing fold restarts the column and adds nothing.
      {"aaa\r\n bbb ccc", 9, "aaa\r\n bbb ccc"},
      // A break at the very end adds no fold.
      {"aaaa ", 4, "aaaa "},
      {"aaa bbb ", 5, "aaa \r\n bbb "},
      // Multi-byte characters are never a break and are kept whole.
      {"\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9", 4, "\xC3\xA9\xC3\xA9 \r\n \xC3\xA9\xC3\xA9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WrapHeaderLine(c.line, fold, breaks, c.maxColumn), c.expected) << c.line;
  }
}

TEST(HeaderValueTest, WrapHeaderLineNeverLosesText) {
  // Removing every inserted fold gives back the line, for many lines and widths.
  const std::string_view fold = "\r\n ";
  std::string line;
  for (int i = 0; i < 60; ++i) {
    line += "tok" + std::to_string(i * 7919 % 1000) + (i % 3 == 0 ? ", " : " ");
    if (i % 11 == 0) line += "\"q u o t e d\" ";
    for (std::int64_t width = 1; width < 40; width += 3) {
      std::string wrapped = WrapHeaderLine(line, fold, "\t ,", width);
      std::string unfolded;
      for (std::size_t p = 0; p < wrapped.size(); ++p) {
        if (wrapped.compare(p, fold.size(), fold) == 0) {
          p += fold.size() - 1;
          continue;
        }
        unfolded.push_back(wrapped[p]);
      }
      ASSERT_EQ(unfolded, line) << "width " << width;
    }
  }
}

TEST(HeaderValueTest, RotateLeft32) {
  EXPECT_EQ(RotateLeft32(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 0), 0x12345678u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 8), 0x34567812u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 31), 0x091A2B3Cu);
}

}  // namespace
}  // namespace brixa
