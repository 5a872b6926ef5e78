#pragma once
// The updater's side of the update service: asking it to check, and following its run.

#include <optional>
#include <string>

#include "update/service/service_protocol.h"

namespace brixa {

// Between two questions of a client following the service's run.
inline constexpr std::uint32_t kServicePollMs = 400;

// Sends `request` to the update service of `product` and reads its status; none, with `error`,
// when no service of the system's answers or its answer is not a status line.
[[nodiscard]] std::optional<TServiceStatus> AskService(const std::string& product,
                                                       TServiceRequest request, std::string& error);

}  // namespace brixa
