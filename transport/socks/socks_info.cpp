// The SOCKS handshakes of an outgoing connection: version 4 and 4a requests, the version 5 method
// and user name negotiation, and replies read within a time limit.

#include "transport/socks/socks_info.h"

#include "runtime/text/ip_text.h"
#include "transport/io/io_handler_stack.h"
#include "transport/socket/stack.h"
#include "transport/socks/socks_session.h"
#include "transport/socks/socks_wire.h"

namespace brixa {

namespace detail {

void RaiseSocks4Result(std::uint8_t AResult) {
  switch (AResult) {
    case socks::kSocks4Rejected:
      throw EIdSocksRequestFailed(RSSocksRequestFailed);
    case socks::kSocks4NoIdentd:
      throw EIdSocksRequestServerFailed(RSSocksRequestServerFailed);
    case socks::kSocks4IdentMismatch:
      throw EIdSocksRequestIdentFailed(RSSocksRequestIdentFailed);
    default:
      throw EIdSocksUnknownError(RSSocksUnknownError);
  }
}

void RaiseSocks5Reply(std::uint8_t AReply) {
  const std::string message = socks::Socks5ReplyMessage(AReply);
  switch (AReply) {
    case 1:
      throw EIdSocksServerGeneralError(message);
    case 2:
      throw EIdSocksServerPermissionError(message);
    case 3:
      throw EIdSocksServerNetUnreachableError(message);
    case 4:
      throw EIdSocksServerHostUnreachableError(message);
    case 5:
      throw EIdSocksServerConnectionRefusedError(message);
    case 6:
      throw EIdSocksServerTTLExpiredError(message);
    case 7:
      throw EIdSocksServerCommandError(message);
    case 8:
      throw EIdSocksServerAddressError(message);
    default:
      throw EIdSocksUnknownError(RSSocksUnknownError);
  }
}

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

}  // namespace detail

using detail::ReadReplyBytes;
using detail::ReadSocks5Reply;
using detail::ReplyTimeLimit;

TIdSocksInfo::TIdSocksInfo(TComponent* owner) : TIdCustomTransparentProxy(owner) {
  SetPort(IdPORT_SOCKS);
}

TIdSocksInfo::~TIdSocksInfo() = default;

void TIdSocksInfo::Assign(const TIdCustomTransparentProxy& ASource) {
  TIdCustomTransparentProxy::Assign(ASource);
  if (const auto* socks = dynamic_cast<const TIdSocksInfo*>(&ASource)) {
    authentication_ = socks->authentication_;
    version_ = socks->version_;
  }
}

TIdIOHandlerStack& TIdSocksInfo::UdpControl() {
  if (udpControl_ == nullptr) udpControl_ = std::make_unique<TIdIOHandlerStack>();
  return *udpControl_;
}

void TIdSocksInfo::MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost,
                                  std::uint16_t APort, TIdIPVersion) {
  const ReplyTimeLimit limit(AIOHandler);
  switch (version_) {
    case svSocks4:
    case svSocks4A: {
      MakeSocks4Request(AIOHandler, socks::kCommandConnect, AHost, APort);
      const TIdByteArray reply = ReadReplyBytes(AIOHandler, socks::kSocks4ReplyLength);
      if (reply[1] != socks::kSocks4Granted) detail::RaiseSocks4Result(reply[1]);
      return;
    }
    case svSocks5:
      NegotiateSocks5Method(AIOHandler);
      MakeSocks5Request(AIOHandler, socks::kCommandConnect, AHost, APort);
      (void)ReadSocks5Reply(AIOHandler);  // the bound address means nothing to a client
      return;
    case svNoSocks:
      return;
  }
}

void TIdSocksInfo::MakeSocks4Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand,
                                     const std::string& AHost, std::uint16_t APort) {
  std::uint8_t address[4] = {0, 0, 0, 1};
  std::string name;
  if (version_ == svSocks4) {
    const std::string resolved = GStack().ResolveHostAddress(AHost, Id_IPv4);
    const std::uint32_t value = IPv4TextToValue(resolved).value_or(0);
    for (int i = 0; i < 4; ++i) address[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  } else {
    name = AHost;
  }
  const TIdByteArray request = socks::Socks4Request(ACommand, APort, address, Username(), name);
  AIOHandler.OpenWriteBuffer();
  try {
    AIOHandler.WriteBytes(request);
    AIOHandler.CloseWriteBuffer();
  } catch (...) {
    AIOHandler.CancelWriteBuffer();
    throw;
  }
}

void TIdSocksInfo::NegotiateSocks5Method(TIdIOHandler& AIOHandler) {
  const std::uint8_t method =
      authentication_ == saUsernamePassword ? socks::kMethodUsernamePassword : socks::kMethodNone;
  AIOHandler.WriteBytes(TIdByteArray{socks::kVersion5, 1, method});
  const TIdByteArray chosen = ReadReplyBytes(AIOHandler, 2);
  if (chosen[1] != method || chosen[1] == socks::kMethodNoneAcceptable) {
    throw EIdSocksAuthMethodError(RSSocksAuthMethodError);
  }
  if (method != socks::kMethodUsernamePassword) return;
  AIOHandler.WriteBytes(socks::Socks5UserPassRequest(Username(), Password()));
  const TIdByteArray status = ReadReplyBytes(AIOHandler, 2);
  if (status[1] != 0) throw EIdSocksAuthError(RSSocksAuthError);
}

void TIdSocksInfo::MakeSocks5Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand,
                                     const std::string& AHost, std::uint16_t APort) {
  AIOHandler.WriteBytes(socks::Socks5Request(ACommand, AHost, APort));
}

}  // namespace brixa
