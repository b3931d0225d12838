#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "sdk/utilities/Value.h"

namespace sdk {

// One argument of a printf-style format, remembered with its real type so that formatting
// never reads an argument as something it is not. Owns a copy of text and values, so an
// argument list may be kept and passed on.
class FormatArg {
  public:
    FormatArg(bool value) : arg_(value) {}
    template <std::signed_integral T>
    FormatArg(T value) : arg_(static_cast<std::int64_t>(value)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) FormatArg(T value) : arg_(static_cast<std::uint64_t>(value)) {}
    FormatArg(double value) : arg_(value) {}
    FormatArg(const char* value) : arg_(std::string(value ? value : "(null)")) {}
    FormatArg(std::string_view value) : arg_(std::string(value)) {}
    FormatArg(std::string value) : arg_(std::move(value)) {}
    FormatArg(Value value) : arg_(std::move(value)) {}

    using Variant = std::variant<bool, std::int64_t, std::uint64_t, double, std::string, Value>;
    const Variant& variant() const { return arg_; }

  private:
    Variant arg_;
};

using FormatArgs = std::vector<FormatArg>;

// Fills a printf-style `format` with `args`, in order. Understands flags, width, precision
// and length modifiers (ignored: the argument's own type decides), the conversions d i u x X
// o c e E f F g G a A s, "%@" for any argument (a Value shows its description), and "%%". An
// argument of another kind than its conversion is converted (a number for %s, a string for
// %d prints as %s). A conversion without an argument, "*" widths and unknown conversions are
// copied to the output as written.
std::string formatString(std::string_view format, std::span<const FormatArg> args);

}  // namespace sdk
