#pragma once
// TIdRequestHeaderInfo: the request fields on top of the entity record, and the Authorization
// line of its scheme object.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "http/auth/authentication.h"
#include "http/message/entity_header_info.h"

namespace brixa {

// The request fields on top of the entity fields.
//
// WriteFields writes the entity fields and custom lines first, then the request fields through
// header-value writes, so a custom line of the same name is replaced in place and a new name is
// appended; "Authorization" comes last. The record owns its authentication object.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  static constexpr const char* DefaultAccept = "text/html, */*";
  static constexpr const char* DefaultUserAgent = "Mozilla/3.0 (compatible; Brixa Library)";

  TIdRequestHeaderInfo();
  ~TIdRequestHeaderInfo() override;

  void ReadFields() override;
  void WriteFields() override;
  void ResetFields() override;
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdRequestHeaderInfo"; }
  // Into another request record: only Accept, AcceptCharSet, AcceptEncoding, AcceptLanguage,
  // From, Username, Password, Referer, UserAgent, BasicAuthentication, Range and IfRange. Into
  // any other entity record: the entity fields.
  void CopyFields(TIdHeaderRecord& destination) const override;
  void CheckOneLineFields(void (*check)(std::string_view text)) const override;

  // The request fields and what each step does with them, on top of the entity's.
  [[nodiscard]] static std::span<const THeaderField<TIdRequestHeaderInfo>> Fields() noexcept;

  [[nodiscard]] const std::string& Accept() const noexcept { return accept_; }
  void SetAccept(std::string value) { accept_ = std::move(value); }
  [[nodiscard]] const std::string& AcceptCharSet() const noexcept { return acceptCharSet_; }
  void SetAcceptCharSet(std::string value) { acceptCharSet_ = std::move(value); }
  [[nodiscard]] const std::string& AcceptEncoding() const noexcept { return acceptEncoding_; }
  void SetAcceptEncoding(std::string value) { acceptEncoding_ = std::move(value); }
  [[nodiscard]] const std::string& AcceptLanguage() const noexcept { return acceptLanguage_; }
  void SetAcceptLanguage(std::string value) { acceptLanguage_ = std::move(value); }
  [[nodiscard]] const std::string& From() const noexcept { return from_; }
  void SetFrom(std::string value) { from_ = std::move(value); }
  [[nodiscard]] const std::string& Password() const noexcept { return password_; }
  void SetPassword(std::string value) { password_ = std::move(value); }
  [[nodiscard]] const std::string& Referer() const noexcept { return referer_; }
  void SetReferer(std::string value) { referer_ = std::move(value); }
  [[nodiscard]] const std::string& UserAgent() const noexcept { return userAgent_; }
  void SetUserAgent(std::string value) { userAgent_ = std::move(value); }
  [[nodiscard]] const std::string& Username() const noexcept { return username_; }
  void SetUsername(std::string value) { username_ = std::move(value); }
  [[nodiscard]] const std::string& Host() const noexcept { return host_; }
  void SetHost(std::string value) { host_ = std::move(value); }
  [[nodiscard]] const std::string& ProxyConnection() const noexcept { return proxyConnection_; }
  void SetProxyConnection(std::string value) { proxyConnection_ = std::move(value); }
  // The byte range without its unit: "0-499" is sent as "bytes=0-499".
  [[nodiscard]] const std::string& Range() const noexcept { return range_; }
  void SetRange(std::string value) { range_ = std::move(value); }
  // The validator (an entity tag, or a date as the server sent it) that makes Range apply only
  // to the representation it names: a server whose resource changed answers 200 with all of it.
  [[nodiscard]] const std::string& IfRange() const noexcept { return ifRange_; }
  void SetIfRange(std::string value) { ifRange_ = std::move(value); }
  // Without an authentication object, WriteFields makes a Basic one from Username/Password.
  [[nodiscard]] bool BasicAuthentication() const noexcept { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) noexcept { basicAuthentication_ = value; }
  // The scheme object answering the server's challenge; owned, null at first. The pointer stays
  // valid until the scheme is replaced or freed through this record.
  [[nodiscard]] TIdAuthentication* AuthScheme() const noexcept { return authScheme_.get(); }
  void SetAuthScheme(std::unique_ptr<TIdAuthentication> scheme) noexcept {
    authScheme_ = std::move(scheme);
  }
  void FreeAuthScheme() noexcept { authScheme_.reset(); }
  // The request this head goes with, as the authentication schemes (the server's and the
  // proxy's) are given it.
  [[nodiscard]] TIdAuthRequest AuthRequest() const;
  // Hands the scheme object over to the caller; the record is left without one.
  [[nodiscard]] std::unique_ptr<TIdAuthentication> TakeAuthScheme() noexcept {
    return std::move(authScheme_);
  }

 protected:
  // The method and the request target of the request line this head goes with (AuthRequest).
  // This record has no request line: a request class that has one overrides these.
  [[nodiscard]] virtual std::string RequestLineMethod() const { return {}; }
  [[nodiscard]] virtual std::string RequestLineTarget() const { return {}; }

 private:
  void ResetRequestFields();
  void WriteAuthorization();

  std::string accept_;
  std::string acceptCharSet_;
  std::string acceptEncoding_;
  std::string acceptLanguage_;
  std::string from_;
  std::string password_;
  std::string referer_;
  std::string userAgent_;
  std::string username_;
  std::string host_;
  std::string proxyConnection_;
  std::string range_;
  std::string ifRange_;
  bool basicAuthentication_ = false;
  std::unique_ptr<TIdAuthentication> authScheme_;
};

}  // namespace brixa
