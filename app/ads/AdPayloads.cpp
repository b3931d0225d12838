#include "app/ads/AdPayloads.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace cb {

namespace {

using Json = nlohmann::json;

// The parser keeps its own stack and the value tree is freed without recursion, so deeply
// nested input within the size cap cannot exhaust the call stack; only the few members read
// below are looked at.

// Returns the member `key` of `object`, or null when it is absent or JSON null.
const Json* member(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

// Reads an optional string member into `out`. Returns false when it holds another type.
bool readString(const Json& object, const char* key, std::optional<std::string>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_string()) {
        return false;
    }
    out = value->get<std::string>();
    return true;
}

// Reads a required string member. Returns false when it is absent, null or of another type.
bool readRequiredString(const Json& object, const char* key, std::string& out) {
    std::optional<std::string> value;
    if (!readString(object, key, value) || !value) {
        return false;
    }
    out = std::move(*value);
    return true;
}

// Reads an optional integer member. Returns false when it holds anything but a whole number in
// the signed 64-bit range.
bool readInteger(const Json& object, const char* key, std::optional<int64_t>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (value->is_number_unsigned()) {
        const uint64_t number = value->get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return false;
        }
        out = static_cast<int64_t>(number);
        return true;
    }
    if (value->is_number_integer()) {
        out = value->get<int64_t>();
        return true;
    }
    if (value->is_number_float()) {
        const double number = value->get<double>();
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(number) || std::trunc(number) != number || number < -kLimit ||
            number >= kLimit) {
            return false;
        }
        out = static_cast<int64_t>(number);
        return true;
    }
    return false;
}

// Returns the optional object member `key` in `out` (null when absent). Returns false when it
// holds another type.
bool readObject(const Json& object, const char* key, const Json*& out) {
    out = member(object, key);
    return out == nullptr || out->is_object();
}

std::optional<TrackingPayload> decodeTracking(const Json& object) {
    TrackingPayload tracking;
    if (!readString(object, "impression_url", tracking.impressionURL) ||
        !readString(object, "click_url", tracking.clickURL)) {
        return std::nullopt;
    }
    return tracking;
}

std::optional<MetaPayload> decodeMeta(const Json& object) {
    MetaPayload meta;
    const Json* tracking = nullptr;
    if (!readInteger(object, "ttl_seconds", meta.ttlSeconds) ||
        !readObject(object, "tracking", tracking)) {
        return std::nullopt;
    }
    if (tracking != nullptr) {
        meta.tracking = decodeTracking(*tracking);
        if (!meta.tracking) {
            return std::nullopt;
        }
    }
    return meta;
}

std::optional<AdPayload> decodeAd(const Json& object) {
    AdPayload ad;
    const bool ok =
        readRequiredString(object, "kind", ad.kind) && readRequiredString(object, "id", ad.id) &&
        readRequiredString(object, "link", ad.link) &&
        readRequiredString(object, "locale", ad.locale) &&
        readString(object, "icon_url", ad.iconURL) && readString(object, "text", ad.text) &&
        readString(object, "image_url", ad.imageURL) && readInteger(object, "width", ad.width) &&
        readInteger(object, "height", ad.height) && readString(object, "alt", ad.alt);
    if (!ok) {
        return std::nullopt;
    }
    return ad;
}

}  // namespace

std::optional<AdEnvelope> decodeAdEnvelope(std::string_view body) {
    if (body.size() > kMaxAdAnswerBytes) {
        return std::nullopt;
    }
    const Json root = Json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object()) {
        return std::nullopt;  // also a parse error, which yields a discarded value
    }
    AdEnvelope envelope;
    const Json* ad = nullptr;
    const Json* meta = nullptr;
    if (!readInteger(root, "schema_version", envelope.schemaVersion) ||
        !readObject(root, "ad", ad) || ad == nullptr || !readObject(root, "meta", meta)) {
        return std::nullopt;
    }
    std::optional<AdPayload> payload = decodeAd(*ad);
    if (!payload) {
        return std::nullopt;
    }
    envelope.ad = std::move(*payload);
    if (meta != nullptr) {
        envelope.meta = decodeMeta(*meta);
        if (!envelope.meta) {
            return std::nullopt;
        }
    }
    return envelope;
}

}  // namespace cb
