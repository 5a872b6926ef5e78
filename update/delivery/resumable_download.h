#pragma once
// The installer's download: continued where an earlier attempt or run stopped, from the first
// of several servers that delivers it, every byte held to the manifest's size and hash.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/net/fetcher.h"
#include "update/state/partial_identity.h"
#include "update/update_errors.h"

namespace brixa {

class TRangeSink;
class TStream;

// Retries of one server after it lost the connection in the middle of the body. Four attempts
// with pauses of 1, 2 and 4 s ride out a flapping link or a server restart; a server that
// keeps failing is left for the next one rather than retried until the deadline.
inline constexpr int kDownloadRetries = 3;
inline constexpr std::uint32_t kFirstRetryPauseMs = 1000;
inline constexpr std::uint32_t kMaxRetryPauseMs = 8000;

// What the release says of the installer. A signed manifest gives all three; an unsigned
// version file gives no size and at most a hash.
struct TInstallerRelease {
  std::uint64_t Serial = 0;
  std::int64_t Size = -1;  // -1: not known
  std::string Sha256;      // 64 hexadecimal digits; "" when not known

  // Only bytes of a known size and hash can be kept, continued and proven whole later.
  [[nodiscard]] bool Resumable() const noexcept;
};

// How the download went, for the run log.
struct TDeliveryReport {
  std::string ServedBy;             // the URL that delivered the last bytes, after redirects;
                                    // empty: none needed
  std::int64_t ReusedBytes = 0;     // kept from an earlier run and not fetched again
  std::int64_t FetchedBytes = 0;    // body bytes written in this run, including restarts
  std::vector<std::string> Faults;  // "URL: reason" for every attempt that failed
};

// One installer download into `file` (read, written, resized; the caller owns and keeps it).
//
// A resumable release (size and hash known): `kept` describes what `file` already holds, an
// earlier run's partial installer. It is continued only when it belongs to the same release
// (serial and hash) and has a validator; otherwise the file starts empty. With N bytes in hand
// a request carries "Range: bytes=N-" and "If-Range: <validator>"; a 206 whose Content-Range
// runs from N to Size-1 is appended, a 200 (the server ignores ranges or the file changed)
// replaces everything, and any other answer ends that server's turn without touching the
// file. A body is never written past Size. A body cut short is asked for again, from where it
// stopped, up to kDownloadRetries times. The finished file is hashed as a whole; a mismatch
// empties it, and the same server is asked once more from the first byte when the file had
// been continued (the kept bytes may have been an attacker's), else the next server.
//
// Any other release has no identity: the file starts empty, a HEAD learns the announced
// length first when the size is not known, each URL gets one GET, and the finished file must
// hold the announced length and, when a hash is given, match it (VerifyDownload).
//
// Requests go through `fetcher`, borrowed. Everything runs on the calling thread.
class TResumableDownload {
 public:
  TResumableDownload(TUpdateFetcher& fetcher, TInstallerRelease release, TStream& file,
                     const TPartialIdentity& kept);

  // Called with the identity of the bytes `file` is about to hold, before the first of them
  // is written: the caller keeps it beside the file for a later run. Resumable releases only.
  std::function<void(const TPartialIdentity&)> OnIdentity;
  // Called with the bytes held and the installer's size (-1 while unknown): first with what is
  // reused, then after every write.
  std::function<void(std::int64_t held, std::int64_t size)> OnProgress;
  // Waits between retries; sleeps when not set. The window's wait keeps serving messages.
  std::function<void(std::uint32_t ms)> Pause;
  // Milliseconds left of the run's overall deadline; unbounded when not set. No request and
  // no retry starts once it is 0, and no pause is longer than what is left.
  std::function<std::int64_t()> RemainingMs;

  // Tries `urls` in order until one delivers the whole installer. Returns how it went; raises
  // EUpdateDeliveryFailed when none did (the file then holds what can be continued later).
  // Without an identity and with one URL, the message is that URL's fault alone.
  TDeliveryReport Run(const std::vector<std::string>& urls);

 private:
  // kRestart: what was held proved not to be the file; the server is asked again from 0.
  enum class TOutcome { kDone, kCut, kFailed, kRestart };
  TOutcome TryServer(const std::string& url, std::string& fault);
  TOutcome Attempt(const std::string& url, std::string& fault);
  TOutcome Transfer(const std::string& url, std::int64_t offset, TRangeSink& sink, TFetchHead& head,
                    std::string& fault);
  [[nodiscard]] TOutcome Finish(const TFetchHead& head, const TRangeSink& sink, std::string& fault);
  void LearnAnnouncedSize(const std::string& url);
  [[nodiscard]] bool Complete();
  void Discard();
  [[nodiscard]] bool TimeLeft() const;
  void Wait(std::uint32_t ms) const;
  void Progress(std::int64_t held) const;

  TUpdateFetcher& fetcher_;
  TInstallerRelease release_;
  TStream& file_;
  TPartialIdentity identity_;
  TDeliveryReport report_;
  std::int64_t announced_ = -1;  // without a known size: what the server's HEAD announced
};

}  // namespace brixa
