#pragma once

#include <memory>
#include <string_view>

#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// A plain object: named properties only. Maps a program makes are tracked by its runtime's
// object manager and account their entries against its memory budget.
class APMPMapValue : public APMPRuntimeValue {
  public:
    // The string of every map.
    static constexpr std::u16string_view kText = u"[object Object]";

    explicit APMPMapValue(std::shared_ptr<APMPRuntimeBudget> budget = nullptr)
        : APMPRuntimeValue(APMPValueKind::kMap),
          propertyMap_(std::move(budget), APMPSharedObjectBytes(sizeof(APMPMapValue))) {}
    ~APMPMapValue() override;

    APMPPropertyMap& propertyMap() { return propertyMap_; }
    const APMPPropertyMap& propertyMap() const { return propertyMap_; }

    // The property operations, keyed by the key's string.
    bool hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    sdk::Error setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key);
    APMPValueRef valueForProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    sdk::Error removeValueForProperty(const APMPRuntimeValue& key);
    // The property names as string values.
    APMPValueList allPropertyNames() const;

    bool booleanValueOrError(sdk::Error& error) const override;
    // A property holding a function is invoked with the raw arguments; a property holding
    // anything else fails with error 17; "hasOwnProperty" takes exactly one argument
    // (evaluated) and answers whether its string is a property; other names go to the base.
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
    // kText.
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    // The first property fits in the map itself.
    APMPPropertyMapWithSlots<1> propertyMap_;
};

// "hasOwnProperty" on a property map: exactly one argument, evaluated in `scope`; whether the
// map holds its string. Shared by maps and functions.
APMPValueRef APMPHasOwnProperty(const APMPPropertyMap& map, APMPArguments arguments,
                                const APMPScopeRef& scope, sdk::Error& error);
