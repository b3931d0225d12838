#pragma once

#include <QString>
#include <chrono>

#include "app/localization/Language.h"

namespace cb {

// The ICU locale of a language's relative dates: "en_US", "ru_RU", "de_DE" or "zh_Hans".
const char* relativeDateLocale(Language language);

// `date` relative to `now` in `language`, the short numeric style ("2 days ago", "vor 2 Tagen",
// "2天前", "in 3 hr."). The unit is the largest calendar field of the difference that is not
// zero, from years down to seconds (weeks included); equal times give zero seconds. The
// difference is counted in the calendar of the time zone in force. An empty text when ICU cannot
// format it.
QString relativeDateText(std::chrono::system_clock::time_point date,
                         std::chrono::system_clock::time_point now, Language language);

}  // namespace cb
