#pragma once
// Failures of the HTTP vocabulary: URI composition and record assignment. The request cycle
// adds its own classes beside these.

#include <string>

#include "runtime/network_exception.h"

namespace brixa {

// A URI cannot be composed: "Protocol field is empty" / "Host field is empty".
BRIXA_DECLARE_ID_EXCEPTION(EIdURIException, EIdException);

// A URL the client cannot request: a port that is not a decimal number from 1 to 65535, or a
// host holding a blank or a control character. Raised before anything is sent.
BRIXA_DECLARE_ID_EXCEPTION(EIdMalformedURL, EIdURIException);

inline constexpr const char* RSURIProtocolFieldIsEmpty = "Protocol field is empty";
inline constexpr const char* RSURIInvalidPort = "Port must be a decimal number from 1 to 65535";
inline constexpr const char* RSURIInvalidHost = "Host holds a blank or a control character";
inline constexpr const char* RSURIHostFieldIsEmpty = "Host field is empty";

// A record asked to copy itself into an object of an unrelated kind raises the language
// runtime's assignment failure, EConvertError (platform/core/exception.h), with this text:
// "Cannot assign a <source> to a <destination>".
[[nodiscard]] inline std::string AssignErrorText(const std::string& source,
                                                 const std::string& destination) {
  return "Cannot assign a " + source + " to a " + destination;
}

// A cookie port list was written at an index more than one past its end ("Index out of
// range.").
inline constexpr const char* RSCookieIndexOutOfRange = "Index out of range.";

}  // namespace brixa
