#pragma once
// TIdEntityHeaderInfo: the entity fields every HTTP message carries, as one record with its
// field table.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "http/message/header_field.h"
#include "http/message/header_list.h"
#include "http/message/header_record.h"
#include "runtime/time/internet_date.h"
#include "runtime/time/local_time.h"

namespace brixa {

// The entity fields of an HTTP message and their conversion to and from header lines.
//
// WriteFields rebuilds HeaderLines from the fields (before a request is written); ReadFields
// fills the fields from HeaderLines (after a response head was read). Date fields hold local
// time; they are read from and written as GMT. A record belongs to one client and is used on
// that client's thread.
class TIdEntityHeaderInfo : public TIdHeaderRecord {
 public:
  // HeaderLines folds only very long lines: what is read stays as received.
  static constexpr std::int32_t HeaderLinesBreakColumn = 1024;
  static constexpr std::int32_t CustomHeadersBreakColumn = TIdHeaderList::DefaultBreakColumn;
  static constexpr std::int64_t UnknownLength = -1;

  TIdEntityHeaderInfo();
  ~TIdEntityHeaderInfo() override;

  // Fills the fields from HeaderLines.
  virtual void ReadFields();
  // Clears HeaderLines and writes the fields that are set, in their fixed order, followed by
  // the CustomHeaders lines as they stand.
  virtual void WriteFields();
  // Puts the fields back to the record's defaults (Pragma, CustomHeaders and LengthKnown stay).
  virtual void ResetFields();
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdEntityHeaderInfo"; }
  // Into any entity record: HeaderLines lines, CacheControl, ContentDisposition,
  // ContentEncoding, ContentLanguage, ContentType, ContentVersion, ContentLength, the range
  // fields, Date, ETag, Expires, LastModified (not Connection, Pragma, CustomHeaders,
  // LengthKnown).
  void CopyFields(TIdHeaderRecord& destination) const override;
  // Runs `check` on every caller-set text that goes into a request head on one line.
  virtual void CheckOneLineFields(void (*check)(std::string_view text)) const;

  // The entity fields and what each step does with them.
  [[nodiscard]] static std::span<const THeaderField<TIdEntityHeaderInfo>> Fields() noexcept;

  [[nodiscard]] const std::string& CacheControl() const noexcept { return cacheControl_; }
  void SetCacheControl(std::string value) { cacheControl_ = std::move(value); }
  [[nodiscard]] TIdHeaderList& HeaderLines() noexcept { return *headerLines_; }
  [[nodiscard]] const TIdHeaderList& HeaderLines() const noexcept { return *headerLines_; }
  // Copies the lines of `lines`.
  void SetHeaderLines(const TIdHeaderList& lines) { headerLines_->AssignLines(lines); }
  [[nodiscard]] const std::string& Connection() const noexcept { return connection_; }
  void SetConnection(std::string value) { connection_ = std::move(value); }
  [[nodiscard]] const std::string& ContentDisposition() const noexcept {
    return contentDisposition_;
  }
  void SetContentDisposition(std::string value) { contentDisposition_ = std::move(value); }
  [[nodiscard]] const std::string& ContentEncoding() const noexcept { return contentEncoding_; }
  void SetContentEncoding(std::string value) { contentEncoding_ = std::move(value); }
  [[nodiscard]] const std::string& ContentLanguage() const noexcept { return contentLanguage_; }
  void SetContentLanguage(std::string value) { contentLanguage_ = std::move(value); }
  // -1: unknown, or not sent.
  [[nodiscard]] std::int64_t ContentLength() const noexcept { return contentLength_; }
  // Also sets LengthKnown to (value >= 0).
  void SetContentLength(std::int64_t value) noexcept;
  [[nodiscard]] std::int64_t ContentRangeEnd() const noexcept { return contentRangeEnd_; }
  void SetContentRangeEnd(std::int64_t value) noexcept { contentRangeEnd_ = value; }
  [[nodiscard]] std::int64_t ContentRangeStart() const noexcept { return contentRangeStart_; }
  void SetContentRangeStart(std::int64_t value) noexcept { contentRangeStart_ = value; }
  [[nodiscard]] std::int64_t ContentRangeInstanceLength() const noexcept {
    return contentRangeInstanceLength_;
  }
  void SetContentRangeInstanceLength(std::int64_t value) noexcept {
    contentRangeInstanceLength_ = value;
  }
  [[nodiscard]] const std::string& ContentType() const noexcept { return contentType_; }
  void SetContentType(std::string value) { contentType_ = std::move(value); }
  [[nodiscard]] const std::string& ContentVersion() const noexcept { return contentVersion_; }
  void SetContentVersion(std::string value) { contentVersion_ = std::move(value); }
  // Extra lines sent after the entity fields; request fields of the same name replace them.
  [[nodiscard]] TIdHeaderList& CustomHeaders() noexcept { return *customHeaders_; }
  [[nodiscard]] const TIdHeaderList& CustomHeaders() const noexcept { return *customHeaders_; }
  // Copies the lines of `lines`.
  void SetCustomHeaders(const TIdHeaderList& lines) { customHeaders_->AssignLines(lines); }
  // Local time; 0 = none.
  [[nodiscard]] TDateTime Date() const noexcept { return date_; }
  void SetDate(TDateTime value) noexcept { date_ = value; }
  [[nodiscard]] TDateTime Expires() const noexcept { return expires_; }
  void SetExpires(TDateTime value) noexcept { expires_ = value; }
  [[nodiscard]] const std::string& ETag() const noexcept { return eTag_; }
  void SetETag(std::string value) { eTag_ = std::move(value); }
  // Read from "Last-Modified"; requests send it as "If-Modified-Since".
  [[nodiscard]] TDateTime LastModified() const noexcept { return lastModified_; }
  void SetLastModified(TDateTime value) noexcept { lastModified_ = value; }
  [[nodiscard]] const std::string& Pragma() const noexcept { return pragma_; }
  void SetPragma(std::string value) { pragma_ = std::move(value); }
  [[nodiscard]] bool LengthKnown() const noexcept { return lengthKnown_; }
  void SetLengthKnown(bool value) noexcept { lengthKnown_ = value; }
  [[nodiscard]] bool RangeKnown() const noexcept { return contentRangeEnd_ > 0; }
  [[nodiscard]] bool InstanceLengthKnown() const noexcept {
    return contentRangeInstanceLength_ > 0;
  }

  // What "now" is when an "Expires" value counts seconds from now; empty means LocalNow.
  void SetClock(TIdLocalClock clock) { clock_ = std::move(clock); }

 protected:
  // The entity part of ResetFields, also run by the constructor (which cannot reach the
  // overrides of derived records; each derived constructor sets its own defaults).
  void ResetEntityFields();
  // The entity part of CopyFields, into any entity record.
  void CopyEntityFields(TIdEntityHeaderInfo& destination) const;

 private:
  void ReadContentRange();
  void ReadExpires();

  std::string cacheControl_;
  std::unique_ptr<TIdHeaderList> headerLines_;
  std::string connection_;
  std::string contentDisposition_;
  std::string contentEncoding_;
  std::string contentLanguage_;
  std::int64_t contentLength_ = UnknownLength;
  std::int64_t contentRangeEnd_ = 0;
  std::int64_t contentRangeStart_ = 0;
  std::int64_t contentRangeInstanceLength_ = 0;
  std::string contentType_;
  std::string contentVersion_;
  std::unique_ptr<TIdHeaderList> customHeaders_;
  TDateTime date_ = 0;
  TDateTime expires_ = 0;
  std::string eTag_;
  TDateTime lastModified_ = 0;
  std::string pragma_;
  bool lengthKnown_ = false;
  TIdLocalClock clock_;
};

}  // namespace brixa
