#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStatementValue.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

namespace Slot = apmpb::RuntimeEntity;

}  // namespace

APMPValueRef APMPRuntimeEntityConverter::stringValueFromRuntimeEntity(
    const NANOMessageBase& entity) {
    // Raw bytes, so that malformed UTF-8 still reads (with replacement characters).
    const std::optional<sdk::Bytes> bytes = APMPBGetBytes(&entity, Slot::kStringValue);
    if (!bytes) {
        return APMPStringValue::make(u"");
    }
    return APMPStringValue::make(APMPFromUTF8(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())));
}

APMPValueRef APMPRuntimeEntityConverter::numberValueFromRuntimeEntity(
    const NANOMessageBase& entity) {
    if (!APMPBHasField(&entity, Slot::kNumberValue)) {
        return APMPNumberValue::make(std::numeric_limits<double>::quiet_NaN());
    }
    return APMPNumberValue::make(APMPBGetDouble(&entity, Slot::kNumberValue));
}

APMPValueRef APMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(
    const NANOMessageBase& entity) {
    return APMPBoolean(APMPBGetBool(&entity, Slot::kBooleanValue));
}

APMPValueRef APMPRuntimeEntityConverter::statementValueFromRuntimeEntity(
    const NANOMessageBase& entity, sdk::Error& error) {
    return fromStatement(entity, error, 0);
}

APMPValueRef APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(
    const NANOMessageBase& entity, sdk::Error& error) {
    return fromEntity(entity, error, 0);
}

APMPValueRef APMPRuntimeEntityConverter::fromEntity(const NANOMessageBase& entity,
                                                    sdk::Error& error, int depth) {
    switch (APMPBGetInt32(&entity, Slot::kType)) {
        case Slot::Type::kString:
            return stringValueFromRuntimeEntity(entity);
        case Slot::Type::kNumber:
            return numberValueFromRuntimeEntity(entity);
        case Slot::Type::kBoolean:
            return booleanValueFromRuntimeEntity(entity);
        case Slot::Type::kStatement:
            return fromStatement(entity, error, depth);
        default:
            error = APMPError(APMPErrorCode::kInvalidEntityType);
            return APMPUndefined();
    }
}

APMPValueRef APMPRuntimeEntityConverter::fromStatement(const NANOMessageBase& entity,
                                                       sdk::Error& error, int depth) {
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    const std::optional<sdk::Bytes> name = APMPBGetBytes(&entity, Slot::kFunctionName);
    if (!name) {
        error = APMPError(APMPErrorCode::kStatementWithoutName);
        return APMPUndefined();
    }
    // The arguments are read in place: a copy per level would cost size times depth.
    APMPValueList arguments;
    APMPBVisitRepeatedMessages(&entity, Slot::kValue, [&](const NANOMessageBase& argument) {
        arguments.push_back(fromEntity(argument, error, depth + 1));
        return error.ok();
    });
    if (!error.ok()) {
        return APMPUndefined();
    }
    return std::make_shared<APMPStatementValue>(
        APMPFromUTF8(std::string_view(reinterpret_cast<const char*>(name->data()), name->size())),
        std::move(arguments));
}

APMPValueRef APMPRuntimeEntityConverter::runtimeValueFromObject(const sdk::Value& object,
                                                                const APMPScope& scope,
                                                                sdk::Error& error) {
    return fromObject(object, scope, error, 0);
}

std::optional<sdk::Value> APMPRuntimeEntityConverter::objectFromRuntimeValue(
    const APMPRuntimeValue& value, sdk::Error& error) {
    return toObject(value, error, 0);
}

std::optional<sdk::Value::Dictionary> APMPRuntimeEntityConverter::dictionaryFromMapValue(
    const APMPMapValue& map, sdk::Error& error) {
    return toDictionary(map, error, 0);
}

APMPValueRef APMPRuntimeEntityConverter::fromObject(const sdk::Value& object,
                                                    const APMPScope& scope, sdk::Error& error,
                                                    int depth) {
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return APMPUndefined();
    }
    switch (object.type()) {
        case sdk::Value::Type::kNull:
            return APMPNull();
        case sdk::Value::Type::kBool:
            return APMPBoolean(*object.boolValue());
        case sdk::Value::Type::kInt:
        case sdk::Value::Type::kDouble:
            return APMPNumberValue::make(*object.numberAsDouble());
        case sdk::Value::Type::kString: {
            APMPValueRef string =
                APMPStringValue::makeInScope(APMPFromUTF8(*object.string()), &scope, error);
            return error.ok() ? string : APMPUndefined();
        }
        case sdk::Value::Type::kDictionary: {
            auto map = APMPObjectManager::mapValueWithScope(scope);
            for (const auto& [key, entry] : *object.dictionary()) {
                APMPValueRef value = fromObject(entry, scope, error, depth + 1);
                if (error.ok()) {
                    error = map->propertyMap().setValue(std::move(value), APMPFromUTF8(key));
                }
                if (!error.ok()) {
                    return APMPUndefined();
                }
            }
            return map;
        }
        case sdk::Value::Type::kArray: {
            APMPValueList elements;
            for (const auto& entry : *object.array()) {
                elements.push_back(fromObject(entry, scope, error, depth + 1));
                if (!error.ok()) {
                    return APMPUndefined();
                }
            }
            APMPValueRef array =
                APMPObjectManager::arrayValueWithArray(std::move(elements), scope, error);
            return error.ok() ? array : APMPUndefined();
        }
        case sdk::Value::Type::kBytes:
        case sdk::Value::Type::kDate:
            break;
    }
    error = APMPError(APMPErrorCode::kUnsupportedObject);
    return APMPUndefined();
}

// GCC 12 takes the sdk::Value moved into each result here, once its move is inlined, for maybe
// uninitialized; each is built whole before it moves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
std::optional<sdk::Value> APMPRuntimeEntityConverter::toObject(const APMPRuntimeValue& value,
                                                               sdk::Error& error, int depth) {
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return std::nullopt;
    }
    switch (value.kind()) {
        case APMPValueKind::kNull:
            return std::nullopt;
        case APMPValueKind::kUndefined:
            return sdk::Value("");
        case APMPValueKind::kMap: {
            auto dictionary = toDictionary(static_cast<const APMPMapValue&>(value), error, depth);
            if (!dictionary) {
                return std::nullopt;
            }
            return sdk::Value(std::move(*dictionary));
        }
        case APMPValueKind::kArray: {
            sdk::Value::Array array;
            for (const auto& element : static_cast<const APMPArrayValue&>(value).allElements()) {
                std::optional<sdk::Value> converted = toObject(*element, error, depth + 1);
                if (!error.ok()) {
                    return std::nullopt;
                }
                if (converted) {
                    array.push_back(std::move(*converted));
                }
            }
            return sdk::Value(std::move(array));
        }
        default:
            break;
    }
    sdk::Error numberError;
    const double number = value.doubleValueOrError(numberError);
    if (numberError.ok() && !std::isnan(number)) {
        return sdk::Value(number);
    }
    const std::u16string text = value.stringValueOrError(error);
    if (!error.ok()) {
        return std::nullopt;
    }
    return sdk::Value(APMPToUTF8(text));
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

std::optional<sdk::Value::Dictionary> APMPRuntimeEntityConverter::toDictionary(
    const APMPMapValue& map, sdk::Error& error, int depth) {
    sdk::Value::Dictionary dictionary;
    for (const auto& name : map.propertyMap().allNames()) {
        std::optional<sdk::Value> converted =
            toObject(*map.propertyMap().valueForName(name), error, depth + 1);
        if (!error.ok()) {
            return std::nullopt;
        }
        if (converted) {
            dictionary.insert_or_assign(APMPToUTF8(name), std::move(*converted));
        }
    }
    return dictionary;
}
