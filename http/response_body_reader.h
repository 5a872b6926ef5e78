#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/stream.h"

namespace brixa {

class TIdIOHandler;

// The three framings of an HTTP/1.x response body, read off an I/O handler into a stream. The
// handler reports the bytes through its work events (one read span per counted body, per chunk,
// or for the whole until-close body); header and chunk-size lines report nothing.

// Largest chunk the client accepts in one piece. A chunk-size line above it is refused rather
// than pre-sizing the target stream to whatever a peer announces.
inline constexpr std::int64_t kMaxChunkSize = 0x7FFFFFFF;
// Trailer lines read (and dropped) after the last chunk before the client gives up on the
// connection.
inline constexpr std::int32_t kMaxTrailerLines = 255;

// The size a chunk-size line announces: the text before the first space or ";" (chunk
// extensions are ignored), trimmed, read as hexadecimal. Anything that does not read as a
// number gives 0, which ends the body. Raises EIdHTTPChunkTooLarge above kMaxChunkSize.
// One protocol line (status, header, chunk size). A read timeout raises EIdReadTimeout rather
// than giving an empty line, which would end a header block or a chunked body as if complete.
[[nodiscard]] std::string ReadProtocolLine(TIdIOHandler& io);

[[nodiscard]] std::int64_t ParseChunkSize(std::string_view line);

// Reads a chunked body: chunks until the size-0 chunk, then the trailer block up to its empty
// line (all trailer lines dropped). Returns false when the trailer block ran past
// kMaxTrailerLines, in which case the connection is no longer in step and must be closed. A
// peer that closes inside the body raises EIdConnClosedGracefully.
[[nodiscard]] bool ReadChunkedBody(TIdIOHandler& io, TStream& target);

// Reads `length` bytes. With `waitMs` above 0, first waits that long and reads only when bytes
// are buffered by then. A peer that closes early leaves the bytes received in `target`; that
// is an error (EIdConnClosedGracefully passes on) only with `shortIsError`.
void ReadCountedBody(TIdIOHandler& io, TStream& target, std::int64_t length, std::int32_t waitMs,
                     bool shortIsError);

// Reads everything until the peer closes; with `waitMs` above 0, only when bytes arrive within
// that time.
void ReadBodyUntilClose(TIdIOHandler& io, TStream& target, std::int32_t waitMs);

}  // namespace brixa
