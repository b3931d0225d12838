#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "sdk/measurement/messages/MessageTables.h"
#include "sdk/measurement/messages/NANOMessageBase.h"

// The wrapper class of message type `Type`; APMPBMessages.h names one per wrapped message
// (APMPBEvent, APMPBMeasurementBundle, ...). Copies are deep and independent.
template <const apmpb::MessageType& Type>
class APMPBMessage final : public NANOMessageBase {
  public:
    // An empty message: every singular field absent, every repeated field without elements.
    APMPBMessage() : APMPBMessage(copyOrMake(Type, nullptr)) {}
    APMPBMessage(const APMPBMessage& other) : APMPBMessage(copyOrMake(Type, other.messageInfo())) {}
    APMPBMessage& operator=(const APMPBMessage& other) {
        if (this != &other)
            messageInfo_ = checked(copyOrMake(Type, other.messageInfo()));
        return *this;
    }

    // A wrapper over a deep copy of `info` (the caller keeps `info`); an empty message for
    // null; nullptr when `info` is a message of another type.
    static std::unique_ptr<APMPBMessage> initWithMessageInfo(const apmpb::MessageInfo* info) {
        InfoPtr copy = copyOrMake(Type, info);
        if (copy == nullptr)
            return nullptr;
        return std::unique_ptr<APMPBMessage>(new APMPBMessage(std::move(copy)));
    }

    // The message decoded from `bytes`; nullptr when they do not decode (the codec prints
    // why).
    static std::unique_ptr<APMPBMessage> initWithBuffer(std::span<const std::uint8_t> bytes) {
        InfoPtr decoded = decodeBytes(Type, bytes.data(), bytes.size());
        if (decoded == nullptr)
            return nullptr;
        return std::unique_ptr<APMPBMessage>(new APMPBMessage(std::move(decoded)));
    }

    // initWithMessageInfo as an APMPBWrapperFactory.
    static std::shared_ptr<NANOMessageBase> makeShared(const apmpb::MessageInfo* info) {
        return initWithMessageInfo(info);
    }

    const apmpb::MessageType& messageType() const override { return Type; }

  private:
    explicit APMPBMessage(InfoPtr info) { messageInfo_ = checked(std::move(info)); }

    static InfoPtr checked(InfoPtr info) {
        if (info == nullptr)
            throw std::bad_alloc();
        return info;
    }
};
