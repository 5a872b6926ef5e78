// A DLL that only tells that it was loaded: on attaching to a process it writes
// "<its own path>.loaded" beside itself. Planted under the names of the libraries a program
// might load, in the folders a careless search would look in; any marker afterwards means the
// program loaded a file it should never have found. Only kernel32 calls: it must load wherever
// it is copied, with nothing of its own beside it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8] = {};
  const DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  ::lstrcatA(path, ".loaded");
  HANDLE marker =
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(marker, "loaded\n", 7, &written, nullptr);
    ::CloseHandle(marker);
  }
  // Refused, so the program that loaded it gets an error and never calls into it.
  return FALSE;
}
