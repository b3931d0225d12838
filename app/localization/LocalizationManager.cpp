#include "app/localization/LocalizationManager.h"

#include <QDebug>

#include "app/localization/StringTables.h"
#include "platform/bundle/Bundle.h"

namespace cb {

namespace {

std::string_view lookUp(Language language, std::string_view key) {
    const StringTable& table = stringTable(language);
    if (auto found = table.find(key); found != table.end()) {
        return found->second;
    }
    if (language != Language::english) {
        const StringTable& english = stringTable(Language::english);
        if (auto found = english.find(key); found != english.end()) {
            return found->second;
        }
    }
    return key;
}

Language startLanguage(platform::PreferencesStore* defaults,
                       const std::vector<std::string>& preferredLanguages) {
    if (defaults != nullptr) {
        std::optional<platform::PlistValue> stored =
            defaults->get(LocalizationManager::kLanguageKey);
        const std::string* raw = stored ? stored->getIf<std::string>() : nullptr;
        if (raw != nullptr) {
            if (std::optional<Language> language = languageFromRawValue(*raw)) {
                return *language;
            }
        }
    }
    return systemDefaultLanguage(preferredLanguages);
}

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

LocalizationManager::LocalizationManager(std::shared_ptr<platform::PreferencesStore> defaults,
                                         std::vector<std::string> preferredLanguages,
                                         QObject* parent)
    : QObject(parent),
      defaults_(std::move(defaults)),
      current_(startLanguage(defaults_.get(), preferredLanguages)) {}

LocalizationManager::~LocalizationManager() = default;

LocalizationManager& LocalizationManager::shared() {
    static LocalizationManager instance(
        platform::PreferencesStore::suite(platform::Bundle::mainBundleIdentifier()),
        systemPreferredLanguages());
    return instance;
}

void LocalizationManager::setCurrent(Language language) {
    Language previous = current_.exchange(language, std::memory_order_acq_rel);
    if (previous != language && defaults_) {
        if (std::error_code error = defaults_->set(kLanguageKey, std::string(rawValue(language)))) {
            qWarning("localization: could not store the language in %s: %s",
                     defaults_->path().c_str(), error.message().c_str());
        }
    }
    emit currentChanged(language);
}

QMetaObject::Connection LocalizationManager::observeCurrent(
    QObject* context, std::function<void(Language)> observer) {
    observer(current());
    return connect(this, &LocalizationManager::currentChanged, context, std::move(observer));
}

std::string LocalizationManager::text(std::string_view key) const {
    return std::string(lookUp(current(), key));
}

std::string LocalizationManager::format(std::string_view key,
                                        std::initializer_list<TextArgument> arguments) const {
    return formatText(lookUp(current(), key), arguments);
}

QString LocalizationManager::qtext(std::string_view key) const {
    return toQString(text(key));
}

QString LocalizationManager::qformat(std::string_view key,
                                     std::initializer_list<TextArgument> arguments) const {
    return toQString(format(key, arguments));
}

}  // namespace cb
