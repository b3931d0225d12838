#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cb {

// The ad server's answer to the current-ad request, as decoded from JSON. These types are only
// decoded, never encoded or shown; AdService::makeAd() turns them into an Ad.
//
// Decoding is strict: a string is a JSON string; an integer is a JSON integer in the signed
// 64-bit range or a number without fraction in that range (10.0, not 10.5); an optional member
// that is absent or null has no value. A required member that is absent or null, or any listed
// member of the wrong type (also one the ad's kind does not use), makes the answer undecodable.
// Members not listed are ignored.

// Answers larger than this are not decoded.
inline constexpr std::size_t kMaxAdAnswerBytes = 1u << 20;

// "meta"."tracking".
struct TrackingPayload {
    std::optional<std::string> impressionURL;  // "impression_url"
    std::optional<std::string> clickURL;       // "click_url"
};

// "meta".
struct MetaPayload {
    std::optional<int64_t> ttlSeconds;        // "ttl_seconds"
    std::optional<TrackingPayload> tracking;  // "tracking"
};

// "ad".
struct AdPayload {
    std::string kind;                     // "kind", required
    std::string id;                       // "id", required
    std::string link;                     // "link", required
    std::string locale;                   // "locale", required
    std::optional<std::string> iconURL;   // "icon_url"
    std::optional<std::string> text;      // "text"
    std::optional<std::string> imageURL;  // "image_url"
    std::optional<int64_t> width;         // "width"
    std::optional<int64_t> height;        // "height"
    std::optional<std::string> alt;       // "alt"
};

// The whole answer.
struct AdEnvelope {
    std::optional<int64_t> schemaVersion;  // "schema_version"; there is no version check
    AdPayload ad;                          // "ad", required
    std::optional<MetaPayload> meta;       // "meta"
};

// Decodes an answer body. Returns nullopt when the body is over kMaxAdAnswerBytes, is not JSON,
// or breaks the rules above.
std::optional<AdEnvelope> decodeAdEnvelope(std::string_view body);

}  // namespace cb
