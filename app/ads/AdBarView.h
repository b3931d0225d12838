#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "app/ads/AdContentButton.h"
#include "app/ads/AdImageLoader.h"
#include "app/ads/AnalyticsEvent.h"
#include "platform/workspace/Workspace.h"
#include "sdk/utilities/Value.h"

class QGraphicsOpacityEffect;
class QVariantAnimation;

namespace cb {

class AdService;

// Receives the bar's usage event ("ad_clicked"); the window's AppServices::logEvent.
using AdEventSink =
    std::function<void(AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters)>;

// The house-ad bar at the bottom of the window: it follows the service's currentAd and shows
// it as a text row (AdTextRow) or a banner (AdBannerView) under a divider (separator colour at
// opacity 0.4). A click anywhere on the ad runs openAd(). The bar starts nothing on the service.
//
// Design notes
// ------------
// Invariants:
//   1. No ad and not animating: the bar is hidden, has height 0 and draws nothing.
//   2. Otherwise content() is the button of the ad on screen, and the bar's height is the full
//      height of divider and content times progress() (0 to 1), so the window's body above it
//      shrinks and grows with it while the panel slides in from (and out at) the bottom edge,
//      its opacity following progress().
//   3. A load's image reaches only the content it was started for; an image arriving after the
//      ad changed is dropped.
//
// States and moves (each animation takes kAnimationMs with ease-in-out):
//   hidden    --ad arrives-->        appearing (showCurrentAd, animateTo(1))
//   appearing --animation end-->     shown
//   shown     --another ad-->        shown, content replaced in place (replaceContent)
//   appearing | shown --ad goes-->   disappearing (content disabled; animateTo(0))
//   disappearing --ad arrives-->     appearing, from where the slide was
//   disappearing --animation end-->  hidden (content dropped)
class AdBarView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kAnimationMs = 250;
    static constexpr double kDividerOpacity = 0.4;

    // Builds the bar over `ads`, which must outlive it. A click logs through `logEvent` and
    // opens links with `workspace` (which must outlive the bar). REQUIRES: UI thread.
    AdBarView(AdService& ads, AdEventSink logEvent,
              platform::Workspace& workspace = platform::Workspace::shared(),
              QWidget* parent = nullptr);
    ~AdBarView() override;

    // The click action for `ad`, in this order: the usage event "ad_clicked" with "ad_id" and
    // "link" (the link fully encoded), the service's click report, then the link handed to the
    // workspace, whose result is ignored. Only http and https links are opened: any other is
    // reported and logged but not opened, so an ad cannot open local files or start other
    // handlers of the desktop.
    void openAd(const Ad& ad);

    // The button of the ad on screen, also while it slides out; null when there is none.
    AdContentButton* content() const { return content_; }

    // How far the bar is in: 0 hidden, 1 fully shown.
    double progress() const { return progress_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    // Emitted each time an image load of the bar has ended: its image shown, failed (the
    // placeholder stays), or dropped because another ad is on screen by then.
    void imageLoadFinished();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showCurrentAd();
    void replaceContent(const Ad& ad);
    void loadImage();
    void animateTo(double target);
    void setProgress(double progress);
    void finishAnimation();
    int fullHeight() const;
    void layoutPanel();

    AdService& ads_;
    const AdEventSink logEvent_;
    platform::Workspace& workspace_;
    AdImageLoader images_;

    QWidget* panel_;                            // owned (Qt child): the divider and content
    QPointer<AdContentButton> content_;         // owned by panel_
    QVariantAnimation* animation_;              // owned (Qt child)
    QPointer<QGraphicsOpacityEffect> opacity_;  // owned by panel_ while animating
    double progress_ = 0;
    double target_ = 0;
    quint64 generation_ = 0;  // counts contents, so late images find their own
};

}  // namespace cb
