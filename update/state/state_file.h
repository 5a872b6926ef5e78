#pragma once
// TUpdateState: what the updater remembers between runs, per product, in a file only it writes.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "update/update_errors.h"

namespace brixa {

// The state file's name in the user's state folder.
inline constexpr const char* kStateFileName = "state.ini";
// A handful of keys per product; a larger file is not the updater's and counts as damaged.
inline constexpr std::int64_t kMaxStateFileBytes = 16 * 1024;
// The key of the highest manifest serial accepted for the product.
inline constexpr const char* kHighestSerialKey = "HighestSerial";

// The state file's first line: a file that does not start with it is not the updater's. The
// last line of a file this version writes is kStateFileTrailer, so a file cut short anywhere is
// seen as damaged rather than read as a lower floor.
inline constexpr const char* kStateFileHeader =
    "# BrixaUpdater state 2: written by the updater only.\n";
inline constexpr const char* kStateFileTrailer = "# end\n";
// In the state folder: the lock every run of the user holds from its start to its end
// (TFileLock), whatever session or environment it runs in.
inline constexpr const char* kStateLockFileName = "state.lock";
// Beside the state file: the copy it replaced, used when the file itself is damaged or gone.
inline constexpr const char* kPreviousStateSuffix = ".prev";

// How a load went.
enum class TStateLoad {
  slMissing,    // neither the file nor its previous copy: the first run for this user
  slLoaded,     // read and well-formed
  slRecovered,  // the file is damaged or gone, its previous copy was read and is well-formed
  slDamaged,    // present but unreadable, empty, too large, cut short or malformed, and no good
                // previous copy: rollback protection cannot be judged, so a signed build
                // installs nothing until it is repaired
};

// The file is INI text: kStateFileHeader, a "[product]" line, then "Key=Value" lines, for each
// product, and kStateFileTrailer; blank lines and other lines starting with '#' are ignored.
// Keys are case-sensitive ASCII letters and digits; values have no line breaks. Keys this
// version does not know are kept as they are and written back, so later versions can add
// theirs (a rollout bucket, a back-off time) and an older updater does not lose them. A file
// with the first version's header ("# BrixaUpdater state: ...") and no trailer is still read.
//
// Written only by Save, which re-reads the file first: another run may have saved since this
// one loaded. The caller holds the state folder's lock (TUpdateLock) around its load, change
// and save.
class TUpdateState {
 public:
  // Reads `fileName` for `product`, or its previous copy when the file is damaged or gone;
  // `how` says which (a damaged file loads as empty, and Save then replaces it).
  [[nodiscard]] static TUpdateState Load(const std::string& fileName, std::string product,
                                         TStateLoad& how);

  [[nodiscard]] std::optional<std::string> Value(const std::string& key) const;
  // Sets a key of this product; raises EUpdateStateError for a key or value that the file
  // cannot hold.
  void SetValue(const std::string& key, const std::string& value);

  // kHighestSerialKey as a number; none when absent or malformed.
  [[nodiscard]] std::optional<std::uint64_t> HighestSerial() const;
  void SetHighestSerial(std::uint64_t serial);

  // Writes every product's keys over what the file holds now: this product's keys as set here,
  // except that the highest serial is the larger of the file's and this one's (a save never
  // lowers the rollback floor); other products' keys as the file has them. The file is flushed
  // before it replaces the old one, which becomes the previous copy, and the folder after (a
  // crash leaves one of them whole). Raises EUpdateStateError when it cannot be written.
  void Save();

 private:
  struct Entry {
    std::string product;
    std::string key;
    std::string value;
  };
  TUpdateState(std::string fileName, std::string product)
      : fileName_(std::move(fileName)), product_(std::move(product)) {}
  [[nodiscard]] static bool Parse(const std::string& file, std::vector<Entry>& entries);
  // Reads this object's entries from `fileName` (none unless it loads).
  TStateLoad ReadFrom(const std::string& fileName);
  // The file as it is now, with what this object holds written over it (see Save).
  void MergeOver(const TUpdateState& disk);
  [[nodiscard]] std::string Serialize() const;

  std::string fileName_;
  std::string product_;
  std::vector<Entry> entries_;
};

}  // namespace brixa
