#pragma once
// The root Exception, the declaring macro, the language-runtime exception classes (conversion,
// streams, files, OS errors) and Require for contract checks.

#include <exception>
#include <string>

namespace brixa {

// Root of every exception the system raises. Carries one human-readable message, byte for byte
// the text the caller gave (no prefix, no translation).
class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(std::string message) : message_(std::move(message)) {}

  [[nodiscard]] const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

  // The class name as the exception tree names it; used where an exception is reported
  // by class and message (the command-line tool, the thread component's terminating exception).
  [[nodiscard]] virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// Declares `Name` deriving from `Base` with the message constructors and a ClassName override.
#define BRIXA_DECLARE_EXCEPTION(Name, Base)                                         \
  class Name : public Base {                                                        \
   public:                                                                          \
    using Base::Base;                                                               \
    [[nodiscard]] const char* ClassName() const noexcept override { return #Name; } \
  }

// Language-runtime failures the platform layer raises.
BRIXA_DECLARE_EXCEPTION(EConvertError, Exception);  // text is not a number
BRIXA_DECLARE_EXCEPTION(EIntOverflow, Exception);   // 32-bit counter overflow
BRIXA_DECLARE_EXCEPTION(EAssertionFailed, Exception);
BRIXA_DECLARE_EXCEPTION(EStreamError, Exception);
BRIXA_DECLARE_EXCEPTION(EFCreateError, EStreamError);
BRIXA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
BRIXA_DECLARE_EXCEPTION(EReadError, EStreamError);
BRIXA_DECLARE_EXCEPTION(EWriteError, EStreamError);
BRIXA_DECLARE_EXCEPTION(EThread, Exception);

// An operating-system call failed; ErrorCode() is the system's own number (GetLastError / errno).
class EOSError : public Exception {
 public:
  EOSError(std::string message, unsigned long code) : Exception(std::move(message)), code_(code) {}
  [[nodiscard]] unsigned long ErrorCode() const noexcept { return code_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EOSError"; }

 private:
  unsigned long code_;
};

// Raises EAssertionFailed with `what` when `condition` is false. Used for caller errors that
// the contract forbids (negative indexes, arrays too short), never for bad input from outside.
void Require(bool condition, const char* what);

}  // namespace brixa
