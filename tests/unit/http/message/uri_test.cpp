// URLs parsed into their parts and composed back, with default ports, IPv6 hosts and encoded
// request targets.

#include "http/message/uri.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "http/client/http_exceptions.h"

namespace brixa {
namespace {

struct ParsedParts {
  const char* text;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* directory;
  const char* resource;
  const char* query;
  const char* fragment;
  TIdIPVersion version;
};

// clang-format off
const ParsedParts kParseCases[] = {
  {"http://updates.example/brixakit/update.exe", "http", "", "", "updates.example", "",
   "/brixakit/", "update.exe", "", "", Id_IPv4},
  {"http://alice:s3cret@[::1]:8080/dir/sub/file.txt?a=1#top", "http", "alice", "s3cret", "::1",
   "8080", "/dir/sub/", "file.txt", "a=1", "top", Id_IPv6},
  {"http://host", "http", "", "", "host", "", "/", "", "", "", Id_IPv4},
  {"https://host:443/", "https", "", "", "host", "443", "/", "", "", "", Id_IPv4},
  {"http:\\\\host\\a\\b.txt", "http", "", "", "host", "", "/a/", "b.txt", "", "", Id_IPv4},
  {"http://h/p/s?x=1&y=2&z=3", "http", "", "", "h", "", "/p/", "s", "x=1&y=2&z=3", "", Id_IPv4},
  {"http://h/p/page.html#section-2", "http", "", "", "h", "", "/p/", "page.html", "",
   "section-2", Id_IPv4},
  // Only "?" starts a query: "=" belongs to the file name.
  {"http://h/dl/file=1.txt", "http", "", "", "h", "", "/dl/", "file=1.txt", "", "", Id_IPv4},
  {"http://h/a?x=1?y#f?g", "http", "", "", "h", "", "/", "a", "x=1?y", "f?g", Id_IPv4},
  // The user information ends at the last "@"; "=" and ":" are part of the password.
  {"http://u:p=w@h:81/", "http", "u", "p=w", "h", "81", "/", "", "", "", Id_IPv4},
  {"http://u:p@ss:x@h/", "http", "u", "p@ss:x", "h", "", "/", "", "", "", Id_IPv4},
  // A scheme without "//" is kept, so it can be refused; a host and port are not a scheme.
  {"mailto:a@b", "mailto", "", "", "", "", "", "a@b", "", "", Id_IPv4},
  {"javascript:alert(1)", "javascript", "", "", "", "", "", "alert(1)", "", "", Id_IPv4},
  {"localhost:8080/x", "", "", "", "", "", "localhost:8080/", "x", "", "", Id_IPv4},
  {"//other.example:81/p/q", "", "", "", "other.example", "81", "/p/", "q", "", "", Id_IPv4},
  {"/go/http://elsewhere/x", "", "", "", "", "", "/go/http://elsewhere/", "x", "", "", Id_IPv4},
  {"ftp://:secret@h/", "ftp", "", "", "h", "", "/", "", "", "", Id_IPv4},
  {"ftp://bob@h/", "ftp", "bob", "", "h", "", "/", "", "", "", Id_IPv4},
  {"http://[fe80::1]/", "http", "", "", "fe80::1", "", "/", "", "", "", Id_IPv6},
  {"http://[::1]junk:81/x", "http", "", "", "::1", "81", "/", "x", "", "", Id_IPv6},
  {"http://a]b[c:90/", "http", "", "", "a]b[c", "90", "/", "", "", "", Id_IPv4},
  {"update.exe", "", "", "", "", "", "", "update.exe", "", "", Id_IPv4},
  {"/first/second", "", "", "", "", "", "/first/", "second", "", "", Id_IPv4},
  {"a/b/c.cgi?q#f", "", "", "", "", "", "a/b/", "c.cgi", "q", "f", Id_IPv4},
  {"", "", "", "", "", "", "", "", "", "", Id_IPv4},
};
// clang-format on

TEST(URITest, ParsesEveryPartAsWritten) {
  for (const ParsedParts& c : kParseCases) {
    SCOPED_TRACE(c.text);
    const TIdURI uri(c.text);
    EXPECT_EQ(uri.Protocol(), c.protocol);
    EXPECT_EQ(uri.User(), c.user);
    EXPECT_EQ(uri.Password(), c.password);
    EXPECT_EQ(uri.Host(), c.host);
    EXPECT_EQ(uri.PortText(), c.port);
    EXPECT_EQ(uri.Directory(), c.directory);
    EXPECT_EQ(uri.Resource(), c.resource);
    EXPECT_EQ(uri.Query(), c.query);
    EXPECT_EQ(uri.Fragment(), c.fragment);
    EXPECT_EQ(uri.IPVersion(), c.version);
  }
}

TEST(URITest, AssigningAgainReplacesEveryPart) {
  TIdURI uri("http://u:p@[::1]:81/a/b?q#f");
  uri.SetURI("c.txt");
  EXPECT_EQ(uri.Protocol(), "");
  EXPECT_EQ(uri.Host(), "");
  EXPECT_EQ(uri.User(), "");
  EXPECT_EQ(uri.PortText(), "");
  EXPECT_EQ(uri.Directory(), "");
  EXPECT_EQ(uri.Query(), "");
  EXPECT_EQ(uri.Resource(), "c.txt");
  EXPECT_EQ(uri.IPVersion(), Id_IPv4);
  uri.SetURI("http://h\\x\\y");
  EXPECT_EQ(uri.AssignedText(), "http://h/x/y");
}

TEST(URITest, ComposesWithTheDefaultPortLeftOut) {
  struct Case {
    const char* text;
    const char* composed;
  };
  const Case cases[] = {
      {"http://h:80/a", "http://h/a"},
      {"HTTP://h:80/a", "HTTP://h/a"},
      {"http://h:8080/a", "http://h:8080/a"},
      {"https://h:443/", "https://h/"},
      {"https://h:80/", "https://h:80/"},
      {"ftp://h:21/f", "ftp://h/f"},
      {"gopher://h:70/", "gopher://h:70/"},
      {"http://h:080/", "http://h:080/"},  // the port is compared as written
      {"http://h", "http://h/"},
      {"http://u:p@h/x#frag", "http://h/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(TIdURI(c.text).URI(), c.composed) << c.text;

  const TIdURI full("http://u:p@h:81/x#frag");
  EXPECT_EQ(full.ComposeURI(ofAuthInfo | ofBookmark), "http://u:p@h:81/x#frag");
  EXPECT_EQ(full.ComposeURI(ofBookmark), "http://h:81/x#frag");
  EXPECT_EQ(full.ComposeURI(ofAuthInfo), "http://u:p@h:81/x");
  EXPECT_EQ(TIdURI("http://u@h/").ComposeURI(ofAuthInfo), "http://u@h/");
}

// What goes into a request line: blanks, controls and bytes beyond ASCII percent-encoded in
// every part, anything already encoded (and every other printable byte) left alone.
TEST(URITest, PathAndQueryEncodesWhatCannotStandInARequestLine) {
  struct Case {
    std::string text;
    const char* target;
  };
  const Case cases[] = {
      {"http://h/a b", "/a%20b"},
      {"http://h/dir name/f?q=a b", "/dir%20name/f?q=a%20b"},
      {"http://h/caf\xC3\xA9.txt", "/caf%C3%A9.txt"},
      {std::string("http://h/x\x01\x7F\ty"), "/x%01%7F%09y"},
      {"http://h/already%20done?a=%41&b=\"q\"", "/already%20done?a=%41&b=\"q\""},
      {"http://h/dl/file=1.txt", "/dl/file=1.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(TIdURI(c.text).PathAndQuery(), c.target) << c.text;
  EXPECT_EQ(TIdURI("http://h/a b?c d#e f").URI(), "http://h/a%20b?c%20d");
}

TEST(URITest, WritesIPv6HostsInBrackets) {
  EXPECT_EQ(TIdURI("http://[::1]:8080/x").URI(), "http://[::1]:8080/x");
  EXPECT_EQ(TIdURI("http://[2001:db8::5]/").URI(), "http://[2001:db8::5]/");
  TIdURI merged;
  merged.SetProtocol("http");
  merged.SetHost("fe80::2");
  merged.SetDirectory("/");
  EXPECT_EQ(merged.URI(), "http://[fe80::2]/");
  EXPECT_EQ(HostForAuthority("::1"), "[::1]");
  EXPECT_EQ(HostForAuthority("example.org"), "example.org");
  EXPECT_EQ(HostForAuthority("10.0.0.1"), "10.0.0.1");
}

TEST(URITest, ComposingWithoutProtocolOrHostFails) {
  const auto messageOf = [](const TIdURI& uri) {
    try {
      (void)uri.URI();
    } catch (const EIdURIException& e) {
      return e.Message();
    }
    return std::string("no exception");
  };
  EXPECT_EQ(messageOf(TIdURI("/relative/path")), "Protocol field is empty");
  EXPECT_EQ(messageOf(TIdURI("http:///path")), "Host field is empty");
  TIdURI noHost;
  noHost.SetProtocol("http");
  EXPECT_EQ(messageOf(noHost), "Host field is empty");
}

TEST(URITest, NormalizesBackslashes) {
  std::string text = "a\\b\\\\c/d";
  TIdURI::NormalizeSlashes(text);
  EXPECT_EQ(text, "a/b//c/d");
}

// Generated absolute URLs of the shape the parser reads unambiguously compose back to the
// same text, except for a default port, which is dropped.
TEST(URITest, ComposingAParsedAbsoluteURLGivesBackItsText) {
  std::mt19937 random(7);
  const auto pick = [&](std::initializer_list<const char*> options) {
    const auto index = std::uniform_int_distribution<std::size_t>(0, options.size() - 1)(random);
    return std::string(*(options.begin() + index));
  };
  const auto word = [&] {
    std::string text;
    const int length = std::uniform_int_distribution<int>(1, 8)(random);
    for (int i = 0; i < length; ++i) {
      text += "abcxyz019-._~%"[std::uniform_int_distribution<int>(0, 13)(random)];
    }
    return text;
  };
  for (int round = 0; round < 2000; ++round) {
    const std::string protocol = pick({"http", "https", "HTTP", "ftp", "ws"});
    const std::string user = pick({"", "", "bob", "a.b"});
    const std::string password = user.empty() ? "" : pick({"", "pw", "p%40ss"});
    const std::string host = pick({"h", "example.org", "10.1.2.3", "::1", "2001:db8::7"});
    const std::string port = pick({"", "80", "443", "21", "8080"});
    std::string path = "/";
    const int segments = std::uniform_int_distribution<int>(0, 4)(random);
    for (int i = 0; i < segments; ++i) path += word() + (i + 1 < segments ? "/" : pick({"", "/"}));
    const std::string query = pick({"", "", "a=1", "a=1&b=2", "x"});
    const std::string fragment = pick({"", "", "top", "s-2"});

    std::string text = protocol + "://";
    if (!user.empty()) text += user + (password.empty() ? "" : ":" + password) + "@";
    text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::string expected = text;
    if (!port.empty()) {
      text += ":" + port;
      const bool isDefault = (port == "80" && (protocol == "http" || protocol == "HTTP")) ||
                             (port == "443" && protocol == "https") ||
                             (port == "21" && protocol == "ftp");
      if (!isDefault) expected += ":" + port;
    }
    // The fragment ends the text wherever it stands; either way it composes back.
    const std::string tail =
        path + (query.empty() ? "" : "?" + query) + (fragment.empty() ? "" : "#" + fragment);
    text += tail;
    expected += tail;

    const TIdURI uri(text);
    ASSERT_EQ(uri.ComposeURI(ofAuthInfo | ofBookmark), expected) << text;
    ASSERT_EQ(uri.Host(), host) << text;
  }
}

}  // namespace
}  // namespace brixa
