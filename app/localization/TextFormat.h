#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace cb {

// One argument of a table text: "%d" takes an integer, "%@" a string.
class TextArgument {
  public:
    template <std::integral T>
    TextArgument(T value) : value_(static_cast<int64_t>(value)) {}
    TextArgument(std::string_view value) : value_(std::string(value)) {}
    TextArgument(const std::string& value) : value_(value) {}
    TextArgument(const char* value) : value_(std::string(value)) {}

    // Returns the argument as it is printed: an integer in decimal, a string as it is.
    std::string toString() const;

  private:
    std::variant<int64_t, std::string> value_;
};

// Fills the placeholders of a table text with `arguments`, in order: "%d" and "%@" each take the
// next argument (an integer in decimal, a string as it is, whichever the placeholder), "%%" gives
// "%". A placeholder without an argument left and any other "%" sequence are kept as written, so
// a faulty translation shows its placeholder rather than reading past the arguments.
std::string formatText(std::string_view format, std::span<const TextArgument> arguments);

// The same, with the arguments written in place: formatText(text, {3, "name"}).
inline std::string formatText(std::string_view format,
                              std::initializer_list<TextArgument> arguments) {
    return formatText(format, std::span<const TextArgument>(arguments.begin(), arguments.size()));
}

}  // namespace cb
