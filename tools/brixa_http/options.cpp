// Parsing brixa-http's arguments the way curl reads the same flags, and the help text.

#include "options.h"

#include <charconv>
#include <cmath>
#include <string>

#include "runtime/text/text.h"

namespace brixa::tool {
namespace {

bool ParseInt(const std::string& text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

// -x with a socks4://, socks4a://, socks5:// or socks5h:// URL goes to the SOCKS chain.
bool TakeSocksUrl(Options& o, const std::string& value) {
  static const struct {
    const char* scheme;
    SocksKind kind;
  } kSchemes[] = {{"socks4://", SocksKind::v4},
                  {"socks4a://", SocksKind::v4a},
                  {"socks5://", SocksKind::v5},
                  {"socks5h://", SocksKind::v5h}};
  for (const auto& scheme : kSchemes) {
    const std::size_t length = std::char_traits<char>::length(scheme.scheme);
    if (value.size() >= length && SameTextNoCase(value.substr(0, length), scheme.scheme)) {
      o.socks.push_back({scheme.kind, value.substr(length), "-x"});
      return true;
    }
  }
  return false;
}

bool TakeSocksFlag(Options& o, const std::string& flag, const std::string& value) {
  static const struct {
    const char* flag;
    SocksKind kind;
  } kFlags[] = {{"--socks4", SocksKind::v4},
                {"--socks4a", SocksKind::v4a},
                {"--socks5", SocksKind::v5},
                {"--socks5-hostname", SocksKind::v5h}};
  for (const auto& known : kFlags) {
    if (flag == known.flag) {
      o.socks.push_back({known.kind, value, flag});
      return true;
    }
  }
  return false;
}

bool ParseInt64(const std::string& text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

// Seconds as curl takes them ("2", "0.5"), in milliseconds; at most about 24 days.
bool ParseSeconds(const std::string& text, std::int64_t& milliseconds) {
  constexpr double kMaxSeconds = 2000000.0;
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, seconds);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(seconds) ||
      seconds < 0 || seconds > kMaxSeconds) {
    return false;
  }
  milliseconds = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
  return true;
}

// curl's pairing: a speed limit alone is watched over 30 seconds, a speed time alone means
// less than one byte a second.
constexpr std::int64_t kDefaultSpeedTimeMs = 30000;
constexpr std::int64_t kDefaultSpeedLimit = 1;

// Options that take a value, with the field it goes to.
bool TakeValue(Options& o, const std::string& flag, const std::string& value, std::string& error) {
  auto number = [&](std::int32_t& field) {
    if (ParseInt(value, field) && field >= 0) return true;
    error = flag + " needs a number of 0 or more, not '" + value + "'";
    return false;
  };
  if (flag == "-o")
    o.outputFile = value;
  else if (flag == "-H")
    o.headers.push_back(value);
  else if (flag == "-u")
    o.userPassword = value;
  else if (flag == "-x" && !TakeSocksUrl(o, value))
    o.proxy = value;
  else if (flag == "--cacert")
    o.caCertFile = value;
  else if (flag == "--capath")
    o.caPath = value;
  else if (flag == "--tls-backend") {
    if (value != "openssl" && value != "system") {
      error = flag + " is openssl or system, not '" + value + "'";
      return false;
    }
    o.tlsBackend = value;
  } else if (flag == "-U" || flag == "--proxy-user")
    o.proxyUser = value;
  else if (TakeSocksFlag(o, flag, value))
    return true;
  else if (flag == "--max-redirs")
    return number(o.maxRedirects);
  else if (flag == "--connect-timeout")
    return number(o.connectTimeoutMs);
  else if (flag == "--read-timeout")
    return number(o.readTimeoutMs);
  else if (flag == "--max-time" || flag == "-m" || flag == "--speed-time") {
    std::int64_t& field = flag == "--speed-time" ? o.speedTimeMs : o.maxTimeMs;
    if (ParseSeconds(value, field)) return true;
    error = flag + " needs seconds (such as 2 or 0.5), not '" + value + "'";
    return false;
  } else if (flag == "--speed-limit") {
    if (ParseInt64(value, o.speedLimit) && o.speedLimit >= 0) return true;
    error = flag + " needs bytes per second, not '" + value + "'";
    return false;
  }
  return true;
}

bool TakesValue(const std::string& flag) {
  return flag == "-o" || flag == "-H" || flag == "-u" || flag == "-x" || flag == "-U" ||
         flag == "--proxy-user" || flag == "--max-redirs" || flag == "--connect-timeout" ||
         flag == "--read-timeout" || flag == "--max-time" || flag == "-m" ||
         flag == "--speed-limit" || flag == "--speed-time" || flag == "--socks4" ||
         flag == "--socks4a" || flag == "--socks5" || flag == "--socks5-hostname" ||
         flag == "--cacert" || flag == "--capath" || flag == "--tls-backend";
}

bool TakeSwitch(Options& o, const std::string& flag) {
  if (flag == "-I" || flag == "--head")
    o.head = true;
  else if (flag == "-i" || flag == "--include")
    o.includeHead = true;
  else if (flag == "-L" || flag == "--location")
    o.followRedirects = true;
  else if (flag == "--location-trusted")
    o.followRedirects = o.locationTrusted = true;
  else if (flag == "-f" || flag == "--fail")
    return true;  // asks for what every run does: a status of 400 or more fails it
  else if (flag == "-k" || flag == "--insecure")
    o.insecure = true;
  else if (flag == "--http1.0")
    o.http10 = true;
  else if (flag == "--negotiate")
    o.negotiate = true;
  else if (flag == "--proxy-negotiate")
    o.proxyNegotiate = true;
  else if (flag == "-v" || flag == "--verbose")
    o.verbose = true;
  else if (flag == "--progress")
    o.progress = true;
  else if (flag == "-h" || flag == "--help")
    o.help = true;
  else
    return false;
  return true;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (TakesValue(arg)) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return std::nullopt;
      }
      if (!TakeValue(o, arg, args[++i], error)) return std::nullopt;
    } else if (TakeSwitch(o, arg)) {
      continue;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return std::nullopt;
    } else {
      o.urls.push_back(arg);
    }
  }
  if (o.speedLimit > 0 && o.speedTimeMs == 0) o.speedTimeMs = kDefaultSpeedTimeMs;
  if (o.speedTimeMs > 0 && o.speedLimit == 0) o.speedLimit = kDefaultSpeedLimit;
  if (!o.help && o.urls.empty()) {
    error = "no URL given";
    return std::nullopt;
  }
  return o;
}

std::optional<ProxyAddress> ParseProxy(const std::string& text) {
  std::string rest = text;
  if (rest.rfind("http://", 0) == 0) rest = rest.substr(7);
  ProxyAddress address;
  if (const auto at = rest.rfind('@'); at != std::string::npos) {
    const std::string user = rest.substr(0, at);
    rest = rest.substr(at + 1);
    const auto colon = user.find(':');
    address.username = user.substr(0, colon);
    if (colon != std::string::npos) address.password = user.substr(colon + 1);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const auto colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  address.host = rest.substr(0, colon);
  if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  if (!ParseInt(rest.substr(colon + 1), address.port) || address.port <= 0 ||
      address.port > 65535) {
    return std::nullopt;
  }
  return address;
}

const char* const kHelpText = R"(Usage: brixa-http [options] URL...

Fetches each URL in order over one HTTP/1.x client (a kept-alive connection is reused) and
writes every body to one output. https is verified against the system's trusted CAs unless
--cacert, --capath or -k say otherwise; -x tunnels https through the proxy with CONNECT.

Options:
  -I, --head             HEAD request; print the status line and headers instead of a body
  -i, --include          print the status line and headers before each body
  -f, --fail             what every run does anyway (accepted for curl's command lines): a
                         final status of 400 or more fails the run (exit 22) with its status
                         line on standard error; the error page is not read (at most 64 KiB
                         of it, to keep the connection)
  -o FILE                write the output to FILE (default: standard output). FILE is created
                         or truncated only when the first body byte of a successful answer
                         arrives, so an HTTP error leaves an existing FILE untouched; a device
                         or pipe (/dev/null, /dev/stdout) works too
  -L, --location         follow redirects; credentials (-u, URL user:password, -H
                         'Authorization:' and 'Cookie:') stay with the first host and port
      --location-trusted follow redirects and send the credentials to every host (use only
                         when every server on the way is trusted)
      --max-redirs N     redirect responses per URL at which following stops (default 50)
  -H 'Name: value'       send a header (replaces the client's own header of that name)
  -u USER:PASS           credentials for a server's 401 challenge (Basic or Digest)
  -x [http://][user:pass@]host:port
                         use an HTTP proxy; its 407 challenge (Basic, Digest or NTLM) is
                         answered with user:pass
  -U, --proxy-user USER:PASS
                         the proxy's credentials (over those of -x); DOMAIN\user for NTLM
      --negotiate        answer a server's Negotiate challenge with your own logon: the
                         Kerberos ticket cache (GSS-API) on Linux; on Windows the logged-on
                         user through SSPI, which answers NTLM challenges too. With -u
                         USER:PASS, Windows uses those credentials instead; -u : (or no -u)
                         means the logon. Preferred over every other scheme when usable
      --proxy-negotiate  the same for the proxy's challenge (-U USER:PASS or -U :)
  -x socks4://, socks4a://, socks5://, socks5h://[user:pass@]host:port
                         the same as the SOCKS options below
      --socks4 HOST:PORT     SOCKS 4 proxy (the target is resolved here)
      --socks4a HOST:PORT    SOCKS 4a proxy (the target's name goes to the proxy)
      --socks5 [USER:PASS@]HOST:PORT
                         SOCKS 5 proxy (the target is resolved here)
      --socks5-hostname [USER:PASS@]HOST:PORT
                         SOCKS 5 proxy (the target's name goes to the proxy)
                         SOCKS proxies given more than once form a chain in the order given;
                         an HTTP proxy (-x http://) is then reached through that chain
      --cacert FILE      trust the CA certificates in FILE (PEM) for https
      --capath DIR       trust the CA certificates in DIR (hashed names) for https
                         (either of the two replaces the system's trusted CAs)
  -k, --insecure         https without checking the server's certificate or name
      --tls-backend openssl|system
                         the TLS implementation for https: OpenSSL (its libraries beside
                         the program on Windows) or the system's (Schannel and the Windows
                         trust store; OpenSSL with the system's CAs elsewhere). Default:
                         system on Windows, openssl elsewhere
      --http1.0          speak HTTP/1.0 (keep-alive asked for with "Connection: keep-alive")
      --connect-timeout MS   give up connecting after MS milliseconds (0: no limit)
      --read-timeout MS      give up when no byte arrives for MS milliseconds
  -m, --max-time SECS    give up on a URL (its redirects included) after SECS seconds
      --speed-limit BYTES    give up when fewer than BYTES a second arrive for --speed-time
      --speed-time SECS      (default 30 with --speed-limit; --speed-limit 1 when alone)
  -v, --verbose          status events, the TLS session (version, cipher, certificate) and
                         both heads of every exchange on standard error
      --progress         a meter on standard error while bodies arrive (at most ten
                         redraws a second): percent, bytes, rate, time left
  -h, --help             this text

Text from the server shown on standard error (status lines, -v headers, error messages) has
every byte outside printable ASCII written as \xHH.

Exit codes (curl's numbers where the meaning is the same):
  0   success: a final status below 400 (a 304, or a 3xx not followed, writes what body it
      has and succeeds)
  1   unsupported protocol (a scheme other than http or https), or any other failure
  2   usage error
  3   malformed URL
  6   host not found
  7   could not connect
  8   the reply is not HTTP
  18  body shorter than its Content-Length announced
  22  the server answered with a final status of 400 or more
  23  the output could not be written
  28  timeout (connect, read, --max-time or --speed-limit)
  35  the TLS handshake failed (also when the server reset the connection during it)
  47  -L reached --max-redirs
  52  the server closed the connection without answering
  56  broken framing, or the connection failed (reset, or TLS ended without close_notify)
      while receiving, or an HTTP proxy refused the CONNECT tunnel (any answer but 2xx)
  60  the server's certificate or host name did not check out
  77  the CA file or folder (--cacert, --capath) could not be read
  97  a SOCKS proxy refused or failed

On failure the error is printed on standard error as the exception's class and message.
)";

}  // namespace brixa::tool
