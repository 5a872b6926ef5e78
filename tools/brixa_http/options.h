#pragma once
// brixa-http's command line: the options record, its parser, and the help text.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brixa::tool {

// A SOCKS proxy of the command line: 4 (target resolved here), 4a (name sent), 5 (target
// resolved here) or 5 with the name sent to the proxy.
enum class SocksKind { v4, v4a, v5, v5h };
struct SocksOption {
  SocksKind kind = SocksKind::v5;
  std::string address;  // [user:pass@]host:port
  std::string flag;     // as given, for messages
};

// What the command line asked for.
struct Options {
  bool head = false;             // -I
  bool includeHead = false;      // -i
  bool followRedirects = false;  // -L
  bool locationTrusted = false;  // --location-trusted: -L, and credentials go along
  std::int32_t maxRedirects = 50;
  std::string outputFile;                   // -o; empty: standard output
  std::vector<std::string> headers;         // -H, "Name: value"
  std::optional<std::string> userPassword;  // -u
  std::optional<std::string> proxy;         // -x with an HTTP proxy
  std::optional<std::string> proxyUser;     // -U / --proxy-user, over -x's user:pass
  std::vector<SocksOption> socks;           // --socks*, -x socks*://; a chain in this order
  bool negotiate = false;       // --negotiate: the server's Negotiate answered by the system
  bool proxyNegotiate = false;  // --proxy-negotiate: the same for the proxy
  bool http10 = false;
  std::int32_t connectTimeoutMs = 0;
  std::int32_t readTimeoutMs = -1;
  std::int64_t maxTimeMs = 0;    // --max-time, given in (possibly fractional) seconds
  std::int64_t speedLimit = 0;   // --speed-limit, bytes per second
  std::int64_t speedTimeMs = 0;  // --speed-time, given in seconds
  std::string caCertFile;        // --cacert
  std::string caPath;            // --capath
  bool insecure = false;         // -k
  std::string tlsBackend;        // --tls-backend openssl|system; empty: the platform's default
  bool verbose = false;
  bool progress = false;
  bool help = false;
  std::vector<std::string> urls;
};

// Parses argv[1..]; fills `error` and returns nothing on a usage error.
[[nodiscard]] std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                                  std::string& error);

// A proxy given as [http://][user:pass@]host:port.
struct ProxyAddress {
  std::string host;
  std::int32_t port = 0;
  std::string username;
  std::string password;
};
[[nodiscard]] std::optional<ProxyAddress> ParseProxy(const std::string& text);

extern const char* const kHelpText;

}  // namespace brixa::tool
