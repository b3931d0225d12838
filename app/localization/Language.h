#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cb {

// The four interface languages, in the order the language menu lists them.
enum class Language { english, russian, german, chinese };

// Every language, in declaration order.
inline constexpr std::array<Language, 4> kAllLanguages = {Language::english, Language::russian,
                                                          Language::german, Language::chinese};

// Returns the language's raw value: "en", "ru", "de" or "zh". It is also the language's identity
// and the value stored in the user's preferences.
std::string_view rawValue(Language language);

// Returns the language whose raw value is exactly `raw` (case-sensitive), or nullopt for any
// other string ("EN", "fr", "en-US", "").
std::optional<Language> languageFromRawValue(std::string_view raw);

// Returns the language's name in itself: "English", "Русский", "Deutsch", "中文".
std::string_view nativeName(Language language);

// Picks the interface language from the system's preferred languages, in their order: the first
// entry whose primary subtag (text before the first non-empty "-" piece, lower-cased) is "ru",
// "de", "zh" or "en" decides; with no such entry the result is english.
Language systemDefaultLanguage(const std::vector<std::string>& preferredLanguages);

// Returns the user's preferred languages as language tags ("de-AT"), most preferred first, from
// LANGUAGE (a colon-separated list), then LC_ALL, LC_MESSAGES and LANG, the way the C library
// resolves message locales. "de_AT.UTF-8@euro" gives "de-AT"; "C" and "POSIX" are skipped.
std::vector<std::string> systemPreferredLanguages();

// Turns one POSIX locale name into a language tag: the codeset and modifier are dropped and "_"
// becomes "-" ("zh_CN.UTF-8" gives "zh-CN"). Returns "" for "C", "POSIX" and empty names.
std::string languageTagFromLocaleName(std::string_view localeName);

}  // namespace cb
