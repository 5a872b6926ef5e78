// Header blocks, Content-Length agreement, chunked bodies and until-close bodies, each read within
// its byte budget.

#include "http/body/response_body_reader.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <vector>

#include "http/client/http_protocol_exception.h"
#include "http/message/header_list.h"
#include "runtime/text/text.h"
#include "transport/io/io_handler.h"
#include "transport/io/io_handler_exceptions.h"

namespace brixa {
namespace {

constexpr std::uint64_t kMaxBodyLength = std::numeric_limits<std::int64_t>::max();
// A line's terminator as counted against a block's byte budget (CR LF).
constexpr std::int32_t kLineEndBytes = 2;
inline constexpr const char* RSHTTPChunkDataOverrun = "Chunk data longer than its size";

// With a positive wait limit, whether body bytes are there to read: already buffered, or
// arriving within the limit.
bool BodyBytesArrive(TIdIOHandler& io, std::int32_t waitMs) {
  if (io.InBuffer().Size() > 0) return true;
  (void)io.HasDataOnSource(waitMs);
  return io.InBuffer().Size() > 0;
}

// The comma-separated elements of every value, trimmed, in order.
std::vector<std::string> ListElements(const std::vector<std::string>& values) {
  std::vector<std::string> elements;
  for (const std::string& value : values) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = value.find(',', start);
      elements.push_back(Trim(std::string_view(value).substr(start, comma - start)));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return elements;
}

// RFC 9112, 6.3 (5): every "Content-Length" value must read the same length.
std::int64_t AgreedContentLength(const std::vector<std::string>& values) {
  std::optional<std::uint64_t> agreed;
  for (const std::string& element : ListElements(values)) {
    const std::optional<std::uint64_t> length = ParseDigits(element, kMaxBodyLength);
    if (!length) throw EIdHTTPInvalidContentLength(RSHTTPInvalidContentLength);
    if (agreed && *agreed != *length) {
      throw EIdHTTPConflictingContentLength(RSHTTPConflictingContentLength);
    }
    agreed = length;
  }
  return static_cast<std::int64_t>(*agreed);
}

// Reads ahead while a chunked body is read: the bytes after a chunk's data belong to the same
// body up to its last chunk (and what lies beyond stays buffered for the next response).
class TReadAheadScope {
 public:
  explicit TReadAheadScope(TIdIOHandler& io) : io_(io), saved_(io.ReadAhead()) {
    io_.SetReadAhead(true);
  }
  TReadAheadScope(const TReadAheadScope&) = delete;
  TReadAheadScope& operator=(const TReadAheadScope&) = delete;
  ~TReadAheadScope() { io_.SetReadAhead(saved_); }

 private:
  TIdIOHandler& io_;
  bool saved_;
};

// What a limited body read has left to read; every byte off the connection counts.
class TBodyBudget {
 public:
  explicit TBodyBudget(std::int64_t maxBytes) : left_(maxBytes) {}
  [[nodiscard]] bool Limited() const noexcept { return left_ != kNoBodyLimit; }
  // The most a block of lines (terminators included) may take: what is left, within a header
  // block's budget.
  [[nodiscard]] std::int32_t BlockBytes() const noexcept {
    if (!Limited()) return kMaxHeaderBlockBytes;
    return static_cast<std::int32_t>(std::min<std::int64_t>(left_, kMaxHeaderBlockBytes));
  }
  // Takes `bytes` from the budget; false when they do not fit.
  [[nodiscard]] bool Take(std::int64_t bytes) noexcept {
    if (!Limited()) return true;
    if (bytes > left_) return false;
    left_ -= bytes;
    return true;
  }

 private:
  std::int64_t left_;
};

// A chunk-size line, or the line end after a chunk's data, within the budget (a bare LF
// counted as CR LF). A line that does not fit raises as an oversized line does.
std::string ReadChunkLine(TIdIOHandler& io, TBodyBudget& budget) {
  const std::int32_t maxBytes =
      budget.Limited() ? std::max(budget.BlockBytes() - kLineEndBytes, 0) : kMaxHeaderBlockBytes;
  std::string line = ReadProtocolLine(io, maxBytes);
  if (!budget.Take(static_cast<std::int64_t>(line.size()) + kLineEndBytes)) {
    throw EIdHTTPHeaderBlockTooLarge(RSHTTPHeaderBlockTooLarge);
  }
  return line;
}

TIdBodyEnd ReadChunkedBody(TIdIOHandler& io, TStream& target, std::int32_t lineLimit,
                           TBodyBudget budget) {
  const TReadAheadScope readAhead(io);
  try {
    for (;;) {
      const std::int64_t size = ParseChunkSize(ReadChunkLine(io, budget));
      if (size == 0) break;
      if (!budget.Take(size)) return TIdBodyEnd::kOverLimit;
      io.ReadIntoStream(target, size, false);
      // The CR LF that ends the chunk data: anything else means the size was a lie.
      if (!ReadChunkLine(io, budget).empty()) {
        throw EIdHTTPInvalidChunkSize(RSHTTPChunkDataOverrun);
      }
    }
    // RFC 9112, 7.1.2: trailer fields, then the empty line that ends the message. They are
    // read as bounded as a header block (and within what the budget has left) and dropped.
    TIdHeaderList trailer;
    ReadHeaderBlock(io, trailer, lineLimit, kMaxHeaderBlockBytes - budget.BlockBytes());
  } catch (const EIdConnClosedGracefully&) {
    return TIdBodyEnd::kCut;
  } catch (const EIdHTTPHeaderBlockTooLarge&) {
    if (!budget.Limited()) throw;
    return TIdBodyEnd::kOverLimit;
  }
  return TIdBodyEnd::kComplete;
}

TIdBodyEnd ReadCountedBody(TIdIOHandler& io, TStream& target, std::int64_t length,
                           std::int32_t waitMs) {
  if (waitMs > 0 && !BodyBytesArrive(io, waitMs)) return TIdBodyEnd::kSkipped;
  try {
    io.ReadIntoStream(target, length, false);
  } catch (const EIdConnClosedGracefully&) {
    return TIdBodyEnd::kCut;
  }
  return TIdBodyEnd::kComplete;
}

TIdBodyEnd ReadBodyUntilClose(TIdIOHandler& io, TStream& target, std::int32_t waitMs) {
  if (waitMs > 0 && !BodyBytesArrive(io, waitMs)) return TIdBodyEnd::kSkipped;
  io.ReadIntoStream(target, -1, true);
  return TIdBodyEnd::kComplete;
}

bool IsLocationLine(const TIdByteArray& raw) {
  static constexpr std::string_view kName = "location:";
  if (raw.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    if (std::tolower(raw[i]) != kName[i]) return false;
  }
  return true;
}

std::string HeaderLineText(const TIdByteArray& raw, TIdCharEncoding encoding) {
  if (!IsLocationLine(raw)) return BytesToText(raw, encoding);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(raw.size());
  for (const std::uint8_t b : raw) {
    if (b >= 0x80 || (b < 0x20 && b != '\t') || b == 0x7F) {
      text += '%';
      text += kHex[b >> 4];
      text += kHex[b & 0x0F];
    } else {
      text += static_cast<char>(b);
    }
  }
  return text;
}

}  // namespace

std::string ReadProtocolLine(TIdIOHandler& io, std::int32_t maxBytes, TIdCharEncoding encoding) {
  const std::int32_t handlerLimit = io.MaxLineLength();
  const bool budgetBinds = handlerLimit <= 0 || maxBytes < handlerLimit;
  // ReadLine reads 0 as "no limit"; an exhausted budget still lets the empty line through.
  const std::int32_t limit = std::max(budgetBinds ? maxBytes : handlerLimit, 1);
  const std::int32_t timeout = io.ReadTimeout() > 0 ? io.ReadTimeout() : TimeoutUseDefault;
  std::string line;
  try {
    line = io.ReadLine("\n", timeout, encoding, limit);
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    if (budgetBinds) throw EIdHTTPHeaderBlockTooLarge(RSHTTPHeaderBlockTooLarge);
    throw;
  }
  if (io.LineTimedOut()) throw EIdReadTimeout(RSReadTimeout);
  // A handler set to split long lines hands back a part; a part of a line is no line.
  if (io.LineWasSplit()) {
    if (budgetBinds) throw EIdHTTPHeaderBlockTooLarge(RSHTTPHeaderBlockTooLarge);
    throw EIdReadLnMaxLineLengthExceeded(RSReadLnMaxLineLengthExceeded);
  }
  return line;
}

void ReadHeaderBlock(TIdIOHandler& io, TIdHeaderList& lines, std::int32_t lineLimit,
                     std::int32_t statusLineBytes) {
  std::int64_t used = statusLineBytes;
  for (std::int32_t count = 0;; ++count) {
    const std::int64_t left = kMaxHeaderBlockBytes - used;
    if (left < 0) throw EIdHTTPHeaderBlockTooLarge(RSHTTPHeaderBlockTooLarge);
    const TIdByteArray raw =
        TextToBytes(ReadProtocolLine(io, static_cast<std::int32_t>(left), ce8Bit), ce8Bit);
    if (raw.empty()) return;
    if (lineLimit > 0 && count >= lineLimit) {
      throw EIdHTTPHeaderBlockTooLarge(RSHTTPHeaderBlockTooLarge);
    }
    used += static_cast<std::int64_t>(raw.size()) + kLineEndBytes;
    lines.Add(HeaderLineText(raw, io.DefaultTextEncoding()));
  }
}

std::int64_t ParseChunkSize(std::string_view line) {
  std::size_t digits = 0;
  while (digits < line.size() && HexDigitValue(line[digits]) >= 0) ++digits;
  const std::string_view rest = line.substr(digits);
  const bool extensionFollows =
      rest.empty() || rest.front() == ' ' || rest.front() == '\t' || rest.front() == ';';
  if (digits == 0 || !extensionFollows) throw EIdHTTPInvalidChunkSize(RSHTTPInvalidChunkSize);
  const std::optional<std::uint64_t> size = ParseHexDigits(line.substr(0, digits), kMaxBodyLength);
  if (!size) throw EIdHTTPChunkTooLarge(RSHTTPChunkTooLarge);
  return static_cast<std::int64_t>(*size);
}

TIdBodyFrame BodyFrameOf(const TIdHeaderList& headers) {
  TIdBodyFrame frame;
  const std::vector<std::string> lengths = headers.CollectValues("Content-Length");
  const std::vector<std::string> codings = headers.CollectValues("Transfer-Encoding");
  if (!codings.empty()) {
    // RFC 9112, 6.3 (4): only a final chunked coding delimits the body; with any other the
    // body runs until the server closes.
    const bool chunked = LowerCase(ListElements(codings).back()) == "chunked";
    frame.framing = chunked ? TIdBodyFraming::kChunked : TIdBodyFraming::kUntilClose;
    frame.closeAfter = !lengths.empty();
    return frame;
  }
  if (lengths.empty()) return frame;
  frame.length = AgreedContentLength(lengths);
  frame.framing = frame.length > 0 ? TIdBodyFraming::kCounted : TIdBodyFraming::kNone;
  return frame;
}

TIdBodyEnd ReadFramedBody(TIdIOHandler& io, TStream& target, const TIdBodyFrame& frame,
                          std::int32_t waitMs, std::int32_t lineLimit, std::int64_t maxBytes) {
  const bool limited = maxBytes >= 0;
  switch (frame.framing) {
    case TIdBodyFraming::kChunked:
      return ReadChunkedBody(io, target, lineLimit, TBodyBudget(limited ? maxBytes : kNoBodyLimit));
    case TIdBodyFraming::kCounted:
      if (limited && frame.length > maxBytes) return TIdBodyEnd::kOverLimit;
      return ReadCountedBody(io, target, frame.length, waitMs);
    case TIdBodyFraming::kUntilClose:
      if (limited) return TIdBodyEnd::kOverLimit;
      return ReadBodyUntilClose(io, target, waitMs);
    case TIdBodyFraming::kNone:
      break;
  }
  return TIdBodyEnd::kComplete;
}

}  // namespace brixa
