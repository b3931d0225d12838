#include "sdk/utilities/VDUKeyedArchiver.h"

#include "sdk/utilities/ValueJson.h"
#include "sdk/utilities/ValuePlist.h"

using namespace vdu_archive;

sdk::Error VDUKeyedArchiver::archivedDataWithRootObject(const VDUArchivable& root,
                                                        sdk::Bytes* data) {
    sdk::Value archive(sdk::Value::Dictionary{{std::string(kArchiverKey), kArchiverName},
                                              {std::string(kVersionKey), kVersion},
                                              {std::string(kTopKey), archiveObject(root)}});
    sdk::Error written = sdk::plistFromValue(archive, sdk::PlistFormat::kBinary, data);
    if (!written.ok()) {
        return sdk::Error(std::string(sdk::kCocoaErrorDomain), kCoderInvalidValueError,
                          "The object could not be archived: " + written.message());
    }
    return sdk::Error::OK();
}

sdk::Value VDUKeyedArchiver::archiveObject(const VDUArchivable& object) {
    VDUKeyedArchiver coder;
    object.encodeWithCoder(coder);
    return sdk::Value::Dictionary{{std::string(kClassKey), object.archiveClassName()},
                                  {std::string(kValuesKey), std::move(coder.values_)}};
}

void VDUKeyedArchiver::encodeString(const std::optional<std::string>& value, std::string_view key) {
    if (value) {
        values_.insert_or_assign(std::string(key), *value);
    }
}

void VDUKeyedArchiver::encodeInteger(std::int64_t value, std::string_view key) {
    values_.insert_or_assign(std::string(key), value);
}

void VDUKeyedArchiver::encodeDate(const std::optional<sdk::Date>& value, std::string_view key) {
    if (value) {
        values_.insert_or_assign(std::string(key), *value);
    }
}

void VDUKeyedArchiver::encodeData(const std::optional<sdk::Bytes>& value, std::string_view key) {
    if (value) {
        values_.insert_or_assign(std::string(key), *value);
    }
}

void VDUKeyedArchiver::encodeObject(const VDUArchivable* object, std::string_view key) {
    if (object != nullptr) {
        values_.insert_or_assign(std::string(key), archiveObject(*object));
    }
}
