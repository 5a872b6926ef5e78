// Parsing and writing each cookie generation, with expiry from Expires or Max-Age and bounded
// lifetimes.

#include "http/cookies/cookie.h"

#include <cmath>

#include "http/client/http_exceptions.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr char ItemSeparator = ';';
constexpr char DoubleQuote = '"';
// A max-age beyond this is taken as this: a hundred years keeps the expiry date a calendar
// date the date functions can write and read back.
constexpr std::int64_t MaxCookieAgeSeconds = 100LL * 366 * 24 * 60 * 60;

// The items of a cookie text: split at ";", each trimmed. Empty items in the middle are kept
// so the first item stays the first whatever follows.
[[nodiscard]] std::vector<std::string> SplitItems(const std::string& text) {
  std::vector<std::string> items;
  std::string rest = Trim(text);
  while (!rest.empty()) {
    const std::size_t end = rest.find(ItemSeparator);
    items.push_back(Trim(std::string_view(rest).substr(0, end)));
    if (end == std::string::npos) break;
    rest = Trim(std::string_view(rest).substr(end + 1));
  }
  return items;
}

// "name=value" becomes "NAME=value"; a bare word is upper-cased whole.
[[nodiscard]] std::string NormalizeAttribute(const std::string& item) {
  const std::size_t equals = item.find('=');
  if (equals == std::string::npos) return UpperCase(item);
  return UpperCase(Trim(std::string_view(item).substr(0, equals))) + "=" +
         Trim(std::string_view(item).substr(equals + 1));
}

[[nodiscard]] std::string Unquoted(std::string text) {
  if (!text.empty() && text.front() == DoubleQuote) text.erase(0, 1);
  if (!text.empty() && text.back() == DoubleQuote) text.pop_back();
  return text;
}

[[nodiscard]] bool IsBlank(char ch) {
  return static_cast<unsigned char>(ch) <= ' ';
}

// Comma-separated list rules: items end at a comma or a blank, blanks around items are
// skipped, and a comma followed by nothing still yields one (empty) item.
[[nodiscard]] std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  std::size_t pos = 0;
  const auto skipBlanks = [&] {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
  };
  skipBlanks();
  while (pos < text.size()) {
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ',' && !IsBlank(text[pos])) ++pos;
    items.emplace_back(text.substr(start, pos - start));
    skipBlanks();
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      if (pos == text.size()) items.emplace_back();
      skipBlanks();
    }
  }
  return items;
}

}  // namespace

// ---- TIdNetscapeCookie ---------------------------------------------------------------------

TIdNetscapeCookie::TIdNetscapeCookie() : TIdNetscapeCookie(0) {}

TIdNetscapeCookie::TIdNetscapeCookie(std::uint8_t version) : cookieVersion_(version) {}

TIdNetscapeCookie::~TIdNetscapeCookie() = default;

void TIdNetscapeCookie::ParseCookieText(const std::string& text) {
  if (text == headerText_) return;
  headerText_ = text;
  std::vector<std::string> items = SplitItems(text);
  name_.clear();
  value_.clear();
  if (!items.empty()) {
    // A first item without "=" has no name; such a cookie is never stored.
    const std::size_t equals = items.front().find('=');
    if (equals != std::string::npos) {
      name_ = Trim(std::string_view(items.front()).substr(0, equals));
      value_ = Trim(std::string_view(items.front()).substr(equals + 1));
    }
    items.erase(items.begin());
  }
  TIdCookieAttributes attributes;
  for (const std::string& item : items) {
    if (!item.empty()) attributes.push_back(NormalizeAttribute(item));
  }
  LoadAttributes(attributes);
}

std::string TIdNetscapeCookie::AttributeValue(const TIdCookieAttributes& attributes,
                                              std::string_view name) {
  for (const std::string& item : attributes) {
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos &&
        SameTextNoCase(std::string_view(item).substr(0, equals), name)) {
      return item.substr(equals + 1);
    }
  }
  return {};
}

bool TIdNetscapeCookie::HasAttribute(const TIdCookieAttributes& attributes, std::string_view name) {
  for (const std::string& item : attributes) {
    const std::string_view itemName = std::string_view(item).substr(0, item.find('='));
    if (SameTextNoCase(itemName, name)) return true;
  }
  return false;
}

void TIdNetscapeCookie::LoadAttributes(const TIdCookieAttributes& attributes) {
  const std::string path = AttributeValue(attributes, "PATH");
  path_ = path.empty() ? std::string("/") : Unquoted(path);
  SetExpires(AttributeValue(attributes, "EXPIRES"));
  domain_ = AttributeValue(attributes, "DOMAIN");
  secure_ = HasAttribute(attributes, "SECURE");
}

void TIdNetscapeCookie::SetExpires(const std::string& text) {
  expires_ = text;
}

void TIdNetscapeCookie::AppendPair(std::string& text, std::string_view key,
                                   const std::string& value) {
  if (value.empty()) return;
  if (!text.empty()) text += "; ";
  text += key;
  text += "=";
  text += value;
}

std::string TIdNetscapeCookie::GetHeaderText() const {
  // The name=value pair always leads, even with an empty value: without it the first
  // attribute would be read back as the cookie's name.
  std::string text = GetNameValue();
  AppendPair(text, "path", path_);
  if (cookieVersion_ == 0) AppendPair(text, "expires", expires_);
  AppendPair(text, "domain", domain_);
  if (secure_) text += "; secure";
  return text;
}

std::string TIdNetscapeCookie::GetNameValue() const {
  return name_ + "=" + value_;
}

void TIdNetscapeCookie::TakeOverFrom(const TIdNetscapeCookie& other) {
  if (dynamic_cast<const TIdCookieRFC2109*>(&other) == nullptr) {
    throw EConvertError(AssignErrorText("TIdNetscapeCookie", "TIdNetscapeCookie"));
  }
  if (&other == this) return;
  ParseCookieText(other.GetHeaderText());
  cookieVersion_ = other.cookieVersion_;
  TakeOverLifetime(other);
}

// The header text of a versioned cookie carries no "expires"; without this the replaced
// cookie would outlive what the server asked for (a deletion by a past date would be lost).
void TIdNetscapeCookie::TakeOverLifetime(const TIdNetscapeCookie& other) {
  expires_ = other.expires_;
}

// ---- TIdCookieRFC2109 ----------------------------------------------------------------------

TIdCookieRFC2109::TIdCookieRFC2109() : TIdCookieRFC2109(1) {}

TIdCookieRFC2109::TIdCookieRFC2109(std::uint8_t version) : TIdNetscapeCookie(version) {}

TIdCookieRFC2109::~TIdCookieRFC2109() = default;

void TIdCookieRFC2109::SetExpires(const std::string& text) {
  if (!text.empty()) {
    try {
      // Whole seconds, truncated toward zero after rounding to the millisecond, so that day
      // fractions that are not exact in binary do not lose a second.
      const double days = InternetDateToLocalTime(text) - Now();
      const double milliseconds = std::round(days * kMillisecondsPerDay);
      maxAge_ = static_cast<std::int64_t>(std::trunc(milliseconds / 1000));
    } catch (const Exception&) {
      // Without a time-zone answer the age stays as it was; the text is still kept.
    }
  }
  StoreExpiresText(text);
}

void TIdCookieRFC2109::LoadAttributes(const TIdCookieAttributes& attributes) {
  TIdNetscapeCookie::LoadAttributes(attributes);
  std::int64_t seconds = 0;
  const bool maxAgeGiven = TryStrToInt64Trim(AttributeValue(attributes, "MAX-AGE"), seconds);
  maxAge_ = maxAgeGiven ? seconds : -1;
  version_ = AttributeValue(attributes, "VERSION");
  comment_ = AttributeValue(attributes, "COMMENT");
  if (!Expires().empty()) return;
  SetCookieVersion(0);
  if (!maxAgeGiven) return;
  // A negative max-age asks for deletion just as 0 does; only an absent (or unreadable) one
  // leaves a session cookie.
  if (seconds < 0) seconds = 0;
  if (seconds > MaxCookieAgeSeconds) seconds = MaxCookieAgeSeconds;
  const TDateTime utcNow = Now() - LocalOffsetFromUTC();
  SetExpires(FormatHttpDate(utcNow + static_cast<double>(seconds) / kSecondsPerDay));
}

std::string TIdCookieRFC2109::GetHeaderText() const {
  std::string text = TIdNetscapeCookie::GetHeaderText();
  if (maxAge_ >= 0 && Expires().empty()) AppendPair(text, "max-age", std::to_string(maxAge_));
  AppendPair(text, "comment", comment_);
  AppendPair(text, "version", version_);
  return text;
}

void TIdCookieRFC2109::TakeOverLifetime(const TIdNetscapeCookie& other) {
  TIdNetscapeCookie::TakeOverLifetime(other);
  if (const auto* versioned = dynamic_cast<const TIdCookieRFC2109*>(&other)) {
    maxAge_ = versioned->maxAge_;
  }
}

// ---- TIdCookieRFC2965 ----------------------------------------------------------------------

TIdCookieRFC2965::TIdCookieRFC2965() : TIdCookieRFC2109(2) {}

TIdCookieRFC2965::~TIdCookieRFC2965() = default;

void TIdCookieRFC2965::StorePort(int index, std::int32_t port) {
  const int count = static_cast<int>(ports_.size());
  RaiseIf<EIdException>(index < 0 || index > count, RSCookieIndexOutOfRange);
  if (index == count) ports_.push_back(port);
  ports_[static_cast<std::size_t>(index)] = port;
}

void TIdCookieRFC2965::LoadAttributes(const TIdCookieAttributes& attributes) {
  TIdCookieRFC2109::LoadAttributes(attributes);
  commentURL_ = AttributeValue(attributes, "CommentURL");
  discard_ = HasAttribute(attributes, "DISCARD");
  LoadPorts(AttributeValue(attributes, "PORT"));
}

void TIdCookieRFC2965::LoadPorts(const std::string& portValue) {
  ports_.clear();
  if (portValue.empty()) {
    ports_.push_back(DefaultPort);
    return;
  }
  if (portValue.size() < 2 || portValue.front() != DoubleQuote || portValue.back() != DoubleQuote) {
    return;
  }
  const std::vector<std::string> items =
      SplitCommaText(std::string_view(portValue).substr(1, portValue.size() - 2));
  for (std::size_t i = 0; i < items.size(); ++i) {
    StorePort(static_cast<int>(i), StrToIntTrim(items[i]));
  }
  if (ports_.empty()) ports_.push_back(DefaultPort);
}

}  // namespace brixa
