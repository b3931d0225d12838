#include "app/ads/AdService.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <latch>
#include <mutex>
#include <string>
#include <vector>

#include "app/ads/AdServerAddress.h"
#include "app/localization/LocalizationManager.h"
#include "tests/support/LoopbackServer.h"

namespace cb {
namespace {

using testsupport::LoopbackServer;
using namespace std::chrono_literals;

void ensureCoreApplication() {
    static int argc = 1;
    static char name[] = "ads_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() != nullptr
                                       ? QCoreApplication::instance()
                                       : new QCoreApplication(argc, argv);
    (void)app;
}

class FakeClock {
  public:
    platform::Clock::time_point now() const { return now_; }
    void advance(double seconds) { now_ += platform::durationFromSeconds(seconds); }

  private:
    platform::Clock::time_point now_ = platform::Clock::time_point() + std::chrono::hours(1);
};

// Records every wait the loop asks for; the test ends a wait with fire().
class FakeTimer : public RefreshTimer {
  public:
    explicit FakeTimer(std::vector<double>& asked) : asked_(asked) {}
    void start(double seconds, std::function<void()> fire) override {
        asked_.push_back(seconds);
        fire_ = std::move(fire);
    }
    void fire() {
        auto fire = std::move(fire_);
        fire_ = nullptr;
        ASSERT_TRUE(fire) << "no wait to end";
        fire();
    }

  private:
    std::vector<double>& asked_;
    std::function<void()> fire_;
};

// The ad server: answers every request with the current script.
class ScriptedServer {
  public:
    using Answer = std::function<void(httplib::Response&)>;

    void setAnswer(Answer answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }
    void setJSON(const std::string& body) {
        setAnswer([body](httplib::Response& r) { r.set_content(body, "application/json"); });
    }
    void setStatus(int status) {
        setAnswer([status](httplib::Response& r) { r.status = status; });
    }

  private:
    std::mutex mutex_;
    Answer answer_ = [](httplib::Response& r) { r.status = 204; };  // guarded by mutex_

  public:
    // Last, so it stops serving before the script goes away.
    LoopbackServer server{[this](const httplib::Request&, httplib::Response& response) {
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            answer = answer_;
        }
        answer(response);
    }};
};

std::string textAd(const std::string& id, const std::string& meta = "") {
    return R"({"ad": {"kind": "text", "id": ")" + id +
           R"(", "link": "https://example.test/", "locale": "en", "text": "Hi"})" +
           (meta.empty() ? "" : ", \"meta\": " + meta) + "}";
}

class AdServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureCoreApplication();
        pointAt(ads_.server.address());
    }
    void TearDown() override {
        service_.reset();
        unsetenv("CELLARBRIGHT_API_BASE");
        TEST_resetAdServerBaseURL();
    }

    static void pointAt(const std::string& base) {
        setenv("CELLARBRIGHT_API_BASE", base.c_str(), 1);
        TEST_resetAdServerBaseURL();
    }

    AdService& service() {
        if (!service_) {
            AdServiceOptions options;
            options.now = [this] { return clock_.now(); };
            auto timer = std::make_unique<FakeTimer>(asked_);
            timer_ = timer.get();
            options.timer = std::move(timer);
            service_ = std::make_unique<AdService>(localization_, std::move(options));
            QObject::connect(service_.get(), &AdService::currentAdChanged,
                             [this] { ++adAssignments_; });
        }
        return *service_;
    }

    // Waits until the loop has asked for its next wait after `count` waits; returns the last.
    double waitForWait(size_t count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return asked_.size() >= count; }, 15000));
        return asked_.empty() ? -1 : asked_.back();
    }

    // Lets the loop's current wait pass on the clock and end; returns the wait asked for after
    // the fetch it starts.
    double nextLoopWait() {
        const size_t before = asked_.size();
        clock_.advance(asked_.back());
        timer_->fire();
        return waitForWait(before + 1);
    }

    std::vector<std::string> targets() const {
        std::vector<std::string> result;
        for (const auto& request : ads_.server.requests()) {
            result.push_back(request.target);
        }
        return result;
    }

    ScriptedServer ads_;
    LocalizationManager localization_{nullptr, {"en"}};
    FakeClock clock_;
    std::vector<double> asked_;
    FakeTimer* timer_ = nullptr;
    int adAssignments_ = 0;
    std::unique_ptr<AdService> service_;
};

const std::string kCurrent =
    "/api/v1/ads/current?locale=en&app_version=0.0.0&app_id=cellarbright&protocol=1";

TEST_F(AdServiceTest, StartFetchesAtOnceAndOnlyOnce) {
    ads_.setJSON(textAd("a1"));
    service().start();
    EXPECT_EQ(waitForWait(1), 60);
    EXPECT_EQ(targets(), std::vector<std::string>{kCurrent});
    ASSERT_TRUE(service().currentAd());
    EXPECT_EQ(service().currentAd()->id, "a1");

    service().start();
    QCoreApplication::processEvents();
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_EQ(ads_.server.requests().size(), 1u);
}

TEST_F(AdServiceTest, BasePathIsReplacedForTheCurrentAdAndKeptForClicks) {
    pointAt(ads_.server.address("/base/"));
    ads_.setJSON(textAd("a/../x"));
    service().start();
    waitForWait(1);
    ASSERT_TRUE(service().currentAd());
    service().reportClick(*service().currentAd());
    ASSERT_TRUE(ads_.server.waitForRequests(2));

    const auto requests = ads_.server.requests();
    EXPECT_EQ(requests[0].target, kCurrent);
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/base/api/v1/ads/a%2F..%2Fx/click");
}

TEST_F(AdServiceTest, AnswersSetTheAdAndTheNextWait) {
    struct Step {
        const char* name;
        std::function<void()> script;
        double wait;
        bool hasAd;
        bool assigns = true;  // failures leave the ad alone; every handled answer assigns it
    };
    auto json = [this](const std::string& body) { return [this, body] { ads_.setJSON(body); }; };
    auto status = [this](int code) { return [this, code] { ads_.setStatus(code); }; };
    const Step steps[] = {
        {"ttl 30", json(textAd("a", R"({"ttl_seconds": 30})")), 30, true},
        {"ttl 0", json(textAd("a", R"({"ttl_seconds": 0})")), 10, true},
        {"ttl -5", json(textAd("a", R"({"ttl_seconds": -5})")), 10, true},
        {"ttl 86400", json(textAd("a", R"({"ttl_seconds": 86400})")), 3600, true},
        {"meta without ttl", json(textAd("a", "{}")), 60, true},
        {"ttl 30 again", json(textAd("a", R"({"ttl_seconds": 30})")), 30, true},
        {"500", status(500), 30, true, false},
        {"dropped connection",
         [this] {
             ads_.setAnswer([](httplib::Response& r) {
                 r.set_content_provider(100, "application/json",
                                        [](size_t, size_t, httplib::DataSink&) { return false; });
             });
         },
         30, true, false},
        {"not the JSON", json(R"({"ad": 5})"), 30, true, false},
        {"2 MiB body", json(textAd(std::string(2u << 20, 'x'), R"({"ttl_seconds": 20})")), 30, true,
         false},
        {"kind Text", json(R"({"ad": {"kind": "Text", "id": "b", "link": "x", "locale": "en",
                                      "text": "t"}, "meta": {"ttl_seconds": 40}})"),
         40, false},
        {"ad again", json(textAd("a", R"({"ttl_seconds": 30})")), 30, true},
        {"kind video", json(R"({"ad": {"kind": "video", "id": "b", "link": "x", "locale": "en"}})"),
         60, false},
        {"ad before 204", json(textAd("a", R"({"ttl_seconds": 30})")), 30, true},
        {"204", status(204), 60, false},
        {"no meta", json(textAd("a")), 60, true},
    };
    service().start();
    waitForWait(1);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.script();
        const int assignmentsBefore = adAssignments_;
        EXPECT_EQ(nextLoopWait(), step.wait);
        EXPECT_EQ(service().currentAd().has_value(), step.hasAd);
        if (step.hasAd && service().currentAd()) {
            EXPECT_EQ(service().currentAd()->id, "a");
        }
        EXPECT_EQ(adAssignments_ - assignmentsBefore, step.assigns ? 1 : 0);
    }
}

TEST_F(AdServiceTest, LanguageChangeFetchesAtOnceAndTheLoopKeepsItsThrottle) {
    ads_.setJSON(textAd("a", R"({"ttl_seconds": 10})"));
    service().start();  // t = 0
    EXPECT_EQ(waitForWait(1), 10);

    clock_.advance(3);  // t = 3
    localization_.setCurrent(Language::german);
    ASSERT_TRUE(ads_.server.waitForRequests(2));
    EXPECT_NE(targets()[1].find("locale=de&"), std::string::npos) << targets()[1];
    EXPECT_EQ(asked_.size(), 1u) << "the forced fetch leaves the loop's wait alone";

    clock_.advance(7);  // t = 10: 7 s after the forced fetch, skipped
    timer_->fire();
    EXPECT_EQ(asked_.size(), 2u) << "a skipped fetch goes straight back to waiting";
    EXPECT_EQ(asked_.back(), 10);
    QTest::qWait(50);
    EXPECT_EQ(ads_.server.requests().size(), 2u);

    EXPECT_EQ(nextLoopWait(), 10);  // t = 20
    EXPECT_EQ(ads_.server.requests().size(), 3u);
    EXPECT_EQ(nextLoopWait(), 10);  // t = 30, exactly 10 s after the last: passes
    EXPECT_EQ(ads_.server.requests().size(), 4u);

    localization_.setCurrent(Language::german);  // the same language again still fetches
    ASSERT_TRUE(ads_.server.waitForRequests(5));
}

TEST_F(AdServiceTest, ClickReports) {
    const std::string tracking =
        R"({"tracking": {"click_url": ")" + ads_.server.address("/track?c=1") + R"("}})";
    ads_.setJSON(textAd("a", tracking));
    service().start();
    waitForWait(1);
    ASSERT_TRUE(service().currentAd() && service().currentAd()->clickURL);
    const Ad tracked = *service().currentAd();
    Ad direct = tracked;
    direct.clickURL.reset();
    direct.id = "a b/..";
    Ad gopher = tracked;
    gopher.clickURL = QUrl("gopher://127.0.0.1:" + QString::number(ads_.server.port()) + "/");
    const int assignments = adAssignments_;

    service().reportClick(tracked);
    ASSERT_TRUE(ads_.server.waitForRequests(2));
    service().reportClick(gopher);
    service().reportClick(direct);  // started after the gopher report has been refused
    ASSERT_TRUE(ads_.server.waitForRequests(3));
    QTest::qWait(50);

    const auto requests = ads_.server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, "/track?c=1");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].target, "/api/v1/ads/a%20b%2F../click");
    auto contentType = requests[2].headers.find("Content-Type");
    ASSERT_NE(contentType, requests[2].headers.end());
    EXPECT_EQ(contentType->second, "application/json");
    EXPECT_EQ(nlohmann::json::parse(requests[2].body),
              nlohmann::json({{"locale", "en"}, {"app_version", "0.0.0"}}));
    EXPECT_EQ(adAssignments_, assignments);
    EXPECT_EQ(*service().currentAd(), tracked);
}

TEST_F(AdServiceTest, DotSegmentIdsAreEncodedInFull) {
    const QUrl base("http://h:1/p");
    EXPECT_EQ(clickReportAddress(base, "."), "http://h:1/p/api/v1/ads/%2E/click");
    EXPECT_EQ(clickReportAddress(base, ".."), "http://h:1/p/api/v1/ads/%2E%2E/click");
    EXPECT_EQ(clickReportAddress(base, "..."), "http://h:1/p/api/v1/ads/.../click");
    EXPECT_EQ(clickReportAddress(QUrl("http://h:1"), "a-_.~?#%"),
              "http://h:1/api/v1/ads/a-_.~%3F%23%25/click");
}

TEST_F(AdServiceTest, UnusableBaseAddressesFallBackToTheDefaultHost) {
    for (const std::string value : {"", "http://a b"}) {
        pointAt(value);
        EXPECT_EQ(adServerBaseURL(), QUrl(QString::fromLatin1(kDefaultAdServerBaseURL))) << value;
    }
    pointAt(ads_.server.address());
    const QUrl first = adServerBaseURL();
    setenv("CELLARBRIGHT_API_BASE", "http://elsewhere.invalid/", 1);
    EXPECT_EQ(adServerBaseURL(), first) << "read once per process";

    pointAt("");
    service().start();
    EXPECT_EQ(waitForWait(1), 60);
    EXPECT_TRUE(ads_.server.requests().empty());
    EXPECT_FALSE(service().currentAd());
}

TEST_F(AdServiceTest, DestroyedServiceDropsTheAnswerOnItsWay) {
    std::latch release(1);
    std::latch answered(1);
    ads_.setAnswer([&](httplib::Response& r) {
        release.wait();
        r.set_content(textAd("late"), "application/json");
        answered.count_down();
    });
    service().start();
    ASSERT_TRUE(ads_.server.waitForRequests(1));
    service_.reset();
    release.count_down();
    answered.wait();
    QTest::qWait(100);  // room for a late answer to arrive and be dropped
    EXPECT_EQ(adAssignments_, 0);
    EXPECT_TRUE(asked_.empty());
}

}  // namespace
}  // namespace cb
