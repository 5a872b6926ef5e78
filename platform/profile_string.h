#pragma once

#include <cstddef>
#include <string>

namespace brixa {

// Reads `key` of `section` from the INI file `fileName` the way the platform's 8-bit
// private-profile-string function does into a buffer of `size` bytes:
//   - section and key names match case-insensitively (ASCII), blanks around them ignored;
//   - the value is the text after the first '=', blanks around it removed, and one pair of
//     matching surrounding quotes ('...' or "...") removed;
//   - the first section of that name and the first such key in it count; a key line without
//     '=' has an empty value;
//   - the result is cut to size - 1 bytes ("" for size 0);
//   - when the file, the section or the key is missing, the result is `defaultValue` with its
//     trailing blanks removed (and cut the same way).
// Windows calls GetPrivateProfileStringA; other systems use an own reader with these rules
// (lines end in LF or CR LF; a UTF-8 byte-order mark at the start is skipped).
[[nodiscard]] std::string ReadProfileString(const std::string& section, const std::string& key,
                                            const std::string& defaultValue, std::size_t size,
                                            const std::string& fileName);

}  // namespace brixa
