#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "app/localization/LocalizationManager.h"

namespace cb {

QtTranslations::QtTranslations(LocalizationManager& loc, QString folder)
    : folder_(std::move(folder)) {
    loc.observeCurrent(this, [this](Language language) { show(language); });
}

QtTranslations::~QtTranslations() {
    if (installed_) {
        QCoreApplication::removeTranslator(&translator_);
    }
}

QString QtTranslations::qtName(Language language) {
    switch (language) {
        case Language::english:
            return QStringLiteral("en");
        case Language::russian:
            return QStringLiteral("ru");
        case Language::german:
            return QStringLiteral("de");
        case Language::chinese:
            return QStringLiteral("zh_CN");
    }
    return QStringLiteral("en");
}

QString QtTranslations::defaultFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

void QtTranslations::show(Language language) {
    if (installed_) {
        QCoreApplication::removeTranslator(&translator_);
        installed_ = false;
    }
    if (language == Language::english) {
        return;
    }
    if (translator_.load(QStringLiteral("qtbase_") + qtName(language), folder_)) {
        installed_ = QCoreApplication::installTranslator(&translator_);
    }
}

}  // namespace cb
