#pragma once
// Header records as data: each record lists its fields in one table, a row per field naming its
// header line, its member and the steps that handle it. Reading, writing, resetting, copying and
// the one-line check are written once per kind of field, so a new field is one row.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "http/message/header_list.h"
#include "runtime/time/internet_date.h"

namespace brixa {

// The steps a row takes part in. Steps a field needs beyond its kind's handling (a date that may
// count seconds, a range written with its unit) are left out of its row and done by the record.
enum THeaderFieldStep : std::uint8_t {
  hfRead = 1 << 0,   // ReadFields takes it from the header line of its name
  hfWrite = 1 << 1,  // WriteFields writes it under its name when it is set
  hfCopy = 1 << 2,   // CopyFields carries it into a record of the same kind
  hfReset = 1 << 3,  // ResetFields puts the row's default back
  // A line break in it is refused before a request goes out: the writer would fold the value at
  // the break, and the line after it would be of the caller's making.
  hfOneLine = 1 << 4,
};

// The member a row stands for; its type is the field's kind:
//   text    read as the line's value; written when not empty; reset to the row's text
//   date    local time; read from an internet date (0 when unreadable); written as a GMT date
//           when above 0; reset to 0
//   length  read from a run of decimal digits (-1 for anything else); written in decimal when
//           0 or more; reset to the row's number
//   flag    copied; reset to the row's number (not 0: true); never a line of its own
//   list    read as every value of the name, one per line; reset by emptying; copied by lines
template <class Record>
using THeaderMember =
    std::variant<std::string Record::*, TDateTime Record::*, std::int64_t Record::*, bool Record::*,
                 std::unique_ptr<TIdHeaderList> Record::*>;

template <class Record>
struct THeaderField {
  // The header line's name; empty for a field that is not a line of its own.
  std::string_view name;
  THeaderMember<Record> member;
  std::uint8_t steps = 0;
  std::string_view resetText = {};
  std::int64_t resetNumber = 0;

  [[nodiscard]] constexpr bool Takes(THeaderFieldStep step) const noexcept {
    return (steps & step) != 0;
  }
};

// The handling of each kind, in the order of the list above. A flag has no line and a list is
// only read, so their rows take no step they have no handling for.
// Kinds without a handling for a step match these, so no conversion can pick another kind's.
template <class Value>
void ReadField(Value& value, const TIdHeaderList& lines, std::string_view name) = delete;
template <class Value>
void WriteField(const Value& value, TIdHeaderList& lines, std::string_view name) = delete;
void ReadField(std::string& value, const TIdHeaderList& lines, std::string_view name);
void ReadField(TDateTime& value, const TIdHeaderList& lines, std::string_view name);
void ReadField(std::int64_t& value, const TIdHeaderList& lines, std::string_view name);
void ReadField(std::unique_ptr<TIdHeaderList>& value, const TIdHeaderList& lines,
               std::string_view name);
void WriteField(const std::string& value, TIdHeaderList& lines, std::string_view name);
void WriteField(TDateTime value, TIdHeaderList& lines, std::string_view name);
void WriteField(std::int64_t value, TIdHeaderList& lines, std::string_view name);
void ResetField(std::string& value, std::string_view text, std::int64_t number);
void ResetField(TDateTime& value, std::string_view text, std::int64_t number);
void ResetField(std::int64_t& value, std::string_view text, std::int64_t number);
void ResetField(bool& value, std::string_view text, std::int64_t number);
void ResetField(std::unique_ptr<TIdHeaderList>& value, std::string_view text, std::int64_t number);
void CopyField(const std::unique_ptr<TIdHeaderList>& source,
               std::unique_ptr<TIdHeaderList>& destination);
template <class Value>
void CopyField(const Value& source, Value& destination) {
  destination = source;
}

// "Content-Length" as a count: a run of decimal digits and nothing else (blanks around it
// aside), -1 otherwise or beyond 64 bits. A sign, a hexadecimal form or trailing text would make
// this end read a different body length than other parties do.
[[nodiscard]] std::int64_t ParseContentLength(std::string_view text);
// "Sun, 06 Nov 1994 08:49:37 GMT" for a local date-time.
[[nodiscard]] std::string FormatLocalAsHttpDate(TDateTime local);

// Runs `visit(row, member)` for the rows that take part in `step`, in table order.
template <class Record, class Visit>
void ForEachField(std::span<const THeaderField<Record>> fields, THeaderFieldStep step,
                  Visit&& visit) {
  for (const THeaderField<Record>& field : fields) {
    if (field.Takes(step)) std::visit([&](auto member) { visit(field, member); }, field.member);
  }
}

template <class Record>
void ReadFieldsOf(std::span<const THeaderField<Record>> fields, Record& record,
                  const TIdHeaderList& lines) {
  ForEachField(fields, hfRead, [&](const auto& field, auto member) {
    if constexpr (requires { ReadField(record.*member, lines, field.name); }) {
      ReadField(record.*member, lines, field.name);
    }
  });
}

template <class Record>
void WriteFieldsOf(std::span<const THeaderField<Record>> fields, const Record& record,
                   TIdHeaderList& lines) {
  ForEachField(fields, hfWrite, [&](const auto& field, auto member) {
    if constexpr (requires { WriteField(record.*member, lines, field.name); }) {
      WriteField(record.*member, lines, field.name);
    }
  });
}

template <class Record>
void ResetFieldsOf(std::span<const THeaderField<Record>> fields, Record& record) {
  ForEachField(fields, hfReset, [&](const auto& field, auto member) {
    ResetField(record.*member, field.resetText, field.resetNumber);
  });
}

template <class Record>
void CopyFieldsOf(std::span<const THeaderField<Record>> fields, const Record& source,
                  Record& destination) {
  ForEachField(fields, hfCopy,
               [&](const auto&, auto member) { CopyField(source.*member, destination.*member); });
}

// Runs `check` on every text value whose row must stay on one line.
template <class Record>
void CheckOneLineFieldsOf(std::span<const THeaderField<Record>> fields, const Record& record,
                          void (*check)(std::string_view text)) {
  ForEachField(fields, hfOneLine, [&](const auto&, auto member) {
    if constexpr (std::is_same_v<decltype(member), std::string Record::*>) check(record.*member);
  });
}

}  // namespace brixa
