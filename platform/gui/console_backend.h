#pragma once
// The console backend, for when there is no display: progress bars and message boxes printed.

#include <cstdio>
#include <memory>

#include "platform/gui/gui_backend.h"

namespace brixa {

// The console stand-in: the progress bar and message boxes are printed to `out`.
[[nodiscard]] std::unique_ptr<TGuiBackend> NewConsoleGuiBackend(std::FILE* out = stderr);

}  // namespace brixa
