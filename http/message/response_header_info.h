#pragma once
// TIdResponseHeaderInfo: the response fields on top of the entity record, challenges included.

#include <memory>
#include <span>
#include <string>

#include "http/message/entity_header_info.h"

namespace brixa {

// The response fields on top of the entity fields. The client reads these from the header
// block of each response; writing them exists so the record is complete.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  static constexpr const char* DefaultContentType = "text/html";

  TIdResponseHeaderInfo();
  ~TIdResponseHeaderInfo() override;

  void ReadFields() override;
  // The entity lines, then "Content-Range" when a range or an instance length is known
  // ("bytes start-end/length", "*" for an unknown part), then "Accept-Ranges".
  void WriteFields() override;
  void ResetFields() override;
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdResponseHeaderInfo"; }

  // The response fields and what each step does with them, on top of the entity's.
  [[nodiscard]] static std::span<const THeaderField<TIdResponseHeaderInfo>> Fields() noexcept;

  [[nodiscard]] const std::string& AcceptRanges() const noexcept { return acceptRanges_; }
  void SetAcceptRanges(std::string value) { acceptRanges_ = std::move(value); }
  [[nodiscard]] const std::string& Location() const noexcept { return location_; }
  void SetLocation(std::string value) { location_ = std::move(value); }
  [[nodiscard]] const std::string& Server() const noexcept { return server_; }
  void SetServer(std::string value) { server_ = std::move(value); }
  [[nodiscard]] const std::string& ProxyConnection() const noexcept { return proxyConnection_; }
  void SetProxyConnection(std::string value) { proxyConnection_ = std::move(value); }
  // "Retry-After" as received: a number of seconds or an HTTP date; empty when not sent.
  [[nodiscard]] const std::string& RetryAfter() const noexcept { return retryAfter_; }
  void SetRetryAfter(std::string value) { retryAfter_ = std::move(value); }
  // Every "Proxy-Authenticate" value of the last head read, one per line.
  [[nodiscard]] TIdHeaderList& ProxyAuthenticate() noexcept { return *proxyAuthenticate_; }
  [[nodiscard]] const TIdHeaderList& ProxyAuthenticate() const noexcept {
    return *proxyAuthenticate_;
  }
  void SetProxyAuthenticate(const TIdHeaderList& lines) { proxyAuthenticate_->AssignLines(lines); }
  // Every "WWW-Authenticate" value of the last head read, one per line.
  [[nodiscard]] TIdHeaderList& WWWAuthenticate() noexcept { return *wwwAuthenticate_; }
  [[nodiscard]] const TIdHeaderList& WWWAuthenticate() const noexcept { return *wwwAuthenticate_; }
  void SetWWWAuthenticate(const TIdHeaderList& lines) { wwwAuthenticate_->AssignLines(lines); }

 private:
  void ResetResponseFields();

  std::string acceptRanges_;
  std::string location_;
  std::string server_;
  std::string proxyConnection_;
  std::string retryAfter_;
  std::unique_ptr<TIdHeaderList> proxyAuthenticate_;
  std::unique_ptr<TIdHeaderList> wwwAuthenticate_;
};

}  // namespace brixa
