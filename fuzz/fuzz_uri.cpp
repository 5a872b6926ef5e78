// Parses arbitrary text as a URL and composes it back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/client/http_exceptions.h"
#include "http/message/uri.h"

namespace {

// Text that cannot change how an authority splits when it is written back.
bool Plain(std::string_view text, bool colonAllowed) {
  for (const char ch : text) {
    const bool letterOrDigit =
        (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    if (!letterOrDigit && ch != '.' && ch != '-' && ch != '_' && ch != '~' && ch != '%' &&
        !(colonAllowed && ch == ':')) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const brixa::TIdURI uri(text);
  // A request target never carries a blank, a control character or a byte beyond ASCII.
  for (const char ch : uri.PathAndQuery()) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte <= 0x20 || byte >= 0x7F) std::abort();
  }
  try {
    const std::string composed = uri.ComposeURI(brixa::ofAuthInfo | brixa::ofBookmark);
    // With plain authority parts, a composed URL parses to the same host, port and user again
    // (an IPv6 host comes back out of its brackets).
    if (Plain(uri.Host(), true) && Plain(uri.PortText(), false) && Plain(uri.User(), false) &&
        Plain(uri.Password(), true)) {
      const brixa::TIdURI again(composed);
      if (again.Host() != uri.Host() || again.User() != uri.User()) std::abort();
    }
  } catch (const brixa::EIdURIException&) {
    // No protocol or no host: the only two ways composing fails.
  }
  return 0;
}
