// Loading the state strictly, and saving it through a private file swapped in at once.

#include "update/state/state_file.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/core/stream.h"
#include "platform/files/private_file.h"

namespace brixa {

namespace {

constexpr std::size_t kMaxSerialDigits = 19;
constexpr const char* kNewFileSuffix = ".new";
// The first version's header; its files carry no trailer.
constexpr std::string_view kFirstHeader = "# BrixaUpdater state: written by the updater only.\n";

bool IsKey(std::string_view key) noexcept {
  if (key.empty()) return false;
  for (const char c : key) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

bool IsValue(std::string_view value) noexcept {
  return value.find_first_of("\r\n") == std::string_view::npos;
}

bool IsProduct(std::string_view product) noexcept {
  return !product.empty() && product.find_first_of("[]\r\n") == std::string_view::npos;
}

// The lines between the header and the trailer; none when the file is not the updater's or was
// cut short (empty, zeros, a half-written tail).
std::optional<std::string_view> BodyOf(std::string_view text) {
  const std::string_view header = kStateFileHeader;
  const std::string_view trailer = kStateFileTrailer;
  if (text.substr(0, header.size()) == header) {
    text.remove_prefix(header.size());
    if (text.size() < trailer.size() || text.substr(text.size() - trailer.size()) != trailer) {
      return std::nullopt;
    }
    text.remove_suffix(trailer.size());
    if (!text.empty() && text.back() != '\n') return std::nullopt;
    return text;
  }
  if (text.substr(0, kFirstHeader.size()) == kFirstHeader) return text.substr(kFirstHeader.size());
  return std::nullopt;
}

// The whole file, or none when it cannot be read or is too large to be ours.
std::optional<std::string> ReadState(const std::string& fileName, bool& missing) {
  missing = false;
  if (!FileExists(fileName)) {
    missing = true;
    return std::nullopt;
  }
  try {
    TFileStream file(fileName, fmOpenRead);
    const std::int64_t size = file.Size();
    if (size > kMaxStateFileBytes) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (file.Read(bytes.data(), size) != size) return std::nullopt;
    return bytes;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

bool TUpdateState::Parse(const std::string& file, std::vector<Entry>& entries) {
  const auto body = BodyOf(file);
  if (!body) return false;
  const std::string_view text = *body;
  std::string product;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || !IsProduct(line.substr(1, line.size() - 2))) return false;
      product = std::string(line.substr(1, line.size() - 2));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (product.empty() || equals == std::string_view::npos || !IsKey(line.substr(0, equals))) {
      return false;
    }
    entries.push_back(
        {product, std::string(line.substr(0, equals)), std::string(line.substr(equals + 1))});
  }
  return true;
}

TStateLoad TUpdateState::ReadFrom(const std::string& fileName) {
  entries_.clear();
  bool missing = false;
  const auto text = ReadState(fileName, missing);
  if (missing) return TStateLoad::slMissing;
  if (!text || !Parse(*text, entries_)) {
    entries_.clear();
    return TStateLoad::slDamaged;
  }
  return TStateLoad::slLoaded;
}

TUpdateState TUpdateState::Load(const std::string& fileName, std::string product, TStateLoad& how) {
  TUpdateState state(fileName, std::move(product));
  const TStateLoad current = state.ReadFrom(fileName);
  how = current;
  if (current == TStateLoad::slLoaded) return state;
  // A crash between the two renames of a save leaves no file; anything else left it damaged.
  const TStateLoad previous = state.ReadFrom(fileName + kPreviousStateSuffix);
  if (previous == TStateLoad::slLoaded) {
    how = TStateLoad::slRecovered;
  } else if (previous == TStateLoad::slDamaged) {
    how = TStateLoad::slDamaged;
  }
  return state;
}
std::optional<std::string> TUpdateState::Value(const std::string& key) const {
  for (const Entry& entry : entries_) {
    if (entry.product == product_ && entry.key == key) return entry.value;
  }
  return std::nullopt;
}

void TUpdateState::SetValue(const std::string& key, const std::string& value) {
  if (!IsKey(key) || !IsValue(value) || !IsProduct(product_)) {
    throw EUpdateStateError("the state cannot hold " + key);
  }
  for (Entry& entry : entries_) {
    if (entry.product == product_ && entry.key == key) {
      entry.value = value;
      return;
    }
  }
  entries_.push_back({product_, key, value});
}

std::optional<std::uint64_t> TUpdateState::HighestSerial() const {
  const auto text = Value(kHighestSerialKey);
  if (!text || text->empty() || text->size() > kMaxSerialDigits) return std::nullopt;
  std::uint64_t serial = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    serial = serial * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return serial;
}

void TUpdateState::SetHighestSerial(std::uint64_t serial) {
  SetValue(kHighestSerialKey, std::to_string(serial));
}

void TUpdateState::MergeOver(const TUpdateState& disk) {
  const auto highest = std::max(HighestSerial(), disk.HighestSerial());
  std::vector<Entry> merged = disk.entries_;
  for (const Entry& mine : entries_) {
    if (mine.product != product_) continue;
    const auto same = std::find_if(merged.begin(), merged.end(), [&](const Entry& entry) {
      return entry.product == product_ && entry.key == mine.key;
    });
    if (same != merged.end()) {
      same->value = mine.value;
      continue;
    }
    // After the product's last key, so its section stays in one piece.
    const auto last = std::find_if(merged.rbegin(), merged.rend(),
                                   [&](const Entry& entry) { return entry.product == product_; });
    merged.insert(last.base(), mine);
  }
  entries_ = std::move(merged);
  if (highest) SetHighestSerial(*highest);
}

std::string TUpdateState::Serialize() const {
  std::string text = kStateFileHeader;
  std::string product;
  for (const Entry& entry : entries_) {
    if (entry.product != product) {
      product = entry.product;
      text += "[" + product + "]\n";
    }
    text += entry.key + "=" + entry.value + "\n";
  }
  return text + kStateFileTrailer;
}

void TUpdateState::Save() {
  // Another run may have saved since this one loaded: its keys stay, and its floor if higher.
  TStateLoad how = TStateLoad::slMissing;
  const TUpdateState disk = Load(fileName_, product_, how);
  if (how == TStateLoad::slLoaded || how == TStateLoad::slRecovered) MergeOver(disk);
  const std::string text = Serialize();
  if (static_cast<std::int64_t>(text.size()) > kMaxStateFileBytes) {
    throw EUpdateStateError("the state is larger than " + std::to_string(kMaxStateFileBytes));
  }
  const std::string fresh = fileName_ + kNewFileSuffix;
  try {
    auto file = TPrivateFile::Create(fresh);
    file->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    file->Flush();
  } catch (const Exception& error) {
    (void)RemoveFile(fresh);
    throw EUpdateStateError(error.Message());
  }
  // The file as it stands, when good, becomes the previous copy: one bad write later cannot
  // take the floor with it.
  if (how == TStateLoad::slLoaded) {
    (void)ReplaceFileAtomically(fileName_, fileName_ + kPreviousStateSuffix);
  }
  if (!ReplaceFileAtomically(fresh, fileName_)) {
    (void)RemoveFile(fresh);
    throw EUpdateStateError("the state file " + fileName_ + " cannot be replaced");
  }
}

}  // namespace brixa
