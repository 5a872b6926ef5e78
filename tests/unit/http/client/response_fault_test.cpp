// Fault injection over whole exchanges: the peer closes or resets after every byte offset, or
// the caller's stream fails on its Nth write. Every run must end in the right body or a clear
// exception; after an exception the connection is closed, and the next request gets its own
// answer on a new connection.
#include <gtest/gtest.h>

#include <set>

#include "http/client/http.h"
#include "support/fault_io_handler.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::FaultIOHandler;

const std::string kBody = "0123456789";
const std::string kFresh = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh";

struct Exchange {
  const char* name;
  std::string bytes;  // what the server sends on the first connection
  // A cut response may end with these bodies: kBody, or the answer of a later connection when
  // the client had to open one to follow a redirect or answer a challenge.
  std::set<std::string> cutBodies;
  bool untilClose = false;  // every prefix of the body is the body
};

std::vector<Exchange> Exchanges() {
  const std::string final200 = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + kBody;
  return {
      {"counted", final200, {kBody}},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n0123\r\n6;x=y\r\n456789\r\n"
       "0\r\nX-Trailer: t\r\n\r\n",
       {kBody}},
      {"until close", "HTTP/1.0 200 OK\r\nServer: old\r\n\r\n" + kBody, {}, true},
      {"redirect",
       "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n\r\nmoved" + final200,
       {kBody, "fresh"}},
      {"401 challenge",
       "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
       "Content-Length: 4\r\n\r\nwho?" +
           final200,
       {kBody, "fresh"}},
      {"100-continue", "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n" + final200, {kBody}},
  };
}

// A client as a user sets one up for the exchanges above.
struct Client {
  explicit Client(std::vector<FaultIOHandler::Peer> peers, std::size_t readSize = 7)
      : io(std::move(peers), readSize) {
    http.SetIOHandler(&io);
    http.SetHandleRedirects(true);
    test::AnswerChallengesAs(http, "user", "secret");
  }
  ~Client() { http.SetIOHandler(nullptr); }
  FaultIOHandler io;
  TIdHTTP http;
};

// Fails its Nth write (1-based) as a full disk would.
class FailingStream : public TMemoryStream {
 public:
  explicit FailingStream(int failAt) : failAt_(failAt) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (++writes_ == failAt_) throw EWriteError("disk full");
    return TMemoryStream::Write(buffer, count);
  }
  [[nodiscard]] int Writes() const noexcept { return writes_; }

 private:
  int failAt_;
  int writes_ = 0;
};

// The next request on the same client, after whatever happened: its own answer, from a
// connection the client opened for it.
void ExpectFreshAnswer(Client& client, const std::string& what) {
  const std::size_t opensBefore = client.io.Opens();
  TMemoryStream next;
  try {
    client.http.Get("http://peer.invalid/again", &next);
  } catch (const Exception& e) {
    ADD_FAILURE() << what << ": next request raised " << e.ClassName() << " " << e.Message();
    return;
  }
  EXPECT_EQ(next.DataString(), "fresh") << what;
  EXPECT_EQ(client.io.Opens(), opensBefore + 1) << what;
}

TEST(ResponseFaults, CloseOrResetAfterEveryByteEndsInTheBodyOrAClearError) {
  for (const Exchange& exchange : Exchanges()) {
    for (const auto end : {FaultIOHandler::End::kClose, FaultIOHandler::End::kReset}) {
      const char* endName = end == FaultIOHandler::End::kClose ? "close" : "reset";
      for (std::size_t cut = 0; cut <= exchange.bytes.size(); ++cut) {
        const std::string what =
            std::string(exchange.name) + ", " + endName + " after " + std::to_string(cut);
        Client client({{exchange.bytes.substr(0, cut), end}, {kFresh}, {kFresh}, {kFresh}});
        TMemoryStream body;
        bool raised = true;
        try {
          client.http.Get("http://peer.invalid/start", &body);
          raised = false;
          const std::string got = body.DataString();
          if (exchange.untilClose) {
            EXPECT_EQ(got, kBody.substr(0, got.size())) << what;
          } else if (cut == exchange.bytes.size()) {
            EXPECT_EQ(got, kBody) << what;
          } else {
            EXPECT_TRUE(exchange.cutBodies.contains(got)) << what << ": " << got;
          }
        } catch (const EIdHTTPResponseError&) {
        } catch (const EIdConnClosedGracefully&) {
          // The peer closed before the first byte of an answer.
        } catch (const EIdSocketError& e) {
          EXPECT_EQ(end, FaultIOHandler::End::kReset) << what;
          EXPECT_EQ(e.LastError(), Id_WSAECONNRESET) << what;
        } catch (const Exception& e) {
          ADD_FAILURE() << what << ": " << e.ClassName() << " " << e.Message();
        }
        if (raised) {
          EXPECT_FALSE(client.http.IsConnected()) << what;
        }
        ExpectFreshAnswer(client, what);
      }
    }
  }
}

TEST(ResponseFaults, FailingTheCallersStreamOnEveryWriteClosesTheConnection) {
  for (const Exchange& exchange : Exchanges()) {
    // A body long enough for several writes whatever the framing.
    for (int failAt = 1;; ++failAt) {
      const std::string what = std::string(exchange.name) + ", write " + std::to_string(failAt);
      Client client({{exchange.bytes}, {kFresh}, {kFresh}}, 3);
      client.io.SetRecvBufferSize(4);  // one write per few bytes
      FailingStream body(failAt);
      bool failed = false;
      try {
        client.http.Get("http://peer.invalid/start", &body);
        EXPECT_EQ(body.DataString(), kBody) << what;
      } catch (const EWriteError&) {
        failed = true;
        EXPECT_FALSE(client.http.IsConnected()) << what;
      } catch (const Exception& e) {
        ADD_FAILURE() << what << ": " << e.ClassName() << " " << e.Message();
      }
      ExpectFreshAnswer(client, what);
      if (!failed) {
        EXPECT_GE(failAt, 3) << exchange.name << ": fewer writes than expected";
        break;
      }
    }
  }
}

}  // namespace
}  // namespace brixa
