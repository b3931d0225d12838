#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;

namespace cb {

// One dialog shown above the window body: a black backdrop at opacity 0.25 over the whole host,
// and the dialog centred on a card of the window colour with corner radius 14 and a shadow
// (black at 0.4, blur radius 30, 14 down). The overlay covers its host and follows its size;
// the backdrop takes every click, so nothing below can be pressed while the dialog shows.
//
// The body below is inert to the keyboard too, from present() until dismiss(): keys and
// shortcuts meant for widgets of the host outside the card (and outside any overlay stacked
// above this one) are dropped, and Tab and Shift+Tab cycle through the card's controls only.
// Shortcuts of the window around the host (quit, close) still work. dismiss() gives the keyboard
// focus back to the widget that had it before present(), or to nothing when that one is gone.
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
    ~DialogOverlay() override;

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

    // The widgets of the card that Tab reaches, in focus-chain order.
    QList<QWidget*> tabStops() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    // Sees every event of the application while the overlay is inert, and keeps the body's.
    class BodyShield : public QObject {
      public:
        explicit BodyShield(DialogOverlay* overlay) : QObject(overlay), overlay_(overlay) {}
        bool eventFilter(QObject* watched, QEvent* event) override {
            return overlay_->keepsFromBody(watched, event);
        }

      private:
        DialogOverlay* overlay_;
    };

    void setInert(bool inert);
    bool keepsFromBody(QObject* watched, QEvent* event);
    bool isBody(const QWidget* widget) const;
    void cycleFocus(bool forward);
    void restoreFocus();
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
    BodyShield* shield_;  // owned (Qt child); an application filter while inert
    bool inert_ = false;
    QPointer<QWidget> focusBefore_;  // had the keyboard focus when present() was called
    QPixmap cardPicture_;            // the dialog as painted, for the animated frames
    QImage shadow_;                  // cached for shadowSize_
    QSize shadowSize_;
};

}  // namespace cb
