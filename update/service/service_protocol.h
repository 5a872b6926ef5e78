#pragma once
// What the update service and its clients say to each other: a fixed, tiny set of one-line
// messages. A client can ask the service to check now and read how the update goes; it can
// name no path, URL, file, argument or setting, because no message carries one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/state/run_outcome.h"

namespace brixa {

// A request is one of these lines, byte for byte; anything else is refused.
inline constexpr std::string_view kCheckRequest = "CHECK\n";
inline constexpr std::string_view kStatusRequest = "STATUS\n";
// The most a service reads of a request: the longest request. A client that sends more is
// refused without another byte read.
inline constexpr std::size_t kMaxServiceRequestBytes = 7;
// The most a client reads of a reply line.
inline constexpr std::size_t kMaxServiceReplyBytes = 96;
// How long either side waits for the other's line.
inline constexpr std::uint32_t kServiceExchangeTimeoutMs = 2000;
// Requests the service answers per minute, from all clients together; more are refused. A
// window polls about twice a second; this leaves room for a few of them and no more.
inline constexpr int kMaxServiceRequestsPerMinute = 240;

enum class TServiceRequest { srCheck, srStatus };

// Where the service's update stands.
enum class TServicePhase { spIdle, spChecking, spDownloading, spInstalling, spDone };

struct TServiceStatus {
  TServicePhase Phase = TServicePhase::spIdle;
  std::int64_t Held = 0;                      // installer bytes held
  std::int64_t Size = -1;                     // the installer's size; -1 while unknown
  TRunOutcome Outcome = TRunOutcome::roNone;  // of the last finished run
  friend bool operator==(const TServiceStatus&, const TServiceStatus&) = default;
};

// Why a request was refused.
enum class TServiceRefusal { rfMalformed, rfTooMany };

// The request `bytes` (all a client sent, at most kMaxServiceRequestBytes + 1 of it) is.
[[nodiscard]] std::optional<TServiceRequest> ParseServiceRequest(std::string_view bytes);

// "STATE <phase> <held> <size> <outcome>\n", and "REFUSED <why>\n".
[[nodiscard]] std::string FormatServiceStatus(const TServiceStatus& status);
[[nodiscard]] std::string FormatServiceRefusal(TServiceRefusal why);
// A reply line as FormatServiceStatus writes it; none for a refusal or anything else.
[[nodiscard]] std::optional<TServiceStatus> ParseServiceStatus(std::string_view line);

// Requests admitted per minute (counted in windows of a minute from the first request): at
// most kMaxServiceRequestsPerMinute in each.
class TServiceRequestRate {
 public:
  // True when a request arriving at `nowMs` (a monotonic clock) may be answered.
  [[nodiscard]] bool Admit(std::uint64_t nowMs) noexcept;

 private:
  std::uint64_t windowStartMs_ = 0;
  int inWindow_ = 0;
  bool started_ = false;
};

}  // namespace brixa
