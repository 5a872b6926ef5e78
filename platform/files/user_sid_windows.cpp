// The process token's user, and SIDs as text.

#include "platform/files/user_sid_windows.h"

#include <sddl.h>

namespace brixa {

TUserSid::TUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  DWORD size = 0;
  (void)::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> record(size);
  const bool read = size > 0 && ::GetTokenInformation(token, TokenUser, record.data(), size, &size);
  const DWORD error = ::GetLastError();
  ::CloseHandle(token);
  if (read) {
    token_ = std::move(record);
  } else {
    ::SetLastError(error);
  }
}

PSID TUserSid::Sid() const noexcept {
  return reinterpret_cast<const TOKEN_USER*>(token_.data())->User.Sid;
}

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  ::LocalFree(text);
  return result;
}

}  // namespace brixa
