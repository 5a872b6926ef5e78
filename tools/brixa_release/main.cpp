// brixa-release: keygen, sign, resign and verify a release (see brixa-release --help).
#include <iostream>
#include <string>
#include <vector>

#include "platform/library/library_search.h"
#include "release_tool.h"

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return brixa::release::RunReleaseTool(arguments, std::cout, std::cerr);
}
