#pragma once
// TIdHeaderList: the raw header lines of a message, with lookups by name, continuation lines and
// folding.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// An ordered list of raw header lines ("Name: value"), one entry per physical line; duplicates
// are kept and the order is never changed by lookups. A continuation line is an entry that
// begins with a space or a tab and belongs to the nearest named line above it.
//
// Names are matched without regard to ASCII letter case. Reading a value unfolds continuation
// lines (JoinContinuations); writing one folds it at BreakColumn (BreakLongLines) and replaces
// the first line of that name in place, so a header keeps its position in the block.
class TIdHeaderList {
 public:
  static constexpr const char* DefaultSeparator = ": ";
  static constexpr std::int32_t DefaultBreakColumn = 78;

  TIdHeaderList() = default;
  explicit TIdHeaderList(std::int32_t breakColumn) : breakColumn_(breakColumn) {}
  // Copying copies the lines and the settings; header lists are plain values.
  TIdHeaderList(const TIdHeaderList&) = default;
  TIdHeaderList& operator=(const TIdHeaderList&) = default;
  TIdHeaderList(TIdHeaderList&&) noexcept = default;
  TIdHeaderList& operator=(TIdHeaderList&&) noexcept = default;
  ~TIdHeaderList() = default;

  // --- the string-list part --------------------------------------------------------------
  [[nodiscard]] int Count() const noexcept { return static_cast<int>(lines_.size()); }
  [[nodiscard]] bool Empty() const noexcept { return lines_.empty(); }
  // The raw line at `index`; throws std::out_of_range outside 0..Count()-1.
  [[nodiscard]] const std::string& Strings(int index) const;
  [[nodiscard]] const std::string& operator[](int index) const { return Strings(index); }
  void SetStrings(int index, std::string line);
  // Appends a raw line (no folding, no lookup) and returns its index.
  int Add(std::string line);
  // Inserts a raw line before `index` (0..Count()).
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() noexcept { lines_.clear(); }
  // Replaces the lines by a copy of `source`'s lines; the settings of this list stay.
  void AssignLines(const TIdHeaderList& source);
  // Appends a copy of every line of `source`, continuation lines included.
  void AddLines(const TIdHeaderList& source);
  [[nodiscard]] const std::vector<std::string>& Lines() const noexcept { return lines_; }
  // Every line followed by CR LF.
  [[nodiscard]] std::string Text() const;
  // Replaces the lines by `text` split at CR LF (or a lone LF); a final line break adds no
  // empty entry.
  void SetText(std::string_view text);

  // --- settings ----------------------------------------------------------------------------
  // Written between name and value; its text without trailing spaces separates name from
  // value when lines are read.
  [[nodiscard]] const std::string& Separator() const noexcept { return separator_; }
  void SetSeparator(std::string value) { separator_ = std::move(value); }
  [[nodiscard]] bool JoinContinuations() const noexcept { return joinContinuations_; }
  void SetJoinContinuations(bool value) noexcept { joinContinuations_ = value; }
  [[nodiscard]] bool BreakLongLines() const noexcept { return breakLongLines_; }
  void SetBreakLongLines(bool value) noexcept { breakLongLines_ = value; }
  [[nodiscard]] std::int32_t BreakColumn() const noexcept { return breakColumn_; }
  void SetBreakColumn(std::int32_t value) noexcept { breakColumn_ = value; }

  // --- header access -------------------------------------------------------------------------
  // Index of the first line whose name equals `name` without regard to case; -1 when none.
  // An empty name is never found (lines without a separator have an empty name).
  [[nodiscard]] int FindHeader(std::string_view name) const;
  // The text of the line before the first name/value separator; empty when it has none.
  [[nodiscard]] std::string LineName(int index) const;
  // The line's value, trimmed, with the continuation lines that follow it joined by one space
  // when JoinContinuations is on; empty for an index outside the list.
  [[nodiscard]] std::string LineValue(int index) const;
  // LineValue(FindHeader(name)): empty when the header is absent.
  [[nodiscard]] std::string HeaderValue(std::string_view name) const;
  // Sets the header `name` to `value`: replaces the first line of that name (and its
  // continuation lines) in place or appends a new one; an empty value removes the header.
  void SetHeaderValue(std::string_view name, const std::string& value);
  // Appends to `destination` the value of every line named `name`, in list order; nothing
  // when `destination` is null.
  void CollectValues(std::string_view name, TIdHeaderList* destination) const;
  // The same values as a vector.
  [[nodiscard]] std::vector<std::string> CollectValues(std::string_view name) const;

 private:
  [[nodiscard]] bool IsContinuation(int index) const;
  void DeleteContinuations(int index);
  [[nodiscard]] std::vector<std::string> FoldedLines(std::string_view name,
                                                     const std::string& value) const;

  std::vector<std::string> lines_;
  std::string separator_ = DefaultSeparator;
  bool joinContinuations_ = true;
  bool breakLongLines_ = true;
  std::int32_t breakColumn_ = DefaultBreakColumn;
};

}  // namespace brixa
