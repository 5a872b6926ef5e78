// Reading SOCKS replies off an I/O handler within the reply time limit.

#include "transport/socks/socks_session.h"

#include <optional>
#include <span>

#include "transport/socks/socks_info.h"

namespace brixa::detail {

ReplyTimeLimit::ReplyTimeLimit(TIdIOHandler& AIOHandler)
    : handler_(AIOHandler), saved_(AIOHandler.ReadTimeout()) {
  // 0 and the negative settings all mean "no limit" for a handler.
  if (saved_ <= 0) handler_.SetReadTimeout(IdSocksReplyTimeoutMs);
}

ReplyTimeLimit::~ReplyTimeLimit() {
  handler_.SetReadTimeout(saved_);
}

TIdByteArray ReadReplyBytes(TIdIOHandler& AIOHandler, std::int32_t ACount) {
  TIdByteArray bytes;
  try {
    AIOHandler.ReadByteCount(bytes, ACount);
  } catch (const EIdException&) {
    // A close, a reset or a silence in the middle of a reply all mean the same to the caller.
    throw EIdSocksServerRespondError(RSSocksServerRespondError);
  }
  return bytes;
}

socks::Address ReadSocks5Reply(TIdIOHandler& AIOHandler) {
  TIdByteArray reply = ReadReplyBytes(AIOHandler, socks::kSocks5ReplyHeadLength);
  // A refusal is reported as such even when the server does not bother with the rest.
  if (reply[1] != 0) RaiseSocks5Reply(reply[1]);
  const std::optional<std::int32_t> rest = socks::Socks5ReplyRestLength(reply[3], reply[4]);
  // An unknown address type gives no length to read by: the reply cannot be taken apart.
  if (!rest) throw EIdSocksServerRespondError(RSSocksServerRespondError);
  const TIdByteArray tail = ReadReplyBytes(AIOHandler, *rest);
  reply.insert(reply.end(), tail.begin(), tail.end());
  const std::optional<socks::Address> address =
      socks::ParseSocks5Address(std::span<const std::uint8_t>(reply).subspan(3));
  if (!address) throw EIdSocksServerRespondError(RSSocksServerRespondError);
  return *address;
}

}  // namespace brixa::detail
