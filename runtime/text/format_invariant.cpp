// The format-string interpreter behind FormatInvariant; widths, precisions and argument indexes
// are bounded, so a hostile format raises instead of allocating.

#include "runtime/text/format_invariant.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/core/exception.h"
#include "runtime/text/encoding.h"

namespace brixa {

namespace {

constexpr char kDecimalSeparator = '.';
constexpr char kThousandsSeparator = ',';
constexpr int kDefaultFloatPrecision = 6;
constexpr int kDefaultNumberPrecision = 2;
// Precision beyond this adds nothing a double holds and would only grow the buffer.
constexpr int kMaxFloatPrecision = 100;
// Widths, precisions and argument indexes above this are format errors, not allocations.
constexpr long kMaxFormatNumber = 100000;
// Room for the longest fixed-point double (about 310 digits) plus the precision.
constexpr std::size_t kFloatBufferSize = 512;

enum class Kind { kInteger, kFloat, kText };

struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

class Formatter {
 public:
  Formatter(std::string_view format, const std::vector<TFormatArg>& args)
      : format_(format), args_(args) {}

  std::string Run() {
    std::size_t i = 0;
    while (i < format_.size()) {
      const std::size_t percent = format_.find('%', i);
      out_.append(format_.substr(i, percent == std::string_view::npos ? percent : percent - i));
      if (percent == std::string_view::npos) break;
      i = FormatOne(percent + 1);
    }
    return std::move(out_);
  }

 private:
  [[noreturn]] void Fail() const {
    std::string message = "Format '";
    message.append(format_).append("' invalid or incompatible with argument");
    throw EConvertError(message);
  }

  // Reads a run of digits at `i`; -1 when there are none.
  int ReadNumber(std::size_t& i) const {
    if (i >= format_.size() || format_[i] < '0' || format_[i] > '9') return -1;
    long value = 0;
    while (i < format_.size() && format_[i] >= '0' && format_[i] <= '9') {
      value = value * 10 + (format_[i] - '0');
      if (value > kMaxFormatNumber) Fail();
      ++i;
    }
    return static_cast<int>(value);
  }

  // Parses the specifier after a '%' at `i`; returns the position after it.
  std::size_t ParseConversion(std::size_t i, Conversion& conversion) {
    if (i < format_.size() && format_[i] >= '1' && format_[i] <= '9') {
      std::size_t j = i;
      const int number = ReadNumber(j);
      if (j < format_.size() && format_[j] == ':') {
        next_ = static_cast<std::size_t>(number);
        i = j + 1;
      }
    } else if (i + 1 < format_.size() && format_[i] == '0' && format_[i + 1] == ':') {
      next_ = 0;
      i += 2;
    }
    for (; i < format_.size() && (format_[i] == '-' || format_[i] == '0'); ++i) {
      (format_[i] == '-' ? conversion.leftAlign : conversion.zeroPad) = true;
    }
    conversion.width = ReadNumber(i);
    if (i < format_.size() && format_[i] == '.') {
      ++i;
      conversion.precision = ReadNumber(i);
      if (conversion.precision < 0) conversion.precision = 0;
    }
    while (i < format_.size() && (format_[i] == 'h' || format_[i] == 'l' || format_[i] == 'z' ||
                                  format_[i] == 'j' || format_[i] == 'L')) {
      ++i;
    }
    if (i >= format_.size()) Fail();
    conversion.type = format_[i];
    return i + 1;
  }

  std::size_t FormatOne(std::size_t i) {
    if (i < format_.size() && format_[i] == '%') {
      out_.push_back('%');
      return i + 1;
    }
    Conversion conversion;
    const std::size_t after = ParseConversion(i, conversion);
    if (next_ >= args_.size()) Fail();
    const TFormatArg& arg = args_[next_++];
    std::string body;
    Kind kind = Kind::kInteger;
    switch (conversion.type) {
      case 'd':
      case 'i':
        body = Signed(arg, conversion);
        break;
      case 'u':
        body = Unsigned(arg, conversion, 10, false);
        break;
      case 'x':
        body = Unsigned(arg, conversion, 16, false);
        break;
      case 'X':
        body = Unsigned(arg, conversion, 16, true);
        break;
      case 'f':
      case 'e':
      case 'g':
      case 'n':
        body = Float(arg, conversion);
        kind = Kind::kFloat;
        break;
      case 's':
        body = Text(arg, conversion);
        kind = Kind::kText;
        break;
      case 'c':
        body = Character(arg);
        kind = Kind::kText;
        break;
      default:
        Fail();
    }
    Pad(body, conversion, kind);
    return after;
  }

  std::string Digits(std::uint64_t value, int base, bool upper, int minDigits) const {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
      text.insert(text.begin(), digits[value % static_cast<unsigned>(base)]);
      value /= static_cast<unsigned>(base);
    } while (value != 0);
    if (minDigits > static_cast<int>(text.size())) {
      text.insert(0, static_cast<std::size_t>(minDigits) - text.size(), '0');
    }
    return text;
  }

  std::string Signed(const TFormatArg& arg, const Conversion& conversion) const {
    if (arg.kind() == TFormatArg::Kind::kUnsigned) {
      return Digits(arg.AsUnsigned(), 10, false, conversion.precision);
    }
    if (arg.kind() != TFormatArg::Kind::kSigned) Fail();
    const std::int64_t value = arg.AsSigned();
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string text = value < 0 ? "-" : "";
    text.append(Digits(magnitude, 10, false, conversion.precision));
    return text;
  }

  std::string Unsigned(const TFormatArg& arg, const Conversion& conversion, int base,
                       bool upper) const {
    std::uint64_t value = 0;
    if (arg.kind() == TFormatArg::Kind::kUnsigned) {
      value = arg.AsUnsigned();
    } else if (arg.kind() == TFormatArg::Kind::kSigned) {
      value = static_cast<std::uint64_t>(arg.AsSigned());
    } else {
      Fail();
    }
    return Digits(value, base, upper, conversion.precision);
  }

  std::string Float(const TFormatArg& arg, const Conversion& conversion) const {
    double value = 0;
    switch (arg.kind()) {
      case TFormatArg::Kind::kFloat:
        value = arg.AsFloat();
        break;
      case TFormatArg::Kind::kSigned:
        value = static_cast<double>(arg.AsSigned());
        break;
      case TFormatArg::Kind::kUnsigned:
        value = static_cast<double>(arg.AsUnsigned());
        break;
      default:
        Fail();
    }
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    int precision = conversion.precision >= 0 ? conversion.precision
                    : conversion.type == 'n'  ? kDefaultNumberPrecision
                                              : kDefaultFloatPrecision;
    if (precision > kMaxFloatPrecision) precision = kMaxFloatPrecision;
    const std::chars_format style = conversion.type == 'e'   ? std::chars_format::scientific
                                    : conversion.type == 'g' ? std::chars_format::general
                                                             : std::chars_format::fixed;
    char buffer[kFloatBufferSize];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, style, precision);
    if (result.ec != std::errc()) Fail();
    std::string text(buffer, result.ptr);
    return conversion.type == 'n' ? GroupThousands(text) : text;
  }

  static std::string GroupThousands(const std::string& fixed) {
    const std::size_t start = !fixed.empty() && fixed[0] == '-' ? 1 : 0;
    std::size_t end = fixed.find(kDecimalSeparator);
    if (end == std::string::npos) end = fixed.size();
    std::string grouped = fixed.substr(0, start);
    for (std::size_t i = start; i < end; ++i) {
      if (i > start && (end - i) % 3 == 0) grouped.push_back(kThousandsSeparator);
      grouped.push_back(fixed[i]);
    }
    grouped.append(fixed, end, std::string::npos);
    return grouped;
  }

  // A char argument as itself; an integer as the UTF-8 form of that code point.
  std::string Character(const TFormatArg& arg) const {
    if (arg.kind() == TFormatArg::Kind::kText && arg.AsText().size() == 1) return arg.AsText();
    std::uint64_t code = 0;
    if (arg.kind() == TFormatArg::Kind::kSigned && arg.AsSigned() >= 0) {
      code = static_cast<std::uint64_t>(arg.AsSigned());
    } else if (arg.kind() == TFormatArg::Kind::kUnsigned) {
      code = arg.AsUnsigned();
    } else {
      Fail();
    }
    if (code > 0x10FFFF) Fail();
    std::string text;
    AppendUTF8(text, static_cast<char32_t>(code));
    return text;
  }

  std::string Text(const TFormatArg& arg, const Conversion& conversion) const {
    if (arg.kind() != TFormatArg::Kind::kText) Fail();
    const std::string& text = arg.AsText();
    if (conversion.precision >= 0 && static_cast<std::size_t>(conversion.precision) < text.size()) {
      return text.substr(0, static_cast<std::size_t>(conversion.precision));
    }
    return text;
  }

  // A '0' flag pads floats always and integers only without a precision, as in C.
  void Pad(std::string& body, const Conversion& conversion, Kind kind) {
    const auto width = static_cast<std::size_t>(conversion.width > 0 ? conversion.width : 0);
    if (body.size() >= width) {
      out_.append(body);
      return;
    }
    const std::size_t fill = width - body.size();
    if (conversion.leftAlign) {
      out_.append(body).append(fill, ' ');
    } else if (conversion.zeroPad &&
               (kind == Kind::kFloat || (kind == Kind::kInteger && conversion.precision < 0))) {
      const std::size_t sign = !body.empty() && body[0] == '-' ? 1 : 0;
      body.insert(sign, fill, '0');
      out_.append(body);
    } else {
      out_.append(fill, ' ').append(body);
    }
  }

  std::string_view format_;
  const std::vector<TFormatArg>& args_;
  std::size_t next_ = 0;
  std::string out_;
};

}  // namespace

std::string FormatInvariantArgs(std::string_view format, const std::vector<TFormatArg>& args) {
  return Formatter(format, args).Run();
}

}  // namespace brixa
