#pragma once
// TIdTCPConnection: the base of every client connection, holding one I/O handler and its
// intercept.

#include <memory>

#include "runtime/work_component.h"
#include "transport/io/intercept.h"
#include "transport/io/io_handler.h"
#include "transport/io/io_handler_socket.h"
#include "transport/io/tcp_reply.h"

namespace brixa {

inline constexpr const char* RSInterceptIsDifferent =
    "The IOHandler already has a different Intercept assigned";

// The base of every client connection: it holds one I/O handler, borrowed or its own, and
// delegates all reading and writing to it.
//
// The handler's work reports surface as this connection's work events (the connection is the
// handler's WorkDelegate while attached). A handler the connection made itself
// (ManagedIOHandler()) is freed by it: when another handler is set, when a connect fails, and
// when the connection is destroyed; a handler given by the caller is never freed.
class TIdTCPConnection : public TIdComponent {
 public:
  explicit TIdTCPConnection(TComponent* owner = nullptr);
  ~TIdTCPConnection() override;

  [[nodiscard]] TIdIOHandler* IOHandler() const noexcept { return ioHandler_; }
  // Attaches a borrowed handler (null detaches). Raises "The IOHandler already has a different
  // Intercept assigned" when both carry different intercepts. A managed handler being replaced
  // is freed.
  virtual void SetIOHandler(TIdIOHandler* AValue);
  // The handler's intercept when a handler is attached, else the connection's own.
  [[nodiscard]] virtual TIdConnectionIntercept* Intercept() const noexcept;
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  [[nodiscard]] bool ManagedIOHandler() const noexcept { return managedIOHandler_ != nullptr; }
  // The attached handler when it is a socket handler, else null.
  [[nodiscard]] TIdIOHandlerSocket* SocketHandler() const noexcept { return socketHandler_; }

  TNotifyEvent OnDisconnected;

  // False without a handler; otherwise the handler's answer (true while unread bytes remain,
  // even after the peer closed).
  [[nodiscard]] virtual bool IsConnected();
  // Runs NotifyPeerBeforeClose when `ANotifyPeer` and connected, then, if the handler is open,
  // reports "Disconnecting.", closes it, fires OnDisconnected and reports "Disconnected.". A
  // failure of NotifyPeerBeforeClose is raised after the close.
  virtual void CloseConnection(bool ANotifyPeer = true);
  // Protocols send their closing command here.
  virtual void NotifyPeerBeforeClose() {}
  // Raises EIdNotConnected "Not Connected" without a handler.
  void CheckConnectionOpen() const;
  // With a handler, DetectClosure (raising when asked, not ignoring buffered bytes); without,
  // EIdException "Not Connected" when asked to raise.
  virtual void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);

  // Replies of line-based command protocols.
  [[nodiscard]] TIdReplyRFC& Greeting() noexcept { return *greeting_; }
  [[nodiscard]] TIdReplyRFC& LastCmdResult() noexcept { return *lastCmdResult_; }
  // Reads one reply into LastCmdResult() and returns its code.
  std::int16_t GetResponse();
  // Reads one reply; raises its error unless the code is one of AAllowedResponses (an empty
  // list allows every code).
  std::int16_t GetResponse(std::initializer_list<std::int16_t> AAllowedResponses);
  // Writes the command as one line, then GetResponse.
  std::int16_t SendCmd(const std::string& AOut,
                       std::initializer_list<std::int16_t> AAllowedResponses = {});
  // Raises LastCmdResult() as EIdReplyRFCError.
  [[noreturn]] void RaiseExceptionForLastCmdResult();

  // The same checks with the code compared as text, for protocols whose codes are words or
  // must match digit for digit ("250" is not "0250"). An empty expected code allows every reply.
  // Raises LastCmdResult()'s error when `AResponse` differs from `AAllowedResponse`.
  virtual void CheckResponseText(const std::string& AResponse, const std::string& AAllowedResponse);
  // Reads one reply into LastCmdResult(), checks its code as text and returns that code.
  std::string GetResponseText(const std::string& AAllowedResponse);
  // Writes the command as one line, then GetResponseText.
  std::string SendCmdText(const std::string& AOut, const std::string& AAllowedResponse);

 protected:
  // Fires OnDisconnected; protocols extend it.
  virtual void DoOnDisconnected();
  // May rewrite a command before it is sent.
  virtual void PrepareCmd(std::string& /*VCommand*/) {}
  void Notification(TComponent* AComponent, TOperation AOperation) override;
  // Sets `AHandler` as IOHandler and marks it managed (owned by this connection).
  void AdoptManagedIOHandler(std::unique_ptr<TIdIOHandler> AHandler);

 private:
  void DetachIOHandler();
  // Reads one reply (all its lines) into LastCmdResult().
  void ReadReply();
  void CloseOpenHandler();

  TIdIOHandler* ioHandler_ = nullptr;
  std::unique_ptr<TIdIOHandler> managedIOHandler_;
  TIdIOHandlerSocket* socketHandler_ = nullptr;
  TIdConnectionIntercept* intercept_ = nullptr;
  std::unique_ptr<TIdReplyRFC> greeting_;
  std::unique_ptr<TIdReplyRFC> lastCmdResult_;
};

}  // namespace brixa
