#pragma once

#include <QObject>
#include <QString>
#include <QTranslator>

#include "app/localization/Language.h"

namespace cb {

class LocalizationManager;

// Qt's own texts (the labels and buttons of Qt's dialogs, such as the folder chooser) in the
// interface language: installs Qt's translation of the current language into the application
// and replaces it after every language change, for as long as it lives. English needs none; a
// language whose file is missing leaves Qt's texts in English.
class QtTranslations : public QObject {
    Q_OBJECT

  public:
    // Follows `loc`, reading "qtbase_<name>.qm" from `folder` (by default Qt's own translations
    // folder, which Debian's qt6-translations-l10n fills). REQUIRES: a QCoreApplication exists;
    // called on its thread; `loc` outlives this object.
    explicit QtTranslations(LocalizationManager& loc, QString folder = defaultFolder());
    ~QtTranslations() override;

    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // The name Qt's translation files use for `language`: "en", "ru", "de", "zh_CN".
    static QString qtName(Language language);

    // Qt's translations folder of this installation.
    static QString defaultFolder();

    // True while a translation is installed (false for English and for a missing file).
    bool isInstalled() const { return installed_; }

  private:
    void show(Language language);

    QString folder_;
    QTranslator translator_;
    bool installed_ = false;
};

}  // namespace cb
