#include "sdk/utilities/FormatString.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace sdk {
namespace {

TEST(FormatStringTest, FillsConversionsFromTheArgumentsRealTypes) {
    const std::string owned = "owned";
    const Value dictionary(Value::Dictionary{{"k", 1}});
    struct Case {
        const char* format;
        FormatArgs args;
        const char* expected;
    };
    const Case cases[] = {
        {"I-VDU%06ld", {17}, "I-VDU000017"},
        {"Invalid logger level, %ld", {std::int64_t{-8}}, "Invalid logger level, -8"},
        {"%d %i %u", {-1, std::int64_t{2}, 3u}, "-1 2 3"},
        {"%x %X %o", {255, 255, 8}, "ff FF 10"},
        {"%5.2f|%-4d|%e", {3.14159, 7, 1500.0}, " 3.14|7   |1.500000e+03"},
        {"%@ and %s and %@", {"a", owned, dictionary}, R"(a and owned and {"k": 1})"},
        {"%@ %@ %@", {true, 2.5, Value("text")}, "1 2.5 text"},
        {"%c%c", {'o', 'k'}, "ok"},
        {"100%% done", {}, "100% done"},
        // A mismatched argument is converted, never misread.
        {"%d|%s|%f", {"seven", 8, 9}, "seven|8|9.000000"},
        {"%ld", {std::numeric_limits<std::uint64_t>::max()}, "18446744073709551615"},
        {"%d", {1e300}, "9223372036854775807"},
        // Missing arguments and unknown conversions stay as written.
        {"%@ then %@", {"one"}, "one then %@"},
        {"%k %*d %", {1, 2}, "%k %*d %"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatString(c.format, c.args), c.expected) << c.format;
    }
}

}  // namespace
}  // namespace sdk
