#include "app/localization/LocalizationManager.h"

#include "app/localization/StringTables.h"

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

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

LocalizationManager::LocalizationManager(std::vector<std::string> preferredLanguages,
                                         QObject* parent)
    : QObject(parent), current_(systemDefaultLanguage(preferredLanguages)) {}

LocalizationManager::~LocalizationManager() = default;

LocalizationManager& LocalizationManager::shared() {
    static LocalizationManager instance(systemPreferredLanguages());
    return instance;
}

void LocalizationManager::setCurrent(Language language) {
    current_.store(language, std::memory_order_release);
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
