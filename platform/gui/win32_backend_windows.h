#pragma once
// The Win32 backend: native windows with a common-controls progress bar.

#include <memory>

#include "platform/gui/gui_backend.h"

namespace brixa {

[[nodiscard]] std::unique_ptr<TGuiBackend> NewWin32GuiBackend();

}  // namespace brixa
