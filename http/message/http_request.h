#pragma once
// TIdHTTPRequest: the request record, the request header fields plus what the request line needs.

#include <string>

#include "http/message/request_header_info.h"
#include "platform/core/stream.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

// How the client reaches its target for one request.
enum TIdHTTPConnectionKind {
  ckDirect,    // plain TCP to the origin server
  ckTLS,       // TLS to the origin server
  ckProxy,     // plain TCP to an HTTP proxy, absolute request target
  ckTLSProxy,  // CONNECT tunnel through an HTTP proxy, then TLS inside it
};

// The request record of the HTTP client: the header fields of TIdRequestHeaderInfo plus what
// the request line needs. It lives as long as its client and keeps every field between
// requests, including what the request cycle writes into it (Host, Connection,
// Proxy-Connection, Accept-Encoding, the request target in URL).
class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  TIdHTTPRequest() = default;
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdHTTPRequest"; }

  // The caller's URL on entry to a request, then the request target written in the request
  // line ("/path?query", an absolute URL through a proxy, or "*").
  [[nodiscard]] const std::string& URL() const noexcept { return url_; }
  void SetURL(std::string value) { url_ = std::move(value); }
  [[nodiscard]] const std::string& RequestMethod() const noexcept { return method_; }
  void SetRequestMethod(std::string value) { method_ = std::move(value); }
  // The request body, borrowed; null for requests without one.
  [[nodiscard]] TStream* BodySource() const noexcept { return bodySource_; }
  void SetBodySource(TStream* value) noexcept { bodySource_ = value; }
  [[nodiscard]] TIdHTTPConnectionKind ConnectionKind() const noexcept { return kind_; }
  void SetConnectionKind(TIdHTTPConnectionKind value) noexcept { kind_ = value; }
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  void SetIPVersion(TIdIPVersion value) noexcept { ipVersion_ = value; }

 protected:
  // A Digest scheme signs the method and the target of the request line.
  [[nodiscard]] std::string RequestLineMethod() const override { return method_; }
  [[nodiscard]] std::string RequestLineTarget() const override { return url_; }

 private:
  std::string url_;
  std::string method_;
  TStream* bodySource_ = nullptr;
  TIdHTTPConnectionKind kind_ = ckDirect;
  TIdIPVersion ipVersion_ = Id_IPv4;
};

}  // namespace brixa
