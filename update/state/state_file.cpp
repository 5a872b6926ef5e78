// Loading the state strictly, and saving it through a private file swapped in at once.

#include "update/state/state_file.h"

#include <cerrno>

#include "platform/core/stream.h"
#include "platform/files/private_file.h"

namespace brixa {

namespace {

constexpr std::size_t kMaxSerialDigits = 19;
constexpr const char* kNewFileSuffix = ".new";
constexpr const char* kHeader = "# BrixaUpdater state: written by the updater only.\n";

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

bool TUpdateState::Parse(const std::string& text, std::vector<Entry>& entries) {
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

TUpdateState TUpdateState::Load(const std::string& fileName, std::string product, TStateLoad& how) {
  TUpdateState state(fileName, std::move(product));
  bool missing = false;
  const auto text = ReadState(fileName, missing);
  if (missing) {
    how = TStateLoad::slMissing;
  } else if (!text || !Parse(*text, state.entries_)) {
    state.entries_.clear();
    how = TStateLoad::slDamaged;
  } else {
    how = TStateLoad::slLoaded;
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

void TUpdateState::Save() const {
  std::string text = kHeader;
  std::string product;
  for (const Entry& entry : entries_) {
    if (entry.product != product) {
      product = entry.product;
      text += "[" + product + "]\n";
    }
    text += entry.key + "=" + entry.value + "\n";
  }
  if (static_cast<std::int64_t>(text.size()) > kMaxStateFileBytes) {
    throw EUpdateStateError("the state is larger than " + std::to_string(kMaxStateFileBytes));
  }
  const std::string fresh = fileName_ + kNewFileSuffix;
  try {
    auto file = TPrivateFile::Create(fresh);
    file->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  } catch (const Exception& error) {
    (void)RemoveFile(fresh);
    throw EUpdateStateError(error.Message());
  }
  if (!ReplaceFileAtomically(fresh, fileName_)) {
    (void)RemoveFile(fresh);
    throw EUpdateStateError("the state file " + fileName_ + " cannot be replaced");
  }
}

}  // namespace brixa
