// The connect thread: runs the connect, records its failure, and signals when it is done.

#include "transport/socket/connect_thread.h"

#include <chrono>

#include "transport/socket/stack_consts.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

TIdConnectThread::TIdConnectThread(TIdSocketHandle& ABinding)
    : binding_(ABinding), thread_([this] { Run(); }) {}

TIdConnectThread::~TIdConnectThread() {
  WaitFor();
}

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

bool TIdConnectThread::WaitFinished(std::int32_t AMilliseconds) {
  std::unique_lock lock(mutex_);
  return finishedChanged_.wait_for(lock, std::chrono::milliseconds(AMilliseconds),
                                   [this] { return finished_.load(); });
}

void TIdConnectThread::Run() {
  try {
    binding_.ConnectToRemote();
  } catch (const EIdSocketError& e) {
    // 10038 / 10009: the socket was closed under the connect because the caller gave up.
    if (e.LastError() != Id_WSAENOTSOCK && e.LastError() != Id_WSAEBADF) {
      failed_ = true;
      message_ = e.Message();
      errorNumber_ = e.LastError();
    }
  } catch (const Exception& e) {
    failed_ = true;
    message_ = e.Message();
  } catch (const std::exception& e) {
    failed_ = true;
    message_ = e.what();
  }
  {
    std::lock_guard guard(mutex_);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

}  // namespace brixa
