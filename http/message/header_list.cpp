// Header lines by index and by name, and the unfolding and folding of long values.

#include "http/message/header_list.h"

#include <stdexcept>

#include "runtime/text/header_value.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

// Folding inserts CR LF and one space; the space starts the continuation line.
constexpr const char* FoldBreakText = "\r\n ";
constexpr const char* FoldBreakChars = "\t ,";
constexpr std::string_view LineBreak = "\r\n";

[[nodiscard]] bool StartsWithBlank(const std::string& line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

[[nodiscard]] std::string_view SeparatorCore(const std::string& separator) {
  std::string_view core = separator;
  while (!core.empty() && core.back() == ' ') core.remove_suffix(1);
  return core;
}

[[nodiscard]] std::string WithoutTrailingSpaces(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Splits at CR LF; a piece is kept even when empty so the caller sees the exact structure.
[[nodiscard]] std::vector<std::string> SplitAtLineBreaks(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t found = text.find(LineBreak, start);
    if (found == std::string::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, found - start));
    start = found + LineBreak.size();
  }
}

// Whether `line`'s name (the text before its first `core`) equals `name` without regard to
// case; never for an empty name or separator.
[[nodiscard]] bool LineHasName(const std::string& line, std::string_view core,
                               std::string_view name) {
  // The same answer as comparing LineName with `name`, without building the name: the line's
  // first separator must sit right behind `name`'s length and the text before it must match.
  if (name.empty() || core.empty()) return false;
  if (line.size() < name.size() + core.size()) return false;
  // Most lines fail on the byte right behind the name's length: decided without a call.
  if (line[name.size()] != core.front()) return false;
  if (line.compare(name.size(), core.size(), core) != 0) return false;
  if (!SameTextNoCase(std::string_view(line).substr(0, name.size()), name)) return false;
  return line.find(core) == name.size();
}

}  // namespace

const std::string& TIdHeaderList::Strings(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("header list index out of range");
  return lines_[static_cast<std::size_t>(index)];
}

void TIdHeaderList::SetStrings(int index, std::string line) {
  if (index < 0 || index >= Count()) throw std::out_of_range("header list index out of range");
  lines_[static_cast<std::size_t>(index)] = std::move(line);
}

int TIdHeaderList::Add(std::string line) {
  lines_.push_back(std::move(line));
  return Count() - 1;
}

void TIdHeaderList::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) throw std::out_of_range("header list index out of range");
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TIdHeaderList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("header list index out of range");
  lines_.erase(lines_.begin() + index);
}

void TIdHeaderList::AssignLines(const TIdHeaderList& source) {
  if (&source == this) return;
  lines_ = source.lines_;
}

void TIdHeaderList::AddLines(const TIdHeaderList& source) {
  const std::vector<std::string> copy = source.lines_;  // `source` may be this list
  lines_.insert(lines_.end(), copy.begin(), copy.end());
}

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += LineBreak;
  }
  return text;
}

void TIdHeaderList::SetText(std::string_view text) {
  lines_.clear();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

bool TIdHeaderList::IsContinuation(int index) const {
  return index >= 0 && index < Count() && StartsWithBlank(lines_[static_cast<std::size_t>(index)]);
}

void TIdHeaderList::DeleteContinuations(int index) {
  while (IsContinuation(index + 1)) Delete(index + 1);
}

int TIdHeaderList::FindHeader(std::string_view name) const {
  if (name.empty()) return -1;
  const std::string_view core = SeparatorCore(separator_);
  for (int i = 0; i < Count(); ++i) {
    if (LineHasName(lines_[static_cast<std::size_t>(i)], core, name)) return i;
  }
  return -1;
}

std::string TIdHeaderList::LineName(int index) const {
  const std::string& line = Strings(index);
  const std::string_view core = SeparatorCore(separator_);
  const std::size_t found = core.empty() ? std::string::npos : line.find(core);
  if (found == std::string::npos) return {};
  return line.substr(0, found);
}

std::string TIdHeaderList::LineValue(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::string& line = lines_[static_cast<std::size_t>(index)];
  const std::string_view core = SeparatorCore(separator_);
  const std::size_t found = core.empty() ? std::string::npos : line.find(core);
  // A line without a separator has no name and therefore no value.
  if (found == std::string::npos) return {};
  std::string value = line.substr(found + core.size());
  if (joinContinuations_) {
    for (int next = index + 1; IsContinuation(next); ++next) {
      value = Trim(value) + " " + Trim(lines_[static_cast<std::size_t>(next)]);
    }
  }
  return Trim(value);
}

std::string TIdHeaderList::HeaderValue(std::string_view name) const {
  return LineValue(FindHeader(name));
}

std::vector<std::string> TIdHeaderList::FoldedLines(std::string_view name,
                                                    const std::string& value) const {
  std::string line(name);
  line += separator_;
  line += value;
  if (!breakLongLines_) return {std::move(line)};
  const std::string wrapped = WrapHeaderLine(line, FoldBreakText, FoldBreakChars, breakColumn_);
  std::vector<std::string> pieces = SplitAtLineBreaks(wrapped);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    pieces[i] = WithoutTrailingSpaces(std::move(pieces[i]));
    // A line break the caller put into the value must not start a header of its own: every
    // piece after the first stays a continuation of this header.
    if (i > 0 && !StartsWithBlank(pieces[i])) pieces[i].insert(0, 1, ' ');
  }
  return pieces;
}

void TIdHeaderList::SetHeaderValue(std::string_view name, const std::string& value) {
  int index = FindHeader(name);
  if (value.empty()) {
    if (index < 0) return;
    // The continuation lines go with their header in every mode; left behind they would be
    // read as part of the header above.
    DeleteContinuations(index);
    Delete(index);
    return;
  }
  if (index < 0) {
    index = Add({});
  } else {
    DeleteContinuations(index);
  }
  std::vector<std::string> pieces = FoldedLines(name, value);
  lines_[static_cast<std::size_t>(index)] = std::move(pieces.front());
  lines_.insert(lines_.begin() + index + 1, std::make_move_iterator(pieces.begin() + 1),
                std::make_move_iterator(pieces.end()));
}

void TIdHeaderList::CollectValues(std::string_view name, TIdHeaderList* destination) const {
  if (destination == nullptr) return;
  for (std::string& value : CollectValues(name)) destination->Add(std::move(value));
}

std::vector<std::string> TIdHeaderList::CollectValues(std::string_view name) const {
  std::vector<std::string> values;
  if (name.empty()) return values;
  const std::string_view core = SeparatorCore(separator_);
  for (int i = 0; i < Count(); ++i) {
    if (LineHasName(lines_[static_cast<std::size_t>(i)], core, name)) {
      values.push_back(LineValue(i));
    }
  }
  return values;
}

}  // namespace brixa
