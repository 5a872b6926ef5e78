// Header lines found, written, folded and unfolded, and values never able to start a header of
// their own.

#include "http/message/header_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace brixa {
namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

TEST(HeaderListTest, FindsHeadersByNameWithoutCaseAndTrimsValues) {
  const TIdHeaderList list =
      ListOf({"Content-Type: text/plain", "Content-Length:   42  ", "no separator here",
              ": orphan value", "X-Dup: first", "x-dup: second"});
  EXPECT_EQ(list.FindHeader("content-length"), 1);
  EXPECT_EQ(list.HeaderValue("content-length"), "42");
  EXPECT_EQ(list.HeaderValue("CONTENT-TYPE"), "text/plain");
  EXPECT_EQ(list.FindHeader("X-DUP"), 4) << "the first line of a name wins";
  EXPECT_EQ(list.HeaderValue("Missing"), "");
  EXPECT_EQ(list.FindHeader("Missing"), -1);
  // Lines without a name are never found, not even by the empty name.
  EXPECT_EQ(list.LineName(2), "");
  EXPECT_EQ(list.LineName(3), "");
  EXPECT_EQ(list.FindHeader(""), -1);
  EXPECT_EQ(list.LineValue(2), "");
  EXPECT_EQ(list.LineValue(-1), "");
  EXPECT_EQ(list.LineValue(99), "");
}

TEST(HeaderListTest, JoinsContinuationLinesOnlyWhenAsked) {
  TIdHeaderList list =
      ListOf({"Accept: text/html,  ", "   application/xml,", "\t*/*", "Next: value"});
  EXPECT_EQ(list.HeaderValue("Accept"), "text/html, application/xml, */*");
  EXPECT_EQ(list.HeaderValue("Next"), "value");
  list.SetJoinContinuations(false);
  EXPECT_EQ(list.HeaderValue("Accept"), "text/html,");
}

TEST(HeaderListTest, WritesReplaceInPlaceAppendNewNamesAndEmptyValuesRemove) {
  TIdHeaderList list =
      ListOf({"Host: a", "Accept: old,", " continued", "User-Agent: agent", "Other: x"});
  list.SetHeaderValue("accept", "new");
  EXPECT_EQ(list.Lines(),
            (std::vector<std::string>{"Host: a", "accept: new", "User-Agent: agent", "Other: x"}))
      << "the old continuation lines go with the old value";
  list.SetHeaderValue("Range", "bytes=1-2");
  EXPECT_EQ(list.Strings(list.Count() - 1), "Range: bytes=1-2");

  TIdHeaderList folded = ListOf({"A: 1", "Accept: x,", " y", "B: 2"});
  folded.SetHeaderValue("ACCEPT", "");
  EXPECT_EQ(folded.Lines(), (std::vector<std::string>{"A: 1", "B: 2"}));
  folded.SetHeaderValue("Absent", "");
  EXPECT_EQ(folded.Count(), 2);

  // With folding off the line is written whole, and an old continuation still goes with it
  // (left behind it would be read as part of the header above).
  TIdHeaderList unfolded = ListOf({"A: 1", "B: x,", " y"});
  unfolded.SetBreakLongLines(false);
  unfolded.SetHeaderValue("B", std::string(200, 'z') + " " + std::string(200, 'z'));
  ASSERT_EQ(unfolded.Count(), 2);
  EXPECT_EQ(unfolded.Strings(1).size(), 3 + 401u);
  unfolded.Add(" stray");
  unfolded.SetHeaderValue("B", "");
  EXPECT_EQ(unfolded.Lines(), (std::vector<std::string>{"A: 1"}));
}

TEST(HeaderListTest, CustomSeparatorSplitsOnItsTextWithoutTrailingSpaces) {
  TIdHeaderList list;
  list.SetSeparator("= ");
  list.SetHeaderValue("Username", "joe");
  EXPECT_EQ(list.Strings(0), "Username= joe");
  list.Add("Password=secret");
  EXPECT_EQ(list.HeaderValue("password"), "secret");
  EXPECT_EQ(list.LineName(1), "Password");
}

TEST(HeaderListTest, FoldsLongValuesAtTheBreakColumnAndUnfoldsThemBack) {
  std::string value;
  for (int i = 0; value.size() < 2000; ++i) value += (i ? " word" : "word") + std::to_string(i);
  TIdHeaderList list(1024);
  list.SetHeaderValue("X-Long", value);
  ASSERT_GT(list.Count(), 1);
  EXPECT_LE(list.Strings(0).size(), 1024u);
  EXPECT_EQ(list.Strings(0).rfind("X-Long: ", 0), 0u);
  for (int i = 1; i < list.Count(); ++i) {
    EXPECT_EQ(list.Strings(i).front(), ' ') << "line " << i;
    EXPECT_LE(list.Strings(i).size(), 1024u) << "line " << i;
    EXPECT_NE(list.Strings(i).back(), ' ') << "line " << i;
  }
  EXPECT_EQ(list.HeaderValue("x-long"), value);

  // Rewriting a shorter value drops every old continuation line.
  list.Add("After: 1");
  list.SetHeaderValue("X-Long", "short");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X-Long: short", "After: 1"}));

  TIdHeaderList unbreakable(78);
  const std::string token(300, 'q');
  unbreakable.SetHeaderValue("Token", token);
  // The only break character is the blank after the name: the token itself stays whole.
  ASSERT_LE(unbreakable.Count(), 2);
  EXPECT_EQ(unbreakable.Strings(unbreakable.Count() - 1).find(token) != std::string::npos, true);
  EXPECT_EQ(unbreakable.HeaderValue("Token"), token);
}

TEST(HeaderListTest, ALineBreakInAValueNeverStartsAHeaderOfItsOwn) {
  TIdHeaderList list;
  list.SetHeaderValue("X-Note", "one\r\nInjected: yes");
  EXPECT_EQ(list.FindHeader("Injected"), -1);
  for (int i = 1; i < list.Count(); ++i) EXPECT_EQ(list.Strings(i).front(), ' ');
  EXPECT_EQ(list.HeaderValue("X-Note"), "one Injected: yes");
}

TEST(HeaderListTest, CollectsEveryValueOfANameInOrder) {
  const TIdHeaderList list = ListOf({"WWW-Authenticate: Basic realm=\"a\"", "Other: 1",
                                     "www-authenticate: Digest realm=\"b\",", "  nonce=\"n\""});
  TIdHeaderList values;
  values.Add("kept");
  list.CollectValues("WWW-Authenticate", &values);
  EXPECT_EQ(values.Lines(), (std::vector<std::string>{"kept", "Basic realm=\"a\"",
                                                      "Digest realm=\"b\", nonce=\"n\""}));
  list.CollectValues("WWW-Authenticate", nullptr);  // no destination: nothing happens
  EXPECT_TRUE(list.CollectValues("Absent").empty());
}

TEST(HeaderListTest, TextRoundTripsThroughCrLfLines) {
  TIdHeaderList list;
  list.SetText("A: 1\r\nB: 2\n C\r\n");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "B: 2", " C"}));
  EXPECT_EQ(list.Text(), "A: 1\r\nB: 2\r\n C\r\n");
  TIdHeaderList copy;
  copy.AddLines(list);
  copy.AddLines(copy);
  EXPECT_EQ(copy.Count(), 6);
}

// Generated header blocks: whatever values are written (folded or not), reading the header
// block back gives each value with its blank runs collapsed.
TEST(HeaderListTest, ReadingWhatWasWrittenGivesBackTheValues) {
  std::mt19937 random(20240611);
  const std::string alphabet = "abcXYZ019-_/;=\",.\t ";
  const auto randomValue = [&] {
    std::string value;
    const int length = std::uniform_int_distribution<int>(1, 400)(random);
    for (int i = 0; i < length; ++i) {
      value += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    }
    return value;
  };
  // What a reader sees of a value: trimmed, blank runs (space or tab) as one space. A fold
  // counts as a blank, so one after a comma may add a space there.
  const auto canonical = [](const std::string& value) {
    std::string result;
    for (const char ch : value) {
      const bool blank = ch == ' ' || ch == '\t';
      if (blank && (result.empty() || result.back() == ' ' || result.back() == ',')) continue;
      result += blank ? ' ' : ch;
    }
    while (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
  };
  for (int round = 0; round < 300; ++round) {
    TIdHeaderList list(std::uniform_int_distribution<int>(20, 120)(random));
    std::vector<std::pair<std::string, std::string>> written;
    const int count = std::uniform_int_distribution<int>(1, 8)(random);
    for (int i = 0; i < count; ++i) {
      std::string value = randomValue();
      if (canonical(value).empty()) value = "x";
      const std::string name = "H" + std::to_string(i);
      list.SetHeaderValue(name, value);
      written.emplace_back(name, value);
    }
    TIdHeaderList reread;
    reread.SetText(list.Text());
    for (const auto& [name, value] : written) {
      ASSERT_EQ(canonical(reread.HeaderValue(name)), canonical(value))
          << "round " << round << " " << name << "\n"
          << list.Text();
    }
  }
}

}  // namespace
}  // namespace brixa
