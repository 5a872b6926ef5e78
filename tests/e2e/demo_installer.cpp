// A stand-in for a product's installer. The updater downloads it as brixaupdatetemp.exe beside
// itself and starts it with no arguments; it writes "installer_ran.txt" beside itself with what
// it was started as, so a test can tell that, how and from where it ran.
#include <cstdio>
#include <string>

#include "platform/library_search.h"
#include "platform/module_path.h"

int main(int argc, char** /*argv*/) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  const std::string self = brixa::ModuleFileName(4096);
  const std::string marker = brixa::ExtractFilePath(self) + "installer_ran.txt";
  std::FILE* out = std::fopen(marker.c_str(), "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "file=%s\narguments=%d\n", self.c_str(), argc - 1);
  std::fclose(out);
  return 0;
}
