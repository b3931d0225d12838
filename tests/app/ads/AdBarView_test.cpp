// The ad bar against a loopback ad server: what it draws for each kind of ad (checked in
// pixels and saved as PNGs), how it appears and goes, and what a click does.

#include "app/ads/AdBarView.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/ads/AdBannerView.h"
#include "app/ads/AdServerAddress.h"
#include "app/ads/AdService.h"
#include "app/ads/AdTextRow.h"
#include "app/localization/LocalizationManager.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/app/ads/AdTestServer.h"

namespace cb {
namespace {

using testing::AdTestServer;
using testing::bannerAdJSON;
using testing::pngBytes;
using testing::textAdJSON;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

constexpr int kWidth = 800;

// Everything a click does, in the order it happened.
struct ClickLog {
    std::vector<std::string> steps;
    std::vector<sdk::Value::Dictionary> events;
    std::vector<std::string> opened;
};

// Records each link it is asked to open, and whether the click report had reached the server
// by then (it is sent before the link is opened, so it must arrive without the link).
class RecordingWorkspace : public platform::Workspace {
  public:
    RecordingWorkspace(ClickLog& log, AdTestServer& server) : log_(log), server_(server) {}

    bool openUrl(const std::string& url) override {
        const bool reported = server_.server.waitForRequests(++expectedRequests);
        log_.steps.push_back(reported ? "open after report" : "open before report");
        log_.opened.push_back(url);
        return true;
    }

    size_t expectedRequests = 0;  // the server's request count once the click report is in

  private:
    ClickLog& log_;
    AdTestServer& server_;
};

QImage render(QWidget& widget, const QString& file) {
    const QImage image = widget.grab().toImage();
    const QString dir = qEnvironmentVariable("CB_TEST_OUTPUT_DIR", QDir::tempPath()) + "/ads";
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + u'/' + file)) << dir.toStdString();
    return image;
}

bool isRed(QColor colour) {
    return colour.red() > 200 && colour.green() < 60 && colour.blue() < 60;
}

class AdBarViewTest : public ::testing::Test {
  protected:
    AdBarViewTest() {
        setenv("CELLARBRIGHT_API_BASE", ads.address().c_str(), 1);
        TEST_resetAdServerBaseURL();
        ads.setImage("/red.png", pngBytes(36, 36, Qt::red));
        // The bar at the bottom of a window, as ContentView places it.
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addWidget(new QWidget(&window), 1);
        column->addWidget(&bar);
        window.resize(kWidth, 400);
        window.show();
    }
    ~AdBarViewTest() override {
        unsetenv("CELLARBRIGHT_API_BASE");
        TEST_resetAdServerBaseURL();
    }

    // Answers the next current-ad request with `json` (a 204 when empty) and fetches it; waits
    // until the answer is applied and the bar has slid fully in (or out) and, with `image`,
    // until its image load has ended.
    void serve(const std::string& json, bool image = false) {
        QSignalSpy loads(&bar, &AdBarView::imageLoadFinished);
        QSignalSpy applied(&service, &AdService::currentAdChanged);
        if (json.empty()) {
            ads.setScript([](const httplib::Request&, httplib::Response& r) { r.status = 204; });
        } else {
            ads.setJSON(json);
        }
        service.fetch(/*force=*/true);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const bool settled = json.empty() ? bar.isHidden() : bar.progress() == 1.0;
            return !applied.isEmpty() && settled && (!image || !loads.isEmpty());
        }));
    }

    AdTextRow* row() const { return qobject_cast<AdTextRow*>(bar.content()); }
    AdBannerView* banner() const { return qobject_cast<AdBannerView*>(bar.content()); }

    QWidget window;  // holds the bar, which goes first
    AdTestServer ads;
    LocalizationManager loc{nullptr, {"en"}};
    AdService service{loc};
    ClickLog log;
    RecordingWorkspace workspace{log, ads};
    AdBarView bar{service,
                  [this](AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters) {
                      log.steps.push_back(std::string(rawValue(event)));
                      log.events.push_back(parameters.value_or(sdk::Value::Dictionary{}));
                  },
                  workspace};
};

TEST_F(AdBarViewTest, WithoutAnAdTheBarTakesNoRoomAndAnAdComesAndGoes) {
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.height(), 0);
    EXPECT_EQ(bar.sizeHint().height(), 0);
    EXPECT_EQ(bar.content(), nullptr);

    serve(textAdJSON("a1", "https://example.test/", "Hello"));
    ASSERT_NE(row(), nullptr);
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.height(), 1 + row()->height());
    EXPECT_EQ(row()->y(), 1) << "below the divider";
    const QImage shown = render(bar, "bar-shown.png");
    const QColor divider = shown.pixelColor(kWidth / 2, 0);
    const QColor rowBackground = shown.pixelColor(kWidth / 2, 2);
    EXPECT_NE(divider, rowBackground) << "the divider is drawn above the row";

    serve("");  // 204
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.height(), 0);
    EXPECT_EQ(bar.content(), nullptr);
    EXPECT_FALSE(service.currentAd());
}

TEST_F(AdBarViewTest, TextAdsDrawTheirIconOrTheGreyPlaceholder) {
    const struct {
        const char* name;
        std::string extra;  // icon member of the ad
        bool loads;
        bool red;
    } cases[] = {
        {"ad-text-icon.png", R"(, "icon_url": ")" + ads.address("/red.png") + "\"", true, true},
        {"ad-text-no-icon.png", "", false, false},
        {"ad-text-icon-404.png", R"(, "icon_url": ")" + ads.address("/missing.png") + "\"", true,
         false},
    };
    QColor placeholder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        serve(textAdJSON(c.name, "https://example.test/", "Clean up your disk", c.extra), c.loads);
        ASSERT_NE(row(), nullptr);
        EXPECT_EQ(row()->height(), 30);
        const QRect icon = row()->iconRect().translated(0, 1);
        EXPECT_EQ(icon.size(), QSize(18, 18));
        EXPECT_EQ(icon.left(), 14);
        const QImage image = render(bar, c.name);
        const QColor centre = image.pixelColor(icon.center());
        EXPECT_EQ(isRed(centre), c.red);
        if (!c.red) {
            if (placeholder.isValid()) {
                EXPECT_EQ(centre, placeholder) << "a failed icon shows the same grey";
            }
            placeholder = centre;
            EXPECT_NE(centre, image.pixelColor(icon.left() - 4, icon.center().y()));
        }
        // Rounded corners: the frame's corner pixel shows the row's background.
        EXPECT_EQ(image.pixelColor(icon.topLeft()),
                  image.pixelColor(icon.left() - 4, icon.center().y()));
        EXPECT_EQ(row()->shownText(), "Clean up your disk");
    }
}

TEST_F(AdBarViewTest, ALongTextEndsInAnEllipsisAndTheArrowStays) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "Reclaim gigabytes today. ";
    }
    serve(textAdJSON("long", "https://example.test/", text));
    ASSERT_NE(row(), nullptr);
    const QImage image = render(bar, "ad-text-long.png");
    EXPECT_TRUE(row()->shownText().endsWith(QChar(0x2026))) << row()->shownText().toStdString();
    EXPECT_EQ(row()->height(), 30) << "one line";
    const QRect arrow = row()->arrowRect();
    EXPECT_EQ(arrow.right(), kWidth - 14 - 1);
    EXPECT_LT(row()->textRect().right() + 28, arrow.left());
    // The arrow is drawn: some pixel in its square differs from the row's background.
    const QColor background = image.pixelColor(arrow.left() - 2, 1 + arrow.center().y());
    bool drawn = false;
    for (int x = arrow.left(); x <= arrow.right(); ++x) {
        for (int y = arrow.top(); y <= arrow.bottom(); ++y) {
            drawn = drawn || image.pixelColor(x, 1 + y) != background;
        }
    }
    EXPECT_TRUE(drawn);
}

TEST_F(AdBarViewTest, BannersFillTheWidthAt128HighAndKeepTheirProportions) {
    ads.setImage("/wide.png", pngBytes(1000, 50, Qt::red));
    ads.setImage("/tall.png", pngBytes(50, 400, Qt::red));
    const struct {
        const char* name;
        const char* path;
        int width, height;
        QRectF expected;  // in the banner: 800 x 128 fitted, centred
    } cases[] = {
        {"ad-banner-wide.png", "/wide.png", 1000, 50, QRectF(0, 44, 800, 40)},
        {"ad-banner-tall.png", "/tall.png", 50, 400, QRectF(392, 0, 16, 128)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The declared size is not the image's: the bar goes by the image.
        serve(bannerAdJSON(c.name, ads.address(c.path), 300, 300), true);
        ASSERT_NE(banner(), nullptr);
        EXPECT_EQ(banner()->size(), QSize(kWidth, 128));
        EXPECT_EQ(bar.height(), 129);
        EXPECT_EQ(banner()->imageRect(), c.expected);
        const QImage image = render(bar, c.name);
        const QRect inner = c.expected.toRect().translated(0, 1);
        const QColor margin = image.pixelColor(1, 2);  // top-left corner: grey either way
        EXPECT_FALSE(isRed(margin));
        // Just inside each edge of the image: red. Just outside, where there is room: grey.
        EXPECT_TRUE(isRed(image.pixelColor(inner.left() + 1, inner.center().y())));
        EXPECT_TRUE(isRed(image.pixelColor(inner.right() - 1, inner.center().y())));
        EXPECT_TRUE(isRed(image.pixelColor(inner.center().x(), inner.top() + 1)));
        EXPECT_TRUE(isRed(image.pixelColor(inner.center().x(), inner.bottom() - 1)));
        if (inner.top() > 1) {
            EXPECT_EQ(image.pixelColor(inner.center().x(), inner.top() - 2), margin);
            EXPECT_EQ(image.pixelColor(inner.center().x(), inner.bottom() + 2), margin);
        } else {
            EXPECT_EQ(image.pixelColor(inner.left() - 2, inner.center().y()), margin);
            EXPECT_EQ(image.pixelColor(inner.right() + 2, inner.center().y()), margin);
        }
    }
}

TEST_F(AdBarViewTest, ClickOnEmptySpaceLogsReportsThenOpensOnce) {
    const std::string link = ads.address("/offer");
    serve(textAdJSON("a1", link, "Hi"));
    ASSERT_NE(row(), nullptr);
    AdContentButton* shown = bar.content();
    workspace.expectedRequests = ads.server.requests().size();

    // Between the text and the arrow: nothing is drawn there.
    const QPoint empty(row()->arrowRect().left() - 40, row()->height() / 2);
    QTest::mouseClick(row(), Qt::LeftButton, {}, empty);

    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0], (sdk::Value::Dictionary{{"ad_id", sdk::Value(std::string("a1"))},
                                                     {"link", sdk::Value(link)}}));
    EXPECT_EQ(log.steps, (std::vector<std::string>{"ad_clicked", "open after report"}));
    EXPECT_EQ(log.opened, std::vector<std::string>{link});
    EXPECT_EQ(ads.requestsFor("/api/v1/ads/a1/click"), 1u);
    EXPECT_EQ(service.currentAd()->id, "a1");
    EXPECT_EQ(bar.content(), shown);
}

TEST_F(AdBarViewTest, LinksOfOtherSchemesAreReportedButNotOpened) {
    for (const char* link : {"file:///etc/passwd", "x-handler:run?this", "javascript:alert(1)"}) {
        SCOPED_TRACE(link);
        log = {};
        serve(textAdJSON(link, link, "Hi"));
        ASSERT_NE(row(), nullptr);
        const auto before = ads.server.requests().size();
        row()->click();
        EXPECT_EQ(log.steps, std::vector<std::string>{"ad_clicked"});
        EXPECT_TRUE(log.opened.empty());
        ASSERT_TRUE(ads.server.waitForRequests(before + 1)) << "the click is still reported";
        EXPECT_EQ(ads.server.requests().back().method, "POST");
    }
}

TEST_F(AdBarViewTest, HoverShowsTheLinkAndABannerIsNamedByItsAlt) {
    serve(textAdJSON("t", "https://example.test/a%20b?q=%C3%BC", "Hi"));
    QHelpEvent help(QEvent::ToolTip, QPoint(100, 10), row()->mapToGlobal(QPoint(100, 10)));
    QApplication::sendEvent(row(), &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "https://example.test/a%20b?q=%C3%BC");
    QToolTip::hideText();

    const struct {
        std::string extra;
        QString name;
    } cases[] = {{R"(, "alt": "Spring sale")", "Spring sale"}, {"", ""}, {R"(, "alt": null)", ""}};
    int id = 0;
    for (const auto& c : cases) {
        serve(bannerAdJSON("b" + std::to_string(++id), ads.address("/red.png"), 10, 10, c.extra));
        ASSERT_NE(banner(), nullptr);
        EXPECT_EQ(banner()->accessibleName(), c.name);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(banner());
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), c.name);
    }
}

TEST_F(AdBarViewTest, AnImageThatArrivesAfterItsAdWentIsDropped) {
    ads.holdImage("/red.png");
    const std::string icon = R"(, "icon_url": ")" + ads.address("/red.png") + "\"";
    serve(textAdJSON("first", "https://example.test/", "First", icon));
    ASSERT_TRUE(ads.server.waitForRequests(2)) << "the icon is on its way";

    QSignalSpy loads(&bar, &AdBarView::imageLoadFinished);
    serve(textAdJSON("second", "https://example.test/", "Second"));
    ads.release();
    ASSERT_TRUE(loads.wait(10000));
    ASSERT_NE(row(), nullptr);
    EXPECT_EQ(row()->ad().id, "second");
    EXPECT_TRUE(row()->image().isNull());
}

TEST_F(AdBarViewTest, TheSameAdAgainKeepsItsRowAndAnotherReplacesItInPlace) {
    const std::string icon = R"(, "icon_url": ")" + ads.address("/red.png") + "\"";
    serve(textAdJSON("a", "https://example.test/", "One", icon), true);
    AdContentButton* first = bar.content();
    serve(textAdJSON("a", "https://example.test/", "One", icon));
    EXPECT_EQ(bar.content(), first);
    EXPECT_EQ(ads.requestsFor("/red.png"), 1u);

    ads.setJSON(textAdJSON("b", "https://example.test/", "Two", icon));
    service.fetch(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row() != nullptr && row()->ad().id == "b"; }));
    EXPECT_EQ(bar.progress(), 1.0) << "no slide between two ads";
    EXPECT_FALSE(row()->image().isNull()) << "the same icon is kept, not fetched again";
    EXPECT_EQ(ads.requestsFor("/red.png"), 1u);
}

}  // namespace
}  // namespace cb
