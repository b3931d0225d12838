#include "app/views/ScreenStyle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

#include "app/disk/Formatters.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb::style {

QString byteText(int64_t bytes) {
    return QString::fromStdString(byteFormatter().string(std::max<int64_t>(bytes, 0)));
}

QLabel* symbolLabel(const char* symbol, int pixels, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("symbol:") + QLatin1String(symbol));
    label->setFixedSize(pixels, pixels);
    label->setPixmap(cb::symbolPixmap(symbol, pixels, color, label->devicePixelRatioF()));
    return label;
}

DialogHeader dialogHeader(const char* symbol, int pixels, const QColor& tint, bool bodyWraps,
                          const QString& bodyName, QWidget* parent) {
    DialogHeader header;
    header.widget = new QWidget(parent);
    auto* row = new QHBoxLayout(header.widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(symbolLabel(symbol, pixels, tint, header.widget), 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    header.title = new QLabel(header.widget);
    header.title->setObjectName(QStringLiteral("title"));
    header.title->setFont(systemFont(15, QFont::DemiBold));
    header.body = new QLabel(header.widget);
    header.body->setObjectName(bodyName);
    header.body->setFont(systemFont(12));
    header.body->setWordWrap(bodyWraps);
    setTextColor(header.body, secondaryText(parent->palette()));
    texts->addWidget(header.title);
    texts->addWidget(header.body);
    row->addLayout(texts, 1);
    return header;
}

RoundedBox::RoundedBox(QWidget* parent) : QWidget(parent) {}

void RoundedBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(secondaryText(palette()), 0.08));
    // A plain rounded rectangle stands in for the continuous-corner shape.
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

namespace {

QString prominentSheet(const QColor& fill, int pixels, int vertical, int horizontal) {
    const QColor pressed = fill.darker(115);
    const QColor disabled = withOpacity(fill, 0.45);
    return QStringLiteral(
               "QPushButton { background-color: %1; color: white; border: none;"
               " border-radius: 6px; padding: %4px %5px; font-size: %6px; }"
               "QPushButton:pressed { background-color: %2; }"
               "QPushButton:disabled { background-color: %3; }")
        .arg(fill.name(QColor::HexArgb), pressed.name(QColor::HexArgb),
             disabled.name(QColor::HexArgb))
        .arg(vertical)
        .arg(horizontal)
        .arg(pixels);
}

int controlFontPixels(ControlSize size) {
    switch (size) {
        case ControlSize::small:
            return 11;
        case ControlSize::regular:
            return 13;
        case ControlSize::large:
            return 14;
    }
    return 13;
}

// Gives a dialog the keyboard focus whenever it is shown, so its scoped keys work at once.
class FocusOnShow : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* widget = static_cast<QWidget*>(watched);
            if (!widget->isAncestorOf(QApplication::focusWidget())) {
                widget->setFocus(Qt::OtherFocusReason);
            }
        }
        return false;
    }
};

void bindKey(QWidget* dialog, QKeySequence key, QAbstractButton* button) {
    auto* shortcut = new QShortcut(key, dialog);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled() && button->isVisible()) {
            button->click();
        }
    });
}

}  // namespace

void styleButton(QPushButton* button, ButtonLook look, ControlSize size) {
    const int pixels = controlFontPixels(size);
    button->setFont(systemFont(pixels));
    const int vertical = size == ControlSize::small ? 2 : (size == ControlSize::large ? 6 : 4);
    const int horizontal = size == ControlSize::small ? 8 : 12;
    switch (look) {
        case ButtonLook::standard:
            button->setStyleSheet(QString());
            break;
        case ButtonLook::prominent:
            button->setStyleSheet(
                prominentSheet(accent(button->palette()), pixels, vertical, horizontal));
            break;
        case ButtonLook::destructive:
            button->setStyleSheet(prominentSheet(systemRed(), pixels, vertical, horizontal));
            break;
    }
}

void bindDialogKeys(QWidget* dialog, QAbstractButton* returnButton, QAbstractButton* escapeButton) {
    dialog->setFocusPolicy(Qt::StrongFocus);
    dialog->installEventFilter(new FocusOnShow(dialog));
    if (returnButton != nullptr) {
        bindKey(dialog, QKeySequence(Qt::Key_Return), returnButton);
        bindKey(dialog, QKeySequence(Qt::Key_Enter), returnButton);
    }
    if (escapeButton != nullptr) {
        bindKey(dialog, QKeySequence(Qt::Key_Escape), escapeButton);
    }
}

}  // namespace cb::style
