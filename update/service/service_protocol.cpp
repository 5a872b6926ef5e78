// The service's messages: strict parsing of the few lines there are.

#include "update/service/service_protocol.h"

#include <array>
#include <utility>

#include "runtime/text/plain_decimal.h"

namespace brixa {

namespace {

constexpr std::uint64_t kMinuteMs = 60 * 1000;
// The longest number a reply carries: a size in bytes.
constexpr std::size_t kMaxNumberDigits = 18;

constexpr std::array<std::pair<TServicePhase, std::string_view>, 5> kPhases{{
    {TServicePhase::spIdle, "idle"},
    {TServicePhase::spChecking, "checking"},
    {TServicePhase::spDownloading, "downloading"},
    {TServicePhase::spInstalling, "installing"},
    {TServicePhase::spDone, "done"},
}};

constexpr std::array<std::pair<TRunOutcome, std::string_view>, 8> kOutcomes{{
    {TRunOutcome::roNone, "none"},
    {TRunOutcome::roFailed, "failed"},
    {TRunOutcome::roRefused, "refused"},
    {TRunOutcome::roDeferred, "deferred"},
    {TRunOutcome::roHeldBack, "held-back"},
    {TRunOutcome::roUpdate, "update"},
    {TRunOutcome::roUpToDate, "up-to-date"},
    {TRunOutcome::roInstalled, "installed"},
}};

template <typename Value, std::size_t N>
std::string_view NameOf(const std::array<std::pair<Value, std::string_view>, N>& names,
                        Value value) {
  for (const auto& [known, name] : names) {
    if (known == value) return name;
  }
  return names.front().second;
}

template <typename Value, std::size_t N>
std::optional<Value> ValueOf(const std::array<std::pair<Value, std::string_view>, N>& names,
                             std::string_view name) {
  for (const auto& [value, known] : names) {
    if (known == name) return value;
  }
  return std::nullopt;
}

// The next space-separated field of `rest`, taken off it.
std::string_view TakeField(std::string_view& rest) {
  const std::size_t space = rest.find(' ');
  const std::string_view field = rest.substr(0, space);
  rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  return field;
}

std::optional<std::int64_t> Count(std::string_view text, bool mayBeUnknown) {
  if (mayBeUnknown && text == "-1") return -1;
  const auto value = PlainDecimal(text, kMaxNumberDigits);
  if (!value) return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

}  // namespace

std::optional<TServiceRequest> ParseServiceRequest(std::string_view bytes) {
  if (bytes == kCheckRequest) return TServiceRequest::srCheck;
  if (bytes == kStatusRequest) return TServiceRequest::srStatus;
  return std::nullopt;
}

std::string FormatServiceStatus(const TServiceStatus& status) {
  return "STATE " + std::string(NameOf(kPhases, status.Phase)) + " " +
         std::to_string(status.Held < 0 ? 0 : status.Held) + " " +
         std::to_string(status.Size < 0 ? -1 : status.Size) + " " +
         std::string(NameOf(kOutcomes, status.Outcome)) + "\n";
}

std::string FormatServiceRefusal(TServiceRefusal why) {
  return why == TServiceRefusal::rfTooMany ? "REFUSED too-many\n" : "REFUSED malformed\n";
}

std::optional<TServiceStatus> ParseServiceStatus(std::string_view line) {
  if (line.size() > kMaxServiceReplyBytes || line.empty() || line.back() != '\n') {
    return std::nullopt;
  }
  std::string_view rest = line.substr(0, line.size() - 1);
  if (TakeField(rest) != "STATE") return std::nullopt;
  const auto phase = ValueOf(kPhases, TakeField(rest));
  const auto held = Count(TakeField(rest), false);
  const auto size = Count(TakeField(rest), true);
  const auto outcome = ValueOf(kOutcomes, TakeField(rest));
  if (!phase || !held || !size || !outcome || !rest.empty()) return std::nullopt;
  return TServiceStatus{*phase, *held, *size, *outcome};
}

bool TServiceRequestRate::Admit(std::uint64_t nowMs) noexcept {
  if (!started_ || nowMs - windowStartMs_ >= kMinuteMs) {
    started_ = true;
    windowStartMs_ = nowMs;
    inWindow_ = 0;
  }
  if (inWindow_ >= kMaxServiceRequestsPerMinute) return false;
  ++inWindow_;
  return true;
}

}  // namespace brixa
