#include "sdk/measurement/messages/AccessorSlot.h"

#include "sdk/measurement/messages/MessageCodec.h"
#include "sdk/measurement/messages/MessageLog.h"

namespace apmpb::accessor {
namespace {

// True for well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool isValidUtf8(const std::uint8_t* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = s[i];
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else
            return false;
        if (n - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::optional<Slot> open(const NANOMessageBase* message, std::int32_t fieldID,
                         const Access& access) {
    MessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
    if (info == nullptr || info->fields == nullptr) {
        MessageLog::accessor(access.uninitialised,
                             {message != nullptr ? message->messageID() : "(null)"});
        return std::nullopt;
    }
    const MessageType& type = message->messageType();
    if (fieldID < 0 || static_cast<std::uint32_t>(fieldID) >= type.slotCount) {
        MessageLog::accessor(kOutOfRange, {type.name, fieldID});
        return std::nullopt;
    }
    const auto index = static_cast<std::uint32_t>(fieldID);
    const std::uint32_t flags = type.typeFlags[index];
    if (!access.accepts(flags)) {
        MessageLog::accessor(access.wrongKind, {type.name, fieldID});
        return std::nullopt;
    }
    return Slot{info, &type, index, flags, &info->fields[index]};
}

void clearSlot(const Slot& slot) {
    MessageCodec::deallocField(*slot.type, slot.info, slot.index);
}

std::optional<std::string> stringOf(const StringHolder* holder) {
    if (holder == nullptr || holder->bytes == nullptr)
        return std::nullopt;
    if (!isValidUtf8(holder->bytes, holder->length))
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(holder->bytes), holder->length);
}

std::optional<sdk::Bytes> bytesOf(const StringHolder* holder) {
    if (holder == nullptr || holder->bytes == nullptr)
        return std::nullopt;
    return sdk::Bytes(holder->bytes, holder->bytes + holder->length);
}

}  // namespace apmpb::accessor
