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

#ifdef CB_MESSAGES_GOLDEN_DIR
// The text of golden/<file>, protoc's text form of a message.
inline std::string golden(const std::string& file) {
    return readFile(std::filesystem::path(CB_MESSAGES_GOLDEN_DIR) / file);
}
#endif

inline std::string asString(const sdk::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
inline sdk::Bytes asBytes(const std::string& text) {
    return sdk::Bytes(text.begin(), text.end());
}

// Appends `value` as a base-128 varint.
inline void appendVarint(sdk::Bytes& out, std::uint64_t value) {
    do {
        std::uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(byte | (value ? 0x80 : 0));
    } while (value);
}

// Appends field `tag` as a length-delimited field holding `body`.
inline void appendField(sdk::Bytes& out, std::uint32_t tag, const sdk::Bytes& body) {
    appendVarint(out, tag << 3 | 2);
    appendVarint(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
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

namespace messages_test {
// Fills every singular field and two elements of every repeated field with values that differ
// by slot; message elements nest two levels deep.
inline void fill(AnyMessage& m, int depth) {
    const apmpb::MessageType& type = m.messageType();
    for (std::uint32_t s = 0; s < type.slotCount; ++s) {
        const std::uint32_t f = type.typeFlags[s];
        const auto id = static_cast<std::int32_t>(s);
        const std::int64_t big = 1700000000000 + s;
        if (f & apmpb::kFlagRepeated) {
            APMPBRepeatedArray values;
            for (int i = 0; i < 2; ++i) {
                if (f & apmpb::kFlagMessage) {
                    if (depth >= 2)
                        break;
                    auto child = std::make_shared<AnyMessage>(*type.children[s]);
                    fill(*child, depth + 1);
                    values.emplace_back(std::move(child));
                } else if (f & apmpb::kFlagString) {
                    values.emplace_back(
                        sdk::Value("r" + std::to_string(s) + "-" + std::to_string(i)));
                } else {
                    values.emplace_back(sdk::Value(big * 10 + i));
                }
            }
            APMPBSetRepeated(&m, id, values);
        } else if (f & apmpb::kFlagMessage) {
            AnyMessage child(*type.children[s]);
            fill(child, depth + 1);
            APMPBSetMessage(&m, id, &child);
        } else if (f & apmpb::kFlagString) {
            APMPBSetString(&m, id, "s" + std::to_string(s) + " \"quoted\"");
        } else if (f & apmpb::kFlagBool) {
            APMPBSetBool(&m, id, s % 2 == 0);
        } else if (f & apmpb::kFlagEnum) {
            APMPBSetInt32(&m, id, 0);  // the one value every enum of the schema declares
        } else if (f & apmpb::kFlagInt32) {
            APMPBSetInt32(&m, id, static_cast<std::uint32_t>(-static_cast<int>(s) - 1000));
        } else if (f & apmpb::kFlagInt64) {
            APMPBSetInt64(&m, id, s % 2 ? big : -big);
        } else if (f & apmpb::kFlagFloat) {
            APMPBSetFloat(&m, id, static_cast<float>(s) + 0.5f);
        } else if (f & apmpb::kFlagDouble) {
            APMPBSetDouble(&m, id, static_cast<double>(s) + 0.25);
        }
    }
}

}  // namespace messages_test
