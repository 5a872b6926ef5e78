// The guard does nothing on Windows, which has no SIGPIPE.

#include "platform/system/sigpipe_guard.h"

namespace brixa {

TSigPipeGuard::TSigPipeGuard() noexcept = default;
TSigPipeGuard::~TSigPipeGuard() = default;

}  // namespace brixa
