// The signature fetch, bounded in memory, and the checks over bytes or a held launchable file.

#include "app/update_signature.h"

#include <array>

#include "http/http.h"
#include "platform/process_launch.h"
#include "platform/signature.h"
#include "platform/stream.h"

namespace brixa {

namespace {

constexpr std::int32_t kFirstSuccessStatus = 200;
constexpr std::int32_t kLastSuccessStatus = 299;
constexpr std::size_t kReadBlock = 64 * 1024;

// A memory stream that refuses to grow past `limit` bytes, so a hostile server cannot fill
// memory with what should be a few dozen bytes.
class TBoundedMemoryStream : public TMemoryStream {
 public:
  explicit TBoundedMemoryStream(std::int64_t limit) : limit_(limit) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (Position() + count > limit_) throw EUpdateSignatureError("the signature file is too large");
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(std::int64_t size) override {
    if (size > limit_) throw EUpdateSignatureError("the signature file is too large");
    TMemoryStream::SetSize(size);
  }

 private:
  std::int64_t limit_;
};

}  // namespace

std::string FetchSignature(TIdHTTP& http, const std::string& url) {
  TBoundedMemoryStream body(kMaxSignatureBytes);
  http.Get(url, &body);
  const std::int32_t status = http.LastResponse().StatusCode();
  if (status < kFirstSuccessStatus || status > kLastSuccessStatus) {
    throw EUpdateSignatureError("no signature at " + url);
  }
  return body.DataString();
}

bool SignatureMatches(std::string_view publicKeyPem, std::string_view bytes,
                      std::string_view signature) noexcept {
  try {
    TSignatureVerifier verifier(publicKeyPem);
    verifier.Update(bytes.data(), bytes.size());
    return verifier.Verify(signature);
  } catch (...) {
    return false;
  }
}

bool SignatureMatches(std::string_view publicKeyPem, TLaunchableFile& file,
                      std::string_view signature) noexcept {
  try {
    TSignatureVerifier verifier(publicKeyPem);
    std::array<char, kReadBlock> block{};
    for (;;) {
      const std::int64_t got = file.Read(block.data(), block.size());
      if (got < 0) return false;
      if (got == 0) break;
      verifier.Update(block.data(), static_cast<std::size_t>(got));
    }
    return verifier.Verify(signature);
  } catch (...) {
    return false;
  }
}

}  // namespace brixa
