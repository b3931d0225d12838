#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Date.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUArchivable.h"
#include "sdk/utilities/Value.h"

// Writes an object and the objects it holds into a keyed archive: a binary property list
// {"$archiver": "VDUKeyedArchiver", "$version": 1, "$top": <object>}, where an object is
// {"$class": <name>, "$values": {<key>: <value>}} and a value is a string, an integer, a date,
// data or another object. An absent value (nil) writes nothing, so it decodes as nil again.
//
// One archiver serves one call of `archivedDataWithRootObject`; objects use it only from their
// `encodeWithCoder`.
class VDUKeyedArchiver {
  public:
    // Archives `root`. Fails with "NSCocoaErrorDomain" 4866 when a value has no archive form
    // (a date outside the property-list range, objects nested too deeply); `*data` is then left
    // unchanged.
    static sdk::Error archivedDataWithRootObject(const VDUArchivable& root, sdk::Bytes* data);

    void encodeString(const std::optional<std::string>& value, std::string_view key);
    void encodeInteger(std::int64_t value, std::string_view key);
    void encodeDate(const std::optional<sdk::Date>& value, std::string_view key);
    void encodeData(const std::optional<sdk::Bytes>& value, std::string_view key);
    // A null object writes nothing.
    void encodeObject(const VDUArchivable* object, std::string_view key);

    VDUKeyedArchiver(const VDUKeyedArchiver&) = delete;
    VDUKeyedArchiver& operator=(const VDUKeyedArchiver&) = delete;

  private:
    VDUKeyedArchiver() = default;
    // The archive form of `object`.
    static sdk::Value archiveObject(const VDUArchivable& object);

    sdk::Value::Dictionary values_;  // the fields of the object being encoded
};

// Archive keys and the error codes of keyed archives, shared with the unarchiver.
namespace vdu_archive {
inline constexpr std::string_view kArchiverKey = "$archiver";
inline constexpr std::string_view kArchiverName = "VDUKeyedArchiver";
inline constexpr std::string_view kVersionKey = "$version";
inline constexpr std::int64_t kVersion = 1;
inline constexpr std::string_view kTopKey = "$top";
inline constexpr std::string_view kClassKey = "$class";
inline constexpr std::string_view kValuesKey = "$values";
inline constexpr std::int64_t kCoderReadCorruptError = 4864;
inline constexpr std::int64_t kCoderInvalidValueError = 4866;
}  // namespace vdu_archive
