// DES from Windows CNG, loaded at run time from the system folder only; NTLM's first choice.

#include <windows.h>

#include <cstring>
#include <mutex>

#include "http/auth/ntlm/auth_ntlm_des.h"

namespace brixa {

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif

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
  int KeyCopies = 1;    // 1 for DES, 3 for triple DES
  bool ZeroIV = false;  // CBC mode: each block is encrypted with a fresh zero IV
};

// The DES provider in ECB mode, opened once for the life of the process; Algorithm stays null
// when the system has no such provider.
const TCngDes& CngDes() {
  static const TCngDes des = [] {
    TCngDes d;
    // Never by its bare name: that would search the program's and the current folder, and PATH,
    // where anyone may have put a "bcrypt.dll".
    HMODULE module = ::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
    // Triple DES with the one key three times over is DES; it serves where the system offers
    // only triple DES (Wine's CNG, for one).
    BCRYPT_HANDLE_ algorithm = nullptr;
    if (open(&algorithm, L"DES", nullptr, 0) >= 0) {
      d.KeyCopies = 1;
    } else if (open(&algorithm, L"3DES", nullptr, 0) >= 0) {
      d.KeyCopies = 3;
    } else {
      return d;
    }
    // One block in CBC mode under a zero IV is that block in ECB mode; Wine offers triple DES
    // in CBC mode only.
    static const wchar_t kEcb[] = L"ChainingModeECB";
    static const wchar_t kCbc[] = L"ChainingModeCBC";
    if (setProperty(algorithm, L"ChainingMode",
                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kEcb)), sizeof kEcb, 0) >= 0) {
      d.ZeroIV = false;
    } else if (setProperty(algorithm, L"ChainingMode",
                           reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kCbc)), sizeof kCbc,
                           0) >= 0) {
      d.ZeroIV = true;
    } else {
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
  UCHAR key[24];
  UCHAR in[8];
  for (int i = 0; i < des.KeyCopies; ++i) std::memcpy(key + 8 * i, key8, 8);
  std::memcpy(in, block, 8);
  BCRYPT_HANDLE_ handle = nullptr;
  if (des.GenerateSymmetricKey(des.Algorithm, &handle, nullptr, 0, key,
                               static_cast<ULONG>(8 * des.KeyCopies), 0) < 0) {
    return false;
  }
  ULONG written = 0;
  UCHAR iv[8] = {};
  const LONG status = des.Encrypt(handle, in, 8, nullptr, des.ZeroIV ? iv : nullptr,
                                  des.ZeroIV ? 8 : 0, out, 8, &written, 0);
  des.DestroyKey(handle);
  return status >= 0 && written == 8;
}

}  // namespace brixa
