#pragma once
// What a kept partial installer is a part of: the release it was fetched for and the server's
// validator of the bytes it holds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

// The longest identity record read back; a larger file is not one of ours.
inline constexpr std::size_t kMaxPartialIdentityBytes = 1024;

struct TPartialIdentity {
  std::uint64_t Serial = 0;  // of the manifest the installer belongs to
  std::string Sha256;        // of the whole installer, as the manifest names it
  std::string Validator;     // "If-Range" value of the bytes held; empty: not resumable

  // A record of three "name=value" lines. Parse takes exactly what Serialize writes (names in
  // order, the serial in plain decimal, a 64-digit hash, a validator of printable ASCII) and
  // nothing else: a damaged record means the partial file is thrown away.
  [[nodiscard]] std::string Serialize() const;
  [[nodiscard]] static std::optional<TPartialIdentity> Parse(std::string_view text);

  // True when bytes kept under this identity may be continued for the release of `serial` and
  // `sha256`: the same release and a validator to ask the server with.
  [[nodiscard]] bool Continues(std::uint64_t serial, std::string_view sha256) const noexcept;
};

}  // namespace brixa
