#include "app/uninstaller/views/RelativeDate.h"

#include <unicode/calendar.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <array>
#include <memory>
#include <utility>

namespace cb {

namespace {

// The calendar fields tried, largest first, with the unit each is written in.
constexpr std::array<std::pair<UCalendarDateFields, URelativeDateTimeUnit>, 7> kFields = {{
    {UCAL_YEAR, UDAT_REL_UNIT_YEAR},
    {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
    {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK},
    {UCAL_DATE, UDAT_REL_UNIT_DAY},
    {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},
    {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
    {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
}};

UDate toUDate(std::chrono::system_clock::time_point time) {
    return static_cast<UDate>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

}  // namespace

const char* relativeDateLocale(Language language) {
    switch (language) {
        case Language::english:
            return "en_US";
        case Language::russian:
            return "ru_RU";
        case Language::german:
            return "de_DE";
        case Language::chinese:
            return "zh_Hans";
    }
    return "en_US";
}

QString relativeDateText(std::chrono::system_clock::time_point date,
                         std::chrono::system_clock::time_point now, Language language) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(relativeDateLocale(language));
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(locale, status));
    if (U_FAILURE(status)) {
        return {};
    }
    // fieldDifference() walks the calendar from `date` towards `now` field by field, so each
    // field holds what the larger ones left over.
    calendar->setTime(toUDate(date), status);
    const UDate target = toUDate(now);
    int32_t amount = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const auto& [field, fieldUnit] : kFields) {
        const int32_t difference = calendar->fieldDifference(target, field, status);
        if (U_FAILURE(status)) {
            return {};
        }
        if (difference != 0) {
            amount = difference;
            unit = fieldUnit;
            break;
        }
    }
    icu::RelativeDateTimeFormatter formatter(locale, nullptr, UDAT_STYLE_SHORT,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    // A date in the past has a positive difference up to now, and is written as "ago".
    formatter.formatNumeric(-static_cast<double>(amount), unit, text, status);
    if (U_FAILURE(status)) {
        return {};
    }
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

}  // namespace cb
