#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPModule.h"

// A module whose lookup ("getValue") answers through a block: key to text, or none.
class APMPKeyValueStore : public APMPModule {
  public:
    using GetValueBlock = std::function<std::optional<std::string>(std::string_view key)>;

    APMPKeyValueStore(std::string functionName, GetValueBlock getValueBlock)
        : name_(std::move(functionName)), getValueBlock_(std::move(getValueBlock)) {}

    const std::string& name() const override { return name_; }
    // The block's answer for `key`; none without a block.
    std::optional<std::string> getValue(std::string_view key) const {
        return getValueBlock_ ? getValueBlock_(key) : std::nullopt;
    }

  private:
    std::string name_;
    GetValueBlock getValueBlock_;
};
