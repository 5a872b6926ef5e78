// The default backend on X11 systems: FLTK on a display that opens, else the console.

#include "platform/gui/console_backend.h"
#include "platform/gui/fltk_backend_unix.h"
#include "platform/gui/gui_backend.h"

namespace brixa {

std::unique_ptr<TGuiBackend> NewDefaultGuiBackend() {
  if (auto fltk = NewFltkGuiBackend()) return fltk;
  return NewConsoleGuiBackend();
}

}  // namespace brixa
