#pragma once
// Reading SOCKS replies off an I/O handler; shared by the connect, bind and relay code.

#include <cstdint>

#include "runtime/text/bytes.h"
#include "transport/io/io_handler.h"
#include "transport/socks/socks_wire.h"

namespace brixa::detail {

// For its lifetime, gives a handler without a read limit of its own the SOCKS reply limit, so
// a proxy that goes silent cannot hold the caller for ever.
class ReplyTimeLimit {
 public:
  explicit ReplyTimeLimit(TIdIOHandler& AIOHandler);
  ~ReplyTimeLimit();
  ReplyTimeLimit(const ReplyTimeLimit&) = delete;
  ReplyTimeLimit& operator=(const ReplyTimeLimit&) = delete;

 private:
  TIdIOHandler& handler_;
  std::int32_t saved_;
};

// Exactly ACount bytes of a reply; EIdSocksServerRespondError when they do not all come.
[[nodiscard]] TIdByteArray ReadReplyBytes(TIdIOHandler& AIOHandler, std::int32_t ACount);
// A SOCKS 5 reply, read as the head (five bytes) and then the rest its address type asks for.
// Raises the REP value's exception, or EIdSocksServerRespondError for an unknown address type
// or a short reply. Returns the bound address and port.
[[nodiscard]] socks::Address ReadSocks5Reply(TIdIOHandler& AIOHandler);

}  // namespace brixa::detail
