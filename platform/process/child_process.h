#pragma once
// TChildProcess: a started program that its starter may wait for.

#include <cstdint>
#include <optional>

namespace brixa {

// Waits without a limit.
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// A process this one started and keeps a hold on (Windows: its process handle; POSIX: it stays
// a child that is not reaped before Wait). Move-free and copy-free: one owner waits.
class TChildProcess {
 public:
  // Takes over `handle` (the process handle on Windows; unused, 0, on POSIX).
  TChildProcess(std::uint64_t processId, std::intptr_t handle) noexcept
      : processId_(processId), handle_(handle) {}
  // Lets the process run on; on POSIX a child never waited for stays a zombie until this
  // process ends.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  [[nodiscard]] std::uint64_t ProcessId() const noexcept { return processId_; }

  // Waits at most `timeoutMs` for the process to end and returns its exit code; nullopt while
  // it still runs (or when waiting failed). Once it has ended, every call returns the same
  // code. POSIX: a process ended by signal N gives 128 + N, as a shell reports it.
  [[nodiscard]] std::optional<std::uint32_t> Wait(std::uint32_t timeoutMs = kWaitForever);

 private:
  std::uint64_t processId_;
  [[maybe_unused]] std::intptr_t handle_;  // used on Windows only
  std::optional<std::uint32_t> exitCode_;
};

}  // namespace brixa
