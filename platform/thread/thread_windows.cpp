// Thread names for debuggers (the naming exception and the thread description) and Win32 thread
// priorities.

#include <pthread.h>
#include <windows.h>

#include <string>

#include "platform/system/wide_text_windows.h"
#include "platform/thread/thread.h"

namespace brixa {

namespace {

// The exception code through which a debugger learns a thread's name, and the record kind.
constexpr DWORD kThreadNameException = 0x406D1388;
constexpr DWORD kThreadNameRecordKind = 0x1000;

// The record a debugger reads from the exception's arguments. On x64 it spans three argument
// words (the name pointer is 8-byte aligned); a debugger reads the layout, not a count.
struct ThreadNameRecord {
  DWORD kind;
  LPCSTR name;
  DWORD threadId;  // -1: the calling thread
  DWORD flags;
};

LONG CALLBACK IgnoreThreadNameException(PEXCEPTION_POINTERS info) {
  return info->ExceptionRecord->ExceptionCode == kThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                      : EXCEPTION_CONTINUE_SEARCH;
}

// Raises the thread-name exception. An attached debugger sees it first and continues; without
// one the vectored handler lets execution continue, so nothing else ever sees it.
void RaiseThreadNameException(const std::string& name) {
  PVOID handler = ::AddVectoredExceptionHandler(1, IgnoreThreadNameException);
  if (handler == nullptr) return;  // without the handler the exception would end the process
  ThreadNameRecord record{};
  record.kind = kThreadNameRecordKind;
  record.name = name.c_str();
  record.threadId = static_cast<DWORD>(-1);
  record.flags = 0;
  ::RaiseException(kThreadNameException, 0, sizeof(record) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&record));
  ::RemoveVectoredExceptionHandler(handler);
}

// Windows 10 1607 and later (and Wine) keep a thread description that debuggers and crash
// dumps show; older systems lack the entry point.
void SetDescription(const std::string& name) {
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  FARPROC proc = ::GetProcAddress(kernel, "SetThreadDescription");
  if (proc == nullptr) return;
  const auto setDescription =
      reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void (*)()>(proc));
  (void)setDescription(::GetCurrentThread(), WideFromUtf8(name).c_str());
}

HANDLE NativeHandle(std::thread& thread) {
  return static_cast<HANDLE>(::pthread_gethandle(thread.native_handle()));
}

int WindowsPriority(TThreadPriority priority) {
  switch (priority) {
    case tpIdle:
      return THREAD_PRIORITY_IDLE;
    case tpLowest:
      return THREAD_PRIORITY_LOWEST;
    case tpLower:
      return THREAD_PRIORITY_BELOW_NORMAL;
    case tpNormal:
      return THREAD_PRIORITY_NORMAL;
    case tpHigher:
      return THREAD_PRIORITY_ABOVE_NORMAL;
    case tpHighest:
      return THREAD_PRIORITY_HIGHEST;
    case tpTimeCritical:
      return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

// Nearest level for a value the OS reports (other priority classes use values in between).
TThreadPriority FromWindowsPriority(int value) {
  if (value <= THREAD_PRIORITY_IDLE) return tpIdle;
  if (value >= THREAD_PRIORITY_TIME_CRITICAL) return tpTimeCritical;
  if (value <= THREAD_PRIORITY_LOWEST) return tpLowest;
  if (value >= THREAD_PRIORITY_HIGHEST) return tpHighest;
  if (value == THREAD_PRIORITY_BELOW_NORMAL) return tpLower;
  if (value == THREAD_PRIORITY_ABOVE_NORMAL) return tpHigher;
  return tpNormal;
}

}  // namespace

namespace detail {

void ApplyThreadPriority(std::thread& thread, std::uint64_t /*osThreadId*/,
                         TThreadPriority priority) {
  HANDLE handle = NativeHandle(thread);
  if (handle != nullptr) (void)::SetThreadPriority(handle, WindowsPriority(priority));
}

TThreadPriority ReadThreadPriority(std::thread& thread, std::uint64_t /*osThreadId*/,
                                   TThreadPriority requested) {
  HANDLE handle = NativeHandle(thread);
  if (handle == nullptr) return requested;
  const int value = ::GetThreadPriority(handle);
  if (value == THREAD_PRIORITY_ERROR_RETURN) return requested;
  return FromWindowsPriority(value);
}

}  // namespace detail

void AnnounceThreadName(const std::string& name) {
  SetDescription(name);
  RaiseThreadNameException(name);
}

}  // namespace brixa
