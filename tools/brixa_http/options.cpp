#include "options.h"

#include <charconv>
#include <string>

#include "runtime/text.h"

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
  else if (TakeSocksFlag(o, flag, value))
    return true;
  else if (flag == "--max-redirs")
    return number(o.maxRedirects);
  else if (flag == "--connect-timeout")
    return number(o.connectTimeoutMs);
  else if (flag == "--read-timeout")
    return number(o.readTimeoutMs);
  return true;
}

bool TakesValue(const std::string& flag) {
  return flag == "-o" || flag == "-H" || flag == "-u" || flag == "-x" || flag == "--max-redirs" ||
         flag == "--connect-timeout" || flag == "--read-timeout" || flag == "--socks4" ||
         flag == "--socks4a" || flag == "--socks5" || flag == "--socks5-hostname";
}

bool TakeSwitch(Options& o, const std::string& flag) {
  if (flag == "-I" || flag == "--head")
    o.head = true;
  else if (flag == "-i" || flag == "--include")
    o.includeHead = true;
  else if (flag == "-L" || flag == "--location")
    o.followRedirects = true;
  else if (flag == "--http1.0")
    o.http10 = true;
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
writes every body to one output.

Options:
  -I, --head             HEAD request; print the status line and headers instead of a body
  -i, --include          print the status line and headers before each body
  -o FILE                write the output to FILE (default: standard output)
  -L, --location         follow redirects
      --max-redirs N     redirect responses per URL at which following stops (default 50)
  -H 'Name: value'       send a header (replaces the client's own header of that name)
  -u USER:PASS           credentials for a server's 401 challenge (Basic or Digest)
  -x [http://][user:pass@]host:port
                         use an HTTP proxy; its 407 challenge is answered with user:pass
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
      --http1.0          speak HTTP/1.0 (keep-alive asked for with "Connection: keep-alive")
      --connect-timeout MS   give up connecting after MS milliseconds (0: no limit)
      --read-timeout MS      give up when no byte arrives for MS milliseconds
  -v, --verbose          status events and both heads of every exchange on standard error
      --progress         a progress bar on standard error while bodies arrive
  -h, --help             this text

Exit codes:
  0   success
  1   any other failure
  2   usage error
  6   host not found
  7   could not connect
  18  body shorter than its Content-Length announced
  22  the server answered with an error status (4xx, 5xx, or a status not accepted)
  28  timeout (connect or read)
  47  -L reached --max-redirs
  97  a SOCKS proxy refused or failed

On failure the error is printed on standard error as the exception's class and message.
)";

}  // namespace brixa::tool
