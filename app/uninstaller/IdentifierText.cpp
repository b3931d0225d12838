#include "app/uninstaller/IdentifierText.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdint>

namespace cb {

std::string canonicalIdentifier(std::string_view identifier) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || identifier.size() > INT32_MAX) {
        return std::string(identifier);
    }
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())));
    // fromUTF8 turns malformed bytes into U+FFFD; such text is kept byte for byte instead.
    std::string roundTrip;
    text.toUTF8String(roundTrip);
    if (roundTrip != identifier) {
        return std::string(identifier);
    }
    if (nfc->isNormalized(text, status) && U_SUCCESS(status)) {
        return roundTrip;
    }
    status = U_ZERO_ERROR;
    const icu::UnicodeString normalized = nfc->normalize(text, status);
    if (U_FAILURE(status)) {
        return roundTrip;
    }
    std::string result;
    normalized.toUTF8String(result);
    return result;
}

bool sameIdentifier(std::string_view a, std::string_view b) {
    return a == b || canonicalIdentifier(a) == canonicalIdentifier(b);
}

}  // namespace cb
