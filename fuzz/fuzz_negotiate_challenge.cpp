// Hands arbitrary "WWW-Authenticate" lines to the logon schemes' challenge reader, as a Negotiate
// or NTLM peer would send them. The first byte picks the scheme word.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/auth/logon/auth_negotiate.h"
#include "http/message/header_list.h"
#include "runtime/codec/mime_coder.h"
#include "runtime/text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char* const scheme = (data[0] & 1) != 0 ? "NTLM" : "Negotiate";
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  brixa::TIdHeaderList lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.Add(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // The scheme picks its line as the client hands it over, then reads it.
  brixa::TIdNegotiateAuthentication holder;
  holder.SetAuthParams(lines);
  const std::string line = holder.AuthParamStartingWith(scheme);
  brixa::TIdByteArray token;
  if (!brixa::ReadLogonChallenge(line, scheme, token)) {
    if (!token.empty()) std::abort();
    return 0;
  }
  // A token read is bounded and accounts for every character the line carried (unused low bits
  // of a last group may differ, so the lengths are compared, not the texts).
  if (token.size() > brixa::kMaxLogonTokenText / 4 * 3) std::abort();
  const std::string carried =
      brixa::Trim(std::string_view(line).substr(std::string(scheme).size()));
  if (brixa::TIdEncoderMIME::EncodeBytes(token).size() != carried.size()) std::abort();
  return 0;
}
