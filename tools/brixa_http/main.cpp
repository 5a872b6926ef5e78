// brixa-http: a small command-line HTTP client over TIdHTTP, for people who run an update
// server and for benchmarks. See kHelpText (options.cpp) for the flags and exit codes.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "head_first_stream.h"
#include "http/auth/logon/auth_negotiate.h"
#include "http/client/http.h"
#include "options.h"
#include "output.h"
#include "platform/library/library_search.h"
#include "progress.h"
#include "run_errors.h"
#include "socks_chain.h"
#include "terminal_text.h"
#include "tls_setup.h"
#include "transfer_watch.h"
#include "transport/tls/ssl_backend.h"

namespace brixa::tool {
namespace {

// Bytes asked of the socket per read, and the size of the blocks written out. Loopback bodies
// arrive faster than 32 KiB reads take them: 128 KiB per read costs about a sixth less CPU per
// byte (fewer system calls, less of the kernel's per-call TCP work). Larger reads gained little
// more here and grew the peak memory of a chunked body by half a megabyte.
constexpr std::int32_t kReceiveSize = 128 * 1024;

std::string HeadText(TIdHTTPResponse& response) {
  std::string text = response.StatusLine() + "\r\n";
  for (const std::string& line : response.HeaderLines().Lines()) text += line + "\r\n";
  return text + "\r\n";
}

// Request fields the client writes itself: a -H of that name sets the field, so it is sent
// once with the caller's value.
bool SetKnownField(TIdHTTPRequest& request, const std::string& name, const std::string& value) {
  struct Field {
    const char* name;
    void (TIdRequestHeaderInfo::*set)(std::string);
  };
  static const Field kFields[] = {
      {"Accept", &TIdRequestHeaderInfo::SetAccept},
      {"Accept-Charset", &TIdRequestHeaderInfo::SetAcceptCharSet},
      {"Accept-Encoding", &TIdRequestHeaderInfo::SetAcceptEncoding},
      {"Accept-Language", &TIdRequestHeaderInfo::SetAcceptLanguage},
      {"From", &TIdRequestHeaderInfo::SetFrom},
      {"Referer", &TIdRequestHeaderInfo::SetReferer},
      {"User-Agent", &TIdRequestHeaderInfo::SetUserAgent},
  };
  for (const Field& field : kFields) {
    if (SameTextNoCase(name, field.name)) {
      (request.*field.set)(value);
      return true;
    }
  }
  return false;
}

bool ApplyHeaders(TIdHTTP& http, const Options& o, std::string& error) {
  for (const std::string& header : o.headers) {
    const auto colon = header.find(':');
    if (colon == std::string::npos || colon == 0) {
      error = "-H needs 'Name: value', not '" + header + "'";
      return false;
    }
    const std::string name = Trim(header.substr(0, colon));
    const std::string value = Trim(header.substr(colon + 1));
    if (!SetKnownField(http.Request(), name, value)) {
      http.Request().CustomHeaders().SetHeaderValue(name, value);
    }
  }
  return true;
}

bool ApplyProxy(TIdHTTP& http, const Options& o, std::string& error) {
  if (!o.proxy) return true;
  const auto address = ParseProxy(*o.proxy);
  if (!address) {
    error = "-x needs [http://][user:pass@]host:port, not '" + *o.proxy + "'";
    return false;
  }
  TIdProxyConnectionInfo& proxy = http.ProxyParams();
  proxy.SetProxyServer(address->host);
  proxy.SetProxyPort(address->port);
  std::string user = address->username;
  std::string pass = address->password;
  if (o.proxyUser) {
    const auto colon = o.proxyUser->find(':');
    user = o.proxyUser->substr(0, colon);
    pass = colon == std::string::npos ? "" : o.proxyUser->substr(colon + 1);
  }
  proxy.SetProxyUsername(user);
  proxy.SetProxyPassword(pass);
  http.OnProxyAuthorization = [user, pass](TComponent*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUsername(user);
    auth->StorePassword(pass);
    handled = !user.empty();
  };
  return true;
}

bool Configure(TIdHTTP& http, const Options& o, std::string& error) {
  http.SetHandleRedirects(o.followRedirects);
  // The client stops at the response that reaches its maximum; curl counts the ones followed.
  http.SetRedirectMaximum(o.maxRedirects + 1);
  if (o.http10) http.SetProtocolVersion(pv1_0);
  if (o.connectTimeoutMs > 0) http.SetConnectTimeout(o.connectTimeoutMs);
  if (o.readTimeoutMs > 0) http.SetReadTimeout(o.readTimeoutMs);
  TIdHTTPOptions options = http.HTTPOptions();
  if (o.userPassword) {
    const auto colon = o.userPassword->find(':');
    http.Request().SetUsername(o.userPassword->substr(0, colon));
    http.Request().SetPassword(colon == std::string::npos ? "" : o.userPassword->substr(colon + 1));
    options.Include(hoInProcessAuth);
  }
  // Credentials from -u, the URL or -x answer their server's challenge inside the request, as
  // curl does; without any the 401 ends the request as before.
  options.Include(hoInProcessAuth);
  http.SetHTTPOptions(options);
  http.SetLocationTrusted(o.locationTrusted);
  // A refused answer shows only its status, -f or not: its page is never read.
  http.SetKeepErrorText(false);
  http.SetLogonForServer(o.negotiate);
  http.SetLogonForProxy(o.proxyNegotiate);
  return ApplyHeaders(http, o, error) && ApplyProxy(http, o, error);
}

void PrintExchange(TIdHTTP& http) {
  TIdHTTPRequest& request = http.Request();
  const char* version = http.ProtocolVersion() == pv1_0 ? "1.0" : "1.1";
  std::fprintf(stderr, "> %s %s HTTP/%s\n", TerminalSafe(request.RequestMethod()).c_str(),
               TerminalSafe(request.URL()).c_str(), version);
  for (const std::string& line : request.HeaderLines().Lines()) {
    std::fprintf(stderr, "> %s\n", TerminalSafe(line).c_str());
  }
  std::fprintf(stderr, "< %s\n", TerminalSafe(http.StatusLine()).c_str());
  for (const std::string& line : http.LastResponse().HeaderLines().Lines()) {
    std::fprintf(stderr, "< %s\n", TerminalSafe(line).c_str());
  }
}

// Why the logon did not answer a 401 / 407 that --negotiate / --proxy-negotiate asked it to: the
// system's own words, from the exchange that failed or, when none started (another scheme or
// none was chosen), from the check of each logon scheme the peer offered.
void ReportLogonFailure(TIdHTTP& http, const Options& o) {
  TIdHTTPResponse& response = http.LastResponse();
  const bool server = response.StatusCode() == 401 && o.negotiate;
  if (!server && !(response.StatusCode() == 407 && o.proxyNegotiate)) return;
  TIdProxyConnectionInfo& proxy = http.ProxyParams();
  const TIdAuthentication* scheme = server ? http.Request().AuthScheme() : proxy.AuthScheme();
  std::string why;
  if (const auto* logon = dynamic_cast<const TIdLogonAuthentication*>(scheme)) {
    why = logon->ErrorText();
  } else {
    const std::string user = server ? http.Request().Username() : proxy.ProxyUsername();
    const std::string pass = server ? http.Request().Password() : proxy.ProxyPassword();
    for (const std::string& line :
         (server ? response.WWWAuthenticate() : response.ProxyAuthenticate()).Lines()) {
      const std::string word = line.substr(0, line.find(' '));
      std::string reason;
      if (!LogonSchemeFor(word) || LogonSchemeUsable(word, user, pass, &reason)) continue;
      why += (why.empty() ? "" : "; ") + word + ": " + reason;
    }
  }
  if (why.empty()) return;
  std::fprintf(stderr, "brixa-http: the logon did not answer: %s\n", TerminalSafe(why).c_str());
}

// Final statuses below 400 that the client would raise for end a URL normally: a 304, a 1xx
// that stays final, a 3xx that is not followed. Only 400 and above are failures (exit 22).
TIdIgnoreReplies AcceptedReplies() {
  TIdIgnoreReplies codes;
  for (std::int16_t code = 100; code < 400; ++code) codes.push_back(code);
  return codes;
}

// A 3xx that this run does not follow is the answer, body and all: without -L, or without a
// Location to go to. (A 304 has no body.)
bool ShownRedirect(TIdHTTPResponse& response, const Options& o) {
  const std::int32_t code = response.StatusCode();
  if (code / 100 != 3 || code == 304) return false;
  return !o.followRedirects || response.Location().empty();
}

// Everything one run shares between its URLs and the client's events.
struct RunContext {
  const Options& o;
  TIdHTTP& http;
  HeadFirstStream& out;
  TransferWatch* watch;  // null without --progress, --max-time or --speed-limit
  RunState state;
};

void WireEvents(RunContext& run) {
  const Options& o = run.o;
  run.http.OnStatus = [&run](TComponent*, TIdStatus status, const std::string& text) {
    if (status == hsConnecting || status == hsResolving) {
      run.state.connected = false;
      if (run.watch != nullptr) {
        run.watch->SetConnecting(true);
        const std::int32_t left = run.watch->ConnectTimeLeftMs();
        const std::int32_t own = run.o.connectTimeoutMs;
        if (left > 0) run.http.SetConnectTimeout(own > 0 && own < left ? own : left);
      }
    } else if (status == hsConnected) {
      run.state.connected = true;
      if (run.watch != nullptr) run.watch->SetConnecting(false);
    }
    if (run.o.verbose) std::fprintf(stderr, "* %s\n", TerminalSafe(text).c_str());
  };
  run.http.OnHeadersAvailable = [&run, &o](TComponent*, TIdHeaderList&, bool& proceed) {
    proceed = true;
    run.state.headersSeen = true;
    TIdHTTPResponse& response = run.http.LastResponse();
    if (o.verbose) PrintExchange(run.http);
    if (o.includeHead && !o.head) run.out.WriteHead(HeadText(response));
    if (run.watch != nullptr) run.watch->ExpectBody(response.ContentLength());
    if (!o.head && ShownRedirect(response, o)) {
      run.http.ReadResponseBody(response, -1, true);
      proceed = false;  // read here; the client closes the connection after it
    }
  };
}

// Fetches one URL into the output; the head goes first when asked for.
void Fetch(RunContext& run, const std::string& url) {
  const Options& o = run.o;
  if (o.head) {
    run.http.Head(url);
    run.out.WriteHead(HeadText(run.http.LastResponse()));
    run.out.FlushHead();
    return;
  }
  static const TIdIgnoreReplies kAccepted = AcceptedReplies();
  try {
    run.http.Get(url, &run.out, kAccepted);
  } catch (...) {
    // The failed answer's head is shown on standard output; a file keeps what it had.
    if (o.outputFile.empty()) run.out.FlushHead();
    throw;
  }
  run.out.FlushHead();
}

int FetchAll(RunContext& run, LazyFileStream* file) {
  for (const std::string& url : run.o.urls) {
    run.state.headersSeen = false;
    run.state.https = SameTextNoCase(url.substr(0, 6), "https:");
    if (run.watch != nullptr) run.watch->StartTransfer();
    Fetch(run, url);
    // A limit that passed while the client ended the transfer quietly still fails it.
    if (run.watch != nullptr) {
      run.watch->Check();
      run.watch->EndTransfer();
    }
    if (run.o.followRedirects && !run.http.LastResponse().Location().empty() &&
        run.http.LastResponse().StatusCode() / 100 == 3) {
      return ReportRedirectLimit(run.http);
    }
    if (file != nullptr) file->Open();  // a successful empty body still makes the file
  }
  if (file != nullptr) file->Close();
  return kExitOk;
}

int Run(const Options& o) {
  SocksChain socks;  // outlives the TLS handler, which borrows its first proxy
  // Every run can meet https (a redirect may lead there), so the TLS handler is always in
  // place; it runs TLS only for https targets.
  const auto backend =
      o.tlsBackend.empty() ? DefaultTlsBackend() : TlsBackendFromName(o.tlsBackend).value();
  const std::unique_ptr<TIdSSLIOHandlerSocketBase> handler = NewTlsIOHandler(backend);
  TIdSSLIOHandlerSocketBase& tls = *handler;
  tls.SetRecvBufferSize(kReceiveSize);
  ConfigureTls(tls, o);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  std::string error;
  if (!socks.Build(o.socks, error)) {
    std::fprintf(stderr, "brixa-http: %s\n", TerminalSafe(error).c_str());
    return kExitUsage;
  }
  socks.Attach(tls);
  if (!Configure(http, o, error)) {
    std::fprintf(stderr, "brixa-http: %s\n", TerminalSafe(error).c_str());
    return kExitUsage;
  }
  std::unique_ptr<LazyFileStream> file;
  if (!o.outputFile.empty()) file = std::make_unique<LazyFileStream>(o.outputFile);
  StdioStream console(stdout);
  HeadFirstStream out(file ? static_cast<TStream&>(*file) : console);
  std::unique_ptr<TransferWatch> watch;
  if (o.progress || o.maxTimeMs > 0 || o.speedLimit > 0) {
    watch = std::make_unique<TransferWatch>(
        TransferLimits{o.maxTimeMs, o.speedLimit, o.speedTimeMs}, o.progress);
    watch->Attach(http, [&http]() -> std::int64_t {
      return http.IOHandler() != nullptr ? http.IOHandler()->InBuffer().Size() : 0;
    });
  }
  RunContext run{o, http, out, watch.get(), {}};
  WireEvents(run);
  int code = kExitOk;
  try {
    code = FetchAll(run, file.get());
  } catch (const Exception& e) {
    if (watch) watch->EndTransfer();
    code = ReportFailure(e, run.state);
    ReportLogonFailure(http, o);
  } catch (const std::exception& e) {
    if (watch) watch->EndTransfer();
    std::fprintf(stderr, "std::exception: %s\n", TerminalSafe(e.what()).c_str());
    code = kExitOther;
  }
  std::fflush(stdout);
  return code;
}

}  // namespace
}  // namespace brixa::tool

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  using namespace brixa::tool;
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "brixa-http: %s (try --help)\n", error.c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(kHelpText, stdout);
    return kExitOk;
  }
  PrepareBinaryStdout();
  return Run(*options);
}
