#include "sdk/utilities/FormatString.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace sdk {

namespace {

struct Conversion {
    std::string flags;      // "-+ #0"
    std::string width;      // digits
    std::string precision;  // ".digits" or empty
    char conversion = '\0';
};

constexpr std::string_view kFlags = "-+ #0";
constexpr std::string_view kLengthModifiers = "hlqLjzt";
constexpr std::string_view kConversions = "diuxXoceEfFgGaAs@";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Parses the conversion after a '%' at `format[pos]`. Returns the index after it, or npos when it
// is not one this formatter understands.
std::size_t parseConversion(std::string_view format, std::size_t pos, Conversion* conv) {
    while (pos < format.size() && kFlags.find(format[pos]) != std::string_view::npos) {
        conv->flags += format[pos++];
    }
    while (pos < format.size() && isDigit(format[pos])) {
        conv->width += format[pos++];
    }
    if (pos < format.size() && format[pos] == '.') {
        conv->precision += format[pos++];
        while (pos < format.size() && isDigit(format[pos])) {
            conv->precision += format[pos++];
        }
    }
    while (pos < format.size() && kLengthModifiers.find(format[pos]) != std::string_view::npos) {
        ++pos;
    }
    if (pos >= format.size() || kConversions.find(format[pos]) == std::string_view::npos) {
        return std::string_view::npos;
    }
    conv->conversion = format[pos];
    return pos + 1;
}

template <typename T>
std::string printfWith(const Conversion& conv, const char* length, char conversion, T value) {
    if (conv.width.size() > 4 || conv.precision.size() > 5) {
        return std::string();  // absurd widths are not honoured
    }
    const std::string pattern =
        "%" + conv.flags + conv.width + conv.precision + length + std::string(1, conversion);
    const int size = std::snprintf(nullptr, 0, pattern.c_str(), value);
    if (size <= 0) {
        return std::string();
    }
    std::string out(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern.c_str(), value);
    out.resize(static_cast<std::size_t>(size));
    return out;
}

std::string shortestDouble(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The argument as text, for %s and %@.
std::string textOf(const FormatArg::Variant& arg) {
    struct Visitor {
        std::string operator()(bool v) const { return v ? "1" : "0"; }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(std::uint64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const { return shortestDouble(v); }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(const Value& v) const {
            return v.string() ? *v.string() : v.description();
        }
    };
    return std::visit(Visitor{}, arg);
}

std::int64_t saturatingInt(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (v < -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(v);
}

// The argument as a number, or no value for text.
std::optional<std::variant<std::int64_t, std::uint64_t, double>> numberOf(
    const FormatArg::Variant& arg) {
    if (const bool* b = std::get_if<bool>(&arg)) {
        return std::int64_t{*b ? 1 : 0};
    }
    if (const auto* i = std::get_if<std::int64_t>(&arg)) {
        return *i;
    }
    if (const auto* u = std::get_if<std::uint64_t>(&arg)) {
        return *u;
    }
    if (const double* d = std::get_if<double>(&arg)) {
        return *d;
    }
    if (const Value* v = std::get_if<Value>(&arg)) {
        if (v->isDouble()) {
            return *v->doubleValue();
        }
        if (v->isNumber()) {
            return *v->numberAsInt();
        }
    }
    return std::nullopt;
}

std::string render(const Conversion& conv, const FormatArg::Variant& arg) {
    const char c = conv.conversion;
    auto number = numberOf(arg);
    if (c == 's' || c == '@' || !number) {
        const std::string text = textOf(arg);
        Conversion textConversion = conv;
        textConversion.flags = conv.flags.find('-') != std::string::npos ? "-" : "";
        return printfWith(textConversion, "", 's', text.c_str());
    }
    const bool floating = std::string_view("eEfFgGaA").find(c) != std::string_view::npos;
    if (floating) {
        const double v = std::visit([](auto n) { return static_cast<double>(n); }, *number);
        return printfWith(conv, "", c, v);
    }
    if (const double* d = std::get_if<double>(&*number)) {
        number = saturatingInt(*d);
    }
    const std::uint64_t bits =
        std::visit([](auto n) { return static_cast<std::uint64_t>(n); }, *number);
    if (c == 'c') {
        return std::string(1, static_cast<char>(bits));
    }
    if (c == 'd' || c == 'i') {
        if (const auto* u = std::get_if<std::uint64_t>(&*number)) {
            return printfWith(conv, "ll", 'u', static_cast<unsigned long long>(*u));
        }
        return printfWith(conv, "ll", c, static_cast<long long>(bits));
    }
    return printfWith(conv, "ll", c, static_cast<unsigned long long>(bits));
}

}  // namespace

std::string formatString(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(format.size());
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < format.size()) {
        const char c = format[pos];
        if (c != '%') {
            out += c;
            ++pos;
            continue;
        }
        if (pos + 1 < format.size() && format[pos + 1] == '%') {
            out += '%';
            pos += 2;
            continue;
        }
        Conversion conv;
        const std::size_t end = parseConversion(format, pos + 1, &conv);
        if (end == std::string_view::npos || next >= args.size()) {
            out += c;  // copied as written
            ++pos;
            continue;
        }
        out += render(conv, args[next++].variant());
        pos = end;
    }
    return out;
}

}  // namespace sdk
