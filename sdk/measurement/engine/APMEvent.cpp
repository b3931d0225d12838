#include "sdk/measurement/engine/APMEvent.h"

#include <vector>

#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr const char* kOriginParameter = "_o";
constexpr const char* kRealtimeParameter = "_r";
// Times at or below this are "none" and not encoded.
constexpr double kEpsilon = 2.220446049250313e-16;

std::int64_t milliseconds(double seconds) {
    return static_cast<std::int64_t>(seconds * 1000);
}

// The parameters as EventParam messages, in name order. Inside an array item (`nested`) a
// further array is dropped.
APMPBRepeatedArray paramsToProto(const APMParameters& parameters, const std::string& eventName,
                                 bool nested) {
    APMPBRepeatedArray params;
    for (const auto& [name, value] : parameters) {
        auto param = std::make_shared<APMPBEventParam>();
        APMPBSetString(param.get(), apmpb::EventParam::kName, name);
        switch (value.valueType()) {
            case APMValue::ValueType::kDouble:
                APMPBSetDouble(param.get(), apmpb::EventParam::kDoubleValue, value.doubleValue());
                break;
            case APMValue::ValueType::kInt64:
                APMPBSetInt64(param.get(), apmpb::EventParam::kIntValue, value.int64Value());
                break;
            case APMValue::ValueType::kString:
                APMPBSetString(param.get(), apmpb::EventParam::kStringValue, value.stringValue());
                break;
            case APMValue::ValueType::kArray: {
                if (nested) {
                    APMMeasurement::monitor().logWithLevel(
                        2, 16007,
                        "Nested params cannot have more than 1 level. Event name, param name",
                        eventName, name);
                    continue;
                }
                APMPBRepeatedArray items;
                for (const APMParameters& item : value.arrayValue()) {
                    auto element = std::make_shared<APMPBEventParam>();
                    APMPBSetRepeated(element.get(), apmpb::EventParam::kParamValue,
                                     paramsToProto(item, eventName, true));
                    items.emplace_back(std::move(element));
                }
                APMPBSetRepeated(param.get(), apmpb::EventParam::kParamValue, items);
                break;
            }
        }
        params.emplace_back(std::move(param));
    }
    return params;
}

}  // namespace

std::optional<APMEvent> APMEvent::initWithOrigin(const std::string& origin, bool /*isPublic*/,
                                                 const std::string& name, double timestamp,
                                                 double previousTimestamp,
                                                 APMParameters parameters) {
    if (origin.empty() || name.empty()) {
        return std::nullopt;
    }
    if (previousTimestamp > timestamp) {
        APMMeasurement::monitor().logWithLevel(
            5, 16002, "Event created with previous timestamp after current timestamp");
    }
    APMEvent event;
    event.origin_ = origin;
    event.name_ = name;
    event.timestamp_ = timestamp;
    event.previousTimestamp_ = previousTimestamp;
    event.parameters_ = std::move(parameters);
    event.parameters_.insert_or_assign(kOriginParameter, APMValue::initWithString(origin));
    return event;
}

std::optional<APMEvent> APMEvent::initWithEventProto(const APMPBEvent& proto) {
    const std::string name = APMPBGetString(&proto, apmpb::Event::kName).value_or("");
    std::string origin;
    APMParameters parameters;
    const bool visited = APMPBVisitRepeatedMessages(
        &proto, apmpb::Event::kParams, [&](const NANOMessageBase& param) {
            std::optional<std::string> paramName = APMPBGetString(&param, apmpb::EventParam::kName);
            if (!paramName) {
                APMMeasurement::monitor().logWithLevel(
                    2, 15000, "Ignoring parameter. Parameter name is nil. Event name", name);
                return true;
            }
            std::optional<std::string> text =
                APMPBHasField(&param, apmpb::EventParam::kStringValue)
                    ? APMPBGetString(&param, apmpb::EventParam::kStringValue)
                    : std::nullopt;
            if (*paramName == kOriginParameter) {
                if (!text) {
                    APMMeasurement::monitor().logWithLevel(
                        2, 15001,
                        "Cannot create an event from event proto. Origin parameter is not a "
                        "string. Event name",
                        name);
                    return false;
                }
                origin = *text;
            } else if (text) {
                parameters.insert_or_assign(*paramName, APMValue::initWithString(*text));
            } else if (APMPBHasField(&param, apmpb::EventParam::kIntValue)) {
                parameters.insert_or_assign(*paramName, APMValue::initWithInt64(APMPBGetInt64(
                                                            &param, apmpb::EventParam::kIntValue)));
            } else if (APMPBHasField(&param, apmpb::EventParam::kDoubleValue)) {
                parameters.insert_or_assign(
                    *paramName, APMValue::initWithDouble(
                                    APMPBGetDouble(&param, apmpb::EventParam::kDoubleValue)));
            } else {
                APMMeasurement::monitor().logWithLevel(
                    5, 15002,
                    "Unknown event parameter type from converting an event proto into APMEvent "
                    "instance. Event param name",
                    *paramName);
            }
            return true;
        });
    if (!visited) {
        return std::nullopt;
    }
    return initWithOrigin(
        origin, false, name,
        static_cast<double>(APMPBGetInt64(&proto, apmpb::Event::kTimestampMillis)) / 1000.0,
        static_cast<double>(APMPBGetInt64(&proto, apmpb::Event::kPreviousTimestampMillis)) / 1000.0,
        std::move(parameters));
}

std::unique_ptr<APMPBEvent> APMEvent::protoEvent() const {
    auto proto = std::make_unique<APMPBEvent>();
    APMPBSetString(proto.get(), apmpb::Event::kName, name_);
    if (previousTimestamp_ > kEpsilon) {
        APMPBSetInt64(proto.get(), apmpb::Event::kPreviousTimestampMillis,
                      milliseconds(previousTimestamp_));
    }
    if (timestamp_ > kEpsilon) {
        APMPBSetInt64(proto.get(), apmpb::Event::kTimestampMillis, milliseconds(timestamp_));
    }
    APMPBSetRepeated(proto.get(), apmpb::Event::kParams, paramsToProto(parameters_, name_, false));
    return proto;
}

bool APMEvent::isRealtime() const {
    const auto found = parameters_.find(kRealtimeParameter);
    if (found == parameters_.end()) {
        return false;
    }
    if (!found->second.isInt64()) {
        APMMeasurement::monitor().logWithLevel(
            2, 16006, "Realtime parameter must be an int64. Event name", name_);
        return false;
    }
    return found->second.int64Value() == 1;
}
