#pragma once
// EIdSocketError and the exceptions of the stack and of socket handles.

#include <string>

#include "runtime/network_exception.h"

namespace brixa {

// A socket call failed. Message is "Socket Error # <n>\r\n<text>"; LastError() is the Winsock
// number of the failure on every platform.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(std::string message, int lastError)
      : EIdException(std::move(message)), lastError_(lastError) {}
  [[nodiscard]] int LastError() const noexcept { return lastError_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdSocketError"; }

 private:
  int lastError_;
};

// The handle given is not a socket (10038).
BRIXA_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);

// Failures of the stack itself.
BRIXA_DECLARE_EXCEPTION(EIdStackError, EIdException);
BRIXA_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
BRIXA_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
BRIXA_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError);

// Failures of one socket handle.
BRIXA_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
BRIXA_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
BRIXA_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
BRIXA_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
BRIXA_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);
BRIXA_DECLARE_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
BRIXA_DECLARE_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);

BRIXA_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException);
BRIXA_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdException);

// The socket library could not be loaded or started, or an entry point of it could not be
// bound. Message: the title alone when the number is 0, else "<title>: <system text>".
class EIdWinsockStubError : public EIdException {
 public:
  EIdWinsockStubError(int win32Error, std::string win32ErrorText, std::string title)
      : EIdException(win32Error == 0 ? title : title + ": " + win32ErrorText),
        win32Error_(win32Error),
        win32ErrorText_(std::move(win32ErrorText)),
        title_(std::move(title)) {}
  [[nodiscard]] int Win32Error() const noexcept { return win32Error_; }
  [[nodiscard]] const std::string& Win32ErrorText() const noexcept { return win32ErrorText_; }
  [[nodiscard]] const std::string& Title() const noexcept { return title_; }
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdWinsockStubError"; }

 private:
  int win32Error_;
  std::string win32ErrorText_;
  std::string title_;
};

// Messages. Those with %s / %d are formats, filled by the code that raises them.
inline constexpr const char* RSStackError = "Socket Error # %d\r\n%s";
inline constexpr const char* RSStackClassUndefined = "Stack Class is undefined.";
inline constexpr const char* RSStackAlreadyCreated = "Stack already created.";
inline constexpr const char* RSSetSizeExceeded = "Set Size Exceeded.";
inline constexpr const char* RSIPVersionUnsupported =
    "The requested IPVersion / Address family is not supported.";
inline constexpr const char* RSCannotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* RSInvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr const char* RSCannotBindRange = "Can not bind in port range (%d - %d)";
inline constexpr const char* RSCannotSetIPVersionWhenConnected =
    "Cannot change IPVersion when connected";
inline constexpr const char* RSPackageSizeTooBig = "Package Size Too Big.";
inline constexpr const char* RSNotAllBytesSent = "Not all bytes sent.";
inline constexpr const char* RSIPv6Unavailable = "IPv6 unavailable";
inline constexpr const char* RSInvalidServiceName = "%s is not a valid service.";
inline constexpr const char* RSWinsockLoadError = "Error on loading Winsock2 library (%s)";
inline constexpr const char* RSWinsockCallError = "Error on call to Winsock2 library function %s";

}  // namespace brixa
