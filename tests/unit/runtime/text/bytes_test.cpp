// The byte-array helpers stay within the bytes available and round-trip numbers.

#include "runtime/text/bytes.h"

#include <gtest/gtest.h>

#include "platform/core/exception.h"

namespace brixa {
namespace {

TEST(BytesTest, AvailableClampsCountToWhatFollowsTheIndex) {
  const TIdByteArray five{1, 2, 3, 4, 5};
  struct Case {
    std::int64_t count, index, expected;
  };
  const Case cases[] = {
      {-1, 0, 5}, {3, 0, 3}, {10, 0, 5}, {0, 2, 0}, {-1, 2, 3}, {2, 4, 1}, {-1, 5, 0}, {4, 9, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BytesAvailable(five, c.count, c.index), c.expected)
        << "count " << c.count << " index " << c.index;
  }
  EXPECT_EQ(BytesAvailable({}, -1, 0), 0);
  EXPECT_THROW((void)BytesAvailable(five, 1, -1), EAssertionFailed);
}

TEST(BytesTest, SliceAppendAndCopyMoveOnlyAvailableBytes) {
  const TIdByteArray source{0x41, 0x42, 0x43, 0x44, 0x45};
  EXPECT_EQ(SliceBytes(source, 3, 2), (TIdByteArray{0x43, 0x44, 0x45}));
  EXPECT_EQ(SliceBytes(source, 2, 1), (TIdByteArray{0x42, 0x43}));
  EXPECT_TRUE(SliceBytes(source, 4, 7).empty());

  TIdByteArray out{9};
  AppendByteRange(out, source, 3);
  EXPECT_EQ(out, (TIdByteArray{9, 0x44, 0x45}));
  AppendByteRange(out, source, 5);  // nothing available: unchanged
  EXPECT_EQ(out.size(), 3u);
  AppendByteRange(out, out, 1);  // appending a range of itself must not read freed storage
  EXPECT_EQ(out, (TIdByteArray{9, 0x44, 0x45, 0x44, 0x45}));

  TIdByteArray overlap{1, 2, 3, 4, 5, 6};
  CopyBytes(overlap, 0, overlap, 2, 4);
  EXPECT_EQ(overlap, (TIdByteArray{1, 2, 1, 2, 3, 4}));
  TIdByteArray short_(2);
  EXPECT_THROW(CopyBytes(source, 0, short_, 0, 3), EAssertionFailed);
  EXPECT_THROW(CopyBytes(source, 3, short_, 0, 3), EAssertionFailed);
  EXPECT_THROW(CopyBytes(source, -1, short_, 0, 1), EAssertionFailed);
}

TEST(BytesTest, RawFillAndHex) {
  const char raw[] = "\x0A\xFF\x00\x7F";
  const TIdByteArray bytes = BytesFromRaw(raw, 4);
  EXPECT_EQ(BytesToHex(bytes), "0AFF007F");
  EXPECT_EQ(BytesToHex(bytes, 2), "0AFF");
  EXPECT_EQ(BytesToHex(bytes, -1, 2), "007F");
  EXPECT_EQ(BytesToHex({}), "");
  EXPECT_TRUE(BytesFromRaw(nullptr, 0).empty());

  char back[4] = {};
  BytesToRaw(bytes, back, 3);
  EXPECT_EQ(std::string(back, 3), std::string(raw, 3));
  EXPECT_THROW(BytesToRaw(bytes, back, 5), EAssertionFailed);

  TIdByteArray fill(4, 1);
  FillByteArray(fill, 2, 0xEE);
  EXPECT_EQ(fill, (TIdByteArray{0xEE, 0xEE, 1, 1}));
  FillByteArray(fill, 10, 0);  // clamped, never grows
  EXPECT_EQ(fill, TIdByteArray(4, 0));
}

TEST(BytesTest, NumbersAreLeastSignificantByteFirstAndRoundTrip) {
  EXPECT_EQ(BytesFromUInt8(0xAB), (TIdByteArray{0xAB}));
  EXPECT_EQ(BytesFromUInt16(0x1234), (TIdByteArray{0x34, 0x12}));
  EXPECT_EQ(BytesFromUInt32(0x01020304), (TIdByteArray{4, 3, 2, 1}));
  EXPECT_EQ(BytesFromInt64(-2), (TIdByteArray{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  TIdByteArray buffer(12);
  PutUInt16(0xBEEF, buffer, 1);
  PutUInt32(0xCAFEF00D, buffer, 4);
  PutUInt32First(0x11223344, buffer);
  EXPECT_EQ(GetUInt32(buffer, 0), 0x11223344u);
  EXPECT_EQ(GetUInt32(buffer, 4), 0xCAFEF00Du);
  EXPECT_EQ(GetUInt16(buffer, 1), 0x2233);  // PutUInt32First wrote over the first bytes
  EXPECT_EQ(GetInt64(BytesFromInt64(-1234567890123LL), 0), -1234567890123LL);
  EXPECT_EQ(GetUInt16(TIdByteArray{0, 0xEF, 0xBE}, 1), 0xBEEF);

  // Every access must stay inside the array.
  EXPECT_THROW(PutUInt16(1, buffer, 11), EAssertionFailed);
  EXPECT_THROW(PutUInt32(1, buffer, 9), EAssertionFailed);
  EXPECT_THROW((void)GetInt64(buffer, 5), EAssertionFailed);
  EXPECT_THROW((void)GetUInt16(buffer, -1), EAssertionFailed);
  TIdByteArray three(3);
  EXPECT_THROW(PutUInt32First(1, three), EAssertionFailed);
}

TEST(BytesTest, IPv6WordsAreCopiedAsHeld) {
  const std::array<std::uint16_t, 8> words{0xFE80, 0, 0, 0, 0, 0, 0, 0x0001};
  TIdByteArray bytes(18, 0xAA);
  PutIPv6Words(words, bytes, 1);
  EXPECT_EQ(bytes[0], 0xAA);
  EXPECT_EQ(GetUInt16(bytes, 1), 0xFE80);
  EXPECT_EQ(GetUInt16(bytes, 15), 0x0001);
  EXPECT_EQ(bytes[17], 0xAA);
  EXPECT_THROW(PutIPv6Words(words, bytes, 3), EAssertionFailed);
}

}  // namespace
}  // namespace brixa
