// The pure parts of response reading: status codes, chunk sizes, the gzip header handling of
// the decompressor base.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/compressor.h"
#include "http/http_protocol_exception.h"
#include "http/http_response.h"
#include "http/response_body_reader.h"

namespace brixa {
namespace {

TEST(StatusCodeOf, ReadsTheWordAfterTheProtocol) {
  const struct {
    const char* line;
    std::int32_t code;
  } cases[] = {
      {"HTTP/1.1 404 Not Found", 404},
      {"HTTP/1.1    200    OK", 200},
      {"HTTP/1.0 204", 204},
      {"HTTP/1.1 100 Continue", 100},
      {"", -1},
      {"HTTP/1.1", -1},
      {"HTTP/1.1 OK 200", -1},
      {"HTTP/1.1 $1F hex", -1},
      {"HTTP/1.1 0x1F hex", -1},
      {"HTTP/1.1 20O typo", -1},
      {"HTTP/1.1 99999999999 huge", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusCodeOf(c.line), c.code) << c.line;
}

TEST(ParseChunkSize, ReadsHexBeforeExtensionsAndGivesZeroForJunk) {
  const struct {
    const char* line;
    std::int64_t size;
  } cases[] = {
      {"5", 5},       {"1f", 31}, {"1F", 31}, {"a  ", 10}, {" a", 0}, {"5 ; ext=1", 5},
      {"5;ext=1", 5}, {"0", 0},   {"", 0},    {"zz", 0},   {"-5", 0}, {"7fffffff", 0x7FFFFFFF},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseChunkSize(c.line), c.size) << c.line;
  // A peer announcing a chunk no stream should be pre-sized for is refused, not believed.
  EXPECT_THROW((void)ParseChunkSize("80000000"), EIdHTTPChunkTooLarge);
  EXPECT_THROW((void)ParseChunkSize("7fffffffffffffff"), EIdHTTPChunkTooLarge);
}

// Records the zlib stream the base hands to the concrete inflater.
class RecordingCompressor : public TIdZLibCompressorBase {
 public:
  std::string handed;

 protected:
  void DecompressStream(TStream& input, TStream& output) override {
    std::string bytes(static_cast<std::size_t>(input.Size() - input.Position()), '\0');
    input.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    handed = bytes;
    output.WriteBuffer("inflated", 8);
  }
};

void Fill(TMemoryStream& stream, const std::string& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
}

TEST(ZLibCompressorBase, TurnsGzipMembersIntoZlibStreams) {
  const std::string deflate = "DEFLATEDATA";
  const std::string trailer = "CRC4SIZE";
  const std::string mtimeXflOs("\0\0\0\0\0\3", 6);
  const struct {
    const char* name;
    std::string header;
  } cases[] = {
      {"plain", std::string("\x1f\x8b\x08\x00", 4) + mtimeXflOs},
      {"name", std::string("\x1f\x8b\x08\x08", 4) + mtimeXflOs + std::string("file.txt\0", 9)},
      {"extra+comment+hcrc", std::string("\x1f\x8b\x08\x16", 4) + mtimeXflOs +
                                 std::string("\x03\x00xyz", 5) + std::string("a comment\0", 10) +
                                 "HC"},
  };
  for (const auto& c : cases) {
    TMemoryStream input;
    Fill(input, c.header + deflate + trailer);
    TMemoryStream output;
    RecordingCompressor compressor;
    compressor.InflateGZip(input, output);
    EXPECT_EQ(compressor.handed, std::string("\x78\x9c", 2) + deflate) << c.name;
    EXPECT_EQ(output.DataString(), "inflated") << c.name;
  }
}

TEST(ZLibCompressorBase, RefusesCutGzipHeadersAndHandsDeflateOverUnchanged) {
  for (const std::string& cut : {std::string("\x1f\x8b", 2), std::string("\x1f\x8b\x08\x08\0\0", 6),
                                 std::string("\x1f\x8b\x08\x08\0\0\0\0\0\3name-without-end", 26),
                                 std::string("\x1f\x8b\x08\0\0\0\0\0\0\3ab", 12)}) {
    TMemoryStream input;
    Fill(input, cut);
    TMemoryStream output;
    RecordingCompressor compressor;
    EXPECT_THROW(compressor.InflateGZip(input, output), EIdCompressedBodyTooShort);
    EXPECT_TRUE(compressor.handed.empty());
  }
  TMemoryStream zlib;
  Fill(zlib, std::string("\x78\x9c", 2) + "DATA");
  TMemoryStream output;
  RecordingCompressor compressor;
  compressor.InflateDeflate(zlib, output);
  EXPECT_EQ(compressor.handed, std::string("\x78\x9c", 2) + "DATA");
}

}  // namespace
}  // namespace brixa
