// Standard output switched to binary mode, so CR LF translation never touches a body.

#include <fcntl.h>
#include <io.h>

#include "output.h"

namespace brixa::tool {

void PrepareBinaryStdout() {
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace brixa::tool
