// A program bound to bcrypt.dll by a plain import, as the updater once was: started beside a
// planted bcrypt.dll (and with Wine told to prefer files beside the program, as Windows does for
// every library that is not a known DLL), it loads the planted file. The planting test runs it
// first, so that a planted file the updater leaves alone means something.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

int main() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 1;
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return 0;
}
