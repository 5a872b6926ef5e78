// The default backend on Windows: its own windows, which need no display to be found.

#include "platform/gui/gui_backend.h"
#include "platform/gui/win32_backend_windows.h"

namespace brixa {

std::unique_ptr<TGuiBackend> NewDefaultGuiBackend() {
  return NewWin32GuiBackend();
}

}  // namespace brixa
