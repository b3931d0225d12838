// The search-ads reporter's request to the attribution service, its reply and the campaign
// event.
#include <charconv>
#include <chrono>
#include <utility>

#include "platform/urlsession/URLSession.h"
#include "platform/urlsession/URLSessionTypes.h"
#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/ValueJson.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// The ad and campaign ID of the service's test replies.
constexpr std::string_view kTestDataID = "1234567890";

// A reply value as text, the way a number's or string's stringValue reads: a string as it is, an
// integer in decimal, a double in its shortest form, a boolean as "1" or "0". Anything else
// (null, arrays, objects) has no text.
std::optional<std::string> stringValue(const sdk::Value* value) {
    if (!value) {
        return std::nullopt;
    }
    if (const std::string* text = value->string()) {
        return *text;
    }
    if (const std::optional<bool> flag = value->boolValue()) {
        return *flag ? "1" : "0";
    }
    if (const std::optional<std::int64_t> integer = value->intValue()) {
        return std::to_string(*integer);
    }
    if (const std::optional<double> number = value->doubleValue()) {
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *number);
        return ec == std::errc() ? std::optional<std::string>(std::string(buffer, end))
                                 : std::nullopt;
    }
    return std::nullopt;
}

sdk::Error transportError(const platform::URLOutcome& outcome) {
    return sdk::Error(std::string(platform::kURLSessionErrorDomain),
                      static_cast<std::int64_t>(*outcome.error), outcome.errorMessage);
}

}  // namespace

std::string APMSearchAdReporter::attributionServiceURL() {
    const std::string origin =
        APMRemoteConfig::serviceOriginOverride().value_or("https://" + std::string(kServiceHost));
    return origin + std::string(kServicePath);
}

void APMSearchAdReporter::requestAttributionPayloadWithToken(const std::string& token) {
    if (token.empty()) {
        return;
    }
    platform::URLRequest request;
    request.method = "POST";
    request.url = attributionServiceURL();
    request.headers = {{"cache-control", "no-cache"}, {"Content-Type", "text/plain"}};
    request.body = token;
    request.timeout = std::chrono::milliseconds(static_cast<int>(kRequestTimeoutSeconds * 1000));
    request.maxResponseBytes = kMaxReplyBytes;
    // The completion runs on the transfer thread; everything the reporter owns lives on the
    // worker queue, so the reply is handled there.
    std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
    platform::QueueRef queue = workerQueue_;
    platform::URLSession::shared().send(
        std::move(request), [weak, queue](platform::URLOutcome outcome) {
            queue->async([weak, outcome = std::move(outcome)] {
                if (const std::shared_ptr<APMSearchAdReporter> self = weak.lock()) {
                    self->handleAttributionReply(outcome);
                }
            });
        });
}

void APMSearchAdReporter::handleAttributionReply(const platform::URLOutcome& outcome) {
    if (std::function<void()> observer = [this] {
            std::lock_guard lock(mutex_);
            return replyObserver_;
        }()) {
        observer();
    }
    if (!outcome.ok()) {
        monitor().logWithLevel(1, 32015,
                               "Cannot send request for Search Ad campaign attribution. Error",
                               transportError(outcome));
        scheduleSearchAdReport();
        return;
    }
    sdk::Value reply;
    sdk::Error error = sdk::parseJson(outcome.body, &reply);
    if (error.ok() && !reply.isDictionary()) {
        error = sdk::Error(std::string(sdk::kCocoaErrorDomain), sdk::kReadCorruptErrorCode,
                           "The reply is not a JSON object");
    }
    if (!error.ok()) {
        monitor().logWithLevel(1, 32017, "Search Ad Reporter failed to parse JSON data. Error",
                               error);
        scheduleSearchAdReport();
        return;
    }
    if (reply.dictionary()->empty()) {
        scheduleSearchAdReport();
        return;
    }
    const std::optional<std::string> campaignID = stringValue(reply.find("campaignId"));
    const std::optional<std::string> adID = stringValue(reply.find("adId"));
    if (campaignID == kTestDataID && adID == kTestDataID) {
        monitor().logWithLevel(7, 32016,
                               "Search Ad Reporter returned test data. Will retry next time.");
        scheduleSearchAdReport();
        return;
    }
    const sdk::Value* attribution = reply.find("attribution");
    const bool attributed = attribution && attribution->boolValue().value_or(false);
    logCampaignEventWithSearchAdCampaign(attributed, campaignID,
                                         stringValue(reply.find("keywordId")));
    cancelScheduling();
}

void APMSearchAdReporter::logCampaignEventWithSearchAdCampaign(
    bool attributed, const std::optional<std::string>& campaign,
    const std::optional<std::string>& term) {
    bool storedBefore = false;
    {
        std::lock_guard lock(mutex_);
        storedBefore = persistedConfig_->searchAdCampaignValue().has_value();
        if (!storedBefore) {
            persistedConfig_->setSearchAdCampaignValue(sdk::Value(attributed));
        }
    }
    if (storedBefore) {
        monitor().logWithLevel(5, 32008, "Search Ad Campaign is already tracked");
        return;
    }
    if (!attributed) {
        return;
    }
    sdk::Value::Dictionary parameters{{"source", "Apple"}, {"medium", "search"}};
    if (campaign && !campaign->empty()) {
        parameters.emplace("campaign", *campaign);
    }
    if (term && !term->empty()) {
        parameters.emplace("term", *term);
    }
    const std::int64_t firstOpen = persistedConfig_->firstOpenTimestampMilliseconds();
    if (firstOpen >= 2) {
        parameters.emplace("click_timestamp", firstOpen - 1);
    } else {
        monitor().logWithLevel(5, 32009, "Search Ad Campaign does not have click_timestamp.");
    }
    if (const InternalEventLogger logger = eventLogger()) {
        logger("auto", "_cmp", std::move(parameters));
    }
}
