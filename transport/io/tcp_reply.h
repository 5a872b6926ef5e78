#pragma once
// TIdReplyRFC: a numbered reply of a line-based command protocol, and the exception for a
// refusal.

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/network_exception.h"

namespace brixa {

// A reply of a line-based command protocol that said no; the message is the reply's text.
class EIdReplyRFCError : public EIdException {
 public:
  EIdReplyRFCError(std::int16_t code, std::string message)
      : EIdException(std::move(message)), errorCode_(code) {}
  [[nodiscard]] std::int16_t ErrorCode() const noexcept { return errorCode_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdReplyRFCError"; }

 private:
  std::int16_t errorCode_;
};

// A numbered reply of a line-based command protocol: "250 text" on one line, or "250-first",
// further lines, and "250 last" for several.
class TIdReplyRFC {
 public:
  // Starts a new reply.
  void Clear();
  // Takes the next line of the reply; true when it ends the reply. The first line gives the
  // code; a line ends the reply when it starts with that code followed by a blank or nothing.
  // A first line without a three-digit code is a one-line reply with code 0.
  bool ParseLine(const std::string& ALine);

  [[nodiscard]] std::int16_t NumericCode() const noexcept { return code_; }
  // The code as it stood in the first line ("" for a reply without one).
  [[nodiscard]] const std::string& Code() const noexcept { return codeText_; }
  // The reply's lines without their codes.
  [[nodiscard]] const std::vector<std::string>& Text() const noexcept { return text_; }
  // The lines joined with CR LF.
  [[nodiscard]] std::string TextAsString() const;
  [[noreturn]] void RaiseReplyError() const;

 private:
  std::int16_t code_ = 0;
  std::string codeText_;
  std::vector<std::string> text_;
  bool started_ = false;
};

}  // namespace brixa
