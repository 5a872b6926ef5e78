// brixa-http: a small command-line HTTP client over TIdHTTP, for people who run an update
// server and for benchmarks. See kHelpText (options.cpp) for the flags and exit codes.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "head_first_stream.h"
#include "http/http.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "run_errors.h"
#include "tls_setup.h"
#include "transport/ssl_openssl.h"

namespace brixa::tool {
namespace {

// Redirect codes a run without -L takes as the answer instead of an error, as curl does.
const TIdIgnoreReplies kRedirectCodes{301, 302, 303, 307, 308};

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
  proxy.SetProxyUsername(address->username);
  proxy.SetProxyPassword(address->password);
  http.OnProxyAuthorization = [user = address->username, pass = address->password](
                                  TComponent*, TIdAuthentication* auth, bool& handled) {
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
  if (o.proxy) options.Include(hoInProcessAuth);
  http.SetHTTPOptions(options);
  return ApplyHeaders(http, o, error) && ApplyProxy(http, o, error);
}

void PrintExchange(TIdHTTP& http) {
  TIdHTTPRequest& request = http.Request();
  const char* version = http.ProtocolVersion() == pv1_0 ? "1.0" : "1.1";
  std::fprintf(stderr, "> %s %s HTTP/%s\n", request.RequestMethod().c_str(), request.URL().c_str(),
               version);
  for (const std::string& line : request.HeaderLines().Lines()) {
    std::fprintf(stderr, "> %s\n", line.c_str());
  }
  std::fprintf(stderr, "< %s\n", http.StatusLine().c_str());
  for (const std::string& line : http.LastResponse().HeaderLines().Lines()) {
    std::fprintf(stderr, "< %s\n", line.c_str());
  }
}

// Fetches one URL into `out`; the head goes first when asked for.
void Fetch(TIdHTTP& http, const Options& o, const std::string& url, HeadFirstStream& out) {
  if (o.head) {
    http.Head(url);
    out.WriteHead(HeadText(http.LastResponse()));
    out.FlushHead();
    return;
  }
  const TIdIgnoreReplies ignore = o.followRedirects ? TIdIgnoreReplies{} : kRedirectCodes;
  try {
    http.Get(url, &out, ignore);
  } catch (...) {
    out.FlushHead();
    throw;
  }
  out.FlushHead();
}

int Run(const Options& o) {
  // Every run can meet https (a redirect may lead there), so the TLS handler is always in
  // place; it runs TLS only for https targets.
  TIdSSLIOHandlerSocketOpenSSL tls;
  ConfigureTls(tls, o);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  std::string error;
  if (!Configure(http, o, error)) {
    std::fprintf(stderr, "brixa-http: %s\n", error.c_str());
    return kExitUsage;
  }
  std::unique_ptr<TStream> file;
  StdioStream console(stdout);
  RunState state;
  try {
    if (!o.outputFile.empty()) file = std::make_unique<TFileStream>(o.outputFile, fmCreate);
    HeadFirstStream out(file ? *file : static_cast<TStream&>(console));
    ProgressBar progress;
    if (o.progress) progress.Attach(http);
    http.OnHeadersAvailable = [&](TComponent*, TIdHeaderList&, bool& proceed) {
      proceed = true;
      state.headersSeen = true;
      if (o.verbose) PrintExchange(http);
      if (o.includeHead && !o.head) out.WriteHead(HeadText(http.LastResponse()));
    };
    if (o.verbose) {
      http.OnStatus = [](TComponent*, TIdStatus, const std::string& text) {
        std::fprintf(stderr, "* %s\n", text.c_str());
      };
    }
    for (const std::string& url : o.urls) {
      state.headersSeen = false;
      Fetch(http, o, url, out);
      if (o.followRedirects && !http.LastResponse().Location().empty()) {
        return ReportRedirectLimit(http);
      }
    }
  } catch (const Exception& e) {
    return ReportFailure(e, state);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "std::exception: %s\n", e.what());
    return kExitOther;
  }
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace
}  // namespace brixa::tool

int main(int argc, char** argv) {
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
