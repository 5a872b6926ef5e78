// The publisher pin over program files signed by osslsigncode with two test certificates
// (tests/support/make_code_signing_fixtures.sh): the system's verdict on the very handle that
// is started (Windows), and the signer read from the file's own bytes (every platform).
#include "update/delivery/publisher_check.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/crypto/code_signature.h"
#include "platform/process/process_launch.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update/delivery/pe_certificate.h"
#include "update/manifest/installer_keys.h"
#include "update/update_errors.h"

namespace brixa {
namespace {

std::string Fixture(const std::string& name) {
  return test::BuildTreePath("test-code-signing/" + name);
}

// The fingerprint openssl printed for a test certificate; "" when the fixtures are missing.
std::string OpensslFingerprint(const char* publisher) {
  const std::string text = test::ReadFileText(Fixture(std::string(publisher) + ".fingerprint"));
  return ParsePublisherFingerprint(text.substr(0, text.find('\n'))).value_or("");
}

#define BRIXA_FIXTURES_OR_SKIP(a, b)                                                         \
  const std::string a = OpensslFingerprint("publisher-a");                                   \
  const std::string b = OpensslFingerprint("publisher-b");                                   \
  if (a.empty() || b.empty()) {                                                              \
    GTEST_SKIP() << "no signed fixtures: needs osslsigncode and gcc-mingw-w64-x86-64-posix"; \
  }

TEST(PublisherCheckTest, OnlyAnInstallerSignedByAListedPublisherIsStarted) {
  BRIXA_FIXTURES_OR_SKIP(a, b);
  const struct {
    const char* what;
    const char* file;
    std::vector<std::string> publishers;
    std::string signer;  // read from the bytes, unverified; "" none
    std::string found;   // what a refusal names, "" accepted (Windows)
  } cases[] = {
      // clang-format off
      {"unsigned installer",      "unsigned.exe", {a},    "", "found no signature (0x800B0100)"},
      {"tampered after signing",  "tampered.exe", {a},    a,  "found a signature that does not verify (0x80096010)"},
      {"another publisher",       "signed-b.exe", {a},    b,  "found " + b},
      {"the listed publisher",    "signed-a.exe", {a},    a,  ""},
      {"rotation, old signer",    "signed-a.exe", {b, a}, a,  ""},
      {"rotation, new signer",    "signed-b.exe", {a, b}, b,  ""},
      {"no Publisher= key",       "unsigned.exe", {},     "", ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Fixture(c.file);
    EXPECT_EQ(PeSignerFingerprint(test::ReadFileText(path)).value_or(""), c.signer);
    unsigned long error = 0;
    const auto file = TLaunchableFile::Open(path, error);
    ASSERT_NE(file, nullptr) << error;
    std::string note;
    std::string refusal;
    try {
      note = VerifyInstallerPublisher(*file, c.publishers);
    } catch (const EUpdateIntegrityError& refused) {
      refusal = refused.Message();
    }
    if (c.publishers.empty()) {
      EXPECT_EQ(note + refusal, "") << "nothing checked";
      continue;
    }
#ifdef _WIN32
    if (c.found.empty()) {
      EXPECT_EQ(refusal, "");
      EXPECT_EQ(note, "publisher " + c.signer);
    } else {
      std::string expected = "installer publisher: expected " + c.publishers[0];
      for (std::size_t i = 1; i < c.publishers.size(); ++i) expected += " or " + c.publishers[i];
      EXPECT_EQ(refusal, expected + ", " + c.found);
    }
#else
    EXPECT_EQ(refusal, "");
    EXPECT_EQ(note, "publisher not checked: this system does not verify code signatures");
#endif
  }
}

#ifdef _WIN32
// The verdict is on the file the handle holds: the name given beside it is never opened.
TEST(PublisherCheckTest, TheSystemReadsThroughTheHeldHandle) {
  BRIXA_FIXTURES_OR_SKIP(a, b);
  unsigned long error = 0;
  const auto file = TLaunchableFile::Open(Fixture("signed-b.exe"), error);
  ASSERT_NE(file, nullptr) << error;
  const TCodeSignature signature =
      VerifyCodeSignature(file->NativeHandle(), Fixture("unsigned.exe"));
  EXPECT_EQ(signature.State, TCodeSignatureState::csSigned) << signature.Status;
  EXPECT_EQ(CertificateFingerprint(signature.SignerCertificate), b);
}
#endif

void Put32(std::string& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

// Every length and offset on the way to the signer is read from the file: cut short anywhere,
// or with a field pointing past what holds it, the file has no signer and nothing is read
// outside it.
TEST(PublisherCheckTest, AHostileProgramFileHasNoSigner) {
  BRIXA_FIXTURES_OR_SKIP(a, b);
  const std::string image = test::ReadFileText(Fixture("signed-a.exe"));
  ASSERT_TRUE(PeSignedData(image));
  for (std::size_t size = 0; size < image.size(); ++size) {
    ASSERT_FALSE(PeSignedData(std::string_view(image).substr(0, size))) << size;
  }
  std::uint32_t pe = 0;
  std::memcpy(&pe, image.data() + 0x3C, 4);
  const std::size_t directory = pe + 24 + 112 + 4 * 8;  // PE32+: the security directory
  std::uint32_t table = 0;
  std::memcpy(&table, image.data() + directory, 4);
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } patches[] = {
      {"new header past the end", 0x3C, 0xFFFFFFF0u},
      {"table offset near the end", directory, static_cast<std::uint32_t>(image.size() - 4)},
      {"table size past the end", directory + 4, 0xFFFFFFF8u},
      {"entry shorter than its header", table, 4},
      {"entry longer than the table", table, 0x7FFFFFFFu},
      {"another certificate type", table + 4, 0x00010200u},
      {"DER longer than the entry", table + 8, 0xFFFF8430u},
  };
  for (const auto& p : patches) {
    std::string patched = image;
    Put32(patched, p.at, p.value);
    EXPECT_FALSE(PeSignedData(patched)) << p.what;
  }
}

}  // namespace
}  // namespace brixa
