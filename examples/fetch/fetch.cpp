// fetch URL FILE: downloads URL into FILE, showing the bytes received so far.
#include <cstdio>

#include "http/http.h"
#include "platform/stream.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fetch URL FILE\n");
    return 2;
  }
  brixa::TIdHTTP http;
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
