#include "app/views/BreadcrumbView.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/disk/FileNode.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

constexpr int kFontSize = 12;

// A crumb in the plain button style: its text only, no frame or background.
QPushButton* crumbButton(const QString& title, bool isFocus, const QPalette& palette,
                         QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(style::systemFont(kFontSize, isFocus ? QFont::DemiBold : QFont::Normal));
    const QColor color = isFocus ? style::primaryText(palette) : style::secondaryText(palette);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; "
                                         "background: transparent; color: %1; }")
                              .arg(color.name(QColor::HexArgb)));
    button->setObjectName(isFocus ? QStringLiteral("crumb-focus") : QStringLiteral("crumb"));
    return button;
}

}  // namespace

BreadcrumbView::BreadcrumbView(QWidget* parent) : QWidget(parent), more_(new QLabel(this)) {
    more_->setObjectName(QStringLiteral("crumb-more"));
    more_->setText(QStringLiteral("\u2026"));
    more_->setFont(style::systemFont(kFontSize));
    more_->setStyleSheet(
        QStringLiteral("color: %1;").arg(style::secondaryText(palette()).name(QColor::HexArgb)));
    more_->hide();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString BreadcrumbView::crumbTitle(const FileNode& node) {
    return node.name().empty() ? QStringLiteral("/") : QString::fromStdString(node.name());
}

void BreadcrumbView::clearCrumbs() {
    for (Crumb& crumb : crumbs_) {
        // The clicked crumb may be on the stack (its click led here): free it later.
        for (QWidget* widget :
             {static_cast<QWidget*>(crumb.button), static_cast<QWidget*>(crumb.chevron)}) {
            if (widget != nullptr) {
                widget->hide();
                widget->deleteLater();
            }
        }
    }
    crumbs_.clear();
}

void BreadcrumbView::setFocusNode(FileNode* focus) {
    clearCrumbs();
    std::vector<FileNode*> chain;
    for (FileNode* node = focus; node != nullptr; node = node->parent()) {
        chain.push_back(node);
    }
    std::reverse(chain.begin(), chain.end());
    for (size_t i = 0; i < chain.size(); ++i) {
        FileNode* node = chain[i];
        const QString title = crumbTitle(*node);
        QPushButton* button = crumbButton(title, node == focus, palette(), this);
        connect(button, &QPushButton::clicked, this, [this, node] {
            if (onSelect_) {
                onSelect_(node);
            }
        });
        QLabel* chevron = nullptr;
        if (i + 1 < chain.size()) {
            chevron = new QLabel(this);
            chevron->setObjectName(QStringLiteral("chevron"));
            chevron->setPixmap(symbolPixmap(
                "chevron.right", 9, style::withOpacity(style::secondaryText(palette()), 0.5),
                devicePixelRatioF()));
        }
        crumbs_.push_back({button, chevron, title, button->sizeHint().width()});
    }
    updateGeometry();
    layoutCrumbs();
}

QSize BreadcrumbView::sizeHint() const {
    int height = more_->sizeHint().height();
    for (const Crumb& crumb : crumbs_) {
        height = std::max(height, crumb.button->sizeHint().height());
    }
    return {rowWidth(0, INT_MAX), height};
}

QSize BreadcrumbView::minimumSizeHint() const {
    // A few letters of the focus's crumb, whatever the trail: a deep focus never widens the
    // window.
    return {minimumCrumbWidth(), sizeHint().height()};
}

void BreadcrumbView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutCrumbs();
}

int BreadcrumbView::chevronWidth() const {
    return crumbs_.size() > 1 ? crumbs_.front().chevron->sizeHint().width() : 0;
}

int BreadcrumbView::minimumCrumbWidth() const {
    // Room for a few letters on each side of the ellipsis, so a shortened crumb stays readable.
    const QFontMetrics metrics(style::systemFont(kFontSize));
    return metrics.horizontalAdvance(QStringLiteral("abcd\u2026xyz"));
}

// The width of crumb `index` shortened to at most `cap` (the focus's crumb is never capped).
int BreadcrumbView::crumbWidth(size_t index, int cap) const {
    const int full = crumbs_[index].fullWidth;
    return index + 1 == crumbs_.size() ? full : std::min(full, cap);
}

// The width of the row showing the crumbs from `first` on, each but the focus's capped at
// `cap`, with the leading "…" when crumbs are left out.
int BreadcrumbView::rowWidth(size_t first, int cap) const {
    int width = first > 0 ? more_->sizeHint().width() + 2 * kSpacing + chevronWidth() : 0;
    for (size_t i = first; i < crumbs_.size(); ++i) {
        width += crumbWidth(i, cap);
        if (i + 1 < crumbs_.size()) {
            width += 2 * kSpacing + chevronWidth();
        }
    }
    return width;
}

void BreadcrumbView::layoutCrumbs() {
    if (crumbs_.empty()) {
        more_->hide();
        return;
    }
    const int available = width();
    const int shortest = minimumCrumbWidth();
    // Keep as many crumbs as fit at the shortest width; then give them the widest common cap.
    size_t first = 0;
    while (first + 1 < crumbs_.size() && rowWidth(first, shortest) > available) {
        ++first;
    }
    int cap = shortest;
    int widest = 0;
    for (const Crumb& crumb : crumbs_) {
        widest = std::max(widest, crumb.fullWidth);
    }
    for (int low = shortest, high = widest; low <= high;) {
        const int middle = low + (high - low) / 2;
        if (rowWidth(first, middle) <= available) {
            cap = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    int x = 0;
    more_->setVisible(first > 0);
    for (size_t i = 0; i < crumbs_.size(); ++i) {
        const bool shown = i >= first;
        crumbs_[i].button->setVisible(shown);
        if (crumbs_[i].chevron != nullptr) {
            crumbs_[i].chevron->setVisible(shown || i + 1 == first);
        }
    }
    if (first > 0) {
        const QSize hint = more_->sizeHint();
        more_->setGeometry(x, (height() - hint.height()) / 2, hint.width(), hint.height());
        x += hint.width() + kSpacing;
        QLabel* chevron = crumbs_[first - 1].chevron;
        const QSize chevronHint = chevron->sizeHint();
        chevron->setGeometry(x, (height() - chevronHint.height()) / 2, chevronHint.width(),
                             chevronHint.height());
        x += chevronHint.width() + kSpacing;
    }
    for (size_t i = first; i < crumbs_.size(); ++i) {
        placeCrumb(i, cap, x);
    }
}

// Gives crumb `index` its text (shortened to `cap`, or to the room left for the focus's crumb)
// and its place at `x`, then its chevron; moves `x` past both.
void BreadcrumbView::placeCrumb(size_t index, int cap, int& x) {
    Crumb& crumb = crumbs_[index];
    const bool isFocus = index + 1 == crumbs_.size();
    const int extra = crumb.fullWidth - crumb.button->fontMetrics().horizontalAdvance(crumb.title);
    const int room = isFocus ? std::max(0, width() - x) : cap;
    QString text = crumb.title;
    if (crumb.fullWidth > room) {
        text = crumb.button->fontMetrics().elidedText(crumb.title, Qt::ElideMiddle,
                                                      std::max(0, room - extra));
    }
    crumb.button->setText(text);
    crumb.button->setToolTip(text == crumb.title ? QString() : crumb.title);
    const QSize hint = crumb.button->sizeHint();
    const int buttonWidth = std::min(hint.width(), std::max(room, 0));
    crumb.button->setGeometry(x, (height() - hint.height()) / 2, buttonWidth, hint.height());
    x += buttonWidth;
    if (crumb.chevron != nullptr) {
        x += kSpacing;
        const QSize chevronHint = crumb.chevron->sizeHint();
        crumb.chevron->setGeometry(x, (height() - chevronHint.height()) / 2, chevronHint.width(),
                                   chevronHint.height());
        x += chevronHint.width() + kSpacing;
    }
}

}  // namespace cb
