#include "sdk/utilities/VDUServiceOrigin.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.utilities.logger";
constexpr std::string_view kService = "[VoviduUtilities/ServiceOrigin]";
// An origin longer than any host name with a port is not one.
constexpr std::size_t kMaxOriginLength = 300;

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Dot-separated labels of letters, digits and "-", none empty.
bool isHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    bool labelEmpty = true;
    for (const char c : host) {
        if (c == '.') {
            if (labelEmpty) {
                return false;
            }
            labelEmpty = true;
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
            labelEmpty = false;
        } else {
            return false;
        }
    }
    return !labelEmpty;
}

// "127.a.b.c" with four decimal parts of at most 255.
bool isLoopbackIPv4(std::string_view host) {
    if (!host.starts_with("127.")) {
        return false;
    }
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t end = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, end - start);
        if (!isDigits(part) || part.size() > 3 || std::stoi(std::string(part)) > 255) {
            return false;
        }
        ++parts;
        start = end + 1;
    }
    return parts == 4;
}

bool isLoopback(std::string_view host) {
    return host == "localhost" || host == "[::1]" || isLoopbackIPv4(host);
}

}  // namespace

std::optional<std::string> VDUParseServiceOrigin(std::string_view text) {
    if (text.size() > kMaxOriginLength) {
        return std::nullopt;
    }
    std::string origin;
    for (const char c : text) {
        origin += lowered(c);
    }
    if (origin.ends_with("/")) {
        origin.pop_back();
    }
    bool secure = true;
    std::string_view rest = origin;
    if (rest.starts_with("https://")) {
        rest.remove_prefix(8);
    } else if (rest.starts_with("http://")) {
        rest.remove_prefix(7);
        secure = false;
    } else {
        return std::nullopt;
    }
    // The host, then an optional ":port"; an IPv6 host only as the loopback "[::1]".
    const std::size_t hostEnd =
        rest.starts_with("[::1]") ? 5 : std::min(rest.find(':'), rest.size());
    const std::string_view host = rest.substr(0, hostEnd);
    const std::string_view after = rest.substr(hostEnd);
    if (host != "[::1]" && !isHostName(host)) {
        return std::nullopt;
    }
    if (!after.empty()) {
        const std::string_view port = after.substr(1);
        if (!after.starts_with(":") || !isDigits(port) || port.size() > 5 ||
            std::stoi(std::string(port)) == 0 || std::stoi(std::string(port)) > 65535) {
            return std::nullopt;
        }
    }
    if (!secure && !isLoopback(host)) {
        return std::nullopt;
    }
    return origin;
}

std::optional<std::string> VDUServiceOriginFromEnvironment(const char* variable) {
    static std::mutex mutex;
    static std::map<std::string, std::optional<std::string>>& read =
        *new std::map<std::string, std::optional<std::string>>();  // lives for the process
    std::lock_guard lock(mutex);
    if (const auto found = read.find(variable); found != read.end()) {
        return found->second;
    }
    std::optional<std::string> origin;
    if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
        origin = VDUParseServiceOrigin(value);
        if (!origin) {
            VDULoggerLogWarning(kSubsystem, kService, false, "I-VDU000100",
                                "Ignoring %@: a service origin is https://host[:port], or "
                                "http:// for a loopback host",
                                std::string(variable));
        }
    }
    read.emplace(variable, origin);
    return origin;
}
