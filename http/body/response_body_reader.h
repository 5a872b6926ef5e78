#pragma once
// Reading an HTTP/1.x response off an I/O handler: protocol lines, header blocks and the three
// body framings (RFC 9112, 6 and 7). The handler reports body bytes through its work events (one
// read span per counted body, per chunk, or for the whole until-close body); header and
// chunk-size lines report nothing.
//
// Every read is bounded: a line by the handler's MaxLineLength and by what is left of its
// block's byte budget, a block by its line limit and kMaxHeaderBlockBytes, a line's arrival by
// the handler's ReadTimeout (counted for the whole line, so a peer dripping a byte at a time
// cannot hold a read open for longer). No stream is ever grown ahead of the bytes received.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/stream.h"
#include "runtime/text/encoding.h"

namespace brixa {

class TIdIOHandler;
class TIdHeaderList;

// Bytes of one header block (status line and header lines, or a chunked body's trailer),
// terminators included. Far above what real servers send (nginx refuses requests past 32 KiB of
// headers by default), low enough that a peer sending header lines for ever is cut off early.
inline constexpr std::int32_t kMaxHeaderBlockBytes = 256 * 1024;

// One protocol line (status, header, chunk size) of at most `maxBytes` bytes before its
// terminator (and never more than the handler's MaxLineLength, when that is set). Raises
// EIdHTTPHeaderBlockTooLarge when `maxBytes` is what the line overran, the handler's
// EIdReadLnMaxLineLengthExceeded when its own limit was, EIdReadTimeout when the line did not
// arrive within the handler's ReadTimeout (an empty line would end a block as if complete), and
// EIdConnClosedGracefully when the peer closed first.
// `encoding` ceNone takes the handler's default.
[[nodiscard]] std::string ReadProtocolLine(TIdIOHandler& io,
                                           std::int32_t maxBytes = kMaxHeaderBlockBytes,
                                           TIdCharEncoding encoding = ceNone);

// Reads header lines up to the empty line that ends the block, adding each to `lines` as it
// came. `statusLineBytes` is what the block's status line already took of its byte budget.
// Raises EIdHTTPHeaderBlockTooLarge past `lineLimit` lines (when positive) or past
// kMaxHeaderBlockBytes in all; no line is ever dropped. A peer that closes inside the block
// raises EIdConnClosedGracefully, with the lines read so far in `lines`.
// Header text reads in the handler's default text encoding (ASCII: '?' for a byte above 0x7F),
// except in a Location, where the bytes of a raw (say UTF-8) target are kept percent-encoded,
// as browsers send them on; a control byte there is percent-encoded too, so it can never
// reach a request line.
void ReadHeaderBlock(TIdIOHandler& io, TIdHeaderList& lines, std::int32_t lineLimit,
                     std::int32_t statusLineBytes = 0);

// The size a chunk-size line announces (RFC 9112, 7.1): hexadecimal digits from the first
// character on, then nothing, or blanks or ";" and chunk extensions, which are ignored. Raises
// EIdHTTPInvalidChunkSize for anything else (no digits, a sign, junk after the digits) and
// EIdHTTPChunkTooLarge past 2^63 - 1.
[[nodiscard]] std::int64_t ParseChunkSize(std::string_view line);

// How a response body is delimited (RFC 9112, 6.3), from its header lines.
enum class TIdBodyFraming { kNone, kCounted, kChunked, kUntilClose };

struct TIdBodyFrame {
  TIdBodyFraming framing = TIdBodyFraming::kUntilClose;
  std::int64_t length = 0;  // kCounted only
  // The response carries both "Transfer-Encoding" and "Content-Length", the mark of a message
  // that two parties may read differently: it is read by its transfer coding, and its
  // connection is not used again.
  bool closeAfter = false;
};

// The framing of a response that may have a body: chunked when "Transfer-Encoding" ends in
// chunked; until close when it ends in another coding; counted by "Content-Length" otherwise
// (nothing for 0); until close without either. Raises EIdHTTPInvalidContentLength for a length
// that is not a run of decimal digits below 2^63, and EIdHTTPConflictingContentLength for two
// that differ (equal repeats, as in "5, 5", are one length).
[[nodiscard]] TIdBodyFrame BodyFrameOf(const TIdHeaderList& headers);

// How a body read ended.
enum class TIdBodyEnd {
  kComplete,   // every framed byte is in the target; the connection is at the next response
  kCut,        // the peer closed early: what arrived is in the target
  kSkipped,    // a wait limit passed before any byte came; nothing was read
  kOverLimit,  // the body would pass the read's byte limit, or ends only with the close: what
               // lay within the limit may be in the target, the rest is still on its way
};

// No byte limit on a body read.
inline constexpr std::int64_t kNoBodyLimit = -1;

// Reads a body of `frame` into `target`. With `waitMs` above 0 a counted or until-close body is
// read only when a byte is buffered or arrives within that time (kSkipped otherwise). Chunked
// bodies ignore the wait: their trailer block is bounded as a header block by `lineLimit` and
// kMaxHeaderBlockBytes. A malformed chunk raises EIdHTTPInvalidChunkSize or
// EIdHTTPChunkTooLarge; a failing `target` raises what it raises. After anything but kComplete,
// or an exception, the connection is out of step and must not carry another request.
// With `maxBytes` of 0 or more, no more than that many bytes of the body are read off the
// connection, chunk-size lines, their extensions and the trailer counted as much as the data:
// a counted body longer than that and a body that ends only with the close are not read at
// all, and a chunked one stops at the chunk (or line) that would pass it; all with kOverLimit.
[[nodiscard]] TIdBodyEnd ReadFramedBody(TIdIOHandler& io, TStream& target,
                                        const TIdBodyFrame& frame, std::int32_t waitMs,
                                        std::int32_t lineLimit,
                                        std::int64_t maxBytes = kNoBodyLimit);

}  // namespace brixa
