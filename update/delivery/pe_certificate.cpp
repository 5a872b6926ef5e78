// Walking a PE file's headers to its certificate table, every offset and length bounded by the
// file and by the structure that holds it.

#include "update/delivery/pe_certificate.h"

#include <cstdint>

namespace brixa {

namespace {

constexpr std::size_t kDosHeaderBytes = 0x40;
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;  // e_lfanew
constexpr std::size_t kSignatureBytes = 4;        // "PE\0\0"
constexpr std::size_t kFileHeaderBytes = 20;
constexpr std::size_t kOptionalHeaderSizeAt = 16;  // in the file header
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Where NumberOfRvaAndSizes and the data directories start in each optional header.
constexpr std::size_t kPe32DirectoryCountAt = 92;
constexpr std::size_t kPe32PlusDirectoryCountAt = 108;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kDirectoryBytes = 8;
// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the block.
constexpr std::size_t kCertificateHeaderBytes = 8;
constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kCertificateTypeSignedData = 0x0002;
// Table entries are padded to eight bytes.
constexpr std::size_t kEntryAlignment = 8;
constexpr unsigned char kDerSequence = 0x30;
constexpr std::size_t kMaxDerLengthBytes = 4;

// Little-endian fields read only after the caller checked they lie inside `bytes`.
std::uint32_t Le16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}
std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

// Whether [at, at + size) lies inside `bytes`, without overflow.
bool Inside(std::string_view bytes, std::uint64_t at, std::uint64_t size) {
  return at <= bytes.size() && size <= bytes.size() - at;
}

// The certificate table's bytes; nullopt when the headers do not hold one inside the file.
std::optional<std::string_view> CertificateTable(std::string_view image) {
  if (!Inside(image, 0, kDosHeaderBytes) || image[0] != 'M' || image[1] != 'Z') return {};
  const std::uint64_t pe = Le32(image, kNewHeaderOffsetAt);
  if (!Inside(image, pe, kSignatureBytes + kFileHeaderBytes) ||
      image.substr(pe, kSignatureBytes) != std::string_view("PE\0\0", kSignatureBytes)) {
    return {};
  }
  const std::uint64_t optional = pe + kSignatureBytes + kFileHeaderBytes;
  const std::uint64_t optionalSize = Le16(image, pe + kSignatureBytes + kOptionalHeaderSizeAt);
  if (!Inside(image, optional, optionalSize) || optionalSize < 2) return {};
  const std::string_view header = image.substr(optional, optionalSize);
  const std::uint32_t magic = Le16(header, 0);
  std::size_t countAt = 0;
  if (magic == kPe32Magic) {
    countAt = kPe32DirectoryCountAt;
  } else if (magic == kPe32PlusMagic) {
    countAt = kPe32PlusDirectoryCountAt;
  } else {
    return {};
  }
  const std::size_t entryAt = countAt + 4 + kSecurityDirectory * kDirectoryBytes;
  if (!Inside(header, countAt, 4) || Le32(header, countAt) <= kSecurityDirectory ||
      !Inside(header, entryAt, kDirectoryBytes)) {
    return {};
  }
  // The security directory holds a file offset, not an address in memory.
  const std::uint64_t at = Le32(header, entryAt);
  const std::uint64_t size = Le32(header, entryAt + 4);
  if (size == 0 || !Inside(image, at, size)) return {};
  return image.substr(at, size);
}

// The exact DER of `block`, which may be followed by zero padding only.
std::optional<std::string_view> DerOf(std::string_view block) {
  if (block.size() < 2 || static_cast<unsigned char>(block[0]) != kDerSequence) return {};
  std::uint64_t length = static_cast<unsigned char>(block[1]);
  std::size_t headerBytes = 2;
  if (length >= 0x80) {
    const std::size_t lengthBytes = length - 0x80;
    if (lengthBytes == 0 || lengthBytes > kMaxDerLengthBytes || !Inside(block, 2, lengthBytes)) {
      return {};
    }
    length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) {
      length = length << 8 | static_cast<unsigned char>(block[2 + i]);
    }
    headerBytes += lengthBytes;
  }
  if (!Inside(block, headerBytes, length)) return {};
  const std::size_t total = headerBytes + static_cast<std::size_t>(length);
  const std::string_view padding = block.substr(total);
  if (padding.size() >= kEntryAlignment ||
      padding.find_first_not_of('\0') != std::string_view::npos) {
    return {};
  }
  return block.substr(0, total);
}

}  // namespace

std::optional<std::string_view> PeSignedData(std::string_view image) {
  const auto table = CertificateTable(image);
  if (!table || !Inside(*table, 0, kCertificateHeaderBytes)) return {};
  const std::uint64_t length = Le32(*table, 0);
  if (length <= kCertificateHeaderBytes || !Inside(*table, 0, length) ||
      Le16(*table, 4) != kCertificateRevision || Le16(*table, 6) != kCertificateTypeSignedData) {
    return {};
  }
  return DerOf(table->substr(kCertificateHeaderBytes, length - kCertificateHeaderBytes));
}

}  // namespace brixa
