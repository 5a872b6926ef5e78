#pragma once
// The byte ranges of a resumed download: the "Content-Range" a 206 must carry, and the
// validator that ties a kept partial file to the server's representation.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

class TIdResponseHeaderInfo;

// "bytes first-last/complete" of a 206; complete is -1 for "*".
struct TContentRange {
  std::int64_t First = 0;
  std::int64_t Last = 0;
  std::int64_t Complete = -1;
  friend bool operator==(const TContentRange&, const TContentRange&) = default;
};

// Reads a "Content-Range" value strictly (RFC 9110 section 14.4): the unit "bytes", one
// space, decimal digits only, first <= last, and last < complete when complete is known.
// Nothing for anything else, "bytes */1234" (an unsatisfied range) included.
[[nodiscard]] std::optional<TContentRange> ParseContentRange(std::string_view value);

// Whether a 206 with this "Content-Range" continues a file of `size` bytes from `offset`: it
// must start at offset, run to the file's last byte, and name the same complete length when
// it names one. Only then may its body be appended.
[[nodiscard]] bool ContinuesFile(const TContentRange& range, std::int64_t offset,
                                 std::int64_t size) noexcept;

// The validator an "If-Range" can carry for this response: its strong entity tag, else its
// "Last-Modified" date as sent; empty when it has neither (a weak tag never validates a range,
// RFC 9110 section 13.1.5). Also empty when the value is longer than kMaxValidatorBytes.
inline constexpr std::size_t kMaxValidatorBytes = 256;
[[nodiscard]] std::string RangeValidatorOf(const TIdResponseHeaderInfo& response);
// The same from the two header values as sent.
[[nodiscard]] std::string RangeValidatorOf(std::string_view eTag, std::string_view lastModified);

}  // namespace brixa
