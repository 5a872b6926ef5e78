// The HTTP client reading arbitrary bytes as the answer to a GET (redirects followed and Basic
// challenges answered, so that several responses can follow each other on one connection). Any
// input must end in a result or an EIdException, never a crash, a hang or a sanitizer report;
// and when the first final answer is a 2xx, the body the client delivers must be exactly the
// body that answer frames (worked out below, apart from the client's reader), or the client
// must have raised.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/support/memory_io_handler.h"
#include "http/client/http.h"
#include "http/message/header_list.h"

namespace {

constexpr std::size_t kMaxLine = 16384;       // the I/O handler's default line limit
constexpr std::size_t kMaxHeaderLines = 255;  // the client's default HeaderLineLimit
constexpr std::size_t kMaxBlockBytes = 256 * 1024;
constexpr int kMaxInterims = 64;

// A cursor over the whole input; every read that runs off its end means the answer was cut.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  std::optional<std::string> Line() {
    const std::size_t end = bytes_.find('\n', at_);
    if (end == std::string_view::npos || end - at_ > kMaxLine) return std::nullopt;
    std::string line(bytes_.substr(at_, end - at_));
    at_ = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Protocol lines are read as 7-bit text: other bytes come out as '?'.
    for (char& c : line) {
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    }
    return line;
  }
  std::optional<std::string> Take(std::uint64_t count) {
    if (count > bytes_.size() - at_) return std::nullopt;
    std::string part(bytes_.substr(at_, count));
    at_ += count;
    return part;
  }
  std::string Rest() {
    std::string rest(bytes_.substr(at_));
    at_ = bytes_.size();
    return rest;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

// What the reference reading concludes about the first final answer.
struct Reference {
  enum Kind { kBody, kMustFail, kNotModelled } kind = kNotModelled;
  std::string body;
};
Reference MustFail() {
  return {Reference::kMustFail, {}};
}
Reference NotModelled() {
  return {};
}

bool StrictStatusLine(const std::string& line) {
  if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0) return false;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(line[7]) || line[8] != ' ' || !digit(line[9]) || !digit(line[10]) ||
      !digit(line[11])) {
    return false;
  }
  return line.size() == 12 || line[12] == ' ';
}

// Blanks and control characters off both ends, as the client trims header values.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// Header lines up to the empty line. kMustFail when cut or past the bounds; kNotModelled near
// the byte bound, where the exact count of terminators decides.
Reference::Kind HeaderBlock(Cursor& in, std::size_t used, brixa::TIdHeaderList& headers) {
  for (;;) {
    const std::optional<std::string> line = in.Line();
    if (!line) return Reference::kMustFail;
    if (line->empty()) return Reference::kBody;
    used += line->size() + 2;
    if (used > kMaxBlockBytes + 8) return Reference::kMustFail;
    if (used > kMaxBlockBytes - 8) return Reference::kNotModelled;
    if (static_cast<std::size_t>(headers.Count()) >= kMaxHeaderLines) return Reference::kMustFail;
    headers.Add(*line);
  }
}

std::optional<std::uint64_t> Decimal(std::string_view text) {
  text = Trimmed(text);
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = 0x7FFFFFFFFFFFFFFFULL;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Reference ChunkedBody(Cursor& in) {
  std::string body;
  for (;;) {
    const std::optional<std::string> line = in.Line();
    if (!line) return MustFail();
    std::size_t digits = 0;
    std::uint64_t size = 0;
    for (; digits < line->size() && HexValue((*line)[digits]) >= 0; ++digits) {
      if (size > 0x07FFFFFFFFFFFFFFULL) return MustFail();
      size = size * 16 + static_cast<std::uint64_t>(HexValue((*line)[digits]));
    }
    if (digits == 0) return MustFail();
    const char next = digits < line->size() ? (*line)[digits] : ' ';
    if (next != ' ' && next != '\t' && next != ';') return MustFail();
    if (size == 0) break;
    const std::optional<std::string> data = in.Take(size);
    if (!data) return MustFail();
    const std::optional<std::string> end = in.Line();
    if (!end || !end->empty()) return MustFail();
    body += *data;
  }
  brixa::TIdHeaderList trailer;
  const Reference::Kind kind = HeaderBlock(in, 0, trailer);
  if (kind != Reference::kBody) return {kind, {}};
  return {Reference::kBody, body};
}

// The last element of the comma lists in `values`, trimmed and in lower case.
std::string LastCoding(const std::vector<std::string>& values) {
  const std::string& last = values.back();
  const std::size_t comma = last.rfind(',');
  std::string coding(
      Trimmed(std::string_view(last).substr(comma == std::string::npos ? 0 : comma + 1)));
  for (char& c : coding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return coding;
}

Reference ReadReference(std::string_view bytes) {
  Cursor in(bytes);
  for (int interims = 0;; ++interims) {
    if (interims > kMaxInterims) return MustFail();
    const std::optional<std::string> status = in.Line();
    if (!status || !StrictStatusLine(*status)) return MustFail();
    brixa::TIdHeaderList headers;
    const Reference::Kind block = HeaderBlock(in, status->size() + 2, headers);
    if (block != Reference::kBody) return {block, {}};
    const int code = std::atoi(status->substr(9, 3).c_str());
    if (code / 100 == 1 && code != 101) continue;
    // Redirects, challenges and errors lead elsewhere; folded lines are not modelled.
    if (code / 100 != 2 || !headers.HeaderValue("Location").empty()) return NotModelled();
    for (const std::string& line : headers.Lines()) {
      if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) return NotModelled();
    }
    if (code == 204) return {Reference::kBody, {}};
    const std::vector<std::string> codings = headers.CollectValues("Transfer-Encoding");
    const std::vector<std::string> lengths = headers.CollectValues("Content-Length");
    if (!codings.empty()) {
      if (LastCoding(codings) != "chunked") return {Reference::kBody, in.Rest()};
      return ChunkedBody(in);
    }
    if (lengths.empty()) return {Reference::kBody, in.Rest()};
    std::optional<std::uint64_t> length;
    for (const std::string& value : lengths) {
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = value.find(',', start);
        const std::optional<std::uint64_t> one =
            Decimal(std::string_view(value).substr(start, comma - start));
        if (!one || (length && *length != *one)) return MustFail();
        length = one;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
    const std::optional<std::string> body = in.Take(*length);
    return body ? Reference{Reference::kBody, *body} : MustFail();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the read size, so line and chunk boundaries fall everywhere.
  const std::size_t readSize = (data[0] % 17) + 1;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  brixa::test::MemoryIOHandler io(input, readSize);
  brixa::TIdHTTP http;
  http.SetIOHandler(&io);
  http.SetHandleRedirects(true);
  http.SetHTTPOptions({brixa::hoInProcessAuth});
  http.Request().SetUsername("user");
  http.Request().SetPassword("password");
  brixa::TMemoryStream body;
  bool delivered = false;
  try {
    http.Get("http://peer.invalid/start", &body);
    delivered = true;
  } catch (const brixa::EIdException&) {
  }
  http.SetIOHandler(nullptr);
  const Reference reference = ReadReference(input);
  if (delivered && reference.kind == Reference::kMustFail) std::abort();
  if (delivered && reference.kind == Reference::kBody && body.DataString() != reference.body) {
    std::abort();
  }
  return 0;
}
