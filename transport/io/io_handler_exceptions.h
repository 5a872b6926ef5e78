#pragma once
// The exceptions and messages of reading and writing through an I/O handler.

#include "runtime/network_exception.h"

namespace brixa {

// Failures of reading and writing through an I/O handler. The peer's orderly close is
// EIdConnClosedGracefully (runtime/network_exception.h); socket failures are EIdSocketError
// (transport/socket/stack_exceptions.h).
BRIXA_DECLARE_ID_EXCEPTION(EIdReadTimeout, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdReadLnWaitMaxAttemptsExceeded, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdNotConnected, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdClosedSocket, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdNoDataToRead, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdIOHandlerRequiresLargeStream, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdFileNotFound, EIdException);

inline constexpr const char* RSReadTimeout = "Read timed out.";
inline constexpr const char* RSReadLnMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr const char* RSReadLnWaitMaxAttemptsExceeded = "Max line read attempts exceeded.";
inline constexpr const char* RSNotConnected = "Not Connected";
inline constexpr const char* RSStatusDisconnected = "Disconnected.";
inline constexpr const char* RSNoDataToRead = "No data to read.";
inline constexpr const char* RSMaximumNumberOfCaptureLineExceeded =
    "Maximum number of line allowed exceeded";
inline constexpr const char* RSFileNotFound = "File \"%s\" not found";

}  // namespace brixa
