#pragma once
// Cookies in their three generations: the original server-set form, RFC 2109 and RFC 2965.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/message/uri.h"
#include "runtime/time/local_time.h"

namespace brixa {

// The attribute items of a cookie text after its name=value item: "NAME=value" with the name
// upper-cased, or a bare upper-cased word ("SECURE").
using TIdCookieAttributes = std::vector<std::string>;

// A cookie as a server set it with "Set-cookie" in the original, version-less form.
//
// ParseCookieText reads the raw text; GetHeaderText writes the cookie back in the same form.
// Texts are kept as received (no unquoting except for the path).
class TIdNetscapeCookie {
 public:
  TIdNetscapeCookie();
  TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
  TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;
  virtual ~TIdNetscapeCookie();

  // Reads `text` ("name=value; path=/; ..."). The same text as last parsed changes nothing.
  void ParseCookieText(const std::string& text);

  // "name=value" followed by "; key=value" for every attribute that has a value.
  [[nodiscard]] virtual std::string GetHeaderText() const;
  [[nodiscard]] std::string CookieText() const { return GetHeaderText(); }
  // "name=value".
  [[nodiscard]] virtual std::string GetNameValue() const;
  // Stores the "expires" text as received.
  virtual void SetExpires(const std::string& text);
  // Becomes a copy of `other` (a cookie of the RFC 2109 family): its header text is parsed and
  // its version and lifetime are taken over. Any other source raises EConvertError.
  virtual void TakeOverFrom(const TIdNetscapeCookie& other);

  [[nodiscard]] const std::string& HeaderText() const noexcept { return headerText_; }
  [[nodiscard]] const std::string& Domain() const noexcept { return domain_; }
  void SetDomain(std::string value) { domain_ = std::move(value); }
  [[nodiscard]] const std::string& Expires() const noexcept { return expires_; }
  [[nodiscard]] const std::string& Name() const noexcept { return name_; }
  void SetName(std::string value) { name_ = std::move(value); }
  // "/" when the cookie gave none.
  [[nodiscard]] const std::string& Path() const noexcept { return path_; }
  void SetPath(std::string value) { path_ = std::move(value); }
  [[nodiscard]] bool Secure() const noexcept { return secure_; }
  void SetSecure(bool value) noexcept { secure_ = value; }
  [[nodiscard]] const std::string& Value() const noexcept { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }
  // 0 for this class, 1 for RFC 2109, 2 for RFC 2965; drops to 0 for a cookie without an
  // "expires" attribute (its expiry, if any, then comes from max-age).
  [[nodiscard]] std::uint8_t CookieVersion() const noexcept { return cookieVersion_; }
  void SetCookieVersion(std::uint8_t value) noexcept { cookieVersion_ = value; }

  // What "now" is for expiry arithmetic; empty means LocalNow.
  void SetClock(TIdLocalClock clock) { clock_ = std::move(clock); }
  [[nodiscard]] const TIdLocalClock& Clock() const noexcept { return clock_; }

 protected:
  explicit TIdNetscapeCookie(std::uint8_t version);
  virtual void LoadAttributes(const TIdCookieAttributes& attributes);
  // Copies the expiry of `other` after a take-over.
  virtual void TakeOverLifetime(const TIdNetscapeCookie& other);
  void StoreExpiresText(std::string text) { expires_ = std::move(text); }
  [[nodiscard]] TDateTime Now() const { return LocalNowBy(clock_); }

  // The value of attribute `name` (first match, without letter case); empty when absent.
  [[nodiscard]] static std::string AttributeValue(const TIdCookieAttributes& attributes,
                                                  std::string_view name);
  // True when attribute `name` is present (as a bare word or with a value).
  [[nodiscard]] static bool HasAttribute(const TIdCookieAttributes& attributes,
                                         std::string_view name);
  // Appends "; key=value" (or "key=value" to an empty text) when `value` is not empty.
  static void AppendPair(std::string& text, std::string_view key, const std::string& value);

 private:
  std::string headerText_;
  std::string domain_;
  std::string expires_;
  std::string name_;
  std::string path_ = "/";
  bool secure_ = false;
  std::string value_;
  std::uint8_t cookieVersion_ = 0;
  TIdLocalClock clock_;
};

// A cookie of a "Set-cookie" header: adds max-age, version and comment.
class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  TIdCookieRFC2109();
  ~TIdCookieRFC2109() override;

  [[nodiscard]] std::string GetHeaderText() const override;
  // Also sets MaxAge to the whole seconds from now until the date (negative when past).
  void SetExpires(const std::string& text) override;

  // Seconds; -1 when absent.
  [[nodiscard]] std::int64_t MaxAge() const noexcept { return maxAge_; }
  void SetMaxAge(std::int64_t value) noexcept { maxAge_ = value; }
  [[nodiscard]] const std::string& Version() const noexcept { return version_; }
  void SetVersion(std::string value) { version_ = std::move(value); }
  [[nodiscard]] const std::string& Comment() const noexcept { return comment_; }
  void SetComment(std::string value) { comment_ = std::move(value); }

 protected:
  explicit TIdCookieRFC2109(std::uint8_t version);
  void LoadAttributes(const TIdCookieAttributes& attributes) override;
  void TakeOverLifetime(const TIdNetscapeCookie& other) override;

 private:
  std::int64_t maxAge_ = -1;
  std::string version_;
  std::string comment_;
};

// A cookie of a "Set-cookie2" header: adds the comment URL, discard and the port list.
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  // The port a cookie without a usable port list stands for.
  static constexpr std::int32_t DefaultPort = kHttpDefaultPort;

  TIdCookieRFC2965();
  ~TIdCookieRFC2965() override;

  [[nodiscard]] const std::string& CommentURL() const noexcept { return commentURL_; }
  void SetCommentURL(std::string value) { commentURL_ = std::move(value); }
  [[nodiscard]] bool Discard() const noexcept { return discard_; }
  void SetDiscard(bool value) noexcept { discard_ = value; }
  [[nodiscard]] const std::vector<std::int32_t>& Ports() const noexcept { return ports_; }
  // Sets the port at `index`; one past the end appends. Any other index outside the list
  // raises EIdException "Index out of range.".
  void StorePort(int index, std::int32_t port);

 protected:
  // Raises EConvertError when a "Port" list item is not an integer.
  void LoadAttributes(const TIdCookieAttributes& attributes) override;

 private:
  void LoadPorts(const std::string& portValue);

  std::string commentURL_;
  bool discard_ = false;
  std::vector<std::int32_t> ports_;
};

}  // namespace brixa
