// The search for a libcrypto and libssl of one release, kept under a process-wide lock.

#include "platform/library/openssl_library.h"

#include <atomic>
#include <mutex>

#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {

struct LoadedPair {
  TDynamicLibrary crypto;
  TDynamicLibrary ssl;
  std::string cryptoName;
  std::string sslName;
};

std::mutex gLoadLock;
LoadedPair gPair;  // written once, under gLoadLock, before gLoaded is set
std::atomic<bool> gLoaded{false};
std::string gLastFailure;  // guarded by gLoadLock

// libcrypto first: libssl resolves its own imports from it, and a loader that picks the file
// by name would otherwise be free to find another release's libcrypto.
bool TryPair(const std::string& cryptoName, const std::string& sslName, std::string& failure) {
  LoadedPair pair;
  if (!pair.crypto.Load(cryptoName)) {
    failure += cryptoName + ": " + pair.crypto.ErrorText() + "\n";
    return false;
  }
  if (!pair.ssl.Load(sslName)) {
    failure += sslName + ": " + pair.ssl.ErrorText() + "\n";
    return false;
  }
  pair.cryptoName = cryptoName;
  pair.sslName = sslName;
  gPair = std::move(pair);
  return true;
}

}  // namespace

bool LoadOpenSSL() {
  if (gLoaded.load(std::memory_order_acquire)) return true;
  std::lock_guard guard(gLoadLock);
  if (gLoaded.load(std::memory_order_relaxed)) return true;
  std::string failure;
  for (const auto& [cryptoName, sslName] : OpenSSLLibraryNames()) {
    if (TryPair(cryptoName, sslName, failure)) {
      gLastFailure.clear();
      gLoaded.store(true, std::memory_order_release);
      return true;
    }
  }
  if (!failure.empty() && failure.back() == '\n') failure.pop_back();
  gLastFailure = failure;
  return false;
}

bool OpenSSLLoaded() noexcept {
  return gLoaded.load(std::memory_order_acquire);
}

void* OpenSSLEntryPoint(TOpenSSLModule AModule, const char* AName) noexcept {
  if (!gLoaded.load(std::memory_order_acquire)) return nullptr;
  return (AModule == TOpenSSLModule::omCrypto ? gPair.crypto : gPair.ssl).Symbol(AName);
}

std::string OpenSSLFileName(TOpenSSLModule AModule) {
  if (!OpenSSLLoaded()) return {};
  return AModule == TOpenSSLModule::omCrypto ? gPair.cryptoName : gPair.sslName;
}

std::string OpenSSLLoadFailure() {
  std::lock_guard guard(gLoadLock);
  return gLastFailure;
}

}  // namespace brixa
