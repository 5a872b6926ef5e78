// Every response read at every read size gives the same result: the client must not depend on
// where the transport happens to cut the bytes (a line or a chunk-size line split across two
// reads, a body that starts inside the header read).
#include <gtest/gtest.h>

#include "http/client/http.h"
#include "support/memory_io_handler.h"

namespace brixa {
namespace {

struct Outcome {
  std::string body;
  std::string status;
  std::string headers;
  std::string error;
  bool operator==(const Outcome&) const = default;
};

Outcome Fetch(const std::string& responses, std::size_t readSize, bool follow) {
  test::MemoryIOHandler io(responses, readSize);
  TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetHandleRedirects(follow);
  Outcome outcome;
  TMemoryStream body;
  try {
    http.Get("http://peer.invalid/start", &body);
  } catch (const EIdException& e) {
    outcome.error = std::string(e.ClassName()) + ": " + e.Message();
  }
  outcome.body = body.DataString();
  outcome.status = http.StatusLine();
  outcome.headers = http.LastResponse().HeaderLines().Text();
  http.SetIOHandler(nullptr);
  return outcome;
}

TEST(ResponseGrind, EveryReadSizeGivesTheSameResult) {
  const std::string big(70000, 'b');
  const struct {
    const char* name;
    std::string responses;
    bool follow;
    std::string body;
  } cases[] = {
      {"counted", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world", false, "hello world"},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n10\r\n0123456789abcdef\r\n"
       "0\r\nX-Trailer: t\r\n\r\n",
       false, "abc0123456789abcdef"},
      {"until close", "HTTP/1.0 200 OK\r\nServer: old\r\n\r\n" + big, false, big},
      {"interim then final",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, "ok"},
      {"redirect then body on one connection",
       "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n\r\nmovedHTTP/1.1 200 OK\r\n"
       "Content-Length: 4\r\n\r\nnext",
       true, "next"},
      {"folded header", "HTTP/1.1 200 OK\r\nX-Long: one\r\n two\r\nContent-Length: 1\r\n\r\n!",
       false, "!"},
  };
  for (const auto& c : cases) {
    const Outcome reference = Fetch(c.responses, 1 << 20, c.follow);
    EXPECT_EQ(reference.body, c.body) << c.name;
    EXPECT_EQ(reference.error, "") << c.name;
    for (const std::size_t size : {1, 2, 3, 5, 7, 16, 61, 1024}) {
      EXPECT_TRUE(Fetch(c.responses, size, c.follow) == reference)
          << c.name << " read size " << size;
    }
  }
}

}  // namespace
}  // namespace brixa
