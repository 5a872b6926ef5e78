// The base proxy's defaults: connect through the chained proxy, refuse what it does not offer.

#include "transport/socks/transparent_proxy.h"

namespace brixa {

void TIdCustomTransparentProxy::ConnectThrough(TIdIOHandler& AIOHandler, const std::string& AHost,
                                               std::uint16_t APort, TIdIPVersion AIPVersion) {
  TIdCustomTransparentProxy* next = chained_;
  if (next != nullptr && next->IsEnabled()) {
    // The hop to the next proxy always asks for its host as given; that proxy then speaks its
    // own protocol over the same stream.
    MakeConnection(AIOHandler, next->Host(), next->Port(), Id_IPv4);
    next->ConnectThrough(AIOHandler, AHost, APort, AIPVersion);
    return;
  }
  MakeConnection(AIOHandler, AHost, APort, AIPVersion);
}

void TIdCustomTransparentProxy::BindThrough(TIdIOHandler&, const std::string&, std::uint16_t,
                                            TIdIPVersion) {
  throw EIdTransparentProxyCantBind(RSTransparentProxyCannotBind);
}

bool TIdCustomTransparentProxy::ListenThrough(TIdIOHandler&, std::int32_t) {
  throw EIdTransparentProxyCantBind(RSTransparentProxyCannotBind);
}

void TIdCustomTransparentProxy::OpenUdpRelay(TIdSocketHandle&, const std::string&, std::uint16_t,
                                             TIdIPVersion) {
  throw EIdTransparentProxyUDPNotSupported(RSTransparentProxyCanNotSupportUDP);
}

void TIdCustomTransparentProxy::CloseUdpRelay(TIdSocketHandle&) {
  throw EIdTransparentProxyUDPNotSupported(RSTransparentProxyCanNotSupportUDP);
}

TIdUdpDatagramInfo TIdCustomTransparentProxy::ReceiveUdp(TIdSocketHandle&, std::span<std::uint8_t>,
                                                         std::int32_t) {
  throw EIdTransparentProxyUDPNotSupported(RSTransparentProxyCanNotSupportUDP);
}

void TIdCustomTransparentProxy::SendUdp(TIdSocketHandle&, const std::string&, std::uint16_t,
                                        TIdIPVersion, std::span<const std::uint8_t>) {
  throw EIdTransparentProxyUDPNotSupported(RSTransparentProxyCanNotSupportUDP);
}

void TIdCustomTransparentProxy::Assign(const TIdCustomTransparentProxy& ASource) {
  if (&ASource == this) return;
  host_ = ASource.host_;
  password_ = ASource.password_;
  port_ = ASource.port_;
  ipVersion_ = ASource.ipVersion_;
  username_ = ASource.username_;
}

void TIdCustomTransparentProxy::SetChainedProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == chained_) return;
  // The chain is checked whole on every change, so it can never hold a loop and ConnectThrough
  // always ends.
  for (const TIdCustomTransparentProxy* link = AValue; link != nullptr;
       link = link->ChainedProxy()) {
    if (link == this) {
      throw EIdTransparentProxyCircularLink(std::string(ClassName()) +
                                            RSTransparentProxyCircularLink);
    }
  }
  if (chained_ != nullptr) RemoveFreeNotification(chained_);
  chained_ = AValue;
  if (chained_ != nullptr) FreeNotification(chained_);
}

void TIdCustomTransparentProxy::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == TOperation::opRemove && AComponent == chained_) chained_ = nullptr;
  TIdComponent::Notification(AComponent, AOperation);
}

}  // namespace brixa
