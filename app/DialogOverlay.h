#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

class QVariantAnimation;

namespace cb {

// One dialog shown above the window body: a black backdrop at opacity 0.25 over the whole host,
// and the dialog centred on a card of the window colour with corner radius 14 and a shadow
// (black at 0.4, blur radius 30, 14 down). The overlay covers its host and follows its size;
// the backdrop takes every click, so nothing below can be pressed while the dialog shows.
//
// Appearing and disappearing take kAnimationMs with ease-in-out: the backdrop and card fade,
// and the card scales from 0.96 about its centre. While animating, the card is painted from a
// picture of the dialog and the dialog itself is hidden, so it cannot be pressed and takes the
// keyboard focus only once it is fully shown.
//
// States: created (hidden) --present()--> appearing --animation end--> shown
//         appearing | shown --dismiss()--> disappearing --animation end--> deleted (deleteLater)
class DialogOverlay : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kAnimationMs = 200;
    static constexpr double kBackdropOpacity = 0.25;
    static constexpr double kCornerRadius = 14;
    static constexpr double kShadowOpacity = 0.4;
    static constexpr double kShadowRadius = 30;
    static constexpr double kShadowOffsetY = 14;
    static constexpr double kInitialScale = 0.96;

    // Builds the overlay over `host` around `dialog`, which it takes over (it becomes a child of
    // the card). The overlay starts hidden; present() shows it. REQUIRES: host is not null.
    DialogOverlay(QWidget* dialog, QWidget* host);

    // Shows the overlay with its appearing animation. Call once.
    void present();

    // Starts the disappearing animation, after which the overlay deletes itself. From now on it
    // lets clicks through and the dialog is hidden, so its actions can no longer run. Calling it
    // again does nothing.
    void dismiss();

    // The dialog on the card.
    QWidget* dialog() const { return dialog_; }

    // True from dismiss() on.
    bool isDismissing() const { return dismissing_; }

    // True once the appearing animation has ended and the dialog is on screen.
    bool isFullyShown() const { return progress_ >= 1.0 && !dismissing_; }

    // The card's rectangle in the overlay's coordinates, at full size.
    QRect cardRect() const;

    // Animation progress: 0 fully gone, 1 fully shown.
    double progress() const { return progress_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QSize cardSize() const;
    void layoutCard();
    void setProgress(double progress);
    void animateTo(double target);
    void takeCardPicture();
    void paintCard(QPainter& painter, const QRectF& rect, double opacity);

    QWidget* card_;                 // owned (Qt child); holds the dialog
    QWidget* dialog_;               // owned by card_
    QVariantAnimation* animation_;  // owned (Qt child)
    double progress_ = 0;
    bool dismissing_ = false;
    QPixmap cardPicture_;  // the dialog as painted, for the animated frames
    QImage shadow_;        // cached for shadowSize_
    QSize shadowSize_;
};

}  // namespace cb
