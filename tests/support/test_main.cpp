// One main for every test binary: the main thread is the thread that runs the tests, which the
// main-thread checks of the runtime rely on.

#include <gtest/gtest.h>

#include "platform/library/library_search.h"

int main(int argc, char** argv) {
  brixa::HardenLibrarySearch();  // before anything can load a library
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
