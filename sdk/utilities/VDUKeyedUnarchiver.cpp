#include "sdk/utilities/VDUKeyedUnarchiver.h"

#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/ValueJson.h"
#include "sdk/utilities/ValuePlist.h"

using namespace vdu_archive;

namespace {

sdk::Error corrupt(std::string message) {
    return sdk::Error(std::string(sdk::kCocoaErrorDomain), kCoderReadCorruptError,
                      std::move(message));
}

std::string_view kindName(sdk::Value::Type type) {
    switch (type) {
        case sdk::Value::Type::kString:
            return "string";
        case sdk::Value::Type::kInt:
            return "integer";
        case sdk::Value::Type::kDate:
            return "date";
        case sdk::Value::Type::kBytes:
            return "data";
        case sdk::Value::Type::kDictionary:
            return "object";
        default:
            return "unknown";
    }
}

}  // namespace

sdk::Error VDUKeyedUnarchiver::unarchiverForReadingFromData(
    const sdk::Bytes& data, std::unique_ptr<VDUKeyedUnarchiver>* unarchiver) {
    sdk::Value archive;
    sdk::Error read = sdk::valueFromPlist(data, &archive);
    if (!read.ok()) {
        return corrupt("The archive couldn’t be read because it isn’t in the correct format: " +
                       read.message());
    }
    const sdk::Value* archiver = archive.find(kArchiverKey);
    const sdk::Value* version = archive.find(kVersionKey);
    const sdk::Value* top = archive.find(kTopKey);
    if (archiver == nullptr || archiver->string() == nullptr ||
        *archiver->string() != kArchiverName || version == nullptr ||
        version->intValue() != kVersion || top == nullptr) {
        return corrupt("The data isn’t a keyed archive of a known version.");
    }
    unarchiver->reset(new VDUKeyedUnarchiver(*top));
    return sdk::Error::OK();
}

sdk::Error VDUKeyedUnarchiver::unarchivedObjectOfClass(
    const VDUArchiveClass& objectClass, const sdk::Bytes& data,
    std::shared_ptr<const VDUArchivable>* object) {
    object->reset();
    std::unique_ptr<VDUKeyedUnarchiver> unarchiver;
    sdk::Error opened = unarchiverForReadingFromData(data, &unarchiver);
    if (!opened.ok()) {
        return opened;
    }
    return unarchiver->decodeTopLevelObjectOfClass(objectClass, object);
}

void VDUKeyedUnarchiver::setClass(VDUArchiveClass objectClass, std::string_view storedName) {
    classes_.insert_or_assign(std::string(storedName), std::move(objectClass));
}

sdk::Error VDUKeyedUnarchiver::decodeTopLevelObjectOfClass(
    const VDUArchiveClass& objectClass, std::shared_ptr<const VDUArchivable>* object) {
    *object = decodeObject(top_, objectClass, "root");
    if (error_.ok() && *object == nullptr) {
        failWithError(
            corrupt("The root object of class '" + objectClass.name + "' could not be decoded."));
    }
    if (!error_.ok()) {
        object->reset();
    }
    return error_;
}

std::shared_ptr<const VDUArchivable> VDUKeyedUnarchiver::decodeObject(
    const sdk::Value& stored, const VDUArchiveClass& objectClass, std::string_view key) {
    if (!error_.ok()) {
        return nullptr;
    }
    const sdk::Value* className = stored.find(kClassKey);
    const sdk::Value* values = stored.find(kValuesKey);
    if (className == nullptr || className->string() == nullptr || values == nullptr ||
        values->dictionary() == nullptr) {
        failWithError(corrupt("The value for key '" + std::string(key) + "' is not an object."));
        return nullptr;
    }
    const std::string& name = *className->string();
    auto mapped = classes_.find(name);
    const VDUArchiveClass& decoder = mapped != classes_.end() ? mapped->second : objectClass;
    if (decoder.name != objectClass.name ||
        (mapped == classes_.end() && name != objectClass.name)) {
        failWrongClass(key, name, objectClass.name);
        return nullptr;
    }
    stack_.push_back(values->dictionary());
    std::shared_ptr<const VDUArchivable> object = decoder.decode(*this);
    stack_.pop_back();
    return error_.ok() ? object : nullptr;
}

const sdk::Value* VDUKeyedUnarchiver::valueForKey(std::string_view key, sdk::Value::Type kind) {
    if (!error_.ok() || stack_.empty()) {
        return nullptr;
    }
    auto found = stack_.back()->find(key);
    if (found == stack_.back()->end()) {
        return nullptr;
    }
    if (found->second.type() != kind) {
        failWrongClass(key, kindName(found->second.type()), kindName(kind));
        return nullptr;
    }
    return &found->second;
}

void VDUKeyedUnarchiver::failWrongClass(std::string_view key, std::string_view stored,
                                        std::string_view allowed) {
    failWithError(corrupt("value for key '" + std::string(key) + "' was of unexpected class '" +
                          std::string(stored) + "'. Allowed class is '" + std::string(allowed) +
                          "'."));
}

bool VDUKeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return !stack_.empty() && stack_.back()->find(key) != stack_.back()->end();
}

std::optional<std::string> VDUKeyedUnarchiver::decodeString(std::string_view key) {
    const sdk::Value* value = valueForKey(key, sdk::Value::Type::kString);
    return value ? std::optional<std::string>(*value->string()) : std::nullopt;
}

std::int64_t VDUKeyedUnarchiver::decodeInteger(std::string_view key) {
    const sdk::Value* value = valueForKey(key, sdk::Value::Type::kInt);
    return value ? *value->intValue() : 0;
}

std::optional<sdk::Date> VDUKeyedUnarchiver::decodeDate(std::string_view key) {
    const sdk::Value* value = valueForKey(key, sdk::Value::Type::kDate);
    return value ? value->dateValue() : std::nullopt;
}

std::optional<sdk::Bytes> VDUKeyedUnarchiver::decodeData(std::string_view key) {
    const sdk::Value* value = valueForKey(key, sdk::Value::Type::kBytes);
    return value ? std::optional<sdk::Bytes>(*value->bytes()) : std::nullopt;
}

std::shared_ptr<const VDUArchivable> VDUKeyedUnarchiver::decodeObjectOfClass(
    const VDUArchiveClass& objectClass, std::string_view key) {
    const sdk::Value* value = valueForKey(key, sdk::Value::Type::kDictionary);
    return value ? decodeObject(*value, objectClass, key) : nullptr;
}

void VDUKeyedUnarchiver::failWithError(sdk::Error error) {
    if (error_.ok()) {
        error_ = std::move(error);
    }
}
