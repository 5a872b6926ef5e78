// Installer downloads: the retry and mirror loops around the range sink, for releases that can
// be resumed and for those that cannot.

#include "update/delivery/resumable_download.h"

#include <algorithm>
#include <utility>

#include "platform/core/stream.h"
#include "platform/thread/clock.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/text/text.h"
#include "update/delivery/download_check.h"
#include "update/delivery/range_sink.h"
#include "update/manifest/manifest.h"

namespace brixa {

namespace {

constexpr std::int32_t kStatusRangeNotSatisfiable = 416;

}  // namespace

bool TInstallerRelease::Resumable() const noexcept {
  return Size > 0 && IsSha256Text(Sha256);
}

TResumableDownload::TResumableDownload(TUpdateFetcher& fetcher, TInstallerRelease release,
                                       TStream& file, const TPartialIdentity& kept)
    : fetcher_(fetcher), release_(std::move(release)), file_(file), identity_(kept) {}

TDeliveryReport TResumableDownload::Run(const std::vector<std::string>& urls) {
  report_ = {};
  if (!release_.Resumable() || !identity_.Continues(release_.Serial, release_.Sha256) ||
      file_.Size() > release_.Size) {
    identity_ = {release_.Serial, release_.Sha256, {}};
    file_.SetSize(0);
  }
  report_.ReusedBytes = file_.Size();
  Progress(file_.Size());
  if (release_.Resumable() && file_.Size() == release_.Size) {
    if (Complete()) return report_;
    report_.Faults.push_back("the kept file's SHA-256 does not match the manifest");
    Discard();
  }
  for (const std::string& url : urls) {
    std::string fault;
    if (TryServer(url, fault) == TOutcome::kDone) return report_;
    report_.Faults.push_back(url + ": " + fault);
    if (!release_.Resumable() && urls.size() == 1) throw EUpdateDeliveryFailed(fault);
  }
  std::string reasons;
  for (const std::string& fault : report_.Faults) reasons += (reasons.empty() ? "" : "; ") + fault;
  throw EUpdateDeliveryFailed("no server delivered the installer: " + reasons);
}

TResumableDownload::TOutcome TResumableDownload::TryServer(const std::string& url,
                                                           std::string& fault) {
  std::uint32_t pause = kFirstRetryPauseMs;
  const int retries = release_.Resumable() ? kDownloadRetries : 0;
  bool restarted = false;
  for (int attempt = 0;; ++attempt) {
    if (!TimeLeft()) {
      fault = "the overall deadline has passed";
      return TOutcome::kFailed;
    }
    const TOutcome outcome = Attempt(url, fault);
    if (outcome == TOutcome::kRestart && !restarted) {
      // Bytes kept from before were not this file's: the server is asked once more for all
      // of it, rather than left for a fault that was not its own.
      restarted = true;
      report_.Faults.push_back(url + ": " + fault + " (asked again from the first byte)");
      --attempt;
      continue;
    }
    if (outcome != TOutcome::kCut) return outcome == TOutcome::kDone ? outcome : TOutcome::kFailed;
    if (attempt == retries) return TOutcome::kFailed;
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
  if (release_.Size < 0) {
    try {
      LearnAnnouncedSize(url);
    } catch (const Exception& error) {
      fault = error.Message();
      return TOutcome::kFailed;
    }
  }
  TRangeSink sink(
      file_, release_.Size,
      [this, offset](const std::string& validator) {
        if (offset > 0) report_.ReusedBytes = 0;
        if (!release_.Resumable()) return;
        identity_.Validator = validator;
        if (OnIdentity) OnIdentity(identity_);
      },
      [this](std::int64_t held) { Progress(held); });
  TFetchHead head;
  const TOutcome outcome = Transfer(url, offset, sink, head, fault);
  report_.FetchedBytes += sink.Written();
  if (outcome != TOutcome::kDone) return outcome;
  const TOutcome finished = Finish(head, sink, fault);
  if (finished == TOutcome::kDone) report_.ServedBy = head.Url.empty() ? url : head.Url;
  // A whole file that fails its hash after a continuation may hold someone else's bytes.
  if (finished == TOutcome::kFailed && offset > 0 && file_.Size() == 0) return TOutcome::kRestart;
  return finished;
}

// The request itself; kDone when the fetcher ended it without an error.
TResumableDownload::TOutcome TResumableDownload::Transfer(const std::string& url,
                                                          std::int64_t offset, TRangeSink& sink,
                                                          TFetchHead& head, std::string& fault) {
  try {
    TFetchRequest request{url, {}, {}};
    if (offset > 0) {
      request.Range = std::to_string(offset) + "-";
      request.IfRange = identity_.Validator;
    }
    head = fetcher_.Get(request, sink);
    return TOutcome::kDone;
  } catch (const EDeliveryRefused& error) {
    fault = error.Message();
  } catch (const EDeliveryTooLong& error) {
    fault = error.Message();
    Discard();
  } catch (const EFetchStatus& error) {
    fault = release_.Resumable() ? "status " + std::to_string(error.Status()) : error.Message();
    // The server's file does not reach the kept bytes: they cannot be of it.
    if (error.Status() == kStatusRangeNotSatisfiable) Discard();
  } catch (const Exception& error) {
    fault = error.Message();
    if (sink.Written() > 0) return TOutcome::kCut;
  }
  return TOutcome::kFailed;
}

// A transfer that ended without an error: whole and intact, cut short, or not the file.
TResumableDownload::TOutcome TResumableDownload::Finish(const TFetchHead& head,
                                                        const TRangeSink& sink,
                                                        std::string& fault) {
  if (!release_.Resumable()) {
    try {
      // Without an identity only what the response itself announced can be held to.
      VerifyDownload(head.Status, head.ContentLength, file_, release_.Sha256, release_.Size);
      return TOutcome::kDone;
    } catch (const Exception& error) {
      fault = error.Message();
      return TOutcome::kFailed;
    }
  }
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

// A release without a size shows its progress against what the server announces.
void TResumableDownload::LearnAnnouncedSize(const std::string& url) {
  announced_ = fetcher_.Head(url).ContentLength;
  Progress(file_.Size());
}

bool TResumableDownload::Complete() {
  TIdHashSHA256 hash;
  const std::string actual = DigestToHex(hash.HashStream(file_), false);
  return file_.Size() == release_.Size && SameTextNoCase(actual, release_.Sha256);
}

// Nothing of what the file held can be trusted: it starts again, and the kept identity can no
// longer continue it.
void TResumableDownload::Discard() {
  report_.ReusedBytes = 0;  // nothing kept is used after all
  file_.SetSize(0);
  file_.SetPosition(0);
  identity_.Validator.clear();
  if (OnIdentity && release_.Resumable()) OnIdentity(identity_);
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

void TResumableDownload::Progress(std::int64_t held) const {
  if (OnProgress) OnProgress(held, release_.Size >= 0 ? release_.Size : announced_);
}

}  // namespace brixa
