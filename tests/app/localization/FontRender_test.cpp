// Every text of the tables can be drawn with real glyphs from the installed fonts, Chinese and
// Russian included: no character falls back to the empty "missing glyph" box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGlyphRun>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <cstdlib>

#include "app/localization/LocalizationManager.h"
#include "app/localization/StringTables.h"

namespace cb {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "font-render-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Names the font of each character of `text` that the font machinery (with its fallback
// fonts) cannot draw; empty when every character has a real glyph.
std::string missingCharacters(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    QString missing;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 glyph : run.glyphIndexes()) {
            if (glyph == 0) {  // glyph 0 is the "missing glyph" box of every font
                missing += QStringLiteral("[%1]").arg(run.rawFont().familyName());
            }
        }
    }
    return missing.toStdString();
}

TEST(FontRenderTest, EveryTableTextHasRealGlyphs) {
    QFont font = application().font();
    for (Language language : kAllLanguages) {
        SCOPED_TRACE(std::string(rawValue(language)));
        for (const StringEntry& entry : stringList(language)) {
            QString text = QString::fromUtf8(entry.text.data(), entry.text.size());
            text.replace('\n', ' ');
            EXPECT_EQ(missingCharacters(text, font), "") << entry.key;
        }
        QString name = QString::fromUtf8(nativeName(language).data(), nativeName(language).size());
        EXPECT_EQ(missingCharacters(name, font), "");
    }
}

// Renders a label to an image (saved for a look when CB_TEST_OUTPUT_DIR is set) and returns how
// many of its pixels carry ink.
int renderLabel(const QString& text, const QString& file) {
    QLabel label(text);
    label.setStyleSheet("background: white; color: black; padding: 4px");
    label.adjustSize();
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    label.render(&image);
    if (const char* folder = std::getenv("CB_TEST_OUTPUT_DIR")) {
        QDir().mkpath(folder);
        image.save(QString::fromUtf8(folder) + "/" + file);
    }
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        }
    }
    return ink;
}

TEST(FontRenderTest, ChineseAndRussianLabelsDrawInk) {
    application();
    LocalizationManager loc(nullptr, {});
    for (Language language : {Language::chinese, Language::russian}) {
        loc.setCurrent(language);
        QString text = loc.qtext("welcome.title");
        EXPECT_EQ(missingCharacters(text, QLabel().font()), "");
        int ink = renderLabel(
            text,
            QStringLiteral("label-%1.png").arg(QString::fromUtf8(rawValue(language).data(), 2)));
        EXPECT_GT(ink, 50 * text.size() / 10) << "too little ink for " << text.toStdString();
    }
}

}  // namespace
}  // namespace cb
