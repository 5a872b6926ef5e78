#pragma once

#include <string>

namespace brixa {

// The system's temporary directory, ending in a path delimiter, or empty text when the system
// names none. Read once, on first use, and kept for the life of the process.
[[nodiscard]] const std::string& TempDirectory();

// The computer's name, at most 15 characters; empty text when the system cannot tell.
[[nodiscard]] std::string LocalComputerName();

}  // namespace brixa
