#include <windows.h>

#include <cstring>
#include <mutex>

#include "http/auth_ntlm_des_platform.h"

namespace brixa {

namespace {

// CNG, loaded at run time like every other system library this program uses beyond kernel32.
using BCRYPT_HANDLE_ = void*;
using TOpenAlgorithmProvider = LONG(WINAPI*)(BCRYPT_HANDLE_*, LPCWSTR, LPCWSTR, ULONG);
using TSetProperty = LONG(WINAPI*)(BCRYPT_HANDLE_, LPCWSTR, PUCHAR, ULONG, ULONG);
using TGenerateSymmetricKey = LONG(WINAPI*)(BCRYPT_HANDLE_, BCRYPT_HANDLE_*, PUCHAR, ULONG, PUCHAR,
                                            ULONG, ULONG);
using TEncrypt = LONG(WINAPI*)(BCRYPT_HANDLE_, PUCHAR, ULONG, void*, PUCHAR, ULONG, PUCHAR, ULONG,
                               ULONG*, ULONG);
using TDestroyKey = LONG(WINAPI*)(BCRYPT_HANDLE_);

struct TCngDes {
  BCRYPT_HANDLE_ Algorithm = nullptr;
  TGenerateSymmetricKey GenerateSymmetricKey = nullptr;
  TEncrypt Encrypt = nullptr;
  TDestroyKey DestroyKey = nullptr;
};

// The DES provider in ECB mode, opened once for the life of the process; Algorithm stays null
// when the system has no such provider.
const TCngDes& CngDes() {
  static const TCngDes des = [] {
    TCngDes d;
    HMODULE module = LoadLibraryW(L"bcrypt.dll");
    if (module == nullptr) return d;
    auto open = reinterpret_cast<TOpenAlgorithmProvider>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptOpenAlgorithmProvider")));
    auto setProperty = reinterpret_cast<TSetProperty>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptSetProperty")));
    d.GenerateSymmetricKey = reinterpret_cast<TGenerateSymmetricKey>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptGenerateSymmetricKey")));
    d.Encrypt = reinterpret_cast<TEncrypt>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptEncrypt")));
    d.DestroyKey = reinterpret_cast<TDestroyKey>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptDestroyKey")));
    if (!open || !setProperty || !d.GenerateSymmetricKey || !d.Encrypt || !d.DestroyKey) return d;
    BCRYPT_HANDLE_ algorithm = nullptr;
    if (open(&algorithm, L"DES", nullptr, 0) < 0) return d;
    static const wchar_t kEcb[] = L"ChainingModeECB";
    if (setProperty(algorithm, L"ChainingMode",
                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kEcb)), sizeof kEcb, 0) < 0) {
      return d;
    }
    d.Algorithm = algorithm;
    return d;
  }();
  return des;
}

}  // namespace

bool PlatformDesAvailable() {
  return CngDes().Algorithm != nullptr;
}

bool PlatformDesEncrypt(const std::uint8_t* key8, const std::uint8_t* block, std::uint8_t* out) {
  const TCngDes& des = CngDes();
  if (des.Algorithm == nullptr) return false;
  UCHAR key[8];
  UCHAR in[8];
  std::memcpy(key, key8, 8);
  std::memcpy(in, block, 8);
  BCRYPT_HANDLE_ handle = nullptr;
  if (des.GenerateSymmetricKey(des.Algorithm, &handle, nullptr, 0, key, 8, 0) < 0) return false;
  ULONG written = 0;
  const LONG status = des.Encrypt(handle, in, 8, nullptr, nullptr, 0, out, 8, &written, 0);
  des.DestroyKey(handle);
  return status >= 0 && written == 8;
}

}  // namespace brixa
