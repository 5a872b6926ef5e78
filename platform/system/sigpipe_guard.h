#pragma once
// TSigPipeGuard: SIGPIPE blocked on the calling thread while a library writes to a socket.

namespace brixa {

// Keeps a write to a socket the peer has closed from ending the process with SIGPIPE, for
// libraries (OpenSSL) that write to sockets without asking the system not to signal. For its
// lifetime the calling thread blocks SIGPIPE; a SIGPIPE raised meanwhile is taken off the
// thread's pending set before the old mask returns, and the write reports EPIPE as usual.
// Does nothing on Windows, which has no such signal.
class TSigPipeGuard {
 public:
  TSigPipeGuard() noexcept;
  ~TSigPipeGuard();
  TSigPipeGuard(const TSigPipeGuard&) = delete;
  TSigPipeGuard& operator=(const TSigPipeGuard&) = delete;

 private:
  bool active_ = false;
  bool wasPending_ = false;
  unsigned char oldMask_[128] = {};  // room for the platform's signal set
};

}  // namespace brixa
