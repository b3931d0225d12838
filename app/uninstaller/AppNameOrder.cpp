#include "app/uninstaller/AppNameOrder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace cb {

struct AppNameOrder::Collation {
    std::unique_ptr<icu::Collator> collator;
};

namespace {

icu::Locale collationLocale() {
    const icu::Locale& locale = icu::Locale::getDefault();
    if (std::strcmp(locale.getVariant(), "POSIX") == 0) {
        return icu::Locale::getRoot();
    }
    return locale;
}

icu::StringPiece piece(std::string_view text) {
    return icu::StringPiece(text.data(),
                            static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX)));
}

// The order without a collator: bytes with ASCII letters folded to lower case.
int foldedCompare(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

AppNameOrder::AppNameOrder() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(collationLocale(), status));
    if (U_FAILURE(status) || !collator) {
        return;
    }
    collator->setStrength(icu::Collator::SECONDARY);
    collation_ = std::make_unique<Collation>(Collation{std::move(collator)});
}

AppNameOrder::~AppNameOrder() = default;

int AppNameOrder::compare(std::string_view a, std::string_view b) const {
    if (!collation_) {
        return foldedCompare(a, b);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collation_->collator->compareUTF8(piece(a), piece(b), status);
    if (U_FAILURE(status)) {
        return foldedCompare(a, b);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

}  // namespace cb
