// Reads arbitrary bytes as a signed program file: no input crashes or reads outside itself, and
// a signature block found is a DER sequence inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/crypto/signature.h"
#include "update/delivery/pe_certificate.h"
#include "update/delivery/publisher_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const auto block = brixa::PeSignedData(image);
  if (!block) return 0;
  if (block->data() < image.data() || block->data() + block->size() > image.data() + size ||
      block->empty() || static_cast<unsigned char>(block->front()) != 0x30) {
    std::abort();
  }
  try {
    if (const auto fingerprint = brixa::PeSignerFingerprint(image)) {
      if (fingerprint->size() != 64) std::abort();
    }
  } catch (const brixa::ESignatureError&) {
  }
  return 0;
}
