#include "sdk/utilities/Error.h"

#include <utility>

namespace sdk {

namespace {

const std::string& emptyString() {
    static const std::string* const empty = new std::string();
    return *empty;
}

const Value::Dictionary& emptyDictionary() {
    static const Value::Dictionary* const empty = new Value::Dictionary();
    return *empty;
}

}  // namespace

Error::Error(std::string domain, std::int64_t code, std::string message,
             Value::Dictionary userInfo) {
    if (!message.empty()) {
        userInfo.insert_or_assign(std::string(kLocalizedDescriptionKey), Value(std::move(message)));
    }
    rep_ = std::make_shared<const Rep>(Rep{std::move(domain), code, std::move(userInfo)});
}

const std::string& Error::domain() const {
    return ok() ? emptyString() : rep_->domain;
}

std::string Error::message() const {
    const Value* value = userInfoValue(kLocalizedDescriptionKey);
    if (value != nullptr && value->string() != nullptr) {
        return *value->string();
    }
    return {};
}

std::string Error::localizedDescription() const {
    if (ok()) {
        return {};
    }
    std::string text = message();
    if (!text.empty()) {
        return text;
    }
    return "The operation couldn\u2019t be completed. (" + rep_->domain + " error " +
           std::to_string(rep_->code) + ".)";
}

const Value::Dictionary& Error::userInfo() const {
    return ok() ? emptyDictionary() : rep_->userInfo;
}

const Value* Error::userInfoValue(std::string_view key) const {
    if (ok()) {
        return nullptr;
    }
    auto it = rep_->userInfo.find(key);
    return it == rep_->userInfo.end() ? nullptr : &it->second;
}

std::string Error::ToString() const {
    if (ok()) {
        return "OK";
    }
    std::string text = rep_->domain + " error " + std::to_string(rep_->code);
    const std::string detail = message();
    if (!detail.empty()) {
        text += ": " + detail;
    }
    return text;
}

}  // namespace sdk
