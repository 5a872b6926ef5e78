#pragma once
// TIdSocksInfo: a SOCKS 4, 4a or 5 proxy as a transparent proxy, with its settings and exceptions.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "runtime/network_exception.h"
#include "runtime/text/bytes.h"
#include "transport/socks/transparent_proxy.h"

namespace brixa {

class TIdIOHandlerSocket;
class TIdIOHandlerStack;

BRIXA_DECLARE_ID_EXCEPTION(EIdSocksError, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksRequestFailed, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksRequestServerFailed, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksRequestIdentFailed, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksUnknownError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerRespondError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksAuthMethodError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksAuthError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerGeneralError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerPermissionError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerNetUnreachableError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerHostUnreachableError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerConnectionRefusedError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerTTLExpiredError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerCommandError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksServerAddressError, EIdSocksError);
BRIXA_DECLARE_ID_EXCEPTION(EIdSocksUDPNotSupportedBySOCKSVersion, EIdSocksError);

inline constexpr const char* RSSocksRequestFailed = "Request rejected or failed.";
inline constexpr const char* RSSocksRequestServerFailed =
    "Request rejected because SOCKS server cannot connect.";
inline constexpr const char* RSSocksRequestIdentFailed =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr const char* RSSocksUnknownError = "Unknown socks error.";
inline constexpr const char* RSSocksServerRespondError = "Socks server did not respond.";
inline constexpr const char* RSSocksAuthMethodError = "Invalid socks authentication method.";
inline constexpr const char* RSSocksAuthError = "Authentication error to socks server.";
inline constexpr const char* RSSocksUDPNotSupported = "UDP is not support in this SOCKS version.";

enum TSocksAuthentication { saNoAuthentication = 0, saUsernamePassword = 1 };
enum TSocksVersion { svNoSocks = 0, svSocks4 = 1, svSocks4A = 2, svSocks5 = 3 };

inline constexpr std::uint16_t IdPORT_SOCKS = 1080;
// The longest a SOCKS reply may take when the I/O handler has no read limit of its own: a proxy
// that accepts the connection and then says nothing must not hold the caller for ever.
inline constexpr std::int32_t IdSocksReplyTimeoutMs = 60000;

// SOCKS 4, 4a and 5 (RFC 1928, RFC 1929): the tunnel of an outgoing connection, an inbound
// connection through the proxy (bind and listen), and for version 5 a UDP relay.
//
// Every failure raises one of the EIdSocks* exceptions (or ERangeError for a text too long for
// its length byte); a reply that ends early, does not come in time or cannot be parsed raises
// EIdSocksServerRespondError. After a failure the connection is not usable: the caller closes
// it (a failed BindThrough or ListenThrough closes it itself).
class TIdSocksInfo : public TIdCustomTransparentProxy {
 public:
  explicit TIdSocksInfo(TComponent* owner = nullptr);
  ~TIdSocksInfo() override;

  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdSocksInfo"; }

  // True for svSocks4, svSocks4A and svSocks5.
  [[nodiscard]] bool IsEnabled() const override { return version_ != svNoSocks; }

  void BindThrough(TIdIOHandler& AIOHandler, const std::string& AHost, std::uint16_t APort,
                   TIdIPVersion AIPVersion) override;
  [[nodiscard]] bool ListenThrough(TIdIOHandler& AIOHandler, std::int32_t ATimeout) override;

  // SOCKS 5 only (4 and 4a raise EIdSocksUDPNotSupportedBySOCKSVersion). The relay's control
  // connection is this object's own I/O handler and stays open until CloseUdpRelay; AHost and
  // APort are not sent (the relay is asked for any address, so the first datagram sets it).
  void OpenUdpRelay(TIdSocketHandle& ABinding, const std::string& AHost, std::uint16_t APort,
                    TIdIPVersion AIPVersion) override;
  void CloseUdpRelay(TIdSocketHandle& ABinding) override;
  TIdUdpDatagramInfo ReceiveUdp(TIdSocketHandle& ABinding, std::span<std::uint8_t> VBuffer,
                                std::int32_t ATimeout) override;
  void SendUdp(TIdSocketHandle& ABinding, const std::string& AHost, std::uint16_t APort,
               TIdIPVersion AIPVersion, std::span<const std::uint8_t> AData) override;

  // The base copy, and Authentication and Version when the source is a TIdSocksInfo.
  void Assign(const TIdCustomTransparentProxy& ASource) override;

  [[nodiscard]] TSocksAuthentication Authentication() const noexcept { return authentication_; }
  void SetAuthentication(TSocksAuthentication AValue) noexcept { authentication_ = AValue; }
  [[nodiscard]] TSocksVersion Version() const noexcept { return version_; }
  void SetVersion(TSocksVersion AValue) noexcept { version_ = AValue; }

  // The handler that carries a UDP relay's control connection; made on first use.
  [[nodiscard]] TIdIOHandlerStack& UdpControl();

 protected:
  void MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost, std::uint16_t APort,
                      TIdIPVersion AIPVersion) override;

 private:
  void MakeSocks4Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand, const std::string& AHost,
                         std::uint16_t APort);
  void NegotiateSocks5Method(TIdIOHandler& AIOHandler);
  void MakeSocks5Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand, const std::string& AHost,
                         std::uint16_t APort);
  // Connects the handler's own socket straight to this proxy, its transparent proxy bypassed.
  void ConnectToProxy(TIdIOHandlerSocket& AHandler);
  // Reads a bind reply and makes the address in it the socket's remote endpoint.
  void ReadBindReply(TIdIOHandlerSocket& AHandler);
  // Raises unless this is SOCKS 5 (the versions that have no UDP relay).
  void CheckUdpSupported() const;

  TSocksAuthentication authentication_ = saNoAuthentication;
  TSocksVersion version_ = svNoSocks;
  std::unique_ptr<TIdIOHandlerStack> udpControl_;
};

namespace detail {
// Raises the exception of a SOCKS 4 result code other than 90 (granted).
[[noreturn]] void RaiseSocks4Result(std::uint8_t AResult);
// Raises the exception of a non-zero SOCKS 5 REP value.
[[noreturn]] void RaiseSocks5Reply(std::uint8_t AReply);
}  // namespace detail

}  // namespace brixa
