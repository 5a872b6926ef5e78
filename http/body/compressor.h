#pragma once
// TIdZLibCompressorBase: the hook a decompressor plugs into, turning gzip and deflate bodies into
// one zlib stream.

#include "platform/core/stream.h"
#include "runtime/network_exception.h"
#include "runtime/work_component.h"

namespace brixa {

// A compressed body ended before its gzip header or trailer was complete.
BRIXA_DECLARE_ID_EXCEPTION(EIdCompressedBodyTooShort, EIdException);
inline constexpr const char* RSCompressedBodyTooShort = "Compressed body is too short.";

// Base of the body decompressors the HTTP client can be given (its Compressor property).
//
// The client reads a "gzip" or "deflate" body into a memory stream and hands it here; this base
// turns either form into a zlib stream (2-byte zlib header, deflate data) and passes that to the
// one operation a concrete decompressor supplies, DecompressStream. The library ships no
// concrete decompressor, so out of the box bodies are stored as the server sent them.
class TIdZLibCompressorBase : public TIdComponent {
 public:
  explicit TIdZLibCompressorBase(TComponent* owner = nullptr) : TIdComponent(owner) {}

  [[nodiscard]] virtual bool CanInflate() { return true; }

  // A gzip member (RFC 1952) from `input`'s position: the header with its optional fields is
  // skipped, its last two bytes are overwritten with the zlib header 0x78 0x9C (so `input` is
  // changed), the 8-byte CRC32/ISIZE trailer is cut off the end, and the rest is inflated into
  // `output`. Raises EIdCompressedBodyTooShort when the header or trailer is incomplete.
  void InflateGZip(TStream& input, TStream& output);

  // A "deflate" body from `input`'s position. HTTP's "deflate" coding is the zlib format, which
  // is what DecompressStream takes, so the bytes are handed over unchanged.
  void InflateDeflate(TStream& input, TStream& output);

 protected:
  // Inflates the zlib stream that starts at `input`'s position into `output`; raises on
  // corrupt data.
  virtual void DecompressStream(TStream& input, TStream& output) = 0;
};

}  // namespace brixa
