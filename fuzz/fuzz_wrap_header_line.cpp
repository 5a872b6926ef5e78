// Header lines are folded with text that arrived from elsewhere (cookies, redirects).
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text/header_value.h"

namespace {
// A fold text whose first byte the fuzzed line never holds, so every occurrence of it in the
// result is one that the wrapper inserted.
constexpr std::string_view kMarkerFold = "\x01\r\n ";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::int64_t maxColumn = data[0];
  std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)brixa::WrapHeaderLine(line, "\r\n ", "\t ,", maxColumn);

  for (char& ch : line) {
    if (ch == kMarkerFold[0]) ch = 'x';
  }
  const std::string wrapped = brixa::WrapHeaderLine(line, kMarkerFold, "\t ,", maxColumn);
  // Folding only inserts: taking the inserted folds out gives the line back.
  std::string unfolded;
  for (std::size_t i = 0; i < wrapped.size(); ++i) {
    if (wrapped.compare(i, kMarkerFold.size(), kMarkerFold) == 0) {
      i += kMarkerFold.size() - 1;
      continue;
    }
    unfolded.push_back(wrapped[i]);
  }
  if (unfolded != line) __builtin_trap();
  return 0;
}
