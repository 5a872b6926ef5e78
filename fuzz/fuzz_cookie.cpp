// Hands arbitrary "Set-cookie" and "Set-cookie2" values to a cookie manager and builds the
// request header. The first byte picks the header kind and the host.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/cookies/cookie_manager.h"
#include "http/message/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kHosts[] = {"h.example.org", "example.org", "10.0.0.1", "::1", ".bad"};
  const std::uint8_t selector = data[0];
  const std::string host = kHosts[selector % 5];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  brixa::TIdCookieManager manager;
  // Each line is one header value, stored one after the other into the same manager.
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string value = text.substr(start, end - start);
    if ((selector & 0x80) != 0) {
      manager.AddSetCookie2(value, host);
    } else {
      manager.AddSetCookie(value, host);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  const brixa::TIdURI uri("http://" + brixa::HostForAuthority(host) + "/dir/page");
  // Whatever was set, the header fits one bounded line of printable text (tabs allowed).
  const std::string header = manager.BuildCookieHeader(uri, (selector & 0x40) != 0);
  if (header.size() > brixa::TIdCookieManager::kMaxCookieHeaderBytes) std::abort();
  for (const char ch : header) {
    const auto byte = static_cast<unsigned char>(ch);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) std::abort();
  }
  if (manager.CookieCollection().Count() > brixa::TIdCookies::kMaxCookies) std::abort();
  for (int i = 0; i < manager.CookieCollection().Count(); ++i) {
    (void)manager.CookieCollection().Items(i)->GetHeaderText();
  }
  return 0;
}
