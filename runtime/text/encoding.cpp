// The conversions between UTF-8 text and bytes, with ASCII runs copied in one block and every
// malformed sequence replaced, never passed on.

#include "runtime/text/encoding.h"

#include "platform/core/exception.h"

namespace brixa {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Allowed range of the second byte after a lead byte; the narrow ranges rule out overlong forms,
// surrogates and values above U+10FFFF.
struct SecondByteRange {
  std::uint8_t low;
  std::uint8_t high;
};

SecondByteRange SecondByteRangeAfter(std::uint8_t lead) {
  switch (lead) {
    case 0xE0:
      return {0xA0, 0xBF};
    case 0xED:
      return {0x80, 0x9F};
    case 0xF0:
      return {0x90, 0xBF};
    case 0xF4:
      return {0x80, 0x8F};
    default:
      return {0x80, 0xBF};
  }
}

// Continuation bytes a lead byte announces; -1 when the byte cannot start a character.
int ContinuationCount(std::uint8_t lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Decodes the well-formed character at data[0 ..]; returns its length in bytes, or 0 when the
// bytes there are not a well-formed character.
std::size_t DecodeOne(const std::uint8_t* data, std::size_t size, char32_t& codePoint) {
  const int more = ContinuationCount(data[0]);
  if (more < 0) return 0;
  if (more == 0) {
    codePoint = data[0];
    return 1;
  }
  if (static_cast<std::size_t>(more) + 1 > size) return 0;
  const SecondByteRange second = SecondByteRangeAfter(data[0]);
  if (data[1] < second.low || data[1] > second.high) return 0;
  char32_t value = data[0] & (0x3F >> more);
  for (int i = 1; i <= more; ++i) {
    if ((data[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (data[i] & 0x3F);
  }
  codePoint = value;
  return static_cast<std::size_t>(more) + 1;
}

// Length of the run of ASCII bytes at the start; protocol text is mostly one long run, which is
// then copied in one block.
std::size_t AsciiRun(const std::uint8_t* data, std::size_t size) {
  std::size_t n = 0;
  while (n < size && data[n] < 0x80) ++n;
  return n;
}

// Text -> bytes for the encodings that map one character to one byte.
TIdByteArray SingleByteFromText(std::string_view text, bool asciiOnly) {
  TIdByteArray bytes;
  bytes.reserve(text.size());
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ascii = AsciiRun(data + i, text.size() - i);
    bytes.insert(bytes.end(), data + i, data + i + ascii);
    i += ascii;
    if (i == text.size()) break;
    char32_t codePoint = 0;
    const std::size_t length = DecodeOne(data + i, text.size() - i, codePoint);
    if (length == 0) {
      // A byte outside any well-formed sequence stands for itself.
      bytes.push_back(asciiOnly ? '?' : data[i]);
      ++i;
      continue;
    }
    if (asciiOnly && codePoint >= 0x80) {
      bytes.push_back('?');
    } else {
      bytes.push_back(static_cast<std::uint8_t>(codePoint & 0xFF));
    }
    i += length;
  }
  return bytes;
}

std::string TextFromUTF8(const std::uint8_t* data, std::size_t size) {
  std::string text;
  text.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    const std::size_t ascii = AsciiRun(data + i, size - i);
    text.append(reinterpret_cast<const char*>(data + i), ascii);
    i += ascii;
    if (i == size) break;
    char32_t codePoint = 0;
    const std::size_t length = DecodeOne(data + i, size - i, codePoint);
    if (length == 0) {
      AppendUTF8(text, kReplacementChar);
      ++i;
      continue;
    }
    text.append(reinterpret_cast<const char*>(data + i), length);
    i += length;
  }
  return text;
}

std::string TextFrom8Bit(const std::uint8_t* data, std::size_t size) {
  std::string text;
  text.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    const std::size_t ascii = AsciiRun(data + i, size - i);
    text.append(reinterpret_cast<const char*>(data + i), ascii);
    i += ascii;
    if (i < size) AppendUTF8(text, data[i++]);
  }
  return text;
}

std::string TextFromASCII(const std::uint8_t* data, std::size_t size) {
  const std::size_t ascii = AsciiRun(data, size);
  std::string text(reinterpret_cast<const char*>(data), ascii);
  if (ascii == size) return text;
  text.resize(size, '?');
  for (std::size_t i = ascii; i < size; ++i) {
    if (data[i] < 0x80) text[i] = static_cast<char>(data[i]);
  }
  return text;
}

}  // namespace

void EnsureEncoding(TIdCharEncoding encoding) {
  if (encoding == ceNone) throw EIdNoEncodingSpecified(RSNoEncodingSpecified);
}

void AppendUTF8(std::string& out, char32_t codePoint) {
  if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > kMaxCodePoint) {
    codePoint = kReplacementChar;
  }
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

TIdByteArray TextToBytes(std::string_view text, std::int64_t length, std::int64_t start,
                         TIdCharEncoding encoding) {
  EnsureEncoding(encoding);
  Require(start >= 1, "text start position below 1");
  const auto size = static_cast<std::int64_t>(text.size());
  std::int64_t n = size - (start - 1);
  if (n < 0) n = 0;
  if (length >= 0 && length < n) n = length;
  if (n <= 0) return {};
  const std::string_view part =
      text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n));
  switch (encoding) {
    case ceUTF8:
      return TIdByteArray(part.begin(), part.end());
    case ce8Bit:
      return SingleByteFromText(part, false);
    default:
      return SingleByteFromText(part, true);
  }
}

TIdByteArray TextToBytes(std::string_view text, TIdCharEncoding encoding) {
  return TextToBytes(text, -1, 1, encoding);
}

TIdByteArray CharToBytes(char32_t codePoint, TIdCharEncoding encoding) {
  EnsureEncoding(encoding);
  if (encoding != ceUTF8) return TIdByteArray{static_cast<std::uint8_t>(codePoint & 0xFF)};
  std::string text;
  AppendUTF8(text, codePoint);
  return TIdByteArray(text.begin(), text.end());
}

TIdByteArray CharToBytes(char ch, TIdCharEncoding encoding) {
  return CharToBytes(static_cast<char32_t>(static_cast<unsigned char>(ch)), encoding);
}

std::string BytesToText(const TIdByteArray& bytes, std::int64_t index, std::int64_t count,
                        TIdCharEncoding encoding) {
  EnsureEncoding(encoding);
  Require(index >= 0, "byte index below 0");
  const std::int64_t n = BytesAvailable(bytes, count, index);
  if (n < 1) return {};
  const std::uint8_t* data = bytes.data() + index;
  const auto size = static_cast<std::size_t>(n);
  switch (encoding) {
    case ce8Bit:
      return TextFrom8Bit(data, size);
    case ceUTF8:
      return TextFromUTF8(data, size);
    default:
      return TextFromASCII(data, size);
  }
}

std::string BytesToText(const TIdByteArray& bytes, TIdCharEncoding encoding) {
  return BytesToText(bytes, 0, -1, encoding);
}

bool TIdUTF8ByteDecoder::Feed(std::uint8_t byte, char32_t& codePoint) {
  if (remaining_ == 0) {
    const int more = ContinuationCount(byte);
    if (more < 0) throw EIdException(RSInvalidUTF8Byte);
    if (more == 0) {
      codePoint = byte;
      return true;
    }
    value_ = byte & (0x3F >> more);
    remaining_ = more;
    lead_ = byte;
    return false;
  }
  // Only the byte right after the lead has a narrower range; lead_ is cleared once it is seen.
  const SecondByteRange range =
      lead_ != 0 ? SecondByteRangeAfter(lead_) : SecondByteRange{0x80, 0xBF};
  lead_ = 0;
  if (byte < range.low || byte > range.high) {
    Reset();
    throw EIdException(RSInvalidUTF8Byte);
  }
  value_ = (value_ << 6) | (byte & 0x3F);
  if (--remaining_ > 0) return false;
  codePoint = value_;
  value_ = 0;
  return true;
}

void TIdUTF8ByteDecoder::Reset() noexcept {
  value_ = 0;
  remaining_ = 0;
  lead_ = 0;
}

}  // namespace brixa
