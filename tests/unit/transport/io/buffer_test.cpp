// The input buffer's extraction, searches and exact errors, and its bounded copying and
// compaction.

#include "transport/io/buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/stream.h"
#include "runtime/stack_usage.h"

namespace brixa {
namespace {

TIdByteArray Bytes(const std::string& text) {
  return TIdByteArray(text.begin(), text.end());
}

std::string Live(const TIdBuffer& buffer) {
  const auto bytes = buffer.Bytes();
  return std::string(bytes.begin(), bytes.end());
}

TEST(BufferTest, ExtractionFormsTakeFromTheFrontAndReportTheRemovedCount) {
  std::vector<std::int32_t> removed;
  TIdBuffer buffer([&](TIdBuffer*, std::int32_t n) { removed.push_back(n); });
  buffer.AppendBytes(Bytes("xxHello, world"), -1, 2);  // offset skips "xx"
  buffer.AppendBytes(Bytes("!?"), 1);                  // length keeps only "!"
  buffer.AppendBytes(Bytes("abc"), -1, 3);             // nothing available there
  ASSERT_EQ(Live(buffer), "Hello, world!");

  TIdByteArray out = Bytes("..........");
  buffer.ExtractBytes(out, 5, false);  // written over the start, the tail is kept
  EXPECT_EQ(out, Bytes("Hello....."));
  buffer.ExtractBytes(out, 2, true);
  EXPECT_EQ(out, Bytes("Hello....., "));
  EXPECT_EQ(buffer.PeekText(3, 2, ceASCII), "rld");  // peeking removes nothing
  EXPECT_EQ(buffer.ExtractText(5), "world");
  TMemoryStream stream;
  buffer.MoveToStream(stream);
  EXPECT_EQ(stream.DataString(), "!");
  EXPECT_EQ(buffer.Size(), 0);
  buffer.ExtractBytes(out, 0);  // nothing to do, nothing reported
  EXPECT_EQ(buffer.ExtractText(-1), "");
  EXPECT_EQ(removed, (std::vector<std::int32_t>{5, 2, 5, 1}));
}

TEST(BufferTest, DecodesTextWithTheGivenOrDefaultEncoding) {
  TIdBuffer buffer;
  buffer.AppendBytes(TIdByteArray{'c', 'a', 'f', 0xC3, 0xA9, 0xE9});
  EXPECT_EQ(buffer.PeekText(5, 0, ceUTF8), "caf\xC3\xA9");
  EXPECT_EQ(buffer.PeekText(1, 5, ce8Bit), "\xC3\xA9");  // byte E9 is U+00E9
  EXPECT_EQ(buffer.PeekText(-1, 3), "???");              // the default is 7-bit ASCII
  EXPECT_THROW(buffer.SetDefaultTextEncoding(ceNone), EIdNoEncodingSpecified);
  buffer.SetDefaultTextEncoding(ce8Bit);
  EXPECT_EQ(buffer.FindText("\xC3\xA9"), 5);  // the pattern is encoded the same way
  EXPECT_EQ(buffer.ExtractText(), "caf\xC3\x83\xC2\xA9\xC3\xA9");
}

TEST(BufferTest, UnderflowAndBadSearchesRaiseWithExactMessages) {
  TIdBuffer buffer;
  EXPECT_EQ(buffer.FindBytes(Bytes("x"), 99), -1);  // an empty buffer answers before checking
  buffer.AppendBytes(Bytes("abcd"));
  TIdByteArray out;
  try {
    buffer.ExtractBytes(out, 10);
    FAIL() << "no exception";
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_EQ(e.Message(), "Not enough data in buffer. (10/4)");
  }
  EXPECT_EQ(buffer.Size(), 4);  // nothing was taken
  TMemoryStream stream;
  EXPECT_THROW(buffer.MoveToStream(stream, 5), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(stream.Size(), 0);
  for (const std::int32_t start : {-1, 4}) {
    try {
      (void)buffer.FindBytes(Bytes("a"), start);
      FAIL() << "no exception for start " << start;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Buffer start position is invalid.");
    }
  }
  try {
    (void)buffer.FindBytes(TIdByteArray{}, 0);
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Buffer terminator must be specified.");
  }
}

TEST(BufferTest, FindsTheFirstWholeMatchAtOrAfterTheStart) {
  TIdBuffer buffer;
  buffer.AppendBytes(Bytes("xx\r\r\nab\r\nzz\r"));
  const TIdByteArray crlf = Bytes("\r\n");
  const struct {
    std::int32_t start;
    std::int32_t expected;
  } cases[] = {{0, 3}, {3, 3}, {4, 7}, {8, -1}, {11, -1}};
  for (const auto& c : cases) EXPECT_EQ(buffer.FindBytes(crlf, c.start), c.expected) << c.start;
  // Positions count from the first live byte, also after the front was consumed.
  buffer.DropFront(5);
  EXPECT_EQ(buffer.FindBytes(crlf), 2);
  EXPECT_EQ(buffer.FindBytes(Bytes("zz\r\n")), -1);  // a match must lie wholly in the buffer
}

TEST(BufferTest, ConsumingAdvancesTheHeadAndCompactsOnlyPastTheReserve) {
  TIdBuffer buffer;
  const std::string block(3000, 'a');
  buffer.AppendBytes(Bytes(block + "tail"));
  const std::uint64_t copiedAfterAppend = buffer.CopiedBytes();
  buffer.DropFront(TIdBuffer::GrowthReserve);  // head exactly at the reserve: no move
  EXPECT_EQ(buffer.CopiedBytes(), copiedAfterAppend);
  buffer.DropFront(1);  // now past it: the live bytes move to the start
  EXPECT_EQ(buffer.CopiedBytes(), copiedAfterAppend + buffer.Size());
  EXPECT_EQ(Live(buffer), std::string(3000 - 2049, 'a') + "tail");

  // Growth leaves GrowthReserve spare bytes; dropping more than is live only reports the rest.
  std::int32_t reported = 0;
  buffer.OnBytesRemoved = [&](TIdBuffer*, std::int32_t n) { reported = n; };
  const std::int32_t size = buffer.Size();
  buffer.AppendBytes(TIdByteArray(10000, 'b'));
  EXPECT_EQ(buffer.Capacity(), size + 10000 + TIdBuffer::GrowthReserve);
  buffer.DropFront(1 << 20);
  EXPECT_EQ(reported, size + 10000);
  EXPECT_EQ(buffer.Size(), 0);
  buffer.DropFront(-5);  // nothing happens for counts below 1
  EXPECT_EQ(reported, size + 10000);
}

TEST(BufferTest, ShrinksLargeStorageBackToTheLiveBytesPlusTheReserve) {
  TIdBuffer buffer;
  buffer.AppendBytes(TIdByteArray(200000, 'x'));
  buffer.DropFront(199000);
  EXPECT_EQ(buffer.Size(), 1000);
  EXPECT_EQ(buffer.Capacity(), 1000 + TIdBuffer::GrowthReserve);
  // Small storage is kept for the next receive instead of being reallocated each time.
  buffer.AppendBytes(TIdByteArray(30000, 'y'));
  buffer.DropFront(30000);
  EXPECT_EQ(buffer.Capacity(), 1000 + 30000 + TIdBuffer::GrowthReserve);
}

TEST(BufferTest, BytesAccumulatedAndConsumedInSmallPiecesAreCopiedABoundedNumberOfTimes) {
  TIdBuffer buffer;
  const TIdByteArray piece(1460, 'p');
  constexpr int kPieces = 1000;
  const std::uint64_t total = piece.size() * kPieces;
  for (int i = 0; i < kPieces; ++i) buffer.AppendBytes(piece);
  // Once in, plus the moves growth makes: a constant per byte however large the buffer grows.
  EXPECT_LE(buffer.CopiedBytes(), 4 * total);
  // The storage stays within a factor of what is held.
  EXPECT_LE(static_cast<std::uint64_t>(buffer.Capacity()), 2 * total);

  // Taking it off the front in small pieces moves what remains only now and then.
  const std::uint64_t beforeConsuming = buffer.CopiedBytes();
  TIdByteArray out;
  while (buffer.Size() > 0) buffer.ExtractBytes(out, std::min(buffer.Size(), 100), false);
  EXPECT_LE(buffer.CopiedBytes() - beforeConsuming, 3 * total);
}

TEST(BufferTest, ReceivesInPlaceIntoPreparedRoom) {
  TIdBuffer buffer;
  buffer.AppendBytes(Bytes("head:"));
  const auto room = buffer.PrepareTail(8);
  ASSERT_GE(room.size(), 8u);
  const std::string arrived = "payload";
  std::copy(arrived.begin(), arrived.end(), room.begin());
  buffer.CommitTail(static_cast<std::int32_t>(arrived.size()));
  EXPECT_EQ(Live(buffer), "head:payload");
  EXPECT_THROW(buffer.CommitTail(buffer.Capacity()), EAssertionFailed);
}

TEST(BufferTest, HoldsOneUseOfTheSocketStackWhileItLives) {
  const int before = StackUsageCount();
  {
    TIdBuffer buffer;
    EXPECT_EQ(StackUsageCount(), before + 1);
  }
  EXPECT_EQ(StackUsageCount(), before);
}

}  // namespace
}  // namespace brixa
