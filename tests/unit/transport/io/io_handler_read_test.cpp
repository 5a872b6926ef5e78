// Reading through TIdIOHandlerStack from a scripted loopback peer: lines, counts, streams.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/core/stream.h"
#include "transport/io/io_handler.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

using test::Close;
using test::ConnectionEventLog;
using test::Expect;
using test::Pause;
using test::Reset;
using test::ScriptedServer;
using test::Send;

// Bytes that show where each one came from: position modulo a prime.
std::string Pattern(std::size_t size, std::size_t from = 0) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((from + i) % 251);
  return bytes;
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TEST(IOHandlerReadLineTest, StripsTheTerminatorAndOneCarriageReturn) {
  ScriptedServer server({Send("HTTP/1.1 200 OK\r\nplain\nkept\r\r\n\nend"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(io.ReadLine(), "plain");
  EXPECT_EQ(io.ReadLine(), "kept\r");
  EXPECT_EQ(io.ReadLine(), "");
  EXPECT_FALSE(io.LineWasSplit());
  EXPECT_FALSE(io.LineTimedOut());
}

TEST(IOHandlerReadLineTest, FindsTerminatorsSplitAcrossSocketReads) {
  ScriptedServer server({Send("abc\r"), Pause(150), Send("\ndef|"), Pause(150), Send("|ghi\r"),
                         Pause(150), Send("\n"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLine(), "abc");      // the CR came in a read of its own
  EXPECT_EQ(io.ReadLine("||"), "def");  // a two-byte terminator split in the middle
  EXPECT_EQ(io.ReadLine("\r\n"), "ghi");
}

TEST(IOHandlerReadLineTest, OverlongLinesRaiseOrSplitAtTheMaximum) {
  const std::string longest(IdMaxLineLengthDefault, 'y');
  const std::string tooLong(IdMaxLineLengthDefault + 1, 'x');
  ScriptedServer server({Send(longest + "\n" + tooLong + "\r\nnext\r\n"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLine(), longest);
  try {
    (void)io.ReadLine();
    FAIL() << "no exception";
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_EQ(e.Message(), "Max line length exceeded.");
  }
  // The refused line is still there; split, it comes in two parts.
  io.SetMaxLineAction(maSplit);
  EXPECT_EQ(io.ReadLine(), tooLong.substr(0, IdMaxLineLengthDefault));
  EXPECT_TRUE(io.LineWasSplit());
  EXPECT_EQ(io.ReadLine(), "x");
  EXPECT_FALSE(io.LineWasSplit());
  EXPECT_EQ(io.ReadLine("\n", TimeoutUseDefault, ceNone, 3), "nex");  // an explicit maximum
  EXPECT_TRUE(io.LineWasSplit());
}

TEST(IOHandlerReadLineTest, PeerClosingMidLineRaisesAndKeepsThePartialLine) {
  ScriptedServer server({Send("line\r\npartial"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLine(), "line");
  EXPECT_THROW((void)io.ReadLine(), EIdConnClosedGracefully);
  EXPECT_EQ(io.InBuffer().PeekText(-1, 0), "partial");
  EXPECT_TRUE(client->IsConnected());  // unread bytes remain
  TIdByteArray rest;
  io.ReadByteCount(rest, 7);
  EXPECT_EQ(std::string(rest.begin(), rest.end()), "partial");
  EXPECT_FALSE(client->IsConnected());
  EXPECT_THROW(io.ReadByteCount(rest, 1), EIdConnClosedGracefully);
}

TEST(IOHandlerReadLineTest, TimeoutGivesEmptyTextAndLeavesTheConnectionUsable) {
  ScriptedServer server({Pause(1000), Send("late\n"), Pause(300), Send("later\n"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(io.ReadLine("\n", 500), "");
  EXPECT_TRUE(io.LineTimedOut());
  EXPECT_GE(MillisecondsSince(start), 450);
  EXPECT_EQ(io.ReadLine(), "late");
  EXPECT_FALSE(io.LineTimedOut());
  // A ReadTimeout of 0 waits without limit, like -1.
  io.SetReadTimeout(0);
  EXPECT_EQ(io.ReadLine(), "later");
  EXPECT_FALSE(io.LineTimedOut());
}

TEST(IOHandlerReadLineTest, SkipEmptyReturnsTheFirstTrimmedLineOrGivesUp) {
  ScriptedServer server({Send("\r\n  \r\n\t\r\n  value \r\n\r\n\r\n\r\nlast\r\n"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLineSkipEmpty(), "value");
  try {
    (void)io.ReadLineSkipEmpty(3);
    FAIL() << "no exception";
  } catch (const EIdReadLnWaitMaxAttemptsExceeded& e) {
    EXPECT_EQ(e.Message(), "Max line read attempts exceeded.");
  }
  EXPECT_EQ(io.ReadLineSkipEmpty(1), "last");
}

TEST(IOHandlerReadTest, ByteCountsAppendOrOverwriteAndNegativeTakesWhatIsBuffered) {
  ScriptedServer server({Send("abcdef"), Pause(200), Send("ghij"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  TIdByteArray bytes{'1', '2', '3', '4'};
  io.ReadByteCount(bytes, 2, false);  // written over the start; the tail stays
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ab34");
  io.ReadByteCount(bytes, 2, true);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ab34cd");
  io.ReadByteCount(bytes, 0, true);
  EXPECT_EQ(bytes.size(), 6u);
  TIdByteArray rest;
  io.ReadByteCount(rest, 6);  // needs the second send
  EXPECT_EQ(std::string(rest.begin(), rest.end()), "efghij");
}

TEST(IOHandlerReadTest, NumbersAndCharactersTakeTheirWidth) {
  ScriptedServer server({Send(std::string("\x00\x00\x01\x02\x01\x00\x00\x00", 8) +
                              std::string("\x00\x00\x00\x01\x00\x00\x00\x02", 8) +
                              "\xC3\xA9\xE2\x82\xAC\xE9\x41\xFF"),
                         Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadInt32(), 258);
  EXPECT_EQ(io.ReadInt32(false), 1);
  EXPECT_EQ(io.ReadInt64(), 0x0000000100000002LL);
  EXPECT_EQ(io.ReadChar(ceUTF8), "\xC3\xA9");
  EXPECT_EQ(io.ReadChar(ceUTF8), "\xE2\x82\xAC");
  EXPECT_EQ(io.ReadChar(ce8Bit), "\xC3\xA9");
  EXPECT_EQ(io.ReadChar(), "A");
  EXPECT_EQ(io.ReadUInt8(), 0xFF);
}

TEST(IOHandlerReadStreamTest, MovesBufferedBytesFirstThenWholeChunks) {
  const std::string body = Pattern(100000);
  ScriptedServer server(
      {Send("HEAD\n" + body.substr(0, 1000)), Pause(200), Send(body.substr(1000)), Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TIdIOHandler& io = *client->IOHandler();
  ASSERT_EQ(io.ReadLine(), "HEAD");
  ASSERT_EQ(io.InBuffer().Size(), 1000);
  TMemoryStream stream;
  stream.Write("pre", 3);
  log.work.clear();
  io.ReadIntoStream(stream, 100000);
  EXPECT_EQ(log.work,
            (std::vector<std::string>{"begin r 100000", "work r 1000", "work r 33768",
                                      "work r 66536", "work r 99304", "work r 100000", "end r"}));
  EXPECT_EQ(stream.Size(), 100003);
  EXPECT_EQ(stream.Position(), 100003);
  EXPECT_TRUE(stream.DataString() == "pre" + body);
}

TEST(IOHandlerReadStreamTest, PeerClosingEarlyCutsTheStreamBackAndRaises) {
  const std::string body = Pattern(60000);
  ScriptedServer server({Send(body), Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TMemoryStream stream;
  EXPECT_THROW(client->IOHandler()->ReadIntoStream(stream, 100000), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 60000);  // the pre-size to 100000 was undone
  EXPECT_TRUE(stream.DataString() == body);
  ASSERT_GE(log.work.size(), 3u);
  EXPECT_EQ(log.work.front(), "begin r 100000");
  EXPECT_EQ(log.work[log.work.size() - 2], "work r 60000");
  EXPECT_EQ(log.work.back(), "end r");
}

TEST(IOHandlerReadStreamTest, UntilCloseEndsNormallyWithEveryByte) {
  const std::string body = Pattern(70001);
  ScriptedServer server({Send(body.substr(0, 5)), Pause(100), Send(body.substr(5)), Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TMemoryStream stream;
  client->IOHandler()->ReadIntoStream(stream, -1, true);
  EXPECT_TRUE(stream.DataString() == body);
  EXPECT_EQ(log.work.front(), "begin r 0");
  EXPECT_EQ(log.work[log.work.size() - 2], "work r 70001");
  EXPECT_EQ(log.work.back(), "end r");
}

TEST(IOHandlerReadStreamTest, LengthPrefixedStreamsReadTheirSizeFirst) {
  ScriptedServer server(
      {Send(std::string("\x00\x00\x00\x03", 4) + "abc" + std::string("\0\0\0\0\0\0\0\2", 8) + "de"),
       Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  TMemoryStream stream;
  io.ReadIntoStream(stream);
  io.SetLargeStream(true);
  io.ReadIntoStream(stream);
  EXPECT_EQ(stream.DataString(), "abcde");
}

TEST(IOHandlerReadStreamTest, ReadAheadKeepsWhatFollowsTheCountInTheBuffer) {
  ScriptedServer server({Send("abcdefgh"), Pause(300), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  io.SetReadAhead(true);
  TMemoryStream stream;
  io.ReadIntoStream(stream, 3);
  EXPECT_EQ(stream.DataString(), "abc");
  EXPECT_EQ(io.InBuffer().Size(), 5);  // one send of eight bytes arrives whole on loopback
  // Whatever came with the read stays for the next one, in order.
  io.SetReadAhead(false);
  io.ReadIntoStream(stream, 5);
  EXPECT_EQ(stream.DataString(), "abcdefgh");
  EXPECT_EQ(io.InBuffer().Size(), 0);
}

TEST(IOHandlerReadStreamTest, AReadThatFilledItsRoomStillHonoursTheReadTimeout) {
  ScriptedServer server({Send("abcd"), Pause(1000), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  io.SetRecvBufferSize(4);
  io.SetReadTimeout(200);
  TIdByteArray bytes;
  io.ReadByteCount(bytes, 4);  // one read that gets all it asks for
  EXPECT_THROW(io.ReadByteCount(bytes, 1), EIdReadTimeout);
}

TEST(IOHandlerReadStreamTest, ResetMidBodyEndsTheReadAndClosesTheSpan) {
  ScriptedServer server({Send(Pattern(5000)), Pause(100), Reset()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TMemoryStream stream;
  // The read must end with an exception, never hang. A socket layer that reports the reset
  // gives the socket error; Wine's reports a reset that follows data as an orderly end.
  try {
    client->IOHandler()->ReadIntoStream(stream, 100000);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  } catch (const EIdConnClosedGracefully&) {
    EXPECT_EQ(stream.Size(), 5000);
  }
  EXPECT_LE(stream.Size(), 5000);
  EXPECT_TRUE(stream.DataString() == Pattern(5000).substr(0, stream.Size()));
  EXPECT_EQ(log.work.back(), "end r");
  EXPECT_FALSE(client->IsConnected());
}

TEST(IOHandlerReadTest, ReadUntilCloseCollectsEverythingAsText) {
  ScriptedServer server({Send("abc"), Pause(300), Send("def"), Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  EXPECT_EQ(client->IOHandler()->ReadUntilClose(), "abcdef");
  EXPECT_EQ(log.work, (std::vector<std::string>{"begin r 0", "work r 6", "end r"}));
}

TEST(IOHandlerReadTest, ConnectedWhileUnreadBytesRemainAfterThePeerClosed) {
  ScriptedServer server({Send("0123456789"), Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TIdIOHandler& io = *client->IOHandler();
  TIdByteArray bytes;
  io.ReadByteCount(bytes, 2);
  ASSERT_TRUE(server.WaitDone());
  // Waits (bounded) until the end of the stream has been seen.
  for (int i = 0; i < 20 && !io.PeerClosed(); ++i) (void)io.FillInputBuffer(false, 250, false);
  EXPECT_TRUE(io.PeerClosed());
  EXPECT_FALSE(io.IsOpen());
  EXPECT_TRUE(client->IsConnected());
  io.ReadByteCount(bytes, 8);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
  EXPECT_FALSE(client->IsConnected());
  EXPECT_EQ(log.status.back(), "Disconnected.");
}

TEST(IOHandlerReadTest, CaptureUndoesDotStuffingAndHonoursTheLineLimit) {
  ScriptedServer server({Send("one\r\n..two\r\n.\r\na\r\nb\r\nc\r\n.\r\n"), Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  std::vector<std::string> lines;
  io.Capture(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", ".two"}));
  io.SetMaxCapturedLines(2);
  lines.clear();
  try {
    io.Capture(lines);
    FAIL() << "no exception";
  } catch (const EIdMaxCaptureLineExceeded& e) {
    EXPECT_EQ(e.Message(), "Maximum number of line allowed exceeded");
  }
  EXPECT_EQ(lines.size(), 2u);
}

// Counts how often blocking reads let it run.
class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  int runs = 0;
  void Process() override { ++runs; }
};

TEST(IOHandlerReadStreamTest, AntiFreezeRunsAfterEveryChunk) {
  ScriptedServer server({Send(Pattern(100000)), Close()});
  auto client = test::ConnectedClient(server);
  CountingAntiFreeze antiFreeze;
  TMemoryStream stream;
  client->IOHandler()->ReadIntoStream(stream, 100000);
  EXPECT_GE(antiFreeze.runs, 4);  // one per chunk of at most 32768 bytes, at least
}

// Connected() takes in what the socket holds; the answer must count those bytes instead of
// waiting for more that never come.
TEST(IOHandlerReadTest, HasDataOnSourceCountsBufferedBytesBeforeWaiting) {
  ScriptedServer server({Send("x"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  for (int i = 0; i < 100 && io.InBuffer().Size() == 0; ++i) {
    ASSERT_TRUE(client->IsConnected());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(io.InBuffer().Size(), 1);
  EXPECT_TRUE(io.HasDataOnSource(1000));
  EXPECT_TRUE(io.HasDataOnSource(0));
  EXPECT_EQ(io.InBuffer().Size(), 1);  // nothing consumed
}

TEST(IOHandlerReadTest, HasDataOnSourceWaitsForBytes) {
  ScriptedServer server({Pause(200), Send("x"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_FALSE(io.HasDataOnSource(0));
  EXPECT_TRUE(io.HasDataOnSource(3000));
  EXPECT_EQ(io.InBuffer().Size(), 1);
  client->CloseConnection();
  EXPECT_FALSE(io.HasDataOnSource(0));
}

}  // namespace
}  // namespace brixa
