#include "app/ads/AdPayloads.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/ads/AdService.h"

namespace cb {
namespace {

// What one answer body comes to: no decoding at all, a decoded answer without an ad, or an ad.
enum class Result { undecodable, noAd, ad };

struct Outcome {
    Result result = Result::undecodable;
    std::optional<AdEnvelope> envelope;
    std::optional<Ad> ad;
};

Outcome run(const std::string& body) {
    Outcome outcome;
    outcome.envelope = decodeAdEnvelope(body);
    if (!outcome.envelope) {
        return outcome;
    }
    const auto& meta = outcome.envelope->meta;
    outcome.ad = AdService::makeAd(outcome.envelope->ad, meta ? meta->tracking : std::nullopt);
    outcome.result = outcome.ad ? Result::ad : Result::noAd;
    return outcome;
}

// An answer whose "ad" holds the required members plus `more` (a JSON fragment starting with
// a comma, or empty), and whose top level ends with `tail`.
std::string answer(const std::string& kind, const std::string& more, const std::string& tail = "") {
    return R"({"ad": {"kind": ")" + kind +
           R"(", "id": "a1", "link": "https://example.test/go", "locale": "en")" + more + "}" +
           tail + "}";
}

const std::string kText = R"(, "text": "Clean up")";
const std::string kBanner =
    R"(, "image_url": "https://example.test/b.png", "width": 320, "height": 50)";

struct Case {
    const char* name;
    std::string body;
    Result expected;
    std::function<void(const Outcome&)> check = {};
};

const AdText& textOf(const Outcome& o) {
    return std::get<AdText>(o.ad->content);
}
const AdBanner& bannerOf(const Outcome& o) {
    return std::get<AdBanner>(o.ad->content);
}

TEST(AdPayloadsTest, DecodingAndAdRules) {
    const Case cases[] = {
        {"text ad", answer("text", kText), Result::ad,
         [](const Outcome& o) {
             EXPECT_EQ(o.ad->id, "a1");
             EXPECT_EQ(o.ad->locale, "en");
             EXPECT_EQ(o.ad->link, QUrl("https://example.test/go"));
             EXPECT_EQ(textOf(o).text, "Clean up");
             EXPECT_EQ(textOf(o).iconURL, std::nullopt);
             EXPECT_EQ(o.ad->clickURL, std::nullopt);
         }},
        {"empty text", answer("text", R"(, "text": "")"), Result::noAd},
        {"single space", answer("text", R"(, "text": " ")"), Result::ad,
         [](const Outcome& o) { EXPECT_EQ(textOf(o).text, " "); }},
        {"text missing", answer("text", ""), Result::noAd},
        {"icon", answer("text", kText + R"(, "icon_url": "https://example.test/i.png")"),
         Result::ad,
         [](const Outcome& o) {
             EXPECT_EQ(textOf(o).iconURL, QUrl("https://example.test/i.png"));
         }},
        {"bad icon", answer("text", kText + R"(, "icon_url": "http://a b")"), Result::ad,
         [](const Outcome& o) { EXPECT_EQ(textOf(o).iconURL, std::nullopt); }},
        {"relative icon kept", answer("text", kText + R"(, "icon_url": "img/i.png")"), Result::ad,
         [](const Outcome& o) { EXPECT_EQ(textOf(o).iconURL, QUrl("img/i.png")); }},
        {"capital kind", answer("Text", kText), Result::noAd},
        {"other kind", answer("video", kText), Result::noAd},
        {"empty kind", answer("", kText), Result::noAd},
        {"banner", answer("banner", kBanner), Result::ad,
         [](const Outcome& o) {
             EXPECT_EQ(bannerOf(o).imageURL, QUrl("https://example.test/b.png"));
             EXPECT_EQ(bannerOf(o).width, 320);
             EXPECT_EQ(bannerOf(o).height, 50);
             EXPECT_EQ(bannerOf(o).alt, std::nullopt);
         }},
        {"alt empty", answer("banner", kBanner + R"(, "alt": "")"), Result::ad,
         [](const Outcome& o) { EXPECT_EQ(bannerOf(o).alt, std::string()); }},
        {"width 0",
         answer("banner", R"(, "image_url": "https://e.test/b.png", "width": 0, "height": 5)"),
         Result::noAd},
        {"negative height",
         answer("banner", R"(, "image_url": "https://e.test/b.png", "width": 5, "height": -1)"),
         Result::noAd},
        {"height missing", answer("banner", R"(, "image_url": "https://e.test/b.png", "width": 5)"),
         Result::noAd},
        {"image missing", answer("banner", R"(, "width": 5, "height": 5)"), Result::noAd},
        {"bad image", answer("banner", R"(, "image_url": "", "width": 5, "height": 5)"),
         Result::noAd},
        {"bad link",
         R"({"ad": {"kind": "text", "id": "a", "link": "", "locale": "en", "text": "t"}})",
         Result::noAd},
        {"empty id and locale accepted",
         R"({"ad": {"kind": "text", "id": "", "link": "x", "locale": "", "text": "t"}})",
         Result::ad},
        {"locale missing", R"({"ad": {"kind": "text", "id": "a", "link": "x", "text": "t"}})",
         Result::undecodable},
        {"id missing", R"({"ad": {"kind": "text", "link": "x", "locale": "en", "text": "t"}})",
         Result::undecodable},
        {"kind missing", R"({"ad": {"id": "a", "link": "x", "locale": "en", "text": "t"}})",
         Result::undecodable},
        {"link null",
         R"({"ad": {"kind": "text", "id": "a", "link": null, "locale": "en", "text": "t"}})",
         Result::undecodable},
        {"ad missing", R"({"meta": {}})", Result::undecodable},
        {"width as string on a text ad", answer("text", kText + R"(, "width": "320")"),
         Result::undecodable},
        {"text as number", answer("text", R"(, "text": 5)"), Result::undecodable},
        {"id as number",
         R"({"ad": {"kind": "text", "id": 7, "link": "x", "locale": "en", "text": "t"}})",
         Result::undecodable},
        {"width 10.0 is an integer",
         answer("banner", R"(, "image_url": "https://e.test/b.png", "width": 10.0, "height": 1e1)"),
         Result::ad, [](const Outcome& o) { EXPECT_EQ(bannerOf(o).width, 10); }},
        {"width 10.5", answer("banner", R"(, "image_url": "x", "width": 10.5, "height": 5)"),
         Result::undecodable},
        {"width 2^63",
         answer("banner", R"(, "image_url": "x", "width": 9223372036854775808, "height": 5)"),
         Result::undecodable},
        {"width 2^63 as float",
         answer("banner", R"(, "image_url": "x", "width": 9223372036854775808.0, "height": 5)"),
         Result::undecodable},
        {"width true", answer("banner", R"(, "image_url": "x", "width": true, "height": 5)"),
         Result::undecodable},
        {"nulls are absent",
         answer("text", kText + R"(, "icon_url": null, "width": null)", R"(, "meta": null)"),
         Result::ad},
        {"tracking",
         answer(
             "text", kText,
             R"(, "meta": {"tracking": {"click_url": "https://t.test/c", "impression_url": "https://t.test/i"}})"),
         Result::ad,
         [](const Outcome& o) {
             EXPECT_EQ(o.ad->clickURL, QUrl("https://t.test/c"));
             EXPECT_EQ(o.ad->impressionURL, QUrl("https://t.test/i"));
         }},
        {"bad click url kept without it",
         answer("text", kText, R"(, "meta": {"tracking": {"click_url": "http://a b"}})"),
         Result::ad, [](const Outcome& o) { EXPECT_EQ(o.ad->clickURL, std::nullopt); }},
        {"tracking of the wrong type",
         answer("text", kText, R"(, "meta": {"tracking": ["https://t.test/c"]})"),
         Result::undecodable},
        {"ttl as string", answer("text", kText, R"(, "meta": {"ttl_seconds": "30"})"),
         Result::undecodable},
        {"schema version as string", answer("text", kText, R"(, "schema_version": "1")"),
         Result::undecodable},
        {"unknown members ignored",
         answer(
             "text", kText + R"(, "extra": [1, {"x": null}])",
             R"(, "schema_version": 99, "more": {"a": 1}, "meta": {"ttl_seconds": 5, "z": true})"),
         Result::ad},
        {"not an object", "[1, 2]", Result::undecodable},
        {"not JSON", "<html></html>", Result::undecodable},
        {"trailing garbage", answer("text", kText) + "x", Result::undecodable},
        {"over the cap",
         answer("text", kText + R"(, "pad": ")" + std::string(kMaxAdAnswerBytes, ' ') + "\""),
         Result::undecodable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.body);
        EXPECT_EQ(outcome.result, c.expected);
        if (c.check && outcome.result == Result::ad) {
            c.check(outcome);
        }
    }
}

TEST(AdPayloadsTest, MetaIsDecoded) {
    auto envelope = decodeAdEnvelope(answer("text", kText, R"(, "meta": {"ttl_seconds": -5})"));
    ASSERT_TRUE(envelope && envelope->meta);
    EXPECT_EQ(envelope->meta->ttlSeconds, -5);
    EXPECT_EQ(envelope->meta->tracking.has_value(), false);
}

TEST(AdPayloadsTest, EveryFieldTakesPartInEquality) {
    const Ad base{
        "a", QUrl("https://e.test/"), "en", AdText{std::nullopt, "t"}, std::nullopt, std::nullopt};
    EXPECT_EQ(base, base);
    std::vector<std::function<void(Ad&)>> changes = {
        [](Ad& ad) { ad.id = "b"; },
        [](Ad& ad) { ad.link = QUrl("https://e.test/x"); },
        [](Ad& ad) { ad.locale = "de"; },
        [](Ad& ad) {
            ad.content = AdText{QUrl("https://e.test/i"), "t"};
        },
        [](Ad& ad) {
            ad.content = AdBanner{QUrl("https://e.test/i"), 1, 1, std::nullopt};
        },
        [](Ad& ad) { ad.clickURL = QUrl("https://e.test/c"); },
        [](Ad& ad) { ad.impressionURL = QUrl("https://e.test/i"); },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        Ad changed = base;
        changes[i](changed);
        EXPECT_NE(changed, base) << "change " << i;
    }
    const AdBanner banner{QUrl("https://e.test/i"), 1, 1, std::nullopt};
    AdBanner withEmptyAlt = banner;
    withEmptyAlt.alt = "";
    EXPECT_NE(banner, withEmptyAlt);
}

}  // namespace
}  // namespace cb
