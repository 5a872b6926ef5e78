// Conversions between text and bytes in each encoding, and the byte-at-a-time UTF-8 decoder.

#include "runtime/text/encoding.h"

#include <gtest/gtest.h>

#include "platform/core/exception.h"

namespace brixa {
namespace {

using namespace std::string_view_literals;

TIdByteArray Bytes(std::string_view text) {
  return TIdByteArray(text.begin(), text.end());
}

TEST(EncodingTest, TextToBytesPerEncoding) {
  struct Case {
    std::string_view text;
    TIdCharEncoding encoding;
    std::string_view expected;
  };
  const Case cases[] = {
      {"\xC3\xA9", ceUTF8, "\xC3\xA9"},                  // U+00E9
      {"\xC3\xA9", ce8Bit, "\xE9"},                      // low 8 bits of the code point
      {"\xC3\xA9", ceASCII, "?"},                        // one '?' per character
      {"\xF0\x9F\x98\x80", ceUTF8, "\xF0\x9F\x98\x80"},  // outside the basic plane: 4 bytes
      {"\xF0\x9F\x98\x80", ce8Bit, "\x00"sv},            // U+1F600 & 0xFF
      {"\xE2\x82\xAC", ce8Bit, "\xAC"},                  // U+20AC keeps its low byte only
      {"a\xFF"
       "b",
       ce8Bit,
       "a\xFF"
       "b"},  // a stray byte stands for itself
      {"a\xFF"
       "b",
       ceASCII, "a?b"},
      {"plain", ceASCII, "plain"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToBytes(c.text, c.encoding), Bytes(c.expected))
        << "encoding " << c.encoding << " text " << c.text;
  }
}

TEST(EncodingTest, TextToBytesRangeCountsBytesFromOneBasedStart) {
  EXPECT_EQ(TextToBytes("abcdef", 3, 2, ceASCII), Bytes("bcd"));
  EXPECT_EQ(TextToBytes("abcdef", 10, 5, ceUTF8), Bytes("ef"));
  EXPECT_TRUE(TextToBytes("abc", -1, 4, ceUTF8).empty());
  EXPECT_TRUE(TextToBytes("abc", -1, 9, ceUTF8).empty());
  EXPECT_TRUE(TextToBytes("abc", 0, 1, ceUTF8).empty());
  EXPECT_TRUE(TextToBytes("", ce8Bit).empty());
  EXPECT_THROW((void)TextToBytes("abc", -1, 0, ceUTF8), EAssertionFailed);
}

TEST(EncodingTest, BytesToTextPerEncoding) {
  const TIdByteArray abcde = Bytes("ABCDE");
  EXPECT_EQ(BytesToText(abcde, 2, 3, ce8Bit), "CDE");
  EXPECT_EQ(BytesToText(abcde, 3, 100, ceUTF8), "DE");
  EXPECT_EQ(BytesToText(abcde, 0, 0, ceUTF8), "");
  EXPECT_EQ(BytesToText(abcde, 9, -1, ceUTF8), "");
  EXPECT_THROW((void)BytesToText(abcde, -1, 1, ceUTF8), EAssertionFailed);

  // ce8Bit widens each byte to U+00xx.
  EXPECT_EQ(BytesToText(TIdByteArray{0x41, 0xE9, 0x00, 0xFF}, ce8Bit),
            std::string("A\xC3\xA9\x00\xC3\xBF", 6));
  EXPECT_EQ(BytesToText(TIdByteArray{0x41, 0xE9}, ceASCII), "A?");

  // Malformed UTF-8: one U+FFFD per byte that is not part of a well-formed character.
  struct Case {
    std::string_view bytes, expected;
  };
  const Case utf8[] = {
      {"\xC3\xA9", "\xC3\xA9"},
      {"a\x80"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                     // stray continuation
      {"\xC3", "\xEF\xBF\xBD"},                                  // truncated at the end
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong '/'
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF4\x90\x80\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},  // above U+10FFFF
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : utf8) {
    EXPECT_EQ(BytesToText(Bytes(c.bytes), ceUTF8), c.expected) << BytesToHex(Bytes(c.bytes));
  }
}

TEST(EncodingTest, EightBitRoundTripsEveryByte) {
  TIdByteArray all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(TextToBytes(BytesToText(all, ce8Bit), ce8Bit), all);
}

TEST(EncodingTest, CharToBytesAndMissingEncoding) {
  EXPECT_EQ(CharToBytes(U'\u00E9', ceUTF8), Bytes("\xC3\xA9"));
  EXPECT_EQ(CharToBytes(U'\u00E9', ceASCII), Bytes("\xE9"));  // no replacement for one char
  EXPECT_EQ(CharToBytes(U'\u20AC', ce8Bit), Bytes("\xAC"));
  EXPECT_EQ(CharToBytes(U'\U0001F600', ceUTF8), Bytes("\xF0\x9F\x98\x80"));
  EXPECT_EQ(CharToBytes(static_cast<char32_t>(0xD800), ceUTF8), Bytes("\xEF\xBF\xBD"));
  EXPECT_EQ(CharToBytes('\xE9', ceUTF8), Bytes("\xC3\xA9"));  // a char is never sign-extended

  try {
    (void)TextToBytes("x", ceNone);
    FAIL() << "ceNone converted";
  } catch (const EIdNoEncodingSpecified& e) {
    EXPECT_EQ(e.Message(), "No encoding specified.");
  }
  EXPECT_THROW((void)BytesToText(Bytes("x"), ceNone), EIdNoEncodingSpecified);
  EXPECT_THROW((void)CharToBytes(U'x', ceNone), EIdNoEncodingSpecified);
  EXPECT_NO_THROW(EnsureEncoding(ce8Bit));
}

// Feeds the bytes and returns the characters the decoder completed.
std::u32string FeedAll(TIdUTF8ByteDecoder& decoder, std::string_view bytes) {
  std::u32string out;
  for (const char b : bytes) {
    char32_t ch = 0;
    if (decoder.Feed(static_cast<std::uint8_t>(b), ch)) out.push_back(ch);
  }
  return out;
}

TEST(EncodingTest, ByteDecoderAssemblesCharactersAcrossCalls) {
  TIdUTF8ByteDecoder decoder;
  EXPECT_EQ(FeedAll(decoder, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            (std::u32string{U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}));
  EXPECT_FALSE(decoder.InSequence());
  (void)FeedAll(decoder, "\xE2\x82");
  EXPECT_TRUE(decoder.InSequence());
  EXPECT_EQ(FeedAll(decoder, "\xAC"), std::u32string{U'\u20AC'});
}

TEST(EncodingTest, ByteDecoderRejectsInvalidBytesAndRecovers) {
  const std::string_view bad[] = {
      "\xC3\x41",  // continuation out of range
      "\x80",      // continuation without a lead
      "\xC0",      // lead of an overlong form
      "\xF8",      // no such form
      "\xE0\x80",  // overlong three-byte form
      "\xED\xA0",  // surrogate
      "\xF4\x90",  // above U+10FFFF
      "\xE2\x82\xC3",
  };
  for (const std::string_view bytes : bad) {
    TIdUTF8ByteDecoder decoder;
    try {
      (void)FeedAll(decoder, bytes);
      ADD_FAILURE() << "accepted " << bytes.size() << " bytes starting "
                    << static_cast<int>(static_cast<unsigned char>(bytes[0]));
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Byte is invalid for this UTF-8 sequence");
    }
    // The failed sequence is dropped: the next byte starts afresh.
    EXPECT_FALSE(decoder.InSequence());
    EXPECT_EQ(FeedAll(decoder, "z"), std::u32string{U'z'});
  }
}

}  // namespace
}  // namespace brixa
