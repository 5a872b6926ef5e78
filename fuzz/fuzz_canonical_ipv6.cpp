// Feeds arbitrary text to the IPv6 canonicaliser (and the IPv4 parser) and checks what holds for
// every input: no crash, a canonical form of exactly eight upper-case groups, and a canonical
// form that names the same address as the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/text/ip_text.h"

namespace {

constexpr int kGroups = 8;
constexpr std::size_t kMaxGroupDigits = 4;

bool IsCanonicalShape(const std::string& text) {
  int groups = 1;
  std::size_t digits = 0;
  for (const char c : text) {
    if (c == ':') {
      if (digits == 0) return false;
      ++groups;
      digits = 0;
      continue;
    }
    const bool upperHex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (!upperHex || ++digits > kMaxGroupDigits) return false;
  }
  return groups == kGroups && digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)brixa::IPv4TextToValue(text);

  const std::string canonical = brixa::CanonicalIPv6(text);
  const auto words = brixa::IPv6TextToWords(text);
  if (canonical.empty()) {
    if (words.has_value()) std::abort();
    return 0;
  }
  if (!IsCanonicalShape(canonical) || !words.has_value()) std::abort();
  const auto again = brixa::IPv6TextToWords(canonical);
  if (!again.has_value() || *again != *words) std::abort();
  (void)brixa::IPv6WordsToText(*words);
  return 0;
}
