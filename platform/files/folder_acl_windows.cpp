// Reading a folder's owner and access list for rights that others could use against it.

#include "platform/files/folder_acl_windows.h"

#include <sddl.h>

#include "platform/files/user_sid_windows.h"

namespace brixa {

namespace {

// The service that owns the system's own folders.
constexpr const char* kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

constexpr DWORD kChangesAnyFolder = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kChangesItsEntries = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

bool IsTrustedInstaller(PSID sid) {
  PSID installer = nullptr;
  if (!::ConvertStringSidToSidA(kTrustedInstaller, &installer)) return false;
  const bool same = ::EqualSid(sid, installer) != FALSE;
  ::LocalFree(installer);
  return same;
}

bool IsTrusted(PSID sid, PSID user) {
  return ::EqualSid(sid, user) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         ::IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || IsTrustedInstaller(sid);
}

// CREATOR OWNER and CREATOR GROUP stand for somebody only in what is created below: on the
// folder itself they grant nothing.
bool IsPlaceholder(PSID sid) {
  return ::IsWellKnownSid(sid, WinCreatorOwnerSid) || ::IsWellKnownSid(sid, WinCreatorGroupSid);
}

DWORD FileRights(DWORD mask) {
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

const char* RightName(DWORD rights) {
  if (rights & WRITE_OWNER) return "take it over";
  if (rights & WRITE_DAC) return "change its access list";
  if (rights & DELETE) return "remove or rename it";
  if (rights & FILE_DELETE_CHILD) return "remove or rename what it holds";
  if (rights & FILE_ADD_FILE) return "add files to it";
  return "add folders to it";
}

}  // namespace

std::string FolderAccessProblem(PSECURITY_DESCRIPTOR descriptor, PSID user, TFolderRole role) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
    return "has no owner";
  }
  if (!IsTrusted(owner, user)) return "belongs to " + SidText(owner);
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return "has no access list: anybody may change it";
  }
  const DWORD dangerous =
      kChangesAnyFolder | (role == TFolderRole::kHoldsFiles ? kChangesItsEntries : 0);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) return "has an access list that cannot be read";
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        break;
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return "grants rights in an entry of a kind files do not use";
      default:
        continue;  // deny and audit entries
    }
    // The allowed kinds read alike up to the SID: header, mask, first word of the SID.
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    auto sid = const_cast<PSID>(static_cast<const void*>(&allowed->SidStart));
    if (IsTrusted(sid, user) || IsPlaceholder(sid)) continue;
    const DWORD granted = FileRights(allowed->Mask) & dangerous;
    if (granted != 0) return SidText(sid) + " may " + RightName(granted);
  }
  return {};
}

}  // namespace brixa
