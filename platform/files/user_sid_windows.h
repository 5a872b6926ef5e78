#pragma once
// The security identifier of the user this process runs as, read once from its token.

#include <windows.h>

#include <string>
#include <vector>

namespace brixa {

class TUserSid {
 public:
  // Reads the process token; Valid() says whether that worked (GetLastError tells why not).
  TUserSid();

  [[nodiscard]] bool Valid() const noexcept { return !token_.empty(); }
  // The user's SID; only while Valid().
  [[nodiscard]] PSID Sid() const noexcept;

 private:
  std::vector<BYTE> token_;  // a TOKEN_USER record
};

// "S-1-5-..." for `sid`; "?" when it cannot be written.
[[nodiscard]] std::string SidText(PSID sid);

}  // namespace brixa
