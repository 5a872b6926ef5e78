#pragma once
// Helpers of the socket tests: a stack use, a loopback listener and a connected pair.

#include <memory>
#include <string>

#include "runtime/stack_usage.h"
#include "transport/socket/socket_handle.h"
#include "transport/socket/stack.h"

namespace brixa::testing {

// Holds a use of the process-wide stack while a test runs.
struct StackUse {
  StackUse() { AcquireStack(); }
  ~StackUse() { ReleaseStack(); }
  StackUse(const StackUse&) = delete;
  StackUse& operator=(const StackUse&) = delete;
};

// A listening socket on an ephemeral loopback port.
inline std::unique_ptr<TIdSocketHandle> LoopbackListener(TIdIPVersion version = Id_IPv4) {
  auto listener = std::make_unique<TIdSocketHandle>();
  listener->SetIPVersion(version);
  listener->OpenHandle();
  listener->SetIP(version == Id_IPv4 ? "127.0.0.1" : "::1");
  listener->BindLocal();
  listener->Listen(8);
  return listener;
}

// A connected client / server pair over loopback, made with the socket handle's own calls.
struct LoopbackPair {
  explicit LoopbackPair(TIdIPVersion version = Id_IPv4) : listener(LoopbackListener(version)) {
    client.SetIPVersion(version);
    client.OpenHandle();
    client.SetPeer(listener->IP(), listener->Port(), version);
    client.ConnectToRemote();
    server.Accept(listener->SocketId());
  }

  // Sends all of `text` from one handle (small amounts go in one send on loopback).
  static void SendText(TIdSocketHandle& from, const std::string& text) {
    const TIdByteArray bytes(text.begin(), text.end());
    int offset = 0;
    while (offset < static_cast<int>(bytes.size())) offset += from.Send(bytes, -1, offset);
  }

  std::unique_ptr<TIdSocketHandle> listener;
  TIdSocketHandle client;
  TIdSocketHandle server;
};

}  // namespace brixa::testing
