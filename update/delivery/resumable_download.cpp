// Resumed, mirrored installer downloads: the range sink that decides per response whether its
// body continues the file, restarts it or is refused, and the retry and mirror loops around it.

#include "update/delivery/resumable_download.h"

#include <algorithm>
#include <utility>

#include "http/client/http.h"
#include "http/client/http_protocol_exception.h"
#include "platform/core/stream.h"
#include "platform/thread/clock.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/text/text.h"
#include "update/delivery/range_sink.h"

namespace brixa {

namespace {

constexpr std::int32_t kStatusRangeNotSatisfiable = 416;

// Leaves the client without the range of one attempt, whatever way the attempt ends.
class TRangeRequest {
 public:
  TRangeRequest(TIdHTTP& http, std::int64_t offset, const std::string& validator) : http_(http) {
    if (offset > 0) {
      http_.Request().SetRange(std::to_string(offset) + "-");
      http_.Request().SetIfRange(validator);
    }
  }
  ~TRangeRequest() {
    http_.Request().SetRange({});
    http_.Request().SetIfRange({});
  }
  TRangeRequest(const TRangeRequest&) = delete;
  TRangeRequest& operator=(const TRangeRequest&) = delete;

 private:
  TIdHTTP& http_;
};

}  // namespace

TResumableDownload::TResumableDownload(TIdHTTP& http, TInstallerRelease release, TStream& file,
                                       const TPartialIdentity& kept)
    : http_(http), release_(std::move(release)), file_(file), identity_(kept) {}

TDeliveryReport TResumableDownload::Run(const std::vector<std::string>& urls) {
  report_ = {};
  if (!identity_.Continues(release_.Serial, release_.Sha256) || file_.Size() > release_.Size) {
    identity_ = {release_.Serial, release_.Sha256, {}};
    file_.SetSize(0);
  }
  report_.ReusedBytes = file_.Size();
  if (OnProgress) OnProgress(file_.Size(), release_.Size);
  if (file_.Size() == release_.Size) {
    if (Complete()) return report_;
    report_.Faults.push_back("the kept file's SHA-256 does not match the manifest");
    Discard();
  }
  for (const std::string& url : urls) {
    std::string fault;
    if (TryServer(url, fault) == TOutcome::kDone) {
      report_.ServedBy = url;
      return report_;
    }
    report_.Faults.push_back(url + ": " + fault);
  }
  std::string reasons;
  for (const std::string& fault : report_.Faults) reasons += (reasons.empty() ? "" : "; ") + fault;
  throw EUpdateDeliveryFailed("no server delivered the installer: " + reasons);
}

TResumableDownload::TOutcome TResumableDownload::TryServer(const std::string& url,
                                                           std::string& fault) {
  std::uint32_t pause = kFirstRetryPauseMs;
  for (int attempt = 0;; ++attempt) {
    if (!TimeLeft()) {
      fault = "the overall deadline has passed";
      return TOutcome::kFailed;
    }
    const TOutcome outcome = Attempt(url, fault);
    if (outcome != TOutcome::kCut || attempt == kDownloadRetries) return outcome;
    report_.Faults.push_back(url + ": " + fault + " (retried)");
    Wait(pause);
    pause = std::min(pause * 2, kMaxRetryPauseMs);
  }
}

// One request. kCut when the body stopped after some of it was written: the same server is
// asked for the rest.
TResumableDownload::TOutcome TResumableDownload::Attempt(const std::string& url,
                                                         std::string& fault) {
  const std::int64_t offset = file_.Size();
  TRangeSink sink(
      http_.LastResponse(), file_, release_.Size,
      [this, offset](const std::string& validator) {
        if (offset > 0) report_.ReusedBytes = 0;
        identity_.Validator = validator;
        if (OnIdentity) OnIdentity(identity_);
      },
      [this](std::int64_t held) {
        if (OnProgress) OnProgress(held, release_.Size);
      });
  const TOutcome outcome = Transfer(url, offset, sink, fault);
  report_.FetchedBytes += sink.Written();
  if (outcome != TOutcome::kDone) return outcome;
  if (file_.Size() < release_.Size) {
    fault = "the body ended after " + std::to_string(file_.Size()) + " of " +
            std::to_string(release_.Size) + " bytes";
    return sink.Written() > 0 ? TOutcome::kCut : TOutcome::kFailed;
  }
  if (Complete()) return TOutcome::kDone;
  fault = "the download's SHA-256 does not match the manifest";
  Discard();
  return TOutcome::kFailed;
}

// The request itself; kDone when the client ended it without an error.
TResumableDownload::TOutcome TResumableDownload::Transfer(const std::string& url,
                                                          std::int64_t offset, TRangeSink& sink,
                                                          std::string& fault) {
  try {
    TRangeRequest range(http_, offset, identity_.Validator);
    if (BeforeRequest) BeforeRequest(url);
    http_.Get(url, &sink);
    sink.Begin();  // a response without a body byte is judged all the same
    return TOutcome::kDone;
  } catch (const EDeliveryRefused& error) {
    fault = error.Message();
  } catch (const EDeliveryTooLong& error) {
    fault = error.Message();
    Discard();
  } catch (const EIdHTTPProtocolException& error) {
    fault = "status " + std::to_string(error.ReplyCode());
    // The server's file does not reach the kept bytes: they cannot be of it.
    if (error.ReplyCode() == kStatusRangeNotSatisfiable) Discard();
  } catch (const Exception& error) {
    fault = error.Message();
    if (sink.Written() > 0) return TOutcome::kCut;
  }
  return TOutcome::kFailed;
}

bool TResumableDownload::Complete() {
  TIdHashSHA256 hash;
  const std::string actual = DigestToHex(hash.HashStream(file_), false);
  return file_.Size() == release_.Size && SameTextNoCase(actual, release_.Sha256);
}

// Nothing of what the file held can be trusted: it starts again, and the kept identity can no
// longer continue it.
void TResumableDownload::Discard() {
  file_.SetSize(0);
  file_.SetPosition(0);
  identity_.Validator.clear();
  if (OnIdentity) OnIdentity(identity_);
}

bool TResumableDownload::TimeLeft() const {
  return !RemainingMs || RemainingMs() > 0;
}

void TResumableDownload::Wait(std::uint32_t ms) const {
  if (RemainingMs) {
    const std::int64_t left = std::max<std::int64_t>(RemainingMs(), 0);
    ms = static_cast<std::uint32_t>(std::min<std::int64_t>(ms, left));
  }
  if (Pause) {
    Pause(ms);
  } else {
    SleepMs(ms);
  }
}

}  // namespace brixa
