#pragma once

#include <functional>
#include <string>

#include "sdk/measurement/script/APMPModule.h"
#include "sdk/utilities/Value.h"

// A module that yields the block's object (a map, as a rule) each time it is called.
class APMPObjectProvider : public APMPModule {
  public:
    using ObjectBlock = std::function<sdk::Value()>;

    APMPObjectProvider(std::string name, ObjectBlock block)
        : name_(std::move(name)), block_(std::move(block)) {}

    const std::string& name() const override { return name_; }
    // A fresh object from the block; null without a block.
    sdk::Value object() const { return block_ ? block_() : sdk::Value(); }

  private:
    std::string name_;
    ObjectBlock block_;
};
