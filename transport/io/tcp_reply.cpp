// Reading the lines of a numbered reply, one-line or multi-line.

#include "transport/io/tcp_reply.h"

#include <cctype>

namespace brixa {

namespace {

constexpr std::size_t kCodeLength = 3;

bool HasCode(const std::string& line) {
  if (line.size() < kCodeLength) return false;
  for (std::size_t i = 0; i < kCodeLength; ++i) {
    if (std::isdigit(static_cast<unsigned char>(line[i])) == 0) return false;
  }
  return line.size() == kCodeLength || line[kCodeLength] == ' ' || line[kCodeLength] == '-';
}

// The text after "250 " / "250-".
std::string AfterCode(const std::string& line) {
  return line.size() > kCodeLength + 1 ? line.substr(kCodeLength + 1) : std::string();
}

}  // namespace

void TIdReplyRFC::Clear() {
  code_ = 0;
  codeText_.clear();
  text_.clear();
  started_ = false;
}

bool TIdReplyRFC::ParseLine(const std::string& ALine) {
  if (!started_) {
    started_ = true;
    if (!HasCode(ALine)) {
      text_.push_back(ALine);
      return true;
    }
    codeText_ = ALine.substr(0, kCodeLength);
    code_ = static_cast<std::int16_t>(std::stoi(codeText_));
    text_.push_back(AfterCode(ALine));
    return ALine.size() == kCodeLength || ALine[kCodeLength] != '-';
  }
  const bool coded = HasCode(ALine) && ALine.compare(0, kCodeLength, codeText_) == 0;
  text_.push_back(coded ? AfterCode(ALine) : ALine);
  return coded && (ALine.size() == kCodeLength || ALine[kCodeLength] == ' ');
}

std::string TIdReplyRFC::TextAsString() const {
  std::string joined;
  for (std::size_t i = 0; i < text_.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += text_[i];
  }
  return joined;
}

void TIdReplyRFC::RaiseReplyError() const {
  throw EIdReplyRFCError(code_, TextAsString());
}

}  // namespace brixa
