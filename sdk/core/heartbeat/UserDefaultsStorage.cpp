#include "sdk/core/heartbeat/UserDefaultsStorage.h"

#include "platform/preferences/PreferencesStore.h"

namespace heartbeat {

std::optional<StorageError> UserDefaultsStorage::read(sdk::Bytes* out) {
    const auto suite = platform::PreferencesStore::suite(suiteName_);
    const auto value = suite ? suite->get(key_) : std::nullopt;
    const auto* data = value ? value->getIf<platform::PlistData>() : nullptr;
    if (data == nullptr) {
        return StorageError::readError;
    }
    *out = data->bytes;
    return std::nullopt;
}

std::optional<StorageError> UserDefaultsStorage::write(const std::optional<sdk::Bytes>& data) {
    const auto suite = platform::PreferencesStore::suite(suiteName_);
    if (!suite) {
        return std::nullopt;
    }
    // User defaults report no write failure; the store keeps its previous file then.
    std::error_code ignored =
        data ? suite->set(key_, platform::PlistData{*data}) : suite->remove(key_);
    (void)ignored;
    return std::nullopt;
}

}  // namespace heartbeat
