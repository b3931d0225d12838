#pragma once

#include <QUrl>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace cb {

// A text ad: one line of text (never empty) with an optional icon.
struct AdText {
    std::optional<QUrl> iconURL;
    std::string text;

    bool operator==(const AdText&) const = default;
};

// An image ad of a given size (both above 0) with an optional alternative text.
struct AdBanner {
    QUrl imageURL;
    int64_t width = 0;
    int64_t height = 0;
    std::optional<std::string> alt;  // absent and "" are different values

    bool operator==(const AdBanner&) const = default;
};

// What an ad shows.
using AdContent = std::variant<AdText, AdBanner>;

// One house ad as the ad server sent it. Equal when every field is equal.
struct Ad {
    std::string id;      // sent back in the click report
    QUrl link;           // opened by a click
    std::string locale;  // the ad's language tag, as sent; only compared
    AdContent content;
    std::optional<QUrl> clickURL;       // where clicks are reported, when the server names it
    std::optional<QUrl> impressionURL;  // kept and compared; never requested

    bool operator==(const Ad&) const = default;
};

// Parses `text` as an address: it must not be empty and must be a valid URL under Qt's strict
// parsing. A relative reference is kept as it is. Returns nullopt otherwise.
std::optional<QUrl> parseURL(std::string_view text);

}  // namespace cb
