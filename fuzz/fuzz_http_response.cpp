// The HTTP client reading arbitrary bytes as the answer to a GET (redirects followed, so that
// several responses can follow each other on one connection). Any input must end in a result
// or an EIdException, never a crash, a hang or a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/support/memory_io_handler.h"
#include "http/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the read size, so line and chunk boundaries fall everywhere.
  const std::size_t readSize = (data[0] % 17) + 1;
  brixa::test::MemoryIOHandler io(std::string(reinterpret_cast<const char*>(data + 1), size - 1),
                                  readSize);
  brixa::TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetHandleRedirects(true);
  http.SetHTTPOptions({brixa::hoInProcessAuth});
  http.Request().SetUsername("user");
  http.Request().SetPassword("password");
  brixa::TMemoryStream body;
  try {
    http.Get("http://peer.invalid/start", &body);
  } catch (const brixa::EIdException&) {
  }
  http.SetIOHandler(nullptr);
  return 0;
}
