#pragma once
// The MD5 message digest, used by the Digest scheme.

#include <cstddef>
#include <cstdint>

#include "runtime/hash/hash_md4.h"

namespace brixa {

// The MD5 message digest (RFC 1321): the MD4 frame, initial state and output with MD5's four
// rounds. Used by the Digest scheme.
class TIdHashMessageDigest5 : public TIdHashMessageDigest4 {
 protected:
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t count) override;
};

}  // namespace brixa
