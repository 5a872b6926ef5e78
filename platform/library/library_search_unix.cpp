// The POSIX dynamic loader searches its configured folders (never the current one, unless
// the user's own LD_LIBRARY_PATH names it) for a bare name: nothing to restrict.

#include "platform/library/library_search.h"

namespace brixa {

bool HardenLibrarySearch() noexcept {
  return true;
}

}  // namespace brixa
