#include "sdk/promises/VPLValue.h"

#include <cstdio>

VPLValue::VPLValue(sdk::Error error)
    : storage_(error.ok() ? Storage() : Storage(std::move(error))) {}

VPLValue::VPLValue(std::shared_ptr<VPLPromise> promise)
    : storage_(promise == nullptr ? Storage() : Storage(std::move(promise))) {}

sdk::Error VPLValue::error() const {
    const sdk::Error* held = std::get_if<sdk::Error>(&storage_);
    return held == nullptr ? sdk::Error() : *held;
}

std::shared_ptr<VPLPromise> VPLValue::promise() const {
    const auto* held = std::get_if<std::shared_ptr<VPLPromise>>(&storage_);
    return held == nullptr ? nullptr : *held;
}

namespace {

bool sameError(const sdk::Error& a, const sdk::Error& b) {
    return a.domain() == b.domain() && a.code() == b.code() && a.userInfo() == b.userInfo();
}

std::string pointerText(const char* prefix, const void* pointer) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "<%s %p>", prefix, pointer);
    return buffer;
}

}  // namespace

bool operator==(const VPLValue& a, const VPLValue& b) {
    if (a.storage_.index() != b.storage_.index()) {
        return false;
    }
    if (const auto* error = std::get_if<sdk::Error>(&a.storage_)) {
        return sameError(*error, std::get<sdk::Error>(b.storage_));
    }
    if (const auto* object = std::get_if<VPLValue::Object>(&a.storage_)) {
        return object->pointer == std::get<VPLValue::Object>(b.storage_).pointer;
    }
    if (const auto* value = std::get_if<sdk::Value>(&a.storage_)) {
        return *value == std::get<sdk::Value>(b.storage_);
    }
    if (const auto* list = std::get_if<VPLValue::List>(&a.storage_)) {
        return *list == std::get<VPLValue::List>(b.storage_);
    }
    if (a.isPromise()) {
        return a.promise() == b.promise();
    }
    return true;  // both nil
}

std::string VPLValue::description() const {
    if (const auto* value = std::get_if<sdk::Value>(&storage_)) {
        return value->description();
    }
    if (const auto* error = std::get_if<sdk::Error>(&storage_)) {
        return error->ToString();
    }
    if (const auto* promise = std::get_if<std::shared_ptr<VPLPromise>>(&storage_)) {
        return pointerText("VPLPromise", promise->get());
    }
    if (const auto* object = std::get_if<Object>(&storage_)) {
        return pointerText("object", object->pointer.get());
    }
    if (const auto* list = std::get_if<List>(&storage_)) {
        std::string text = "(";
        for (std::size_t i = 0; i < list->size(); ++i) {
            text += (i == 0 ? "" : ", ") + (*list)[i].description();
        }
        return text + ")";
    }
    return "(null)";
}
