#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/localization/Language.h"
#include "app/localization/TextFormat.h"
#include "platform/preferences/PreferencesStore.h"

namespace cb {

// The interface language and the lookup of every text the application shows.
//
// Design notes:
// 1. `current` is set once at construction (from the stored choice, else the system's preferred
//    languages) and afterwards only by setCurrent(); construction stores nothing.
// 2. setCurrent() stores the raw value under kLanguageKey only when the language changes. A
//    stored value that is not a raw value is ignored at start and left as it is.
// 3. currentChanged is emitted after every setCurrent(), also an unchanged one, so observers
//    see each assignment (the language menu re-selects the current language, for example).
// 4. The string tables are process-wide constants; the manager holds no text of its own.
//
// The manager lives on the main thread. text() and current() may also be called from worker
// threads (the Trash service builds its messages there); `current_` is atomic for that reason.
class LocalizationManager : public QObject {
    Q_OBJECT

  public:
    // The preferences key of the chosen language.
    static constexpr std::string_view kLanguageKey = "Cellarbright.language";

    // Builds a manager that starts in the language stored in `defaults` under kLanguageKey when
    // that is one of the four raw values, else in systemDefaultLanguage(preferredLanguages).
    // With `defaults` null the choice is kept in memory only. The application uses shared();
    // tests build their own against a temporary preferences folder.
    LocalizationManager(std::shared_ptr<platform::PreferencesStore> defaults,
                        std::vector<std::string> preferredLanguages, QObject* parent = nullptr);
    ~LocalizationManager() override;

    // Returns the one manager of the run, created on first use (thread-safe) from the app's
    // standard preferences suite (named by the main bundle's identifier) and the system's
    // preferred languages, and kept until the process ends.
    static LocalizationManager& shared();

    // Returns the interface language.
    Language current() const { return current_.load(std::memory_order_acquire); }

    // Makes `language` the interface language, stores it when it differs from the previous one,
    // and emits currentChanged. A failure to store is logged; the language still changes.
    // REQUIRES: called on the thread the manager lives on.
    void setCurrent(Language language);

    // Calls `observer` with the current language at once, then after every setCurrent() for as
    // long as `context` lives. Returns the connection, for disconnecting early.
    QMetaObject::Connection observeCurrent(QObject* context,
                                           std::function<void(Language)> observer);

    // Returns the text of `key` in the current language, else in English, else `key` itself.
    // Never fails; keys compare exactly (case-sensitive).
    std::string text(std::string_view key) const;

    // Returns text(key) with its "%d" and "%@" placeholders filled from `arguments` in order
    // (see formatText).
    std::string format(std::string_view key, std::initializer_list<TextArgument> arguments) const;

    // The same two lookups as QString, for views.
    QString qtext(std::string_view key) const;
    QString qformat(std::string_view key, std::initializer_list<TextArgument> arguments) const;

  signals:
    // Emitted on the manager's thread after every setCurrent(), with the new language.
    void currentChanged(cb::Language language);

  private:
    const std::shared_ptr<platform::PreferencesStore> defaults_;  // may be null
    std::atomic<Language> current_;
};

}  // namespace cb
