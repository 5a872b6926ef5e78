#pragma once
// EIdException, the root of every failure of the network code, and the raise helpers built on it.

#include <cstdint>
#include <string>

#include "platform/core/exception.h"

namespace brixa {

// Root of every failure of the network code. The static helpers raise the class they are
// called on: `EIdConnectTimeout::RaiseIf(cond, "...")` raises EIdConnectTimeout.
class EIdException : public Exception {
 public:
  using Exception::Exception;
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdException"; }
};

// Raise helpers shared by the whole tree. `E` must be constructible from a message.
template <class E>
void RaiseIf(bool condition, const std::string& message) {
  if (condition) throw E(message);
}

template <class E>
void RaiseIfNot(bool condition, const std::string& message) {
  if (!condition) throw E(message);
}

template <class E, class P>
void RaiseIfAssigned(const P* reference, const std::string& message) {
  if (reference != nullptr) throw E(message);
}

template <class E, class P>
void RaiseIfUnassigned(const P* reference, const std::string& message) {
  if (reference == nullptr) throw E(message);
}

template <class E>
void RaiseIfOutOfRange(std::int64_t value, std::int64_t low, std::int64_t high,
                       const std::string& message) {
  if (value < low || value > high) throw E(message);
}

#define BRIXA_DECLARE_ID_EXCEPTION(Name, Base) BRIXA_DECLARE_EXCEPTION(Name, Base)

// Failures every layer shares.
BRIXA_DECLARE_ID_EXCEPTION(EIdNoEncodingSpecified, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdInvalidIPv6Address, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);
// The peer closed the connection in an orderly way ("Connection Closed Gracefully.").
BRIXA_DECLARE_ID_EXCEPTION(EIdSilentException, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);

inline constexpr const char* RSConnectionClosedGracefully = "Connection Closed Gracefully.";

// A number outside the range its target can hold (a port above 65535, a text longer than the
// length byte that announces it can count, a response stream positioned beyond what the
// request cycle can note); the language runtime's range-check
// failure, so it derives from Exception rather than EIdException.
BRIXA_DECLARE_EXCEPTION(ERangeError, Exception);
inline constexpr const char* RSRangeError = "Range check error";

}  // namespace brixa
