#pragma once
// OpenSSL's libcrypto and libssl loaded once per process at run time, and their entry points by
// name.

#include <bit>
#include <string>
#include <utility>
#include <vector>

namespace brixa {

// OpenSSL's two shared libraries, found and loaded at run time; nothing links against OpenSSL.
//
// Whoever needs OpenSSL (the TLS I/O handler, the DES of NTLM, signature checks) declares the
// prototypes it uses and asks here for each entry point by name, so the process holds one copy
// of each library whatever number of users it has.
//
// The libraries are loaded at most once per process, under a process-wide lock, and stay loaded
// until the process ends. A failed search is not remembered: the next LoadOpenSSL searches
// again (a library installed meanwhile is found).
enum class TOpenSSLModule { omCrypto, omSSL };

// Loads libcrypto and libssl of one OpenSSL release (the candidates of OpenSSLLibraryNames, in
// order; a libssl is only taken together with the libcrypto of its own release). True when
// both are loaded, now or before. Thread-safe.
[[nodiscard]] bool LoadOpenSSL();

// Whether LoadOpenSSL has succeeded in this process.
[[nodiscard]] bool OpenSSLLoaded() noexcept;

// The entry point AName of the module, or nullptr when OpenSSL is not loaded or that release
// does not export the name (entry points that newer releases turned into macros, for example).
[[nodiscard]] void* OpenSSLEntryPoint(TOpenSSLModule AModule, const char* AName) noexcept;

template <class Fn>
[[nodiscard]] Fn OpenSSLFunction(TOpenSSLModule AModule, const char* AName) noexcept {
  static_assert(sizeof(Fn) == sizeof(void*));
  return std::bit_cast<Fn>(OpenSSLEntryPoint(AModule, AName));
}

// The files of the loaded pair ("" before a successful load), for diagnostics.
[[nodiscard]] std::string OpenSSLFileName(TOpenSSLModule AModule);

// Why the last LoadOpenSSL failed: the system's text for each file that was tried.
[[nodiscard]] std::string OpenSSLLoadFailure();

// The (libcrypto, libssl) file pairs the platform tries, most wanted first: on Linux the
// OpenSSL 3 sonames, then the 1.1 ones (the system's libraries); on Windows the 3.x and then
// the 1.1 DLLs by full path in the program's own folder, and nowhere else.
[[nodiscard]] std::vector<std::pair<std::string, std::string>> OpenSSLLibraryNames();

}  // namespace brixa
