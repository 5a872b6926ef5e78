// Base64 against published vectors, round trips of every byte, and decoding of fill and short
// tails.

#include "runtime/codec/mime_coder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brixa {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

TEST(MimeCoderTest, PublishedVectorsBothWays) {
  // RFC 4648, section 10.
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, coded] : cases) {
    EXPECT_EQ(TIdEncoderMIME::EncodeString(plain), coded);
    EXPECT_EQ(TIdDecoderMIME::DecodeBytes(coded), Bytes(plain)) << coded;
  }
}

TEST(MimeCoderTest, EveryByteValueAndLengthRoundTrips) {
  std::vector<std::uint8_t> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(255 - i));
  for (std::size_t length = 0; length <= all.size(); ++length) {
    const std::vector<std::uint8_t> input(all.begin(), all.begin() + length);
    const std::string coded = TIdEncoderMIME::EncodeBytes(input);
    ASSERT_EQ(coded.size(), (length + 2) / 3 * 4);
    ASSERT_EQ(coded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    ASSERT_EQ(TIdDecoderMIME::DecodeBytes(coded), input) << length;
  }
  EXPECT_EQ(TIdEncoderMIME::EncodeBytes({0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(MimeCoderTest, TextCharactersAreSingleBytes) {
  // U+00E4 is the one byte E4, not its two UTF-8 bytes; a user name and colon as Basic sends them.
  EXPECT_EQ(TIdEncoderMIME::EncodeString("\xC3\xA4"), "5A==");
  EXPECT_EQ(TIdEncoderMIME::EncodeString("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  // Above U+00FF only the low 8 bits remain (U+20AC -> AC).
  EXPECT_EQ(TIdEncoderMIME::EncodeString("\xE2\x82\xAC"), "rA==");
}

TEST(MimeCoderTest, DecodingStopsAtFillAndIgnoresShortTail) {
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes("Zg==Zm9v"), Bytes("f"));
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes("Zm8=Zm9v"), Bytes("fo"));
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes("Zm9vYm"), Bytes("foo"));
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes("Zm9"), Bytes(""));
  // Characters outside the alphabet decode as zero bits and never fail.
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes("Zm\r\n"), (std::vector<std::uint8_t>{0x66, 0x60, 0x00}));
  EXPECT_EQ(TIdDecoderMIME::DecodeBytes(std::string_view("\0\xff==", 4)).size(), 1u);
}

}  // namespace
}  // namespace brixa
