#pragma once
// The run log: one short line per updater run, for a vendor's support to read.

#include <cstdint>
#include <optional>
#include <string>

#include "update/state/run_outcome.h"

namespace brixa {

// The log's name in the user's state folder, and the older half it rotates to.
inline constexpr const char* kRunLogFileName = "updater.log";
inline constexpr const char* kRunLogOldSuffix = ".1";
// Rotated once it reaches this: some 1500 runs, a year of daily runs several times over, and
// at most twice this on disk.
inline constexpr std::int64_t kRunLogRotateBytes = 256 * 1024;
// A reason longer than this is cut: one line must stay one short line.
inline constexpr std::size_t kMaxRunLogReasonBytes = 400;

// What one run found and did.
struct TRunRecord {
  std::string LocalStamp;
  std::string ServerStamp;
  std::optional<std::uint64_t> Serial;
  TRunOutcome Decision = TRunOutcome::roNone;
  // On failure: which check, which URL, which error.
  std::string Reason;
  // Why the servers before the deciding one were passed over ("" when none was). Written
  // after Reason, under a cap of its own, so the deciding reason is never cut for them.
  std::string Earlier;
};

// `text` with the user name and password of every URL in it removed ("http://u:p@h/" becomes
// "http://h/"), line breaks and other control characters as spaces (C0, DEL, and in UTF-8 the
// C1 controls with NEL, the line and paragraph separators and the bidirectional overrides),
// bytes that are not UTF-8 as '?', double quotes as single ones: the log never holds a
// credential, one record stays one line, and no server's text can steer a terminal that shows
// it.
[[nodiscard]] std::string ScrubLogText(std::string text);

// The record as one line, ending in '\n', stamped with `nowSeconds` (UTC).
[[nodiscard]] std::string FormatRunRecord(std::int64_t nowSeconds, const TRunRecord& record);

// Appends the record, stamped now, to `directory` + kRunLogFileName (a private file), first
// moving a log of kRunLogRotateBytes or more to the old name. Does nothing when `directory`
// is empty; never raises: a run is not failed by its log.
void AppendRunRecord(const std::string& directory, const TRunRecord& record) noexcept;

}  // namespace brixa
