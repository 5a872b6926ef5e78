// Connecting (with a time limit on a connect thread when one applies), the connected test, and
// the raw socket reads and writes.

#include "transport/io/io_handler_stack.h"

#include <algorithm>

#include "runtime/network_exception.h"
#include "runtime/text/ip_text.h"
#include "transport/socket/connect_thread.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

constexpr std::size_t kMaxSendBlock = 0x7FFFFFFF;

}  // namespace

TIdIOHandlerStack::TIdIOHandlerStack(TComponent* owner) : TIdIOHandlerSocket(owner) {}

bool TIdIOHandlerStack::Connected() {
  if (ClosedLocally()) return false;
  try {
    FillInputBuffer(false, 0, false);
  } catch (const EIdSocketError&) {
    // A reset (or any failure of the socket) ends the connection; the test itself never raises.
    MarkPeerClosed();
    DetectClosure(false, false);
  }
  return (SourceIsAvailable() && TIdIOHandler::Connected()) || InBuffer().Size() > 0;
}

void TIdIOHandlerStack::EstablishConnection() {
  TIdIOHandlerSocket::EstablishConnection();
  TIdCustomTransparentProxy* proxy = ActiveTransparentProxy();
  const bool viaProxy = proxy != nullptr && proxy->IsEnabled();
  const std::string host = viaProxy ? proxy->Host() : Host();
  const std::int32_t port = viaProxy ? proxy->Port() : Port();
  const TIdIPVersion version = viaProxy ? proxy->IPVersion() : IPVersion();

  std::string address;
  if ((version == Id_IPv6 && !CanonicalIPv6(host).empty()) ||
      (version == Id_IPv4 && TIdStack::IsIPv4Literal(host))) {
    address = host;
  } else {
    ReportStatus(hsResolving, host);
    address = GStack().ResolveHostAddress(host, version);
  }
  if (port < 0 || port > kMaxPort) throw ERangeError(RSRangeError);
  Binding()->SetPeer(address, static_cast<std::uint16_t>(port), version);
  ReportStatus(hsConnecting, address);
  ConnectBinding();
  if (viaProxy) {
    proxy->ConnectThrough(*this, Host(), static_cast<std::uint16_t>(Port()), IPVersion());
  }
}

void TIdIOHandlerStack::ConnectBinding() {
  if (ConnectTimeout() != 0) {
    ConnectWithTimeout(ConnectTimeout());
  } else if (TIdAntiFreezeBase::AntiFreezeApplies()) {
    ConnectWithTimeout(IdAntiFreezeConnectTimeoutMs);
  } else {
    Binding()->ConnectToRemote();
  }
}

void TIdIOHandlerStack::ConnectWithTimeout(std::int32_t ATimeout) {
  if (ATimeout == TimeoutUseDefault) ATimeout = TimeoutInfinite;
  const bool limited = ATimeout >= 0;
  TIdConnectThread thread(*Binding());
  std::int32_t step = IdConnectWaitStepMs;
  if (TIdAntiFreezeBase::AntiFreezeApplies()) {
    step = std::min(step, TIdAntiFreezeBase::Registered()->IdleTimeOut());
  }
  // Without a limit the remaining time stays above one step, so only the thread ends the loop.
  std::int64_t remaining = limited ? ATimeout : static_cast<std::int64_t>(step) + 1;
  while (step < remaining) {
    // Waking early when the connect ends; otherwise this is the step's sleep.
    if (thread.WaitFinished(step)) {
      remaining = 0;
      break;
    }
    if (limited) remaining -= step;
    TIdAntiFreezeBase::RunAntiFreeze();
  }
  if (remaining > 0) thread.WaitFinished(static_cast<std::int32_t>(remaining));
  if (!thread.Finished()) {
    thread.Terminate();
    // Closing the socket ends the blocked connect.
    CloseHandler();
    thread.WaitFor();
    throw EIdConnectTimeout(RSConnectTimeout);
  }
  thread.WaitFor();
  if (!thread.Failed()) return;
  if (thread.FailureErrorNumber() != 0) {
    throw EIdSocketError(thread.FailureMessage(), thread.FailureErrorNumber());
  }
  throw EIdConnectException(thread.FailureMessage());
}

std::int32_t TIdIOHandlerStack::ReadDataFromSource(std::span<std::uint8_t> ABuffer) {
  return Binding()->Receive(ABuffer.data(), static_cast<int>(ABuffer.size()));
}

std::int32_t TIdIOHandlerStack::WriteDataToTarget(std::span<const std::uint8_t> ABuffer) {
  // One send takes what fits an int; the caller loops over partial sends anyway.
  const auto count = static_cast<int>(std::min<std::size_t>(ABuffer.size(), kMaxSendBlock));
  return GStack().RawSend(Binding()->SocketId(), ABuffer.data(), count, 0);
}

}  // namespace brixa
