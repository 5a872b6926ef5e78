// Feeds arbitrary bytes as a received header block to the header list and the response record,
// then writes a value through the folding path and checks it reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/message/header_list.h"
#include "http/message/response_header_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  brixa::TIdResponseHeaderInfo response;
  response.HeaderLines().SetText(text);
  response.ReadFields();
  const brixa::TIdHeaderList& lines = response.HeaderLines();
  for (int i = 0; i < lines.Count(); ++i) {
    (void)lines.LineValue(i);
    (void)lines.FindHeader(lines.LineName(i));
  }
  (void)lines.CollectValues("Set-Cookie");

  // Write the first line's bytes as a value, folded at a column taken from the input.
  brixa::TIdHeaderList written(size > 0 ? 1 + data[0] % 120 : 78);
  std::string value(text.substr(0, text.find('\n')));
  // Control bytes count as blanks when a value is trimmed; make them blanks outright.
  for (char& ch : value) {
    if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t') ch = ' ';
  }
  written.SetHeaderValue("X-Fuzz", value);
  const std::string back = written.HeaderValue("X-Fuzz");
  // Folding only ever adds or drops blanks; the other bytes come back in order (a fold drops
  // the break characters after it, commas included, so values with commas are not checked).
  std::string expected;
  std::string got;
  for (const char ch : value) {
    if (ch != ' ' && ch != '\t') expected += ch;
  }
  for (const char ch : back) {
    if (ch != ' ' && ch != '\t') got += ch;
  }
  const bool emptyValue = value.find_first_not_of(" \t") == std::string::npos;
  if (!emptyValue && expected != got && value.find(',') == std::string::npos) std::abort();
  response.WriteFields();
  return 0;
}
