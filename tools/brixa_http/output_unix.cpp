#include "output.h"

namespace brixa::tool {

void PrepareBinaryStdout() {}

}  // namespace brixa::tool
