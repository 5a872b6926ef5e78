// fetch URL FILE: downloads URL (http or https) into FILE, showing the bytes received so far.
//
// https is verified as the TLS handler does when made: the server's chain against the
// system's trust store, its certificate against the host name. A program that really wants to
// take any certificate says so: tls->SSLOptions().SetVerifyMode({}).
#include <cstdio>
#include <memory>

#include "http/client/http.h"
#include "platform/core/stream.h"
#include "platform/library/library_search.h"
#include "transport/tls/ssl_backend.h"

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  if (argc != 3) {
    std::fprintf(stderr, "usage: fetch URL FILE\n");
    return 2;
  }
  // The platform's TLS: Schannel on Windows, OpenSSL elsewhere. It runs TLS only for https.
  const std::unique_ptr<brixa::TIdSSLIOHandlerSocketBase> tls =
      brixa::NewTlsIOHandler(brixa::DefaultTlsBackend());
  brixa::TIdHTTP http;
  http.SetIOHandler(tls.get());
  http.SetHandleRedirects(true);
  http.OnWork = [](brixa::TComponent*, brixa::TWorkMode mode, std::int64_t received) {
    if (mode == brixa::wmRead)
      std::fprintf(stderr, "\r%lld bytes", static_cast<long long>(received));
  };
  try {
    brixa::TFileStream file(argv[2], brixa::fmCreate);
    http.Get(argv[1], &file);
  } catch (const brixa::Exception& error) {
    std::fprintf(stderr, "\n%s: %s\n", error.ClassName(), error.Message().c_str());
    return 1;
  }
  std::fprintf(stderr, "\n%s\n", http.StatusLine().c_str());
  return 0;
}
