#include "sdk/measurement/engine/APMStringUtil.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `text[at]`. Returns its length in bytes, or 0 when the bytes there
// do not form a well-formed sequence.
std::size_t decodeAt(std::string_view text, std::size_t at, char32_t* out) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *out = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *out = value;
    return length;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool apm_isValidUTF8(std::string_view text) {
    char32_t ignored = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = decodeAt(text, at, &ignored);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

bool apm_isBitEnabledAtIndex(std::string_view bits, std::int64_t index) {
    return apm_characterAtUTF16Index(bits, index) == "1";
}

std::size_t apm_UTF16Length(std::string_view text) {
    std::size_t units = 0;
    char32_t value = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = decodeAt(text, at, &value);
        units += length != 0 && value > 0xFFFF ? 2 : 1;
        at += length == 0 ? 1 : length;
    }
    return units;
}

std::optional<std::string> apm_characterAtUTF16Index(std::string_view text, std::int64_t index) {
    static constexpr std::string_view kReplacementUTF8 = "\xEF\xBF\xBD";
    if (index < 0) {
        return std::nullopt;
    }
    std::uint64_t unit = 0;
    char32_t value = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = decodeAt(text, at, &value);
        const std::uint64_t units = length != 0 && value > 0xFFFF ? 2 : 1;
        const auto wanted = static_cast<std::uint64_t>(index);
        if (wanted < unit + units) {
            if (length == 0 || wanted != unit) {
                return std::string(kReplacementUTF8);
            }
            return std::string(text.substr(at, length));
        }
        unit += units;
        at += length == 0 ? 1 : length;
    }
    return std::nullopt;
}

std::optional<std::string> apm_stringByUnescapingFromURLArgument(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '+') {
            decoded += ' ';
        } else if (c != '%') {
            decoded += c;
        } else {
            if (text.size() - at < 3) {
                return std::nullopt;
            }
            const int high = hexDigit(text[at + 1]);
            const int low = hexDigit(text[at + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            decoded += static_cast<char>(high * 16 + low);
            at += 2;
        }
    }
    if (!apm_isValidUTF8(decoded)) {
        return std::nullopt;
    }
    return decoded;
}

std::size_t apm_UTF32Length(std::string_view text) {
    std::size_t count = 0;
    char32_t ignored = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const std::size_t length = decodeAt(text, at, &ignored);
        at += length == 0 ? 1 : length;
    }
    return count;
}

bool apm_getUTF32Bytes(std::string_view text, std::span<std::uint8_t> buffer) {
    std::size_t written = 0;
    for (std::size_t at = 0; at < text.size() && buffer.size() - written >= 4;) {
        char32_t value = 0;
        const std::size_t length = decodeAt(text, at, &value);
        if (length == 0) {
            value = kReplacementCharacter;
        }
        at += length == 0 ? 1 : length;
        for (int shift = 0; shift < 32; shift += 8) {
            buffer[written++] = static_cast<std::uint8_t>(value >> shift);
        }
    }
    return written > 0;
}
