#include "options.h"

#include <charconv>

namespace brixa::tool {
namespace {

bool ParseInt(const std::string& text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
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
  else if (flag == "-x")
    o.proxy = value;
  else if (flag == "--cacert")
    o.caCertFile = value;
  else if (flag == "--capath")
    o.caPath = value;
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
         flag == "--cacert" || flag == "--capath" || flag == "--connect-timeout" ||
         flag == "--read-timeout";
}

bool TakeSwitch(Options& o, const std::string& flag) {
  if (flag == "-I" || flag == "--head")
    o.head = true;
  else if (flag == "-i" || flag == "--include")
    o.includeHead = true;
  else if (flag == "-L" || flag == "--location")
    o.followRedirects = true;
  else if (flag == "-k" || flag == "--insecure")
    o.insecure = true;
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
writes every body to one output. https is verified against the system's trusted CAs unless
--cacert, --capath or -k say otherwise; -x tunnels https through the proxy with CONNECT.

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
      --cacert FILE      trust the CA certificates in FILE (PEM) for https
      --capath DIR       trust the CA certificates in DIR (hashed names) for https
  -k, --insecure         https without checking the server's certificate or name
      --http1.0          speak HTTP/1.0 (keep-alive asked for with "Connection: keep-alive")
      --connect-timeout MS   give up connecting after MS milliseconds (0: no limit)
      --read-timeout MS      give up when no byte arrives for MS milliseconds
  -v, --verbose          status events, the TLS session and both heads of every exchange
                         on standard error
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
  35  TLS handshake failed
  47  -L reached --max-redirs
  56  the TLS stream broke after the head (a close without close_notify, say)
  60  the server's certificate or name did not check out
  77  the CA file or folder could not be read

On failure the error is printed on standard error as the exception's class and message.
)";

}  // namespace brixa::tool
