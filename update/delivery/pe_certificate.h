#pragma once
// The signature block of a Windows program file (PE), found by reading its headers.

#include <cstddef>
#include <optional>
#include <string_view>

namespace brixa {

// The most bytes of a program file read to find its signature (the tool reads the file whole).
inline constexpr std::size_t kMaxSignedProgramBytes = 512u * 1024 * 1024;

// The PKCS#7 SignedData of the first entry of the certificate table of the PE image `image`:
// its exact DER bytes, inside `image`. nullopt when the image is not a PE file (PE32 or PE32+),
// has no certificate table, or when any offset or length read from it points outside the file
// or its own structure: the table, its first entry (revision 2.0, type PKCS_SIGNED_DATA), the
// DER of the block, and zero padding after it. Nothing is verified.
[[nodiscard]] std::optional<std::string_view> PeSignedData(std::string_view image);

}  // namespace brixa
