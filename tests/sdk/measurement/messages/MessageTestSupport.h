#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/messages/MessageCodec.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "tests/support/TempDir.h"

namespace messages_test {

// Collects what the codec (standard output) and the accessors (standard error) print while it
// lives.
class CapturedLog {
  public:
    CapturedLog() {
        apmpb::MessageLog::setCodecSink([this](std::string_view t) { add(codec_, t); });
        apmpb::MessageLog::setAccessorSink([this](std::string_view t) { add(accessor_, t); });
    }
    ~CapturedLog() {
        apmpb::MessageLog::setCodecSink({});
        apmpb::MessageLog::setAccessorSink({});
    }
    // Everything printed so far, concatenated.
    std::string codec() const { return joined(codec_); }
    std::string accessor() const { return joined(accessor_); }
    void clear() {
        std::lock_guard lock(mutex_);
        codec_.clear();
        accessor_.clear();
    }

  private:
    void add(std::vector<std::string>& to, std::string_view text) {
        std::lock_guard lock(mutex_);
        to.emplace_back(text);
    }
    std::string joined(const std::vector<std::string>& texts) const {
        std::lock_guard lock(mutex_);
        std::string out;
        for (const auto& t : texts)
            out += t;
        return out;
    }
    mutable std::mutex mutex_;
    std::vector<std::string> codec_;
    std::vector<std::string> accessor_;
};

// A wrapper of any message type chosen at run time, also of the four types without a wrapper
// class, so that tests can walk every type generically.
class AnyMessage final : public NANOMessageBase {
  public:
    explicit AnyMessage(const apmpb::MessageType& type) : type_(type) {
        messageInfo_ = copyOrMake(type, nullptr);
    }
    AnyMessage(const apmpb::MessageType& type, const apmpb::MessageInfo* info) : type_(type) {
        messageInfo_ = copyOrMake(type, info);
    }
    AnyMessage(const apmpb::MessageType& type, const sdk::Bytes& bytes) : type_(type) {
        messageInfo_ = decodeBytes(type, bytes.data(), bytes.size());
    }
    const apmpb::MessageType& messageType() const override { return type_; }
    bool decoded() const { return messageInfo_ != nullptr; }

  private:
    const apmpb::MessageType& type_;
};

inline const apmpb::MessageType* typeNamed(const std::string& name) {
    for (const auto* type : apmpb::kAllMessageTypes) {
        if (name == type->name)
            return type;
    }
    return nullptr;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs protoc with `mode` ("--decode=apmpb.Event", "--encode=apmpb.Event", "--decode_raw")
// on `input`; returns its output, or "<protoc failed>" with its errors.
inline std::string protoc(const std::string& mode, const std::string& input) {
    cb::testsupport::TempDir dir("cb-protoc");
    writeFile(dir / "in", input);
    const std::string command = std::string("'") + CB_PROTOC + "' -I '" + CB_MESSAGES_PROTO_DIR +
                                "' " + mode +
                                " upload.proto configuration.proto experiment.proto "
                                "program.proto < '" +
                                (dir / "in").string() + "' > '" + (dir / "out").string() +
                                "' 2> '" + (dir / "err").string() + "'";
    const std::string raw = std::string("'") + CB_PROTOC + "' --decode_raw < '" +
                            (dir / "in").string() + "' > '" + (dir / "out").string() + "' 2> '" +
                            (dir / "err").string() + "'";
    if (std::system((mode == "--decode_raw" ? raw : command).c_str()) != 0) {
        return "<protoc failed> " + readFile(dir / "err");
    }
    return readFile(dir / "out");
}

inline std::string asString(const sdk::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
inline sdk::Bytes asBytes(const std::string& text) {
    return sdk::Bytes(text.begin(), text.end());
}

}  // namespace messages_test

namespace messages_test {
// An APMPBWrapperFactory for any type: the record's own type, found by name.
inline std::shared_ptr<NANOMessageBase> AnyMessageFactory(const apmpb::MessageInfo* info) {
    const apmpb::MessageType* type = typeNamed(info->name);
    if (type == nullptr)
        return nullptr;
    auto message = std::make_shared<AnyMessage>(*type, info);
    return message->decoded() ? message : nullptr;
}
}  // namespace messages_test
