#pragma once
// Shared by the transport tests: a client connected to a scripted loopback peer, and a record
// of the work and status events it fires.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/scripted_server.h"
#include "transport/io/tcp_client.h"

namespace brixa::test {

// Every work event as "begin r 100", "work r 30", "end r" ("w" for writes); status events as
// their text.
struct ConnectionEventLog {
  std::vector<std::string> work;
  std::vector<std::string> status;

  void Attach(TIdComponent& component) {
    component.OnWorkBegin = [this](TComponent*, TWorkMode mode, std::int64_t max) {
      work.push_back("begin " + Mode(mode) + " " + std::to_string(max));
    };
    component.OnWork = [this](TComponent*, TWorkMode mode, std::int64_t count) {
      work.push_back("work " + Mode(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TComponent*, TWorkMode mode) {
      work.push_back("end " + Mode(mode));
    };
    component.OnStatus = [this](TComponent*, TIdStatus, const std::string& text) {
      status.push_back(text);
    };
  }

  static std::string Mode(TWorkMode mode) { return mode == wmRead ? "r" : "w"; }
};

// A TIdTCPClient aimed at `server`, connected, with its events recorded in `log`.
inline std::unique_ptr<TIdTCPClient> ConnectedClient(const ScriptedServer& server,
                                                     ConnectionEventLog* log = nullptr) {
  auto client = std::make_unique<TIdTCPClient>();
  if (log != nullptr) log->Attach(*client);
  client->SetHost(server.Host());
  client->SetPort(server.Port());
  // A test must never wait for ever on a peer that misbehaves.
  client->SetReadTimeout(5000);
  client->ConnectToHost();
  return client;
}

}  // namespace brixa::test
