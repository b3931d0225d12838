#include "sdk/measurement/script/APMPUnicode.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <climits>

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

}  // namespace

std::string APMPToUTF8(std::u16string_view text) {
    if (text.empty() || text.size() > INT32_MAX / 3) {
        return {};
    }
    // Every UTF-16 unit becomes at most three UTF-8 bytes.
    std::string out(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                       reinterpret_cast<const UChar*>(text.data()),
                       static_cast<int32_t>(text.size()), kReplacement, nullptr, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::u16string APMPFromUTF8(std::string_view text) {
    if (text.empty() || text.size() > INT32_MAX) {
        return {};
    }
    // Every UTF-8 byte becomes at most one UTF-16 unit.
    std::u16string out(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                         &length, text.data(), static_cast<int32_t>(text.size()), kReplacement,
                         nullptr, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

bool APMPIsTrimmedSpace(char16_t unit) {
    if ((unit >= 0x09 && unit <= 0x0D) || unit == 0x85) {
        return true;
    }
    const int8_t type = u_charType(unit);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::u16string_view APMPTrimSpace(std::u16string_view text) {
    while (!text.empty() && APMPIsTrimmedSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && APMPIsTrimmedSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}
