#include "sdk/measurement/messages/NANOMessageBase.h"

#include <cstdlib>
#include <cstring>

#include "sdk/measurement/messages/MessageCodec.h"

using apmpb::MessageInfo;
using apmpb::MessageType;
namespace codec = apmpb::MessageCodec;

NANOMessageBase::~NANOMessageBase() = default;

void NANOMessageBase::InfoDeleter::operator()(MessageInfo* info) const {
    if (info != nullptr && type != nullptr)
        codec::free(*type, info);
}

std::optional<sdk::Bytes> NANOMessageBase::protoBuffer() const {
    if (messageInfo_ == nullptr)
        return std::nullopt;
    sdk::Bytes bytes;
    if (!codec::encodeToBytes(messageType(), messageInfo_.get(), bytes))
        return std::nullopt;
    return bytes;
}

NANOMessageBase::InitFn NANOMessageBase::initMessageInfoFn() const {
    const MessageType* type = &messageType();
    return [type](MessageInfo* info) { return codec::init(*type, info); };
}

NANOMessageBase::DeallocFieldFn NANOMessageBase::deallocMessageFieldFn() const {
    const MessageType* type = &messageType();
    return [type](MessageInfo* info, std::uint32_t slot) {
        return codec::deallocField(*type, info, slot);
    };
}

NANOMessageBase::CopyFn NANOMessageBase::copyMessageInfoFn() const {
    const MessageType* type = &messageType();
    return [type](MessageInfo** destination, const MessageInfo* source) {
        return codec::copy(*type, destination, source);
    };
}

NANOMessageBase::InfoPtr NANOMessageBase::copyOrMake(const MessageType& type,
                                                     const MessageInfo* info) {
    InfoPtr result(nullptr, InfoDeleter{&type});
    if (info != nullptr) {
        if (info->name == nullptr || std::strcmp(info->name, type.name) != 0)
            return result;
        MessageInfo* copy = nullptr;
        const bool ok = codec::copy(type, &copy, info);
        result.reset(copy);
        if (!ok)
            result.reset();
        return result;
    }
    auto* empty = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (empty == nullptr)
        return result;
    result.reset(empty);
    if (!codec::init(type, empty))
        result.reset();
    return result;
}

NANOMessageBase::InfoPtr NANOMessageBase::decodeBytes(const MessageType& type,
                                                      const std::uint8_t* bytes,
                                                      std::size_t length) {
    InfoPtr decoded = copyOrMake(type, nullptr);
    if (decoded == nullptr || !codec::decode(type, bytes, length, decoded.get())) {
        return InfoPtr(nullptr, InfoDeleter{&type});
    }
    return decoded;
}
