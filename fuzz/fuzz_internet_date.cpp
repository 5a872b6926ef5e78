// Dates come straight from "Date", "Expires", "Last-Modified" and cookie headers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/time/internet_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string rest = text;
  const brixa::TDateTime parsed = brixa::ParseInternetDate(rest);
  (void)brixa::InternetDateToLocalTime(text);

  // A date the parser accepted is a whole second of years 1..9999 and reads back unchanged from
  // its own RFC 1123 form. Year 1900 is the exception by design: it is the parser's "no year
  // here" marker, which sends it looking for the year after the time.
  int year = 0, month = 0, day = 0;
  brixa::DecodeDate(parsed, year, month, day);
  if (parsed != 0 && year != 1900) {
    std::string written = brixa::FormatHttpDate(parsed);
    const brixa::TDateTime again = brixa::ParseInternetDate(written);
    if (std::fabs(again - parsed) > 1.0 / brixa::kMillisecondsPerDay || written != "GMT") {
      std::abort();
    }
  }
  return 0;
}
