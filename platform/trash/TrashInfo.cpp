#include "platform/trash/TrashInfo.h"

#include <cstdio>

namespace platform {

std::string encodeTrashInfoPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0xF];
        }
    }
    return encoded;
}

std::string trashInfoDate(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string trashInfoText(std::string_view path, std::time_t when) {
    return "[Trash Info]\nPath=" + encodeTrashInfoPath(path) +
           "\nDeletionDate=" + trashInfoDate(when) + "\n";
}

}  // namespace platform
