// A stand-in for a product's installer. The updater downloads it as brixaupdatetemp.exe beside
// itself and starts it; it writes "installer_ran.txt" beside itself with what it was started as
// and each argument it was given ("argument<N>=<text>" lines), so a test can tell that, how,
// from where and with which arguments it ran, and exits with the number of its arguments. The
// marker appears whole (written under another name, then renamed), so a test never reads half
// of it.
#include <cstdio>
#include <string>

#include "platform/files/module_path.h"
#include "platform/library/library_search.h"

namespace {

constexpr int kFailed = 255;

}  // namespace

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  const std::string self = brixa::ModuleFileName(4096);
  const std::string marker = brixa::ExtractFilePath(self) + "installer_ran.txt";
  const std::string partial = marker + ".part";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (out == nullptr) return kFailed;
  std::fprintf(out, "file=%s\narguments=%d\n", self.c_str(), argc - 1);
  for (int i = 1; i < argc; ++i) std::fprintf(out, "argument%d=%s\n", i, argv[i]);
  std::fclose(out);
  // The marker of an earlier run goes first: on Windows a rename does not replace a file.
  (void)std::remove(marker.c_str());
  return std::rename(partial.c_str(), marker.c_str()) == 0 ? argc - 1 : kFailed;
}
