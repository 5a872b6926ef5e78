// Every digest against published vectors, fed whole, at every split and from streams.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/stream.h"
#include "runtime/hash/hash_md4.h"
#include "runtime/hash/hash_md5.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/hash/hash_sha512.h"

namespace brixa {
namespace {

using MakeHash = std::function<std::unique_ptr<TIdHash>()>;

const MakeHash kMd4 = [] { return std::make_unique<TIdHashMessageDigest4>(); };
const MakeHash kMd5 = [] { return std::make_unique<TIdHashMessageDigest5>(); };
const MakeHash kSha256 = [] { return std::make_unique<TIdHashSHA256>(); };
const MakeHash kSha512 = [] { return std::make_unique<TIdHashSHA512>(); };
const MakeHash kSha512_256 = [] { return std::make_unique<TIdHashSHA512_256>(); };

std::string Hex(const TIdHash::TDigest& digest) {
  return DigestToHex(digest, false);
}

struct Vector {
  const char* name;
  const MakeHash* make;
  std::string input;
  const char* expected;
};

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits80 =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

// The published suites: RFC 1320 appendix A.5, RFC 1321 appendix A.5, FIPS 180 examples.
const std::vector<Vector> kVectors = {
    {"md4 empty", &kMd4, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {"md4 a", &kMd4, "a", "bde52cb31de33e46245e05fbdbd6fb24"},
    {"md4 abc", &kMd4, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
    {"md4 message digest", &kMd4, "message digest", "d9130a8164549fe818874806e1c7014b"},
    {"md4 alphabet", &kMd4, "abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
    {"md4 alnum", &kMd4, kAlnum, "043f8582f241db351ce627e153e7f0e4"},
    {"md4 digits", &kMd4, kDigits80, "e33b4ddc9c38f2199c3e7b164fcc0536"},
    {"md5 empty", &kMd5, "", "d41d8cd98f00b204e9800998ecf8427e"},
    {"md5 a", &kMd5, "a", "0cc175b9c0f1b6a831c399e269772661"},
    {"md5 abc", &kMd5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"md5 message digest", &kMd5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"md5 alphabet", &kMd5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"md5 alnum", &kMd5, kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"md5 digits", &kMd5, kDigits80, "57edf4a22be3c955ac49da2e2107b67a"},
    {"sha256 empty", &kSha256, "",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"sha256 abc", &kSha256, "abc",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha256 448 bits", &kSha256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"sha256 896 bits", &kSha256,
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
     "qrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"sha512 empty", &kSha512, "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877ee"
     "c2f"
     "63b931bd47417a81a538327af927da3e"},
    {"sha512 abc", &kSha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fee"
     "bbd"
     "454d4423643ce80e2a9ac94fa54ca49f"},
    {"sha512 896 bits", &kSha512,
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
     "qrsmnopqrstnopqrstu",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b54"
     "33a"
     "c7d329eeb6dd26545e96e55b874be909"},
    {"sha512/256 empty", &kSha512_256, "",
     "c672b8d1ef56ed28ab87c3622c5114069bdd3ad7b8f9737498d0c01ecef0967a"},
    {"sha512/256 abc", &kSha512_256, "abc",
     "53048e2681941ef99b2e29b76b4c7dabe4c2d0c634fc6d46e0e2f13107e7af23"},
    {"sha512/256 896 bits", &kSha512_256,
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
     "qrsmnopqrstnopqrstu",
     "3928e184fb8690f840da3988121d31be65cb9d3ef83ee6146feac861e19b563a"},
};

TEST(HashTest, PublishedVectorsHashedWholeAndAtEverySplit) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    const auto hash = (*v.make)();
    EXPECT_EQ(Hex(hash->HashString(v.input)), v.expected);
    // The same bytes fed in two pieces cut at every offset, and byte by byte, through one object
    // that is reused after each Final.
    for (std::size_t cut = 0; cut <= v.input.size(); ++cut) {
      hash->Update(v.input.data(), cut);
      hash->Update(v.input.data() + cut, v.input.size() - cut);
      ASSERT_EQ(Hex(hash->Final()), v.expected) << "cut at " << cut;
    }
    for (const char c : v.input) hash->Update(&c, 1);
    EXPECT_EQ(Hex(hash->Final()), v.expected);
  }
}

TEST(HashTest, OneMillionLettersAInOddChunksAndFromAStream) {
  const std::string million(1000000, 'a');
  TIdHashSHA256 sha;
  for (std::size_t at = 0; at < million.size(); at += 997) {
    sha.Update(million.data() + at, std::min<std::size_t>(997, million.size() - at));
  }
  EXPECT_EQ(Hex(sha.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

  TMemoryStream stream;
  stream.WriteBuffer(million.data(), static_cast<std::int64_t>(million.size()));
  stream.SetPosition(123);  // the whole stream is hashed, wherever it stood
  EXPECT_EQ(Hex(sha.HashStream(stream)),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(stream.Position(), stream.Size());
  TIdHashMessageDigest5 md5;
  EXPECT_EQ(Hex(md5.HashStream(stream)), "7707d6ae4e027c70eea2a935c2296f21");
  TIdHashSHA512 sha512;
  EXPECT_EQ(
      Hex(sha512.HashStream(stream)),
      "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432c"
      "e577c31beb009c5c2c49aa2e4eadb217ad8cc09b");
}

TEST(HashTest, PaddingBoundariesAgreeWithIncrementalFeeding) {
  // Lengths around the length-field limits (56 and 112 bytes) and the blocks (64 and 128 bytes):
  // whole-input hashing and one-byte feeding must agree, and neighbouring lengths must differ.
  for (const MakeHash* make : {&kMd4, &kMd5, &kSha256, &kSha512, &kSha512_256}) {
    const auto whole = (*make)();
    const auto pieces = (*make)();
    std::string previous;
    for (std::size_t length = 50; length <= 260; ++length) {
      const std::string input(length, 'x');
      const std::string digest = Hex(whole->HashString(input));
      for (const char c : input) pieces->Update(&c, 1);
      EXPECT_EQ(Hex(pieces->Final()), digest) << length;
      EXPECT_NE(digest, previous) << length;
      previous = digest;
    }
  }
}

TEST(HashTest, TextIsHashedAsAsciiAndShownAsUpperCaseHex) {
  TIdHashMessageDigest5 md5;
  EXPECT_EQ(md5.HashStringAsHex("abc"), "900150983CD24FB0D6963F7D28E17F72");
  // Every non-ASCII character counts as one '?'.
  EXPECT_EQ(md5.HashStringAsHex("a\xC3\xA4\xE2\x82\xAC"
                                "b"),
            md5.HashStringAsHex("a??b"));
  EXPECT_EQ(md5.DigestSize(), 16u);
  EXPECT_EQ(TIdHashSHA256().DigestSize(), 32u);
  EXPECT_EQ(DigestToHex({0x00, 0x0f, 0xa0, 0xff}), "000FA0FF");
}

}  // namespace
}  // namespace brixa
