#include "app/localization/Language.h"

#include <cctype>
#include <cstdlib>

namespace cb {

std::string_view rawValue(Language language) {
    switch (language) {
        case Language::english:
            return "en";
        case Language::russian:
            return "ru";
        case Language::german:
            return "de";
        case Language::chinese:
            return "zh";
    }
    return "en";
}

std::optional<Language> languageFromRawValue(std::string_view raw) {
    for (Language language : kAllLanguages) {
        if (rawValue(language) == raw) {
            return language;
        }
    }
    return std::nullopt;
}

std::string_view nativeName(Language language) {
    switch (language) {
        case Language::english:
            return "English";
        case Language::russian:
            return "Русский";
        case Language::german:
            return "Deutsch";
        case Language::chinese:
            return "中文";
    }
    return "English";
}

namespace {

// The first non-empty "-"-separated piece of `tag`, lower-cased; "" when there is none.
std::string primarySubtag(std::string_view tag) {
    size_t start = 0;
    while (start < tag.size()) {
        size_t end = tag.find('-', start);
        if (end == std::string_view::npos) {
            end = tag.size();
        }
        if (end > start) {
            std::string piece(tag.substr(start, end - start));
            for (char& c : piece) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            return piece;
        }
        start = end + 1;
    }
    return {};
}

void appendTag(std::vector<std::string>& tags, std::string_view localeName) {
    std::string tag = languageTagFromLocaleName(localeName);
    if (!tag.empty()) {
        tags.push_back(std::move(tag));
    }
}

}  // namespace

Language systemDefaultLanguage(const std::vector<std::string>& preferredLanguages) {
    for (const std::string& entry : preferredLanguages) {
        std::string primary = primarySubtag(entry);
        if (auto language = languageFromRawValue(primary)) {
            return *language;
        }
    }
    return Language::english;
}

std::string languageTagFromLocaleName(std::string_view localeName) {
    std::string_view name = localeName.substr(0, localeName.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") {
        return {};
    }
    std::string tag(name);
    for (char& c : tag) {
        if (c == '_') {
            c = '-';
        }
    }
    return tag;
}

std::vector<std::string> systemPreferredLanguages() {
    // LC_ALL overrides LC_MESSAGES, which overrides LANG; LANGUAGE (a list) comes first unless
    // the message locale is "C", as the C library's own message lookup does.
    std::string_view locale;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    std::vector<std::string> tags;
    const char* list = std::getenv("LANGUAGE");
    if (list != nullptr && !languageTagFromLocaleName(locale).empty()) {
        std::string_view rest(list);
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            appendTag(tags, rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    appendTag(tags, locale);
    return tags;
}

}  // namespace cb
