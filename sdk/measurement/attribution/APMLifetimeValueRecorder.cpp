#include "sdk/measurement/attribution/APMLifetimeValueRecorder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// 2^63: the first double above the int64 range; -2^63 is the range's lower end.
constexpr double kTwoTo63 = 9223372036854775808.0;

const APMValue* parameter(const APMEvent& event, std::string_view name) {
    const auto it = event.parameters().find(name);
    return it == event.parameters().end() ? nullptr : &it->second;
}

APMMonitorContext contextOf(const APMValue* value) {
    return value ? APMMonitorContext(value->value()) : APMMonitorContext();
}

// A finite double inside the int64 range, truncated toward zero; none for anything else.
std::optional<std::int64_t> int64InRange(double value) {
    if (!std::isfinite(value) || value >= kTwoTo63 || value < -kTwoTo63) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

// The event's amount in micros; none when it does not fit an int64.
std::optional<std::int64_t> amountInMicros(const APMEvent& event, const APMValue& value) {
    if (event.name() == "_iap") {
        return value.isInt64() ? std::optional(value.int64Value())
                               : int64InRange(value.doubleValue());
    }
    const double units =
        value.isInt64() ? static_cast<double>(value.int64Value()) : value.doubleValue();
    const std::optional<std::int64_t> micros = int64InRange(std::round(units * 1000000.0));
    if (!micros || event.name() != "refund") {
        return micros;
    }
    if (*micros == std::numeric_limits<std::int64_t>::min()) {
        return std::nullopt;  // its negation is not an int64
    }
    return -*micros;
}

std::string upperCase(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

// Three ASCII letters, in either case: what "_ltv_" and the upper-cased code can name.
bool isCurrencyCode(const std::string& code) {
    return code.size() == 3 && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

bool outOfBounds() {
    APMMonitor::shared().logWithLevel(1, 22002,
                                      "Cannot record transaction with value that is out of bounds");
    return false;
}

// Writes the property `name` = `micros` now; logs the outcome.
bool writeProperty(APMLifetimeValueStore& database, const std::string& name, std::int64_t micros) {
    APMMonitor& monitor = APMMonitor::shared();
    const std::optional<APMUserAttribute> property =
        APMUserAttribute::initWithOrigin("auto", name, APMValue(micros), APMCurrentTimeInterval());
    sdk::Error error;
    if (!property || !database.updateUserAttribute(*property, &error)) {
        monitor.logWithLevel(
            1, 22005, "Unable to upsert Lifetime Value User Attribute in database. Name, error",
            APMMonitor::encodedStringWithContextObject(name), error);
        return false;
    }
    monitor.logWithLevel(7, 22006, "Lifetime value has been updated in database",
                         name + " = " + std::to_string(micros));
    return true;
}

}  // namespace

bool APMLifetimeValueRecorder::recordLifetimeValueToDatabase(APMLifetimeValueStore& database,
                                                             const APMEvent& event) {
    if (!isPurchaseEvent(event)) {
        return true;
    }
    APMMonitor& monitor = APMMonitor::shared();
    const APMValue* currency = parameter(event, "currency");
    // Checked in full before anything is read or deleted: a code the property name cannot
    // hold ("a b", three non-ASCII letters) must not cost the oldest stored total.
    if (!currency || !currency->isString() || !isCurrencyCode(*currency->stringValue())) {
        monitor.logWithLevel(1, 22000, "Cannot record transaction with invalid currency code",
                             contextOf(currency));
        return true;
    }
    const APMValue* value = parameter(event, "value");
    if (!value || (!value->isDouble() && !value->isInt64())) {
        monitor.logWithLevel(1, 22001, "Cannot record transaction with invalid transaction value",
                             contextOf(value));
        return true;
    }
    const std::optional<std::int64_t> amount = amountInMicros(event, *value);
    if (!amount) {
        return outOfBounds();
    }
    const std::string name = "_ltv_" + upperCase(*currency->stringValue());
    sdk::Error error;
    const std::optional<std::vector<APMUserAttribute>> stored =
        database.allLifetimeValueUserAttributes(&error);
    if (!stored) {
        monitor.logWithLevel(1, 22003, "Failed to query all Lifetime Value User properties. Error",
                             error);
        return false;
    }
    for (const APMUserAttribute& property : *stored) {
        if (property.name() == name) {
            std::int64_t sum = 0;
            if (__builtin_add_overflow(property.value().int64Value(), *amount, &sum)) {
                return outOfBounds();
            }
            return writeProperty(database, name, sum);
        }
    }
    const auto maxCurrencies =
        static_cast<std::size_t>(APMRemoteConfig::current()->maxTrackedCurrencies());
    if (!stored->empty() && stored->size() >= maxCurrencies &&
        !database.deleteUserAttributeWithName(stored->back().name(), &error)) {
        monitor.logWithLevel(1, 22004, "Unable to delete Lifetime Value User property. Name, error",
                             APMMonitor::encodedStringWithContextObject(stored->back().name()),
                             error);
        return false;
    }
    return writeProperty(database, name, *amount);
}

bool APMLifetimeValueRecorder::isPurchaseEvent(const APMEvent& event) {
    return event.name() == "_iap" || isEcommercePurchaseEvent(event);
}

bool APMLifetimeValueRecorder::isEcommercePurchaseEvent(const APMEvent& event) {
    const std::string& name = event.name();
    return name == "ecommerce_purchase" || name == "purchase" || name == "refund";
}
