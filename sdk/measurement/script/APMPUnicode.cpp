#include "sdk/measurement/script/APMPUnicode.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

// ICU's buffer functions count in int32_t; longer texts are handled in parts of this size.
constexpr std::size_t kPart = INT32_MAX;

const UChar* units(std::u16string_view text) {
    return reinterpret_cast<const UChar*>(text.data());
}

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

int APMPCompareUnits(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t done = 0; done < common; done += kPart) {
        const std::size_t part = std::min(kPart, common - done);
        const int32_t order =
            u_memcmp(units(a) + done, units(b) + done, static_cast<int32_t>(part));
        if (order != 0) {
            return order < 0 ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() == b.size() ? 0 : 1);
}

bool APMPSameUnits(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

std::size_t APMPFindUnit(std::u16string_view text, char16_t unit, std::size_t from) {
    // ICU finds a lone surrogate only outside a pair; a script searches units, so a surrogate
    // is looked for unit by unit.
    if (U16_IS_SURROGATE(unit)) {
        return text.find(unit, from);
    }
    for (std::size_t start = from; start < text.size(); start += kPart) {
        const std::size_t part = std::min(kPart, text.size() - start);
        const UChar* found = u_memchr(units(text) + start, unit, static_cast<int32_t>(part));
        if (found != nullptr) {
            return static_cast<std::size_t>(found - units(text));
        }
    }
    return std::u16string_view::npos;
}

std::size_t APMPFindLastUnit(std::u16string_view text, char16_t unit, std::size_t end) {
    end = std::min(end, text.size());
    if (U16_IS_SURROGATE(unit)) {
        return end == 0 ? std::u16string_view::npos : text.substr(0, end).rfind(unit);
    }
    while (end > 0) {
        const std::size_t part = std::min(kPart, end);
        const UChar* found =
            u_memrchr(units(text) + (end - part), unit, static_cast<int32_t>(part));
        if (found != nullptr) {
            return static_cast<std::size_t>(found - units(text));
        }
        end -= part;
    }
    return std::u16string_view::npos;
}
