// Folder access lists as Windows installs really carry them, and the ones another user could
// use to swap what the updater starts.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <string>

#include "platform/files/folder_acl_windows.h"
#include "platform/files/secure_path.h"
#include "platform/files/user_sid_windows.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

constexpr const char* kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

TEST(FolderAccessList, TrustsOnlyTheUserTheSystemAndItsAdministrators) {
  const TUserSid user;
  ASSERT_TRUE(user.Valid());
  const struct {
    const char* what;
    const char* sddl;  // ME: this user, TI: TrustedInstaller
    TFolderRole role;
    const char* problem;  // nullptr: safe; otherwise a part of the reason
  } cases[] = {
      // As Windows sets them up.
      {"a drive's root",
       "O:TID:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
       "(A;;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)",
       TFolderRole::kAbove, nullptr},
      {"Program Files",
       "O:TID:(A;;FA;;;TI)(A;OICIIO;GA;;;TI)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
       "(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
       "(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)",
       TFolderRole::kHoldsFiles, nullptr},
      {"a folder in the user's profile", "O:MED:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;ME)",
       TFolderRole::kHoldsFiles, nullptr},
      {"owner rights and creator owner", "O:MED:(A;;FA;;;OW)(A;;FA;;;CO)(A;;FA;;;ME)",
       TFolderRole::kHoldsFiles, nullptr},
      {"the root where the product lives", "O:SYD:(A;;LC;;;AU)(A;;FA;;;SY)",
       TFolderRole::kHoldsFiles, "S-1-5-11 may add folders to it"},
      // A folder made in the root inherits Modify for every signed-in user.
      {"a folder made in the root", "O:MED:(A;OICIID;0x1301bf;;;AU)(A;OICIID;FA;;;SY)",
       TFolderRole::kAbove, "S-1-5-11 may remove or rename it"},
      {"others may add files here", "O:MED:(A;;0x1200ab;;;BU)(A;;FA;;;ME)",
       TFolderRole::kHoldsFiles, "S-1-5-32-545 may add files to it"},
      {"others may add files above", "O:MED:(A;;0x1200ab;;;BU)(A;;FA;;;ME)", TFolderRole::kAbove,
       nullptr},
      {"generic write here", "O:MED:(A;;GW;;;WD)", TFolderRole::kHoldsFiles, "S-1-1-0 may add"},
      {"generic write above", "O:MED:(A;;GW;;;WD)", TFolderRole::kAbove, nullptr},
      {"generic all above", "O:MED:(A;;GA;;;WD)", TFolderRole::kAbove, "S-1-1-0 may take"},
      {"generic write, inherit only", "O:MED:(A;OICIIO;GW;;;WD)", TFolderRole::kHoldsFiles,
       nullptr},
      {"delete child", "O:MED:(A;;0x40;;;WD)", TFolderRole::kAbove,
       "may remove or rename what it holds"},
      {"change the access list", "O:MED:(A;;WD;;;BG)", TFolderRole::kAbove,
       "may change its access list"},
      {"take ownership", "O:MED:(A;;WO;;;IU)", TFolderRole::kAbove, "may take it over"},
      // A deny entry is given no credit.
      {"denied first, then allowed", "O:MED:(D;;FA;;;WD)(A;;FA;;;WD)", TFolderRole::kAbove,
       "S-1-1-0 may"},
      {"another user's folder", "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", TFolderRole::kAbove,
       "belongs to S-1-5-21-1-2-3-1001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string sddl = Replace(Replace(c.sddl, "ME", SidText(user.Sid())), "TI", kInstaller);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << sddl << ": " << ::GetLastError();
    const std::string problem = FolderAccessProblem(descriptor, user.Sid(), c.role);
    ::LocalFree(descriptor);
    if (c.problem == nullptr) {
      EXPECT_EQ(problem, "") << sddl;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << sddl << " gave: " << problem;
    }
  }
  // No access list at all lets everybody do anything (built by hand: not every SDDL reader
  // keeps "NO_ACCESS_CONTROL" apart from an empty list, which lets nobody do anything).
  SECURITY_DESCRIPTOR open{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&open, user.Sid(), FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_NE(FolderAccessProblem(&open, user.Sid(), TFolderRole::kAbove).find("has no access list"),
            std::string::npos);
}

// The walk reads the folders' real descriptors: the test's own folders are safe, one that
// grants everybody change is not, and neither is one above it that does.
TEST(FolderAccessList, TheWalkReadsEveryFolderUpToTheRoot) {
  const TUserSid user;
  ASSERT_TRUE(user.Valid());
  test::TempDir dir;
  const std::string inner = dir.Path("product");
  ASSERT_TRUE(::CreateDirectoryA(inner.c_str(), nullptr));
  std::string why;
  EXPECT_TRUE(IsSecurePath(inner, why)) << why;
  const std::string me = SidText(user.Sid());
  const std::string open = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + ")(A;OICI;0x1301ff;;;WD)";
  const std::string closed = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + ")";
  for (const std::string& folder : {inner, dir.Root()}) {
    SCOPED_TRACE(folder);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        open.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(::SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    ::LocalFree(descriptor);
    EXPECT_FALSE(IsSecurePath(inner, why));
    EXPECT_NE(why.find("can be changed by other users: S-1-1-0 may"), std::string::npos) << why;
    EXPECT_NE(why.find(folder), std::string::npos) << why;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        closed.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(::SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    ::LocalFree(descriptor);
  }
  EXPECT_TRUE(IsSecurePath(inner, why)) << why;
  EXPECT_FALSE(IsSecurePath(dir.Path("missing"), why));
}

}  // namespace
}  // namespace brixa
