// Writing through TIdIOHandlerStack to a scripted loopback peer that records the bytes.

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "platform/core/stream.h"
#include "transport/io/io_handler_stack.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

using test::ConnectionEventLog;
using test::Expect;
using test::ScriptedServer;
using test::Send;

// Counts the writes that reach the socket.
class CountingHandler : public TIdIOHandlerStack {
 public:
  int writes = 0;

 protected:
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> buffer) override {
    ++writes;
    return TIdIOHandlerStack::WriteDataToTarget(buffer);
  }
};

// A stream that claims to be larger than 32-bit sizes allow and has no bytes at all.
class HugeEmptyStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return std::int64_t{3} << 30; }
};

TEST(IOHandlerWriteTest, TextNumbersAndListsGoOutByteExact) {
  const std::string expected = std::string("GET / HTTP/1.1\r\n") + "..dot\r\nplain\r\n" +
                               "caf\xE9" + "\xC3\xA9" + std::string("\x00\x00\x01\x02", 4) +
                               std::string("\x02\x00\x00\x00", 4) +
                               std::string("\x00\x00\x00\x00\x00\x00\x00\x07", 8) +
                               std::string("\x00\x00\x00\x02", 4) + "a\r\nb\r\n";
  ScriptedServer server({Expect::Bytes(expected.size()), Send("ok\n")});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  io.WriteLine("GET / HTTP/1.1");
  io.WriteLineDotStuffed(".dot");
  io.WriteLineDotStuffed("plain");
  io.WriteText("caf\xC3\xA9", ce8Bit);
  io.WriteText("");  // nothing at all
  io.WriteChar(U'\u00E9', ceUTF8);
  io.WriteInt32(258);
  io.WriteInt32(2, false);
  io.WriteInt64(7);
  io.WriteStrings({"a", "b"}, true);
  EXPECT_EQ(io.ReadLine(), "ok");
  EXPECT_EQ(server.Received(), expected);
  EXPECT_THROW(io.SetDefaultTextEncoding(ceNone), EIdNoEncodingSpecified);
  EXPECT_EQ(io.DefaultTextEncoding(), ceASCII);
}

TEST(IOHandlerWriteTest, WriteBufferSendsOnCloseOrAtTheThreshold) {
  ScriptedServer server({Expect::Bytes(9 + 10 + 2), Send("ok\n")});
  CountingHandler handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost(server.Host());
  client.SetPort(server.Port());
  client.ConnectToHost();

  handler.OpenWriteBuffer();  // threshold -1: only on close
  handler.WriteText("abc");
  handler.WriteText("def");
  handler.WriteText("ghi");
  EXPECT_EQ(handler.writes, 0);
  EXPECT_EQ(handler.WriteBufferSize(), 9);
  handler.CloseWriteBuffer();
  EXPECT_EQ(handler.writes, 1);  // everything in one send
  EXPECT_FALSE(handler.WriteBufferingActive());

  handler.OpenWriteBuffer(10);
  for (const char* part : {"1234", "5678", "90AB"}) handler.WriteText(part);
  EXPECT_EQ(handler.writes, 2);  // ten bytes left when the threshold was reached
  EXPECT_EQ(handler.WriteBufferSize(), 2);
  handler.WriteText("dropped");
  handler.ClearWriteBuffer();
  handler.WriteText("CD");
  handler.CloseWriteBuffer();
  handler.OpenWriteBuffer();
  handler.WriteText("cancelled");
  handler.CancelWriteBuffer();
  EXPECT_EQ(handler.writes, 3);
  EXPECT_EQ(handler.ReadLine(), "ok");
  EXPECT_EQ(server.Received(), "abcdefghi1234567890CD");
}

TEST(IOHandlerWriteTest, StreamsAreSentInChunksInsideOneWriteSpan) {
  ScriptedServer server({Expect::Bytes(10 + 4 + 3 + 4 + 2), Send("ok\n")});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TIdIOHandler& io = *client->IOHandler();
  io.SetSendBufferSize(4);
  TMemoryStream stream;
  stream.Write("0123456789", 10);
  log.work.clear();
  io.WriteFromStream(stream);  // size 0: the whole stream from its start
  EXPECT_EQ(log.work,
            (std::vector<std::string>{"begin w 10", "work w 4", "work w 8", "work w 10", "end w"}));
  stream.SetPosition(7);
  io.WriteFromStream(stream, -1, true);  // the rest, after its 32-bit size
  stream.SetPosition(1);
  io.WriteFromStream(stream, 2, true);
  EXPECT_EQ(io.ReadLine(), "ok");
  EXPECT_EQ(server.Received(), "0123456789" + std::string("\x00\x00\x00\x03", 4) + "789" +
                                   std::string("\x00\x00\x00\x02", 4) + "12");
}

TEST(IOHandlerWriteTest, StreamFailuresRaiseAndCloseTheSpan) {
  ScriptedServer server({Expect::Bytes(3), Expect::Close()});
  ConnectionEventLog log;
  auto client = test::ConnectedClient(server, &log);
  TIdIOHandler& io = *client->IOHandler();
  HugeEmptyStream huge;
  try {
    io.WriteFromStream(huge);
    FAIL() << "no exception";
  } catch (const EIdIOHandlerRequiresLargeStream& e) {
    EXPECT_EQ(e.Message(), "");
  }
  EXPECT_TRUE(log.work.empty());  // refused before anything was sent
  io.SetLargeStream(true);
  try {
    io.WriteFromStream(huge);
    FAIL() << "no exception";
  } catch (const EIdNoDataToRead& e) {
    EXPECT_EQ(e.Message(), "No data to read.");
  }
  EXPECT_EQ(log.work.back(), "end w");
  TMemoryStream shortStream;
  shortStream.Write("abc", 3);
  shortStream.SetPosition(0);
  EXPECT_THROW(io.WriteFromStream(shortStream, 5), EIdNoDataToRead);  // "abc" went out first
  client->CloseConnection();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(), "abc");
}

TEST(IOHandlerWriteTest, WritingAfterThePeerClosedRaises) {
  ScriptedServer server({Send("bye\n"), test::Close()});
  auto client = test::ConnectedClient(server);
  TIdIOHandler& io = *client->IOHandler();
  EXPECT_EQ(io.ReadLine(), "bye");
  EXPECT_THROW((void)io.ReadLine(), EIdConnClosedGracefully);
  EXPECT_THROW(io.WriteLine("anyone?"), EIdConnClosedGracefully);
}

TEST(IOHandlerWriteTest, MissingFileRaisesFileNotFound) {
  ScriptedServer server({Expect::Close()});
  auto client = test::ConnectedClient(server);
  try {
    client->IOHandler()->WriteFile("no-such-file.bin");
    FAIL() << "no exception";
  } catch (const EIdFileNotFound& e) {
    EXPECT_EQ(e.Message(), "File \"no-such-file.bin\" not found");
  }
}

}  // namespace
}  // namespace brixa
