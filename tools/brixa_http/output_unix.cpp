// POSIX standard output needs no binary mode.

#include "output.h"

namespace brixa::tool {

void PrepareBinaryStdout() {}

}  // namespace brixa::tool
