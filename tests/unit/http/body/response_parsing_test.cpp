// The pure parts of response reading: status codes, chunk sizes, the gzip header handling of
// the decompressor base.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/body/compressor.h"
#include "http/body/response_body_reader.h"
#include "http/client/http_protocol_exception.h"
#include "http/message/header_list.h"
#include "http/message/http_response.h"

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

TEST(IsHTTP1StatusLine, AcceptsOnlyVersionCodeAndReason) {
  for (const char* line : {"HTTP/1.1 200 OK", "HTTP/1.0 404 Not Found", "HTTP/1.1 200",
                           "HTTP/1.1 200 ", "HTTP/1.9 999 Odd", "HTTP/1.1 500 \x1b]2;t\x07"}) {
    EXPECT_TRUE(IsHTTP1StatusLine(line)) << line;
  }
  for (const char* line :
       {"", "HTTP/1.1", "HTTP/1.1 ", "HTTP/1.1 20", "HTTP/1.1 2000 OK", "HTTP/1.1 200OK",
        "HTTP/1.1  200 OK", "HTTP/1.1 20a OK", "HTTP/1.x 200 OK", "HTTP/2 200", "HTTP/2.0 200 OK",
        "HTTP/9.9 200 OK", "http/1.1 200 OK", " HTTP/1.1 200 OK", "worldHTTP/1.1 200 OK",
        "ICY 200 OK", "FOO 200 BAR", "HTTP/1.1\t200 OK"}) {
    EXPECT_FALSE(IsHTTP1StatusLine(line)) << line;
  }
}

TEST(HasListToken, FindsWholeElementsIgnoringCaseAndBlanks) {
  EXPECT_TRUE(HasListToken("close", "close"));
  EXPECT_TRUE(HasListToken(" Keep-Alive ", "keep-alive"));
  EXPECT_TRUE(HasListToken("Upgrade, CLOSE", "close"));
  EXPECT_FALSE(HasListToken("", "close"));
  EXPECT_FALSE(HasListToken("closed", "close"));
  EXPECT_FALSE(HasListToken("keep-alive-ish, x", "keep-alive"));
}

TEST(ParseChunkSize, ReadsHexBeforeExtensionsAndRefusesAnythingElse) {
  const struct {
    const char* line;
    std::int64_t size;
  } cases[] = {
      {"5", 5},
      {"1f", 31},
      {"1F", 31},
      {"a  ", 10},
      {"5 ; ext=1", 5},
      {"5;ext=1", 5},
      {"5\tx", 5},
      {"5 extension", 5},
      {"0", 0},
      {"0000000000000000000000005", 5},
      {"80000000", 0x80000000LL},
      {"7fffffffffffffff", 0x7FFFFFFFFFFFFFFFLL},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseChunkSize(c.line), c.size) << c.line;
  for (const char* line : {"", " a", "zz", "-5", "+5", "0x5", "5x", "5,6", ";5"}) {
    EXPECT_THROW((void)ParseChunkSize(line), EIdHTTPInvalidChunkSize) << line;
  }
  for (const char* line : {"8000000000000000", "10000000000000000", "ffffffffffffffffff"}) {
    EXPECT_THROW((void)ParseChunkSize(line), EIdHTTPChunkTooLarge) << line;
  }
}

TEST(BodyFrameOf, FollowsTheLengthRulesAndRefusesAmbiguousLengths) {
  using F = TIdBodyFraming;
  const struct {
    std::vector<const char*> lines;
    F framing;
    std::int64_t length;
    bool closeAfter;
  } cases[] = {
      {{}, F::kUntilClose, 0, false},
      {{"Content-Length: 10"}, F::kCounted, 10, false},
      {{"Content-Length: 0"}, F::kNone, 0, false},
      {{"content-length:  4294967301 "}, F::kCounted, 4294967301LL, false},
      {{"Content-Length: 9223372036854775807"}, F::kCounted, 9223372036854775807LL, false},
      {{"Content-Length: 5, 5", "Content-Length: 5"}, F::kCounted, 5, false},
      {{"Transfer-Encoding: chunked"}, F::kChunked, 0, false},
      {{"Transfer-Encoding: gzip, Chunked"}, F::kChunked, 0, false},
      {{"Transfer-Encoding: gzip", "Transfer-Encoding: chunked"}, F::kChunked, 0, false},
      {{"Transfer-Encoding: chunked, gzip"}, F::kUntilClose, 0, false},
      {{"Transfer-Encoding: chunked", "Content-Length: 3"}, F::kChunked, 0, true},
      {{"Content-Length: zz", "Transfer-Encoding: chunked"}, F::kChunked, 0, true},
  };
  for (const auto& c : cases) {
    TIdHeaderList headers;
    for (const char* line : c.lines) headers.Add(line);
    const TIdBodyFrame frame = BodyFrameOf(headers);
    EXPECT_EQ(frame.framing, c.framing) << headers.Text();
    EXPECT_EQ(frame.length, c.length) << headers.Text();
    EXPECT_EQ(frame.closeAfter, c.closeAfter) << headers.Text();
  }
  const struct {
    std::vector<const char*> lines;
    const char* raised;
  } refused[] = {
      {{"Content-Length: 5", "Content-Length: 6"}, "EIdHTTPConflictingContentLength"},
      {{"Content-Length: 5, 6"}, "EIdHTTPConflictingContentLength"},
      {{"Content-Length: -1"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length: +5"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length: 0x10"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length:"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length: 5,"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length: 9223372036854775808"}, "EIdHTTPInvalidContentLength"},
      {{"Content-Length: 99999999999999999999999"}, "EIdHTTPInvalidContentLength"},
  };
  for (const auto& c : refused) {
    TIdHeaderList headers;
    for (const char* line : c.lines) headers.Add(line);
    try {
      (void)BodyFrameOf(headers);
      ADD_FAILURE() << headers.Text();
    } catch (const EIdHTTPInvalidContentLength& e) {
      EXPECT_STREQ(e.ClassName(), c.raised) << headers.Text();
    }
  }
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
