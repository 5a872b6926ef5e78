// Bytes and text to and from streams, TIdBaseStream, and the exclusive read stream.

#include "runtime/text/stream_bytes.h"

#include <gtest/gtest.h>

#include "platform/core/exception.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

TEST(StreamBytesTest, ReadAndWriteBytesAtTheStreamPosition) {
  TMemoryStream stream;
  WriteBytesToStream(stream, TIdByteArray{1, 2, 3, 4, 5}, 3, 1);
  WriteBytesToStream(stream, TIdByteArray{9}, -1, 4);  // nothing available
  EXPECT_EQ(stream.DataString(), std::string("\x02\x03\x04", 3));

  stream.SetPosition(1);
  EXPECT_EQ(StreamBytesLeft(stream), 2);
  EXPECT_EQ(StreamBytesLeft(stream, 1), 1);
  EXPECT_EQ(StreamBytesLeft(stream, 10), 2);
  TIdByteArray bytes{7, 7, 7, 7};
  EXPECT_EQ(ReadBytesFromStream(stream, bytes, 10), 2);
  EXPECT_EQ(bytes, (TIdByteArray{3, 4}));  // sized to what was read
  EXPECT_EQ(ReadBytesFromStream(stream, bytes, 10), 0);
  EXPECT_TRUE(bytes.empty());
  stream.SetPosition(10);  // beyond the end: nothing left, never negative
  EXPECT_EQ(StreamBytesLeft(stream), 0);
}

TEST(StreamBytesTest, TextGoesThroughTheEncoding) {
  TMemoryStream stream;
  WriteTextToStream(stream, "caf\xC3\xA9", ce8Bit);
  WriteTextToStream(stream, "", ceNone);  // empty text writes nothing and checks nothing
  WriteTextToStream(stream, "xyz", ceASCII, 1, 2);
  EXPECT_EQ(stream.DataString(), "caf\xE9y");
  EXPECT_THROW(WriteTextToStream(stream, "a", ceNone), EIdNoEncodingSpecified);

  stream.SetPosition(0);
  EXPECT_EQ(ReadTextFromStream(stream, 3, ceUTF8), "caf");
  EXPECT_EQ(ReadTextFromStream(stream, -1, ce8Bit), "\xC3\xA9y");
}

// A base stream over a fixed text that records what it was asked.
class RecordingStream : public TIdBaseStream {
 public:
  std::string data = "0123456789";
  std::int64_t position = 0;
  int writes = 0;
  std::string written;

 protected:
  std::int64_t IdRead(TIdByteArray& buffer, std::int64_t offset, std::int64_t count) override {
    EXPECT_EQ(static_cast<std::int64_t>(buffer.size()), count);
    std::int64_t n = 0;
    while (n < count && position < static_cast<std::int64_t>(data.size())) {
      buffer[static_cast<std::size_t>(offset + n++)] =
          static_cast<std::uint8_t>(data[static_cast<std::size_t>(position++)]);
    }
    return n;
  }
  std::int64_t IdWrite(const TIdByteArray& buffer, std::int64_t offset,
                       std::int64_t count) override {
    ++writes;
    written.append(buffer.begin() + offset, buffer.begin() + offset + count);
    return count;
  }
  std::int64_t IdSeek(std::int64_t offset, TSeekOrigin origin) override {
    if (origin == TSeekOrigin::soBeginning) position = offset;
    if (origin == TSeekOrigin::soCurrent) position += offset;
    if (origin == TSeekOrigin::soEnd) position = static_cast<std::int64_t>(data.size()) + offset;
    return position;
  }
  void IdSetSize(std::int64_t size) override { data.resize(static_cast<std::size_t>(size)); }
};

TEST(StreamBytesTest, BaseStreamPassesOperationsThroughByteArrays) {
  RecordingStream stream;
  char out[8] = {};
  EXPECT_EQ(stream.Read(out, 4), 4);
  EXPECT_EQ(std::string(out, 4), "0123");
  stream.Seek(-2, TSeekOrigin::soEnd);
  EXPECT_EQ(stream.Read(out, 8), 2);
  EXPECT_EQ(std::string(out, 2), "89");
  EXPECT_EQ(stream.Size(), 10);

  EXPECT_EQ(stream.Write("abc", 3), 3);
  EXPECT_EQ(stream.Write("abc", 0), 0);
  EXPECT_EQ(stream.Write("abc", -4), 0);
  EXPECT_EQ(stream.writes, 1);  // less than one byte never reaches the writer
  EXPECT_EQ(stream.written, "abc");
  stream.SetSize(3);
  EXPECT_EQ(stream.data, "012");
}

TEST(StreamBytesTest, ExclusiveReadStreamReadsAndRefusesMissingFiles) {
  test::TempDir dir;
  const std::string path = dir.Path("exclusive.bin");
  test::WriteFileText(path, "content");
  {
    TIdReadFileExclusiveStream stream(path);
    EXPECT_EQ(ReadTextFromStream(stream, -1, ce8Bit), "content");
    // Other readers are still allowed while it is open.
    TFileStream reader(path, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(reader.Size(), 7);
  }
  EXPECT_THROW(TIdReadFileExclusiveStream(dir.Path("missing.bin")), EFOpenError);
}

}  // namespace
}  // namespace brixa
