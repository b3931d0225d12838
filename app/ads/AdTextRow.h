#pragma once

#include "app/ads/AdContentButton.h"

namespace cb {

// A text ad as one row, left to right: the icon (18 x 18, clipped to corner radius 4; a rounded
// square of the secondary colour at 0.15 while it loads, on failure and without an icon), the
// text (12, primary colour, one line, cut with an ellipsis at the end), a flexible gap, and the
// "arrow.up.right" symbol (10, semibold, secondary colour) at the trailing edge. Elements are 10
// apart and the gap is at least 8 more; the row is padded 14 left and right and 6 above and
// below, on the primary colour at 0.04. The arrow stays whole however long the text.
class AdTextRow : public AdContentButton {
    Q_OBJECT

  public:
    static constexpr int kIconSize = 18;
    static constexpr double kIconRadius = 4;
    static constexpr double kPlaceholderOpacity = 0.15;
    static constexpr double kTextSize = 12;
    static constexpr double kArrowSize = 10;
    static constexpr int kSpacing = 10;
    static constexpr int kMinimumGap = 8;
    static constexpr int kHorizontalPadding = 14;
    static constexpr int kVerticalPadding = 6;
    static constexpr double kBackgroundOpacity = 0.04;

    // REQUIRES: `ad` is a text ad; called on the UI thread.
    explicit AdTextRow(Ad ad, QWidget* parent = nullptr);

    // The text as drawn at the current width.
    QString shownText() const;

    // Where the parts are drawn at the current size.
    QRect iconRect() const;
    QRect textRect() const;
    QRect arrowRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void paintIcon(QPainter& painter) const;

    const QString text_;
};

}  // namespace cb
