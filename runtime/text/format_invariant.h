#pragma once
// FormatInvariant: printf-style formatting that does not depend on the user's locale.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace brixa {

// One argument of FormatInvariant: an integer, a floating-point number or a text.
class TFormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kFloat, kText };

  template <class T>
  requires(std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, char>) TFormatArg(T v)
      : kind_(Kind::kSigned), signed_(v) {}  // NOLINT(runtime/explicit)
  template <class T>
  requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
      TFormatArg(T v)
      : kind_(Kind::kUnsigned), unsigned_(v) {}                       // NOLINT(runtime/explicit)
  TFormatArg(double v) : kind_(Kind::kFloat), float_(v) {}            // NOLINT(runtime/explicit)
  TFormatArg(std::string_view v) : kind_(Kind::kText), text_(v) {}    // NOLINT(runtime/explicit)
  TFormatArg(const std::string& v) : kind_(Kind::kText), text_(v) {}  // NOLINT(runtime/explicit)
  TFormatArg(const char* v) : kind_(Kind::kText), text_(v) {}         // NOLINT(runtime/explicit)
  TFormatArg(char v) : kind_(Kind::kText), text_(1, v) {}             // NOLINT(runtime/explicit)

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] std::int64_t AsSigned() const noexcept { return signed_; }
  [[nodiscard]] std::uint64_t AsUnsigned() const noexcept { return unsigned_; }
  [[nodiscard]] double AsFloat() const noexcept { return float_; }
  [[nodiscard]] const std::string& AsText() const noexcept { return text_; }

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double float_ = 0;
  std::string text_;
};

// printf-style formatting that never depends on the user's locale ("." as decimal separator,
// "," as thousands separator). The supported subset:
//
//   %%                       a percent sign
//   %[index:][-][0][width][.precision][h|hh|l|ll|z|j]type
//
//   d i   signed decimal; precision = minimum digits (zero-filled): "%.2d" of 6 is "06"
//   u     unsigned decimal (a negative signed argument is taken as its 64-bit two's complement)
//   x X   hexadecimal, lower / upper case digits; precision = minimum digits
//   s     text (a char argument is a one-character text); precision = maximum bytes
//   c     a char argument, or an integer taken as a code point (written as UTF-8)
//   f e g floating point as in C ("%.2f"); an integer argument is accepted and converted
//   n     floating point with thousands separators ("1,234.50"), precision default 2
//
// `index:` picks the argument (0-based) and later specifiers continue after it. Width pads with
// spaces on the left (on the right with '-'); a '0' flag pads numbers with zeros. Length
// modifiers are accepted and ignored (arguments carry their own types). A missing argument, an
// unknown type letter or an argument of the wrong kind (text for %d) raises EConvertError
// "Format '<format>' invalid or incompatible with argument".
[[nodiscard]] std::string FormatInvariantArgs(std::string_view format,
                                              const std::vector<TFormatArg>& args);

template <class... Args>
[[nodiscard]] std::string FormatInvariant(std::string_view format, const Args&... args) {
  return FormatInvariantArgs(format, std::vector<TFormatArg>{TFormatArg(args)...});
}

}  // namespace brixa
