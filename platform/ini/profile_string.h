#pragma once
// ReadProfileString: one value from an INI file, by the rules of the platform's profile reader.

#include <cstddef>
#include <string>

namespace brixa {

// Reads `key` of `section` from the INI file `fileName` the way the platform's 8-bit
// private-profile-string function does into a buffer of `size` bytes:
//   - a byte-order mark selects UTF-8 or UTF-16 (either byte order); UTF-16 text comes back in
//     the system's 8-bit encoding; without a mark the bytes are taken as they are;
//   - lines end in LF; a file without LF is split at CRs;
//   - section and key names match case-insensitively (ASCII), blanks around a line, a key and
//     a value ignored; a section name is what stands between '[' and the first ']';
//   - the first section of that name counts, and in it the first line naming the key: when
//     that line has no '=', the key counts as missing;
//   - the value loses one pair of matching surrounding quotes ('...' or "...") and is cut to
//     size - 1 bytes ("" for size 0);
//   - when the file, the section or the key is missing, the result is `defaultValue` with its
//     trailing spaces removed, copied the same way.
// Windows calls GetPrivateProfileStringA; other systems use an own reader with these rules.
[[nodiscard]] std::string ReadProfileString(const std::string& section, const std::string& key,
                                            const std::string& defaultValue, std::size_t size,
                                            const std::string& fileName);

}  // namespace brixa
