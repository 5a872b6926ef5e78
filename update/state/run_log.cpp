// Formatting, scrubbing and appending the run log's records.

#include "update/state/run_log.h"

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

std::string Quoted(const std::string& text) {
  return "\"" + ScrubLogText(text) + "\"";
}

}  // namespace

std::string ScrubLogText(std::string text) {
  DropUserInfo(text);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (c == '"') c = '\'';  // the record's own quotes stay the only ones
  }
  return text;
}

std::string FormatRunRecord(std::int64_t nowSeconds, const TRunRecord& record) {
  std::string line =
      FormatUtcTime(nowSeconds) + " decision=" + std::string(RunOutcomeName(record.Decision)) +
      " local=" + Quoted(record.LocalStamp) + " server=" + Quoted(record.ServerStamp);
  line += " serial=" + (record.Serial ? std::to_string(*record.Serial) : std::string("-"));
  if (!record.Reason.empty()) {
    std::string reason = record.Reason.substr(0, kMaxRunLogReasonBytes);
    line += " reason=" + Quoted(reason);
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
