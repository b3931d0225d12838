#include "app/uninstaller/IdentifierText.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <optional>

namespace cb {

namespace {

// `text` as UTF-16, or nullopt when it is not valid UTF-8 (fromUTF8 would turn malformed bytes
// into U+FFFD, and such text must stay apart from the text it would then equal) or too long.
std::optional<icu::UnicodeString> utf16(std::string_view text) {
    if (text.size() > INT32_MAX) {
        return std::nullopt;
    }
    icu::UnicodeString result = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::string roundTrip;
    result.toUTF8String(roundTrip);
    if (roundTrip != text) {
        return std::nullopt;
    }
    return result;
}

}  // namespace

std::string canonicalIdentifier(std::string_view identifier) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    const std::optional<icu::UnicodeString> text = utf16(identifier);
    if (U_FAILURE(status) || !text) {
        return std::string(identifier);
    }
    if (nfc->isNormalized(*text, status) && U_SUCCESS(status)) {
        return std::string(identifier);
    }
    status = U_ZERO_ERROR;
    const icu::UnicodeString normalized = nfc->normalize(*text, status);
    if (U_FAILURE(status)) {
        return std::string(identifier);
    }
    std::string result;
    normalized.toUTF8String(result);
    return result;
}

bool sameIdentifier(std::string_view a, std::string_view b) {
    return a == b || canonicalIdentifier(a) == canonicalIdentifier(b);
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    const std::optional<icu::UnicodeString> first = utf16(canonicalIdentifier(a));
    const std::optional<icu::UnicodeString> second = utf16(canonicalIdentifier(b));
    if (!first || !second) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    const int32_t order = u_strCaseCompare(first->getBuffer(), first->length(), second->getBuffer(),
                                           second->length(), U_FOLD_CASE_DEFAULT, &status);
    return U_SUCCESS(status) && order == 0;
}

}  // namespace cb
