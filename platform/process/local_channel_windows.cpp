// The channel as a local named pipe, first instance of its name, open to local interactive users.

#include <windows.h>
// after windows.h, whose declarations it needs
#include <sddl.h>

#include <string>
#include <utility>

#include "platform/core/system_error.h"
#include "platform/process/local_channel.h"
#include "platform/thread/clock.h"

namespace brixa {

namespace {

// The system and administrators in full, interactive users may read and write; nobody else,
// and no one from another machine (PIPE_REJECT_REMOTE_CLIENTS).
constexpr const char* kPipeAccess = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)";
constexpr DWORD kPipeBufferBytes = 512;
constexpr DWORD kWriteTimeoutMs = 2000;
constexpr ULONG kServicesSession = 0;

std::string PipeName(const std::string& folder, const std::string& product) {
  return "\\\\.\\pipe\\" + folder + "-" + product;
}

// Waits up to `timeoutMs` for the overlapped operation on `h`; cancels it when it does not end.
bool Finish(HANDLE h, OVERLAPPED& pending, BOOL started, DWORD timeoutMs, DWORD& done) {
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
  if (::WaitForSingleObject(pending.hEvent, timeoutMs) != WAIT_OBJECT_0) {
    ::CancelIo(h);
    (void)::GetOverlappedResult(h, &pending, &done, TRUE);
    return false;
  }
  return ::GetOverlappedResult(h, &pending, &done, FALSE) != FALSE;
}

class TEvent {
 public:
  TEvent() : h_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TEvent() {
    if (h_ != nullptr) ::CloseHandle(h_);
  }
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  [[nodiscard]] HANDLE Get() const noexcept { return h_; }

 private:
  HANDLE h_;
};

class TPipeConnection final : public TLocalChannelConnection {
 public:
  explicit TPipeConnection(HANDLE h) noexcept : h_(h) {}
  ~TPipeConnection() override { ::CloseHandle(h_); }
  TPipeConnection(const TPipeConnection&) = delete;
  TPipeConnection& operator=(const TPipeConnection&) = delete;

  std::string ReadLine(std::size_t maxBytes, std::uint32_t timeoutMs) override {
    std::string line;
    const std::uint64_t end = MonotonicMilliseconds() + timeoutMs;
    TEvent event;
    while (line.size() < maxBytes && (line.empty() || line.back() != '\n')) {
      const std::uint64_t now = MonotonicMilliseconds();
      if (now >= end || event.Get() == nullptr) break;
      OVERLAPPED pending{};
      pending.hEvent = event.Get();
      char c = 0;  // one byte at a time: nothing past the line's end is taken
      DWORD got = 0;
      const BOOL started = ::ReadFile(h_, &c, 1, &got, &pending);
      if (!Finish(h_, pending, started, static_cast<DWORD>(end - now), got) || got != 1) break;
      line += c;
    }
    return line;
  }
  bool Write(std::string_view bytes) override {
    TEvent event;
    if (event.Get() == nullptr) return false;
    OVERLAPPED pending{};
    pending.hEvent = event.Get();
    DWORD put = 0;
    const BOOL started =
        ::WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &put, &pending);
    return Finish(h_, pending, started, kWriteTimeoutMs, put) && put == bytes.size();
  }
  std::optional<std::uint32_t> PeerUser() const override { return std::nullopt; }

 private:
  HANDLE h_;
};

class TPipeServer final : public TLocalChannelServer {
 public:
  TPipeServer(std::string name, PSECURITY_DESCRIPTOR access, HANDLE listening) noexcept
      : name_(std::move(name)), access_(access), listening_(listening) {}
  ~TPipeServer() override {
    if (listening_ != INVALID_HANDLE_VALUE) ::CloseHandle(listening_);
    ::LocalFree(access_);
  }
  TPipeServer(const TPipeServer&) = delete;
  TPipeServer& operator=(const TPipeServer&) = delete;

  // Made with the server's access list; `first` claims the name.
  [[nodiscard]] static HANDLE NewInstance(const std::string& name, PSECURITY_DESCRIPTOR access,
                                          bool first) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, access, FALSE};
    return ::CreateNamedPipeA(
        name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, &attributes);
  }

  std::unique_ptr<TLocalChannelConnection> Accept(std::uint32_t timeoutMs) override {
    TEvent event;
    if (event.Get() == nullptr) return nullptr;
    OVERLAPPED pending{};
    pending.hEvent = event.Get();
    DWORD unused = 0;
    const BOOL started = ::ConnectNamedPipe(listening_, &pending);
    const bool connected = (!started && ::GetLastError() == ERROR_PIPE_CONNECTED) ||
                           Finish(listening_, pending, started, timeoutMs, unused);
    if (!connected) return nullptr;
    // The next instance exists before this one is handed over: the name is never free.
    const HANDLE next = NewInstance(name_, access_, false);
    if (next == INVALID_HANDLE_VALUE) {
      (void)::DisconnectNamedPipe(listening_);
      return nullptr;
    }
    auto connection = std::make_unique<TPipeConnection>(listening_);
    listening_ = next;
    return connection;
  }

 private:
  std::string name_;
  PSECURITY_DESCRIPTOR access_;
  HANDLE listening_;
};

}  // namespace

std::unique_ptr<TLocalChannelServer> TLocalChannelServer::Listen(const std::string& folder,
                                                                 const std::string& product,
                                                                 std::string& error) {
  PSECURITY_DESCRIPTOR access = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kPipeAccess, SDDL_REVISION_1, &access,
                                                              nullptr)) {
    error = "the pipe's access list: " + SystemErrorText(::GetLastError());
    return nullptr;
  }
  const std::string name = PipeName(folder, product);
  const HANDLE first = TPipeServer::NewInstance(name, access, true);
  if (first == INVALID_HANDLE_VALUE) {
    error = name + ": " + SystemErrorText(::GetLastError());
    ::LocalFree(access);
    return nullptr;
  }
  return std::make_unique<TPipeServer>(name, access, first);
}

std::unique_ptr<TLocalChannelConnection> ConnectLocalChannel(const std::string& folder,
                                                             const std::string& product,
                                                             std::uint32_t timeoutMs,
                                                             std::string& error) {
  const std::string name = PipeName(folder, product);
  if (!::WaitNamedPipeA(name.c_str(), timeoutMs)) {
    error = name + ": no update service listens here";
    return nullptr;
  }
  // Identification only: the server may learn who asks, never act as them.
  const HANDLE h = ::CreateFileA(
      name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = name + ": " + SystemErrorText(::GetLastError());
    return nullptr;
  }
  auto connection = std::make_unique<TPipeConnection>(h);
  // Services run in session 0, and each logged-on user in a session of their own: a pipe of
  // that name served from another session was taken by another user, not by the service.
  ULONG session = 0;
  DWORD own = 0;
  if (!::GetNamedPipeServerSessionId(h, &session) ||
      !::ProcessIdToSessionId(::GetCurrentProcessId(), &own) ||
      (session != kServicesSession && session != own)) {
    error = name + ": served from session " + std::to_string(session) + ", not by a service";
    return nullptr;
  }
  return connection;
}

}  // namespace brixa
