#include "sdk/measurement/engine/APMQueryString.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "sdk/measurement/engine/APMMonitorContext.h"
#include "sdk/measurement/engine/APMStringUtil.h"

namespace {

bool isQueryAllowed(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/?";
    return c != '\0' && kAllowed.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string APMQueryPercentEncoded(std::string_view text) {
    std::string encoded;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isQueryAllowed(byte)) {
            encoded += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            encoded += escape;
        }
    }
    return encoded;
}

std::string apm_queryString(const sdk::Value::Dictionary& parameters) {
    std::string query;
    for (const auto& [key, value] : parameters) {
        if (!query.empty()) {
            query += '&';
        }
        query += APMQueryPercentEncoded(key);
        query += '=';
        query += APMQueryPercentEncoded(APMMonitorContext(value).description());
    }
    return query;
}

std::map<std::string, std::string, std::less<>> apm_dictionaryWithHttpArgumentsString(
    std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::map<std::string, std::string, std::less<>> arguments;
    // From the last piece to the first, so the first occurrence of a key is written last.
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        if (piece->empty()) {
            continue;
        }
        const std::size_t equals = piece->find('=');
        const std::optional<std::string> key =
            apm_stringByUnescapingFromURLArgument(piece->substr(0, equals));
        const std::optional<std::string> value =
            equals == std::string_view::npos
                ? std::optional<std::string>(std::string())
                : apm_stringByUnescapingFromURLArgument(piece->substr(equals + 1));
        if (key && value) {
            arguments[*key] = *value;
        }
    }
    return arguments;
}
