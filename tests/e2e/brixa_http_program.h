#pragma once
// Running the built brixa-http program from a test.

#include <string>
#include <vector>

#include "support/peers/peer_process.h"

namespace brixa::test {

// How long one run of a program may take before it is killed.
inline constexpr int kRunTimeoutMs = 30000;

// Runs brixa-http with `args` to its end (or the time limit).
inline ProgramResult BrixaHttp(const std::vector<std::string>& args) {
  return RunProgram(BuildTreePath("tools/brixa_http/brixa-http" + ExecutableSuffix()), args,
                    kRunTimeoutMs);
}

}  // namespace brixa::test
