#pragma once
// The FLTK backend on X11.

#include <memory>

#include "platform/gui/gui_backend.h"

namespace brixa {

// The FLTK backend on $DISPLAY, or null when no display opens.
[[nodiscard]] std::unique_ptr<TGuiBackend> NewFltkGuiBackend();

}  // namespace brixa
