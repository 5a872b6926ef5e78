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

// How a load went.
enum class TStateLoad {
  slMissing,  // no file: the first run for this user (every product's state is empty)
  slLoaded,   // read and well-formed
  slDamaged,  // present but unreadable, too large or malformed: rollback protection cannot
              // be judged, so a signed build installs nothing until it is repaired
};

// The file is INI text: a "[product]" line, then "Key=Value" lines, for each product; blank
// lines and lines starting with '#' are ignored. Keys are case-sensitive ASCII letters and
// digits; values have no line breaks. Keys this version does not know are kept as they are and
// written back, so later versions can add theirs (a rollout bucket, a back-off time) and an
// older updater does not lose them.
//
// Written only by Save: into a private new file beside it (TPrivateFile) that then replaces
// the old one in one step, so a crash leaves either the old or the new state.
class TUpdateState {
 public:
  // Reads `fileName` for `product`; `how` says whether it was missing, loaded or damaged (a
  // damaged file loads as empty, and Save then replaces it).
  [[nodiscard]] static TUpdateState Load(const std::string& fileName, std::string product,
                                         TStateLoad& how);

  [[nodiscard]] std::optional<std::string> Value(const std::string& key) const;
  // Sets a key of this product; raises EUpdateStateError for a key or value that the file
  // cannot hold.
  void SetValue(const std::string& key, const std::string& value);

  // kHighestSerialKey as a number; none when absent or malformed.
  [[nodiscard]] std::optional<std::uint64_t> HighestSerial() const;
  void SetHighestSerial(std::uint64_t serial);

  // Writes every product's keys; raises EUpdateStateError when the file cannot be written.
  void Save() const;

 private:
  struct Entry {
    std::string product;
    std::string key;
    std::string value;
  };
  TUpdateState(std::string fileName, std::string product)
      : fileName_(std::move(fileName)), product_(std::move(product)) {}
  [[nodiscard]] static bool Parse(const std::string& text, std::vector<Entry>& entries);

  std::string fileName_;
  std::string product_;
  std::vector<Entry> entries_;
};

}  // namespace brixa
