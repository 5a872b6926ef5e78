#pragma once
// Shared bits of the HTTP client tests that talk to the scripted loopback server.
#include <string>

#include "http/client/http.h"
#include "support/scripted_server.h"

namespace brixa::test {

// Every wait of a test client is bounded: a test that would hang fails with a read timeout.
inline constexpr std::int32_t kTestReadTimeoutMs = 5000;

[[nodiscard]] inline std::string UrlOf(const ScriptedServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

// "Host" value the client sends to the scripted server.
[[nodiscard]] inline std::string HostOf(const ScriptedServer& server) {
  return "127.0.0.1:" + std::to_string(server.Port());
}

// A response with a counted body.
[[nodiscard]] inline std::string Response(const std::string& statusLine, const std::string& body,
                                          const std::string& extraHeaders = {}) {
  return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders +
         "\r\n" + body;
}

// How often `part` occurs in `text`.
[[nodiscard]] inline int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class TestClient : public TIdHTTP {
 public:
  TestClient() { SetReadTimeout(kTestReadTimeoutMs); }
};

// Makes `http` answer a server's challenges inside the request with these credentials.
inline void AnswerChallengesAs(TIdHTTP& http, const std::string& username,
                               const std::string& password) {
  http.SetHTTPOptions({hoInProcessAuth});
  http.Request().SetUsername(username);
  http.Request().SetPassword(password);
}

}  // namespace brixa::test
