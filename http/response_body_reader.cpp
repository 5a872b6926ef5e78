#include "http/response_body_reader.h"

#include "http/http_protocol_exception.h"
#include "runtime/text.h"
#include "transport/io_handler.h"
#include "transport/io_handler_exceptions.h"

namespace brixa {
namespace {

// With a positive wait limit, whether body bytes are there to read: already buffered, or
// arriving within the limit.
bool BodyBytesArrive(TIdIOHandler& io, std::int32_t waitMs) {
  if (io.InBuffer().Size() > 0) return true;
  (void)io.HasDataOnSource(waitMs);
  return io.InBuffer().Size() > 0;
}

}  // namespace

std::string ReadProtocolLine(TIdIOHandler& io) {
  std::string line = io.ReadLine();
  if (io.LineTimedOut()) throw EIdReadTimeout(RSReadTimeout);
  return line;
}

std::int64_t ParseChunkSize(std::string_view line) {
  const std::size_t end = line.find_first_of(" ;");
  const std::string digits = Trim(line.substr(0, end));
  if (digits.empty()) return 0;
  const std::int64_t size = StrToInt64DefTrim("$" + digits, 0);
  if (size > kMaxChunkSize) throw EIdHTTPChunkTooLarge(RSHTTPChunkTooLarge);
  return size;
}

bool ReadChunkedBody(TIdIOHandler& io, TStream& target) {
  std::int64_t size = ParseChunkSize(ReadProtocolLine(io));
  while (size > 0) {
    io.ReadIntoStream(target, size, false);
    (void)ReadProtocolLine(io);  // the CR LF that ends the chunk data
    size = ParseChunkSize(ReadProtocolLine(io));
  }
  // RFC 9112, 7.1.2: trailer fields, then the empty line that ends the message.
  for (std::int32_t lines = 0; lines <= kMaxTrailerLines; ++lines) {
    if (ReadProtocolLine(io).empty()) return true;
  }
  return false;
}

void ReadCountedBody(TIdIOHandler& io, TStream& target, std::int64_t length, std::int32_t waitMs,
                     bool shortIsError) {
  if (waitMs > 0 && !BodyBytesArrive(io, waitMs)) return;
  try {
    io.ReadIntoStream(target, length, false);
  } catch (const EIdConnClosedGracefully&) {
    if (shortIsError) throw;
  }
}

void ReadBodyUntilClose(TIdIOHandler& io, TStream& target, std::int32_t waitMs) {
  if (waitMs > 0 && !BodyBytesArrive(io, waitMs)) return;
  io.ReadIntoStream(target, -1, true);
}

}  // namespace brixa
