#include "sdk/measurement/engine/APMEvent.h"

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

namespace E = apmpb::Event;
namespace EP = apmpb::EventParam;
using Validator = APMDataTypeValidator;

// Seconds as wire milliseconds, truncated toward zero and saturated, NaN giving 0.
std::int64_t milliseconds(double seconds) {
    return *sdk::Value(seconds * 1000.0).numberAsInt();
}

bool isInt64Equal(const APMParameters& parameters, std::string_view key, std::int64_t expected) {
    auto it = parameters.find(key);
    return it != parameters.end() && it->second.isInt64() && it->second.int64Value() == expected;
}

void setFlag(APMParameters& parameters, std::string_view key, bool on) {
    if (on)
        parameters.insert_or_assign(std::string(key), APMValue(std::int64_t{1}));
    else if (auto it = parameters.find(key); it != parameters.end())
        parameters.erase(it);
}

bool validOrigin(std::string_view origin) {
    std::uint64_t failure = 0;
    if (Validator::isValidForwardedEventOrigin(origin, &failure))
        return true;
    return failure == Validator::kNotForwarded &&
           Validator::isValidInternalEventOrigin(origin, nullptr);
}

std::shared_ptr<NANOMessageBase> scalarParam(const std::string* name, const sdk::Value& value) {
    auto param = std::make_shared<APMPBEventParam>();
    if (name != nullptr)
        APMPBSetString(param.get(), EP::kName, *name);
    if (value.isDouble())
        APMPBSetDouble(param.get(), EP::kDoubleValue, *value.doubleValue());
    else if (value.isInt())
        APMPBSetInt64(param.get(), EP::kIntValue, *value.intValue());
    else if (const std::string* text = value.string())
        APMPBSetString(param.get(), EP::kStringValue, *text);
    else
        return nullptr;
    return param;
}

void logInvalidParam(std::string_view eventName, std::string_view name) {
    APMMonitor::shared().logWithLevel(2, 16005, "Invalid event param value. Event name, param name",
                                      APMDebugEventName(eventName), APMDebugParameterName(name));
}

// The parameters of one item: plain values only; an array inside an item is refused.
APMPBRepeatedArray itemParamsToProto(const sdk::Value::Dictionary& item,
                                     std::string_view eventName) {
    APMPBRepeatedArray params;
    for (const auto& [name, value] : item) {
        if (value.isArray()) {
            APMMonitor::shared().logWithLevel(
                2, 16007, "Nested params cannot have more than 1 level. Event name, param name",
                APMDebugEventName(eventName), APMDebugParameterName(name));
            continue;
        }
        if (auto param = scalarParam(&name, value)) {
            params.emplace_back(std::move(param));
            continue;
        }
        logInvalidParam(eventName, name);
    }
    return params;
}

}  // namespace

std::optional<APMEvent> APMEvent::initWithOrigin(std::string_view origin, bool isPublic,
                                                 std::string_view name, double timestamp,
                                                 double previousTimestamp,
                                                 const APMRawParameters& parameters,
                                                 const APMParameterLimits& limits) {
    if (!validOrigin(origin))
        return std::nullopt;
    if (isPublic && !Validator::isValidPublicEventName(name, nullptr))
        return std::nullopt;
    if (!Validator::isValidInternalEventName(name, nullptr))
        return std::nullopt;
    if (previousTimestamp > timestamp) {
        APMMonitor::shared().logWithLevel(
            5, 16002, "Event created with previous timestamp after current timestamp");
    }
    APMEvent event;
    event.origin_ = std::string(origin);
    event.name_ = std::string(name);
    event.timestamp_ = timestamp;
    event.previousTimestamp_ = previousTimestamp;
    if (auto cleaned = APMCleanEventParameters(parameters, name, isPublic, false, limits))
        event.parameters_ = std::move(*cleaned);
    event.parameters_.insert_or_assign("_o", APMValue(std::string(origin)));
    if (event.shouldValidateParams() &&
        !APMValidateValueAndCurrency(event.parameters_,
                                     Validator::maxInternalEventParameterValueLength(
                                         limits.maxPublicEventParameterValueLength))) {
        event.parameters_.erase("_c");
    }
    return event;
}

std::optional<APMEvent> APMEvent::copyWithParameters(const APMRawParameters& parameters,
                                                     const APMParameterLimits& limits) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters,
                          limits);
}

std::optional<APMEvent> APMEvent::copyWithPreviousTimestamp(
    double previousTimestamp, const APMParameterLimits& limits) const {
    APMRawParameters own(parameters_.begin(), parameters_.end());
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp, own, limits);
}

std::optional<APMEvent> APMEvent::copy(const APMParameterLimits& limits) const {
    return copyWithPreviousTimestamp(previousTimestamp_, limits);
}

bool APMEvent::shouldValidateParams() const {
    return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

bool APMEvent::isConversion() const {
    return isInt64Equal(parameters_, "_c", 1);
}

void APMEvent::setConversion(bool conversion, const APMParameterLimits& limits) {
    if (conversion) {
        const std::int32_t maxInternal = Validator::maxInternalEventParameterValueLength(
            limits.maxPublicEventParameterValueLength);
        if (!APMValidateValueAndCurrency(parameters_, maxInternal))
            return;
        setFlag(parameters_, "_c", true);
        if (isInt64Equal(parameters_, "_err", 10))
            parameters_.erase("_err");
        return;
    }
    auto it = parameters_.find("_c");
    if (it == parameters_.end())
        return;
    parameters_.erase(it);
    APMSetErrorCodeIfAbsent(parameters_, 10);
}

bool APMEvent::isRealtime() const {
    auto it = parameters_.find("_r");
    if (it == parameters_.end())
        return false;
    if (it->second.isInt64())
        return it->second.int64Value() == 1;
    APMMonitor::shared().logWithLevel(2, 16006, "Realtime parameter must be an int64. Event name",
                                      name_);
    return false;
}

void APMEvent::setRealtime(bool realtime) {
    setFlag(parameters_, "_r", realtime);
}

bool APMEvent::isDebug() const {
    return isInt64Equal(parameters_, "_dbg", 1);
}

void APMEvent::setDebug(bool debug) {
    setFlag(parameters_, "_dbg", debug);
}

void APMEvent::applyParameters(const APMRawParameters& parameters, bool isPublic,
                               const APMParameterLimits& limits) {
    if (parameters.empty())
        return;
    std::optional<APMParameters> merged =
        APMCleanEventParameters(parameters, "", isPublic, false, limits);
    if (!merged || merged->empty())
        return;
    for (const auto& entry : parameters_)
        merged->insert_or_assign(entry.first, entry.second);
    parameters_ = std::move(*merged);
}

namespace {

// A screen class or name: a string (raw or as a value) that passes the screen value rule.
std::optional<APMValue> screenValue(const APMParameterInput& input, std::int32_t maxValueLength) {
    const std::string* text = nullptr;
    if (const APMValue* value = std::get_if<APMValue>(&input))
        text = value->stringValue();
    else
        text = std::get<sdk::Value>(input).string();
    if (text == nullptr ||
        !APMDataTypeValidator::isValidScreenParameterValue(*text, maxValueLength, nullptr))
        return std::nullopt;
    return APMValue(*text);
}

sdk::Value describe(const APMParameterInput& input) {
    if (const APMValue* value = std::get_if<APMValue>(&input))
        return value->value();
    return std::get<sdk::Value>(input);
}

}  // namespace

bool APMEvent::addScreenParameters(const APMRawParameters& parameters,
                                   std::int32_t maxValueLength) {
    if (parameters.empty() || APMHasScreenParameters(parameters_))
        return false;
    auto index = parameters.find("_si");
    if (index == parameters.end())
        return false;
    std::optional<APMValue> screenIndex;
    if (const APMValue* value = std::get_if<APMValue>(&index->second)) {
        if (value->isInt64())
            screenIndex = *value;
    } else if (std::get<sdk::Value>(index->second).isNumber()) {
        screenIndex = APMValue(*std::get<sdk::Value>(index->second).numberAsInt());
    }
    if (!screenIndex)
        return false;
    APMParameters screen{{"_si", *screenIndex}};
    const struct {
        const char* key;
        std::int64_t code;
        const char* message;
    } kStrings[] = {{"_sc", 16003, "Received invalid screen class"},
                    {"_sn", 16004, "Received invalid screen name"}};
    for (const auto& entry : kStrings) {
        auto it = parameters.find(entry.key);
        if (it == parameters.end())
            continue;
        std::optional<APMValue> value = screenValue(it->second, maxValueLength);
        if (!value) {
            APMMonitor::shared().logWithLevel(3, entry.code, entry.message, describe(it->second));
            return false;
        }
        screen.insert_or_assign(entry.key, *value);
    }
    for (auto& entry : screen)
        parameters_.insert_or_assign(entry.first, std::move(entry.second));
    return true;
}

std::optional<APMEvent> APMEvent::initWithEventProto(const APMPBEvent& proto,
                                                     const APMParameterLimits& limits) {
    const std::string name = APMPBGetString(&proto, E::kName).value_or("");
    const double timestamp =
        static_cast<double>(APMPBGetInt64(&proto, E::kTimestampMillis)) / 1000.0;
    const double previous =
        static_cast<double>(APMPBGetInt64(&proto, E::kPreviousTimestampMillis)) / 1000.0;
    std::string origin;
    APMRawParameters parameters;
    const auto params = APMPBGetRepeated<APMPBEventParam>(&proto, E::kParams);
    for (const APMPBRepeatedElement& element : params.value_or(APMPBRepeatedArray{})) {
        const auto* holder = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
        const NANOMessageBase* param = holder != nullptr ? holder->get() : nullptr;
        const std::optional<std::string> paramName = APMPBGetString(param, EP::kName);
        if (!paramName) {
            APMMonitor::shared().logWithLevel(
                2, 15000, "Ignoring parameter. Parameter name is nil. Event name", name);
            continue;
        }
        const std::optional<std::string> text = APMPBGetString(param, EP::kStringValue);
        if (*paramName == "_o") {
            if (!text) {
                APMMonitor::shared().logWithLevel(
                    2, 15001,
                    "Cannot create an event from event proto. Origin parameter is not a string. "
                    "Event name",
                    name);
                return std::nullopt;
            }
            origin = *text;
        } else if (text) {
            parameters.insert_or_assign(*paramName, APMValue(*text));
        } else if (APMPBHasField(param, EP::kIntValue)) {
            parameters.insert_or_assign(*paramName, APMValue(APMPBGetInt64(param, EP::kIntValue)));
        } else if (APMPBHasField(param, EP::kDoubleValue)) {
            parameters.insert_or_assign(*paramName,
                                        APMValue(APMPBGetDouble(param, EP::kDoubleValue)));
        } else {
            APMMonitor::shared().logWithLevel(
                5, 15002,
                "Unknown event parameter type from converting an event proto into APMEvent "
                "instance. Event param name",
                *paramName);
        }
    }
    return initWithOrigin(origin, false, name, timestamp, previous, parameters, limits);
}

APMPBEvent APMEvent::protoEvent() const {
    constexpr double kEpsilon = 2.220446049250313e-16;
    APMPBEvent proto;
    APMPBSetString(&proto, E::kName, name_);
    if (previousTimestamp_ > kEpsilon)
        APMPBSetInt64(&proto, E::kPreviousTimestampMillis, milliseconds(previousTimestamp_));
    if (timestamp_ > kEpsilon)
        APMPBSetInt64(&proto, E::kTimestampMillis, milliseconds(timestamp_));
    APMPBSetRepeated(&proto, E::kParams, APMEventParamsToProto(parameters_, name_));
    return proto;
}

APMPBRepeatedArray APMEventParamsToProto(const APMParameters& parameters,
                                         std::string_view eventName) {
    APMPBRepeatedArray params;
    for (const auto& [name, value] : parameters) {
        if (const sdk::Value::Array* items = value.arrayValue()) {
            APMPBRepeatedArray elements;
            for (const sdk::Value& item : *items) {
                const sdk::Value::Dictionary* fields = item.dictionary();
                if (fields == nullptr) {
                    logInvalidParam(eventName, name);
                    continue;
                }
                auto element = std::make_shared<APMPBEventParam>();
                APMPBSetRepeated(element.get(), EP::kParamValue,
                                 itemParamsToProto(*fields, eventName));
                elements.emplace_back(std::move(element));
            }
            auto param = std::make_shared<APMPBEventParam>();
            APMPBSetString(param.get(), EP::kName, name);
            APMPBSetRepeated(param.get(), EP::kParamValue, elements);
            params.emplace_back(std::move(param));
        } else if (auto param = scalarParam(&name, value.value())) {
            params.emplace_back(std::move(param));
        }
    }
    return params;
}

bool APMEventParamArrayContainsName(const APMPBRepeatedArray& params, std::string_view name) {
    for (const APMPBRepeatedElement& element : params) {
        const auto* holder = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
        if (holder == nullptr || APMPBGetString(holder->get(), EP::kName) != name)
            continue;
        APMMonitor::shared().logWithLevel(4, 23156,
                                          "Event parameter already exists. Parameter name",
                                          APMDebugParameterName(name));
        return true;
    }
    return false;
}

bool APMIsErrorEvent(const APMEvent& event) {
    if (event.name().empty()) {
        APMMonitor::shared().logWithLevel(2, 18004, "Cannot check the event name. Name is empty");
        return false;
    }
    return event.name() == "_err";
}

bool APMIsSubscriptionEvent(const APMEvent& event) {
    if (event.name() == "_assc" || event.name() == "_assr")
        return true;
    if (event.name() != "_iap")
        return false;
    auto it = event.parameters().find("subscription");
    return it != event.parameters().end() && it->second.isInt64() && it->second.int64Value() == 1;
}

std::int64_t APMItemCount(const APMEvent& event) {
    std::int64_t count = 0;
    for (const auto& entry : event.parameters()) {
        if (const sdk::Value::Array* items = entry.second.arrayValue())
            count += static_cast<std::int64_t>(items->size());
    }
    return count;
}

double APMEvent::editTimestampFromSeconds(double seconds) {
    return seconds * 1000.0;
}

double APMEvent::secondsFromEditTimestamp(double milliseconds) {
    return milliseconds / 1000.0;
}
