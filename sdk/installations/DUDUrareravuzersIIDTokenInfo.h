#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/VDUArchivable.h"

// The legacy instance-ID token as the older library archived it (class "RZDInstanceIDTokenInfo",
// mapped to this class when read): only its "token" is used. It is only ever decoded; encoding
// writes nothing.
class DUDUrareravuzersIIDTokenInfo final : public VDUArchivable {
  public:
    static constexpr std::string_view kArchiveClassName = "DUDUrareravuzersIIDTokenInfo";
    // The class name the older library stored its tokens under.
    static constexpr std::string_view kLegacyArchiveClassName = "RZDInstanceIDTokenInfo";

    std::optional<std::string> token;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver&) const override {}
    static std::shared_ptr<DUDUrareravuzersIIDTokenInfo> initWithCoder(VDUKeyedUnarchiver& coder);
};
