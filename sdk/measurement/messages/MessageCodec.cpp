#include "sdk/measurement/messages/MessageCodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "sdk/measurement/messages/CodecSupport.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/MessageTables.h"
#include "sdk/measurement/messages/NanoRoutines.h"

namespace apmpb::MessageCodec {
namespace {

void releaseElement(const MessageType& type, std::uint32_t slot, void* element) {
    if (element == nullptr)
        return;
    const std::uint32_t flags = type.typeFlags[slot];
    if (flags & kFlagMessage) {
        MessageCodec::free(*type.children[slot], static_cast<MessageInfo*>(element));
        return;
    }
    if (flags & (kFlagString | kFlagBytes))
        nano_string_free(static_cast<StringHolder*>(element));
    std::free(element);
}

// A copy of a value cell or string holder of a slot with `flags`.
bool copyValue(std::uint32_t flags, const void* source, void** destination) {
    if (flags & (kFlagString | kFlagBytes)) {
        const auto* holder = static_cast<const StringHolder*>(source);
        if (holder->bytes == nullptr) {
            *destination = std::calloc(1, sizeof(StringHolder));
            return *destination != nullptr;
        }
        return nano_set_string(destination, holder->bytes, holder->length);
    }
    const std::size_t size = (flags & kFlagFloat) ? sizeof(float) : sizeof(std::uint64_t);
    *destination = std::malloc(size);
    if (*destination == nullptr)
        return false;
    std::memcpy(*destination, source, size);
    return true;
}

bool copySlot(const MessageType& type, std::uint32_t slot, const MessageInfo* source,
              MessageInfo* destination) {
    const std::uint32_t flags = type.typeFlags[slot];
    const void* from = source->fields[slot];
    void** to = &destination->fields[slot];
    if (flags & kFlagRepeated) {
        const auto* sourceHolder = static_cast<const RepeatedHolder*>(from);
        auto* holder = static_cast<RepeatedHolder*>(*to);
        if (sourceHolder == nullptr || sourceHolder->count == 0)
            return true;
        if (holder == nullptr || sourceHolder->items == nullptr)
            return false;
        holder->items = static_cast<void**>(std::calloc(sourceHolder->count, sizeof(void*)));
        if (holder->items == nullptr)
            return false;
        holder->count = sourceHolder->count;
        for (std::uint32_t i = 0; i < holder->count; ++i) {
            const void* element = sourceHolder->items[i];
            if (element == nullptr)
                return false;
            const bool ok =
                (flags & kFlagMessage)
                    ? copy(*type.children[slot], reinterpret_cast<MessageInfo**>(&holder->items[i]),
                           static_cast<const MessageInfo*>(element))
                    : copyValue(flags, element, &holder->items[i]);
            if (!ok)
                return false;
        }
        return true;
    }
    if (from == nullptr)
        return true;
    if (flags & kFlagMessage) {
        return copy(*type.children[slot], reinterpret_cast<MessageInfo**>(to),
                    static_cast<const MessageInfo*>(from));
    }
    return copyValue(flags, from, to);
}

}  // namespace

namespace detail {

MessageInfo* newMessage(const MessageType& type) {
    auto* info = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (info != nullptr && !init(type, info)) {
        std::free(info);
        return nullptr;
    }
    return info;
}

}  // namespace detail

const MessageType* typeOfDescriptor(const pb_msgdesc_t* descriptor) {
    for (const MessageType* type : kAllMessageTypes) {
        if (type->descriptor == descriptor)
            return type;
    }
    return nullptr;
}

bool init(const MessageType& type, MessageInfo* info) {
    if (info == nullptr)
        return false;
    info->name = type.name;
    info->type_flags = type.typeFlags;
    info->fields = static_cast<void**>(std::calloc(type.slotCount, sizeof(void*)));
    if (info->fields == nullptr)
        return false;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!(type.typeFlags[slot] & kFlagRepeated))
            continue;
        info->fields[slot] = std::calloc(1, sizeof(RepeatedHolder));
        if (info->fields[slot] == nullptr)
            return false;
    }
    return true;
}

bool allocArrays(const MessageType& type, MessageInfo* info) {
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!(type.typeFlags[slot] & kFlagRepeated))
            continue;
        auto* holder = static_cast<RepeatedHolder*>(info->fields[slot]);
        if (holder == nullptr) {
            MessageLog::codec("<ERROR> Cannot allocate %s arrays. Missing params field (%s)",
                              {type.name, type.fieldNames[slot]});
            return false;
        }
        if (holder->count > 0) {
            std::free(holder->items);
            holder->items = static_cast<void**>(std::calloc(holder->count, sizeof(void*)));
            if (holder->items == nullptr)
                return false;
        }
        holder->filled = 0;
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const std::uint32_t flags = type.typeFlags[slot];
        if ((flags & kFlagRepeated) || !(flags & kFlagMessage))
            continue;
        const MessageType& child = *type.children[slot];
        if (child.twoPass && info->fields[slot] != nullptr) {
            if (!allocArrays(child, static_cast<MessageInfo*>(info->fields[slot])))
                return false;
        }
    }
    return true;
}

bool deallocField(const MessageType& type, MessageInfo* info, std::uint32_t slot) {
    if (slot >= type.slotCount) {
        MessageLog::codec("<ERROR> %s: Cannot deallocate field %d: Unknown field",
                          {type.name, slot});
        return false;
    }
    void*& value = info->fields[slot];
    const std::uint32_t flags = type.typeFlags[slot];
    if (flags & kFlagRepeated) {
        auto* holder = static_cast<RepeatedHolder*>(value);
        if (holder == nullptr)
            return true;
        for (std::uint32_t i = 0; holder->items != nullptr && i < holder->count; ++i) {
            releaseElement(type, slot, holder->items[i]);
        }
        return nano_array_init(holder);
    }
    releaseElement(type, slot, value);
    value = nullptr;
    return true;
}

bool free(const MessageType& type, MessageInfo* info) {
    if (info == nullptr)
        return false;
    bool ok = true;
    if (info->fields != nullptr) {
        for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
            ok = deallocField(type, info, slot) && ok;
            if (type.typeFlags[slot] & kFlagRepeated)
                std::free(info->fields[slot]);
        }
        std::free(info->fields);
    }
    std::free(info);
    return ok;
}

bool copy(const MessageType& type, MessageInfo** destination, const MessageInfo* source) {
    if (destination == nullptr || source == nullptr || source->fields == nullptr)
        return false;
    if (*destination == source)
        return true;  // freeing the destination would free the source
    if (*destination != nullptr)
        free(type, *destination);
    *destination = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (*destination == nullptr || !init(type, *destination))
        return false;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!copySlot(type, slot, source, *destination))
            return false;
    }
    return true;
}

}  // namespace apmpb::MessageCodec
