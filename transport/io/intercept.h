#pragma once
// TIdConnectionIntercept: a chainable hook that sees, and may change, every block a connection
// sends or receives.

#include <functional>
#include <string>

#include "runtime/network_exception.h"
#include "runtime/text/bytes.h"
#include "runtime/work_component.h"

namespace brixa {

BRIXA_DECLARE_ID_EXCEPTION(EIdInterceptCircularLink, EIdException);

inline constexpr const char* RSInterceptCircularLink = ": Circular links are not allowed";

class TIdConnectionIntercept;

using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
// The handler may replace the block (resize it, or assign a new one).
using TIdInterceptStreamEvent =
    std::function<void(TIdConnectionIntercept* ASender, TIdByteArray& ABuffer)>;

// A hook that sees every block of bytes a connection sends or receives, and may change it.
//
// Intercepts chain through Intercept(): incoming blocks pass the chain from its far end inwards
// (the next intercept first, then this one), outgoing blocks from the near end outwards (this
// one first). A connection and its I/O handler share one intercept.
class TIdConnectionIntercept : public TIdComponent {
 public:
  explicit TIdConnectionIntercept(TComponent* owner = nullptr);
  ~TIdConnectionIntercept() override;

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

  // The connection is open: remember it, fire OnConnect, pass on down the chain.
  virtual void Connect(TComponent* AConnection);
  // The connection ends: the next intercept first, then OnDisconnect, then forget it.
  virtual void Disconnect();
  virtual void Receive(TIdByteArray& VBuffer);
  virtual void Send(TIdByteArray& VBuffer);

  [[nodiscard]] TIdConnectionIntercept* Intercept() const noexcept { return next_; }
  // Raises EIdInterceptCircularLink "<class name>: Circular links are not allowed" when the new
  // chain would lead back to this intercept.
  void SetIntercept(TIdConnectionIntercept* AValue);

  // The connection served while connected, else null.
  [[nodiscard]] TComponent* Connection() const noexcept { return connection_; }
  [[nodiscard]] bool IsClient() const noexcept { return isClient_; }

  // The class name used in messages; descendants report their own.
  [[nodiscard]] virtual const char* ClassName() const noexcept { return "TIdConnectionIntercept"; }

 protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;

 private:
  TIdConnectionIntercept* next_ = nullptr;
  TComponent* connection_ = nullptr;
  bool isClient_ = true;
};

}  // namespace brixa
