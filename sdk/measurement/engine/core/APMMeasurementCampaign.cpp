// Campaign links on the worker queue: the opened URL's query becomes one campaign event, its
// click data the persisted AdCampaignInfo and its "vbraid" the "_vbraid" user property.
#include <algorithm>
#include <array>
#include <utility>

#include "sdk/measurement/attribution/APMCampaignURL.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMQueryString.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMStringUtil.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// Query key -> event parameter of a campaign link.
constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kCampaignParameters = {{
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"xclid", "xclid"},
    {"cad_source", "cad_source"},
    {"vclid", "vclid"},
    {"vbraid", "vbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"srsltid", "srsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
    {"sfmc_id", "sfmc_id"},
}};

// Keys whose non-empty value makes a link a campaign link.
constexpr std::array<std::string_view, 9> kRequiredCampaignKeys = {
    "utm_campaign", "vclid", "utm_medium", "utm_source", "vbraid",
    "utm_id",       "xclid", "srsltid",    "sfmc_id"};

constexpr std::string_view kCadPrefix = "cad_";

std::optional<std::string> eventParameterName(std::string_view key) {
    for (const auto& [queryKey, parameter] : kCampaignParameters) {
        if (queryKey == key) {
            return std::string(parameter);
        }
    }
    if (key.starts_with(kCadPrefix)) {
        return std::string(key);
    }
    return std::nullopt;
}

// A non-empty string parameter of `parameters`.
const std::string* nonEmptyString(const sdk::Value::Dictionary& parameters, std::string_view name) {
    const auto found = parameters.find(name);
    const std::string* text = found == parameters.end() ? nullptr : found->second.string();
    return text != nullptr && !text->empty() ? text : nullptr;
}

// The text of a string or number value; none for anything else.
std::optional<std::string> textOf(const sdk::Value& value) {
    if (const std::string* text = value.string()) {
        return *text;
    }
    if (value.isInt() || value.isBool()) {
        return std::to_string(*value.numberAsInt());
    }
    if (value.isDouble()) {
        return APMValue(*value.doubleValue()).description();
    }
    return std::nullopt;
}

// The "cad_" entries of `parameters` for the ad campaign info, capped as an event's parameters
// are: names of at most 40 code points, values within the internal value length, and no more
// entries than an event's parameters. The info is copied into the metadata of every later raw
// event, so a link with thousands of entries would otherwise make each of those rows huge.
// What is left out is logged once.
APMPBRepeatedArray cappedCadEntries(const sdk::Value::Dictionary& parameters,
                                    const APMParameterLimits& limits) {
    using Validator = APMDataTypeValidator;
    const std::size_t maxCount = static_cast<std::size_t>(std::max(limits.maxPublicEventParams, 0));
    const std::size_t maxValueLength = static_cast<std::size_t>(
        Validator::maxInternalEventParameterValueLength(limits.maxPublicEventParameterValueLength));
    APMPBRepeatedArray entries;
    std::int64_t left = 0;
    for (const auto& [name, value] : parameters) {
        if (!name.starts_with(kCadPrefix)) {
            continue;
        }
        const std::optional<std::string> text = textOf(value);
        if (!text) {
            continue;
        }
        if (entries.size() >= maxCount ||
            apm_UTF32Length(name) >
                static_cast<std::size_t>(Validator::kMaxEventParameterNameLength) ||
            apm_UTF32Length(*text) > maxValueLength) {
            ++left;
            continue;
        }
        auto entry = std::make_shared<APMPBDeepLinkCadParamsEntry>();
        APMPBSetString(entry.get(), apmpb::DeepLinkCadParamsEntry::kKey, name);
        APMPBSetString(entry.get(), apmpb::DeepLinkCadParamsEntry::kValue, *text);
        entries.emplace_back(std::move(entry));
    }
    if (left > 0) {
        APMMeasurement::monitor().logWithLevel(
            2, 23245,
            "Campaign entries beyond the event parameter limits were left out. Kept, left out",
            std::vector<APMMonitorContext>{sdk::Value(static_cast<std::int64_t>(entries.size())),
                                           sdk::Value(left)});
    }
    return entries;
}

// Whether `entries` hold the entry named `name`.
bool holdsEntry(const APMPBRepeatedArray& entries, std::string_view name) {
    return std::any_of(entries.begin(), entries.end(), [&](const APMPBRepeatedElement& element) {
        const auto& entry = std::get<std::shared_ptr<NANOMessageBase>>(element);
        return APMPBGetString(entry.get(), apmpb::DeepLinkCadParamsEntry::kKey) == name;
    });
}

bool isNumberOne(const sdk::Value& value) {
    if (value.isInt()) {
        return value.intValue() == 1;
    }
    if (value.isDouble()) {
        return value.doubleValue() == 1.0;
    }
    return false;
}

using CampaignURLParameters = APMMeasurement::CampaignURLParameters;

// The link's query parameters over the string extras; the number extras go to the event
// unchanged (`numberExtras`) and extras of other kinds are dropped.
CampaignURLParameters campaignURLParameters(const std::string& url,
                                            const sdk::Value::Dictionary& extraParameters,
                                            sdk::Value::Dictionary& numberExtras) {
    CampaignURLParameters urlParameters;
    for (const auto& [name, value] : extraParameters) {
        if (const std::string* text = value.string()) {
            urlParameters[name] = *text;
        } else if (value.isNumber()) {
            numberExtras.emplace(name, value);
        }
    }
    if (const std::optional<std::string> query = APMURLQuery(url)) {
        for (auto& [key, value] : apm_dictionaryWithHttpArgumentsString(*query)) {
            urlParameters[key] = std::move(value);
        }
    }
    return urlParameters;
}

// Whether the parameters make a campaign link; an empty query (23000) or one without a
// campaign key (23001, with the parameters) is logged.
bool isCampaignLink(const CampaignURLParameters& urlParameters) {
    if (urlParameters.empty()) {
        APMMeasurement::monitor().logWithLevel(7, 23000, "Deep Link Web URL query is empty");
        return false;
    }
    if (!APMMeasurement::isValidCampaignURLParamDictionary(urlParameters)) {
        sdk::Value::Dictionary context;
        for (const auto& [key, value] : urlParameters) {
            context.emplace(key, sdk::Value(value));
        }
        APMMeasurement::monitor().logWithLevel(
            3, 23001, "Deep Link does not contain valid required params. URL params",
            sdk::Value(std::move(context)));
        return false;
    }
    return true;
}

// The campaign event's parameters: the non-empty campaign keys under their event names (the
// click identifiers only when `allowClickID`), the number extras and the click time.
sdk::Value::Dictionary campaignEventParameters(const CampaignURLParameters& urlParameters,
                                               const sdk::Value::Dictionary& numberExtras,
                                               std::optional<std::int64_t> clickTimestampMillis,
                                               bool allowClickID) {
    sdk::Value::Dictionary parameters;
    for (const auto& [key, value] : urlParameters) {
        if (value.empty()) {
            continue;
        }
        if (std::optional<std::string> name = eventParameterName(key)) {
            parameters[*name] = sdk::Value(value);
        }
    }
    if (!allowClickID) {
        for (const std::string_view clickID : {"vclid", "xclid", "srsltid"}) {
            if (const auto found = parameters.find(clickID); found != parameters.end()) {
                parameters.erase(found);
            }
        }
    }
    for (const auto& [name, value] : numberExtras) {
        parameters[name] = value;
    }
    if (clickTimestampMillis) {
        parameters["click_timestamp"] = sdk::Value(*clickTimestampMillis);
    }
    return parameters;
}

// The encoded AdCampaignInfo of the event's click data ("vclid", "vbraid", "cad_source" and the
// capped "cad_" entries) clicked at `timestamp` (seconds); none without click data.
std::optional<sdk::Bytes> adCampaignInfoBuffer(const sdk::Value::Dictionary& parameters,
                                               double timestamp) {
    const APMPBRepeatedArray cadEntries =
        cappedCadEntries(parameters, APMRemoteConfig::current()->parameterLimits());
    const std::string* vclid = nonEmptyString(parameters, "vclid");
    const std::string* vbraid = nonEmptyString(parameters, "vbraid");
    if (vclid == nullptr && vbraid == nullptr && cadEntries.empty()) {
        return std::nullopt;
    }
    APMPBAdCampaignInfo info;
    APMPBSetInt64(&info, apmpb::AdCampaignInfo::kClickTimestampMillis,
                  sdk::Value(timestamp * 1000.0).numberAsInt().value_or(0));
    if (vclid != nullptr) {
        APMPBSetString(&info, apmpb::AdCampaignInfo::kVclid, *vclid);
    }
    if (vbraid != nullptr) {
        APMPBSetString(&info, apmpb::AdCampaignInfo::kVbraid, *vbraid);
    }
    const std::string* source = nonEmptyString(parameters, "cad_source");
    if (source != nullptr && holdsEntry(cadEntries, "cad_source")) {
        APMPBSetString(&info, apmpb::AdCampaignInfo::kCadSource, *source);
    }
    if (!cadEntries.empty()) {
        APMPBSetRepeated(&info, apmpb::AdCampaignInfo::kDeepLinkCadParams, cadEntries);
    }
    return info.protoBuffer();
}

}  // namespace

bool APMMeasurement::isValidCampaignURLParamDictionary(const CampaignURLParameters& parameters) {
    for (const auto& [key, value] : parameters) {
        if (key.starts_with(kCadPrefix)) {
            return true;
        }
        if (!value.empty() && std::find(kRequiredCampaignKeys.begin(), kRequiredCampaignKeys.end(),
                                        key) != kRequiredCampaignKeys.end()) {
            return true;
        }
    }
    return false;
}

bool APMMeasurement::shouldAllowClickID() {
    if (!APMIdentity::iOS14OrAbove()) {
        return true;
    }
    const std::optional<std::string> deviceID = identity_->resettableDeviceID();
    if (deviceID && !deviceID->empty()) {
        return true;
    }
    return identity_->appleConsentStatus() == 3;
}

void APMMeasurement::handleNonFirstOpenEventURL(const std::string& url,
                                                double eventTimestampInSeconds) {
    if (scheduler_->workerQueue()->isCurrent()) {
        monitor().logWithLevel(
            2, 23163, "Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
        return;
    }
    handleOpenURL(url, std::nullopt, eventTimestampInSeconds);
}

void APMMeasurement::handleOpenURL(const std::string& url,
                                   std::optional<std::int64_t> clickTimestampMillis,
                                   double eventTimestampInSeconds) {
    if (url.empty()) {
        return;
    }
    handleDebugModeWithURL(url);
    handleDeepLink(url, clickTimestampMillis, eventTimestampInSeconds);
}

void APMMeasurement::handleDeepLink(const std::string& url,
                                    std::optional<std::int64_t> clickTimestampMillis,
                                    double eventTimestampInSeconds) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:502", [weak, url, clickTimestampMillis, eventTimestampInSeconds] {
            if (const std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->handleOpenURLOnWorkerQueue(url, clickTimestampMillis,
                                                   eventTimestampInSeconds, {});
            }
        });
}

void APMMeasurement::handleDebugModeWithURL(const std::string& url) {
    handleSTGWDebugModeWithURL(url);
}

void APMMeasurement::handleOpenURLOnWorkerQueue(const std::string& url,
                                                std::optional<std::int64_t> clickTimestampMillis,
                                                double eventTimestampInSeconds,
                                                const sdk::Value::Dictionary& extraParameters) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:");
    // Before the component start has made them there is no identity, store or configuration
    // to record a campaign with.
    if (!identity_ || !database_ || !remoteConfig_) {
        return;
    }
    sdk::Value::Dictionary numberExtras;
    const CampaignURLParameters urlParameters =
        campaignURLParameters(url, extraParameters, numberExtras);
    if (!isCampaignLink(urlParameters)) {
        return;
    }
    const sdk::Value::Dictionary parameters = campaignEventParameters(
        urlParameters, numberExtras, clickTimestampMillis, shouldAllowClickID());
    const auto cc = parameters.find("_cc");
    const std::string_view eventName =
        cc != parameters.end() && isNumberOne(cc->second) ? "_cmpx" : "_cmp";
    const double firstOpen =
        static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000.0;
    const double timestamp = std::max(firstOpen, eventTimestampInSeconds);

    if (const std::optional<sdk::Bytes> buffer = adCampaignInfoBuffer(parameters, timestamp)) {
        persistedConfig_->setAdCampaignInfoBuffer(sdk::Value(*buffer));
    }
    if (const std::string* vbraid = nonEmptyString(parameters, "vbraid")) {
        if (const std::optional<APMUserAttribute> attribute =
                APMUserAttribute::initWithOrigin("auto", "_vbraid", APMValue(*vbraid), timestamp)) {
            setUserPropertyInDatabaseOnWorkerQueue(*attribute);
        }
    }
    // The internal-event entry also tells the facade's log-event listeners.
    if (std::optional<APMEvent> event = APMEvent::initWithOrigin(
            "auto", false, eventName, timestamp, 0, APMRawParametersFromDictionary(parameters),
            APMRemoteConfig::current()->parameterLimits())) {
        handleInternalEventOnWorkerQueue(std::move(*event));
    }
}
