#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/utilities/Date.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUArchivable.h"
#include "sdk/utilities/Value.h"

// Reads a keyed archive written by VDUKeyedArchiver, the way secure decoding does: the caller
// names the class it expects at each place, and an archive that holds anything else fails
// instead of producing an object of another class.
//
// Failures have the domain "NSCocoaErrorDomain" and code 4864: data that is not an archive, a
// stored class other than the one asked for, or a value of another kind than the decode call
// asks for. The first failure sticks: later decode calls answer nil or 0, and the object being
// decoded is dropped.
//
// One unarchiver serves one archive, on one thread.
class VDUKeyedUnarchiver {
  public:
    // Opens `data`. Fails when it is not a keyed archive; `*unarchiver` is then left unchanged.
    static sdk::Error unarchiverForReadingFromData(const sdk::Bytes& data,
                                                   std::unique_ptr<VDUKeyedUnarchiver>* unarchiver);

    // Decodes the root object of `data` as `objectClass`; on failure `*object` is null.
    static sdk::Error unarchivedObjectOfClass(const VDUArchiveClass& objectClass,
                                              const sdk::Bytes& data,
                                              std::shared_ptr<const VDUArchivable>* object);

    // The same, typed; see VDUArchiveClass::of.
    template <typename T>
    static sdk::Error unarchivedObjectOfClass(const sdk::Bytes& data,
                                              std::shared_ptr<const T>* object) {
        std::shared_ptr<const VDUArchivable> decoded;
        sdk::Error error = unarchivedObjectOfClass(VDUArchiveClass::of<T>(), data, &decoded);
        *object = std::dynamic_pointer_cast<const T>(decoded);
        return error;
    }

    // Decodes objects stored under the class name `storedName` with `objectClass`: a class that
    // was renamed is read as its new class. Asking for `objectClass` then accepts both names.
    void setClass(VDUArchiveClass objectClass, std::string_view storedName);

    // Decodes the root object as `objectClass`; on failure `*object` is null.
    sdk::Error decodeTopLevelObjectOfClass(const VDUArchiveClass& objectClass,
                                           std::shared_ptr<const VDUArchivable>* object);

    // Decoding calls for an object's `initWithCoder`. A missing key answers nil or 0 without
    // failing; a value of another kind fails the archive.
    bool containsValueForKey(std::string_view key) const;
    std::optional<std::string> decodeString(std::string_view key);
    std::int64_t decodeInteger(std::string_view key);
    std::optional<sdk::Date> decodeDate(std::string_view key);
    std::optional<sdk::Bytes> decodeData(std::string_view key);
    std::shared_ptr<const VDUArchivable> decodeObjectOfClass(const VDUArchiveClass& objectClass,
                                                             std::string_view key);
    template <typename T>
    std::shared_ptr<const T> decodeObjectOfClass(std::string_view key) {
        return std::dynamic_pointer_cast<const T>(
            decodeObjectOfClass(VDUArchiveClass::of<T>(), key));
    }

    // Fails the archive with `error` (the first failure is kept); for decoders that find the
    // fields unusable.
    void failWithError(sdk::Error error);

    // The first failure so far; OK when there was none.
    const sdk::Error& error() const { return error_; }

    VDUKeyedUnarchiver(const VDUKeyedUnarchiver&) = delete;
    VDUKeyedUnarchiver& operator=(const VDUKeyedUnarchiver&) = delete;

  private:
    explicit VDUKeyedUnarchiver(sdk::Value top) : top_(std::move(top)) {}

    std::shared_ptr<const VDUArchivable> decodeObject(const sdk::Value& stored,
                                                      const VDUArchiveClass& objectClass,
                                                      std::string_view key);
    // The current object's value for `key` when it is of `kind`; fails the archive when it is
    // of another kind. Null when absent or after a failure.
    const sdk::Value* valueForKey(std::string_view key, sdk::Value::Type kind);
    void failWrongClass(std::string_view key, std::string_view stored, std::string_view allowed);

    const sdk::Value top_;
    std::map<std::string, VDUArchiveClass, std::less<>> classes_;  // by stored class name
    std::vector<const sdk::Value::Dictionary*> stack_;  // the fields of the objects being decoded
    sdk::Error error_;
};
