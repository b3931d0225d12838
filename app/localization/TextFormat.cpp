#include "app/localization/TextFormat.h"

namespace cb {

std::string TextArgument::toString() const {
    if (const int64_t* number = std::get_if<int64_t>(&value_)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(value_);
}

std::string formatText(std::string_view format, std::span<const TextArgument> arguments) {
    std::string result;
    result.reserve(format.size());
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        char following = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c != '%' || following == '\0') {
            result += c;
        } else if (following == '%') {
            result += '%';
            ++i;
        } else if ((following == 'd' || following == '@') && next != arguments.end()) {
            result += next->toString();
            ++next;
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace cb
