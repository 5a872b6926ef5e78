// Formatting, scrubbing and appending the run log's records.

#include "update/state/run_log.h"

#include <string_view>

#include "platform/core/stream.h"
#include "platform/files/private_file.h"
#include "runtime/time/utc_time.h"

namespace brixa {

namespace {

constexpr std::string_view kSchemeEnd = "://";

// Removes "user:password@" after every "://", up to the end of the authority.
void DropUserInfo(std::string& text) {
  for (std::size_t at = text.find(kSchemeEnd); at != std::string::npos;
       at = text.find(kSchemeEnd, at + 1)) {
    const std::size_t start = at + kSchemeEnd.size();
    const std::size_t end = text.find_first_of("/?# \t\"'", start);
    const std::size_t authorityEnd = end == std::string::npos ? text.size() : end;
    const std::size_t atSign = text.rfind('@', authorityEnd);
    if (atSign != std::string::npos && atSign >= start) text.erase(start, atSign + 1 - start);
  }
}

// The length of the well-formed UTF-8 sequence `text` starts with (no overlong form, no
// surrogate, nothing past U+10FFFF); 0 when it does not start with one.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// C1 controls (U+0080-U+009F, NEL among them), the line and paragraph separators
// (U+2028-U+2029) and the bidirectional embeddings, overrides and isolates (U+202A-U+202E,
// U+2066-U+2069): characters that break a line or reorder what a terminal shows.
bool IsLayoutControl(std::string_view sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  if (sequence.size() == 2) return byte(0) == 0xC2 && byte(1) <= 0x9F;
  if (sequence.size() != 3 || byte(0) != 0xE2) return false;
  if (byte(1) == 0x80) return byte(2) >= 0xA8 && byte(2) <= 0xAE;
  return byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9;
}

std::string Quoted(const std::string& text) {
  return "\"" + ScrubLogText(text) + "\"";
}

}  // namespace

std::string ScrubLogText(std::string text) {
  DropUserInfo(text);
  std::string clean;
  clean.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      clean += c < 0x20 || c == 0x7F ? ' ' : c == '"' ? '\'' : static_cast<char>(c);
      ++at;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(std::string_view(text).substr(at));
    if (length == 0) {
      clean += '?';
      ++at;
      continue;
    }
    const std::string_view sequence(text.data() + at, length);
    clean += IsLayoutControl(sequence) ? std::string_view(" ") : sequence;
    at += length;
  }
  return clean;
}

std::string FormatRunRecord(std::int64_t nowSeconds, const TRunRecord& record) {
  std::string line =
      FormatUtcTime(nowSeconds) + " decision=" + std::string(RunOutcomeName(record.Decision)) +
      " local=" + Quoted(record.LocalStamp) + " server=" + Quoted(record.ServerStamp);
  line += " serial=" + (record.Serial ? std::to_string(*record.Serial) : std::string("-"));
  if (!record.Reason.empty())
    line += " reason=" + Quoted(record.Reason.substr(0, kMaxRunLogReasonBytes));
  if (!record.Earlier.empty()) {
    line += " earlier=" + Quoted(record.Earlier.substr(0, kMaxRunLogReasonBytes));
  }
  return line + "\n";
}

void AppendRunRecord(const std::string& directory, const TRunRecord& record) noexcept {
  if (directory.empty()) return;
  try {
    const std::string fileName = directory + kRunLogFileName;
    auto file = TPrivateFile::OpenForAppend(fileName);
    if (file->Seek(0, TSeekOrigin::soEnd) >= kRunLogRotateBytes) {
      file.reset();
      (void)ReplaceFileAtomically(fileName, fileName + kRunLogOldSuffix);
      file = TPrivateFile::Create(fileName);
    }
    const std::string line = FormatRunRecord(UtcNowSeconds(), record);
    file->WriteBuffer(line.data(), static_cast<std::int64_t>(line.size()));
  } catch (...) {
    // the log is for support; a run goes on without it
  }
}

}  // namespace brixa
