#pragma once
// Facts about the system: temporary directory, computer name and path delimiters.

#include <cstddef>
#include <string>

namespace brixa {

// The longest computer name the system hands out (a NetBIOS name without its terminator).
inline constexpr std::size_t kMaxComputerNameLength = 15;

// The system's temporary path as the system gives it (Windows: GetTempPathA; POSIX: $TMPDIR,
// else "/tmp"); empty when there is none. Whether it ends in a delimiter is the caller's care.
[[nodiscard]] std::string SystemTempPath();

// SystemTempPath with a path delimiter appended when it lacks one, or empty text when the
// system names none. Read once, on first use, and kept for the life of the process: the
// directory must not move under files a run has already put there.
[[nodiscard]] const std::string& TempDirectory();

// The computer's name cut to kMaxComputerNameLength characters; empty when the call fails.
[[nodiscard]] std::string LocalComputerName();

// The path delimiter of the platform: '\\' on Windows, '/' elsewhere.
[[nodiscard]] char SystemPathDelimiter() noexcept;
// True for a character that separates path parts ('\\' and '/' on Windows, '/' elsewhere).
[[nodiscard]] bool IsSystemPathDelimiter(char ch) noexcept;

}  // namespace brixa
