// One question to the update service per connection, as the service answers them.

#include "app/service_client.h"

#include "platform/process/local_channel.h"

namespace brixa {

std::optional<TServiceStatus> AskService(const std::string& product, TServiceRequest request,
                                         std::string& error) {
  const auto channel =
      ConnectLocalChannel(kServiceChannelFolder, product, kServiceExchangeTimeoutMs, error);
  if (!channel) return std::nullopt;
  const std::string_view line =
      request == TServiceRequest::srCheck ? kCheckRequest : kStatusRequest;
  if (!channel->Write(line)) {
    error = "the update service closed the channel";
    return std::nullopt;
  }
  const std::string reply = channel->ReadLine(kMaxServiceReplyBytes, kServiceExchangeTimeoutMs);
  const auto status = ParseServiceStatus(reply);
  if (!status) error = "the update service did not answer with its status";
  return status;
}

}  // namespace brixa
