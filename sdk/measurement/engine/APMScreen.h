#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMValue.h"

// One screen the app reported: its name and class (either may be absent), its instance ID and
// the time of the event that reported it. A plain value.
class APMScreen {
  public:
    APMScreen(std::optional<std::string> name, std::optional<std::string> className,
              std::int64_t instanceID)
        : name_(std::move(name)), className_(std::move(className)), instanceID_(instanceID) {}

    // The same screen without its flags and timestamp (they start at false and 0).
    APMScreen copy() const { return APMScreen(name_, className_, instanceID_); }

    const std::optional<std::string>& name() const { return name_; }
    const std::optional<std::string>& className() const { return className_; }
    std::int64_t instanceID() const { return instanceID_; }

    bool isManuallySet() const { return isManuallySet_; }
    void setIsManuallySet(bool value) { isManuallySet_ = value; }
    // True for screens the app logged itself.
    bool isManuallyTracked() const { return isManuallyTracked_; }
    void setIsManuallyTracked(bool value) { isManuallyTracked_ = value; }
    // Seconds since 1970; 0 when unknown.
    double eventTimestamp() const { return eventTimestamp_; }
    void setEventTimestamp(double value) { eventTimestamp_ = value; }

  private:
    bool isManuallySet_ = false;
    bool isManuallyTracked_ = false;
    std::optional<std::string> name_;
    std::optional<std::string> className_;
    std::int64_t instanceID_ = 0;
    double eventTimestamp_ = 0;
};

// The current-screen parameters of `screen`: "_si" (instance ID), "_sc" (class) and "_sn"
// (name), values of at most `maxValueLength` code points. A missing or empty class logs 31014;
// an invalid class logs 31015 and leaves only "_si"; an invalid name is left out silently.
APMParameters APMScreenParameters(const APMScreen& screen, std::int32_t maxValueLength);

// The previous-screen parameters of `screen`: "_pi", and "_pc" and "_pn" when valid (invalid or
// empty values are left out silently).
APMParameters APMPreviousScreenParameters(const APMScreen& screen, std::int32_t maxValueLength);
