#include "app/ads/AdBarView.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QVariantAnimation>
#include <cmath>

#include "app/ads/AdBannerView.h"
#include "app/ads/AdService.h"
#include "app/ads/AdTextRow.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

// The separator colour (the text colour at low strength), drawn at kDividerOpacity of that,
// as the window's other dividers.
constexpr double kSeparatorOpacity = 0.25;
constexpr int kDividerHeight = 1;

// The divider line along the top, with the ad's button below it.
class AdBarPanel : public QWidget {
  public:
    explicit AdBarPanel(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("adBarPanel"));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, width(), kDividerHeight),
                         style::withOpacity(palette().color(QPalette::WindowText),
                                            kSeparatorOpacity * AdBarView::kDividerOpacity));
    }
};

// The ease-in-out of the window's animations: a cubic Bézier through (0.42, 0) and (0.58, 1).
QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

bool opensWithDesktop(const QUrl& link) {
    const QString scheme = link.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

}  // namespace

AdBarView::AdBarView(AdService& ads, AdEventSink logEvent, platform::Workspace& workspace,
                     QWidget* parent)
    : QWidget(parent),
      ads_(ads),
      logEvent_(std::move(logEvent)),
      workspace_(workspace),
      panel_(new AdBarPanel(this)),
      animation_(new QVariantAnimation(this)) {
    setObjectName(QStringLiteral("AdBarView"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(0);
    hide();
    animation_->setDuration(kAnimationMs);
    animation_->setEasingCurve(easeInOut());
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setProgress(value.toDouble()); });
    connect(animation_, &QVariantAnimation::finished, this, &AdBarView::finishAnimation);
    connect(&ads_, &AdService::currentAdChanged, this, &AdBarView::showCurrentAd);
    if (const std::optional<Ad>& ad = ads_.currentAd()) {
        // An ad that is already there is shown as it is, without sliding in.
        replaceContent(*ad);
        target_ = 1;
        show();
        setProgress(1);
    }
}

// The service is not touched here: the window may destroy it first.
AdBarView::~AdBarView() = default;

QSize AdBarView::sizeHint() const {
    // No width of its own: the long text of an ad must not widen the window.
    return {0, height()};
}

QSize AdBarView::minimumSizeHint() const {
    return sizeHint();
}

void AdBarView::openAd(const Ad& ad) {
    const std::string link = ad.link.toString(QUrl::FullyEncoded).toStdString();
    if (logEvent_) {
        sdk::Value::Dictionary parameters;
        parameters.emplace("ad_id", sdk::Value(ad.id));
        parameters.emplace("link", sdk::Value(link));
        logEvent_(AnalyticsEvent::adClicked, std::move(parameters));
    }
    ads_.reportClick(ad);
    if (opensWithDesktop(ad.link)) {
        (void)workspace_.openUrl(link);
    }
}

void AdBarView::showCurrentAd() {
    const std::optional<Ad>& ad = ads_.currentAd();
    if (!ad) {
        if (content_ && target_ != 0) {
            content_->setEnabled(false);  // the ad has gone: its slide-out takes no clicks
            animateTo(0);
        }
        return;
    }
    if (!content_ || content_->ad() != *ad) {
        replaceContent(*ad);
    }
    content_->setEnabled(true);
    if (target_ != 1) {
        show();
        animateTo(1);
    }
}

void AdBarView::replaceContent(const Ad& ad) {
    QPointer<AdContentButton> old = content_;
    if (std::holds_alternative<AdText>(ad.content)) {
        content_ = new AdTextRow(ad, panel_);
    } else {
        content_ = new AdBannerView(ad, panel_);
    }
    ++generation_;
    connect(content_, &QAbstractButton::clicked, this,
            [this, button = content_.data()] { openAd(button->ad()); });
    if (old) {
        // The same picture on the next ad is not fetched again.
        if (!old->image().isNull() && old->imageURL() == content_->imageURL()) {
            content_->setImage(old->image());
        }
        old->hide();
        old->deleteLater();
    }
    if (content_->image().isNull()) {
        loadImage();
    }
    layoutPanel();
    content_->show();
    setProgress(progress_);
}

void AdBarView::loadImage() {
    const std::optional<QUrl> url = content_->imageURL();
    if (!url) {
        return;
    }
    images_.load(*url, [this, generation = generation_](QImage image) {
        if (generation == generation_ && content_) {
            content_->setImage(std::move(image));
        }
        emit imageLoadFinished();
    });
}

void AdBarView::animateTo(double target) {
    target_ = target;
    animation_->stop();
    if (!opacity_) {
        opacity_ = new QGraphicsOpacityEffect(panel_);
        panel_->setGraphicsEffect(opacity_);
    }
    animation_->setStartValue(progress_);
    animation_->setEndValue(target);
    animation_->start();
}

void AdBarView::setProgress(double progress) {
    progress_ = progress;
    if (opacity_) {
        opacity_->setOpacity(progress);
    }
    setFixedHeight(static_cast<int>(std::lround(fullHeight() * progress)));
}

void AdBarView::finishAnimation() {
    setProgress(target_);
    panel_->setGraphicsEffect(nullptr);  // deletes the effect; painting goes direct again
    if (target_ == 0) {
        delete content_;
        hide();
        setFixedHeight(0);
    }
}

int AdBarView::fullHeight() const {
    return content_ ? kDividerHeight + content_->sizeHint().height() : 0;
}

void AdBarView::layoutPanel() {
    const int full = fullHeight();
    panel_->setGeometry(0, 0, width(), full);
    if (content_) {
        content_->setGeometry(0, kDividerHeight, width(), full - kDividerHeight);
    }
}

void AdBarView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPanel();
}

}  // namespace cb
