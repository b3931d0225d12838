#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/engine/APMEventParameterCleaning.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// One analytics event: origin, name, times and cleaned parameters. Its flags travel as
// reserved parameters so that they survive every copy and the proto round trip: "_o" origin,
// "_c" conversion, "_r" real time, "_dbg" debug, "_err" error code.
//
// Invariants: origin and name passed the validator; "_o" is the origin as a string; every
// parameter passed the cleaning. Copies run the cleaning again. Not locked: an event is used
// by one thread at a time.
class APMEvent {
  public:
    // The event, or none when the origin (a forwarded "<name>+tgw" or an internal origin) or the
    // name (public rule when `isPublic`, always the internal rule) fails. A previous timestamp
    // after the timestamp is logged (16002) and kept. Times are seconds since 1970.
    static std::optional<APMEvent> initWithOrigin(std::string_view origin, bool isPublic,
                                                  std::string_view name, double timestamp,
                                                  double previousTimestamp,
                                                  const APMRawParameters& parameters,
                                                  const APMParameterLimits& limits);
    // The event decoded from `proto`: its "_o" parameter gives the origin (not a string: 15001,
    // none); parameters without a name (15000) or with another value kind (15002) are skipped.
    static std::optional<APMEvent> initWithEventProto(const APMPBEvent& proto,
                                                      const APMParameterLimits& limits);

    // New events with the same origin, name and times, made by the internal rules.
    std::optional<APMEvent> copyWithParameters(const APMRawParameters& parameters,
                                               const APMParameterLimits& limits) const;
    std::optional<APMEvent> copyWithPreviousTimestamp(double previousTimestamp,
                                                      const APMParameterLimits& limits) const;
    std::optional<APMEvent> copy(const APMParameterLimits& limits) const;

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const APMParameters& parameters() const { return parameters_; }
    APMParameters& parameters() { return parameters_; }

    // A conversion, "ad_impression" or "_ai": the value/currency rule applies.
    bool shouldValidateParams() const;

    bool isConversion() const;
    // On: "_c" = 1 only when the value/currency rule passes, then an "_err" of 10 goes. Off:
    // "_c" goes and "_err" = 10 is recorded unless an error is there already.
    void setConversion(bool conversion, const APMParameterLimits& limits);
    // "_r" = 1; another type than int64 logs 16006 and reads false.
    bool isRealtime() const;
    void setRealtime(bool realtime);
    bool isDebug() const;
    void setDebug(bool debug);

    // Adds cleaned `parameters` under the event's own: they never replace a parameter the event
    // has.
    void applyParameters(const APMRawParameters& parameters, bool isPublic,
                         const APMParameterLimits& limits);
    // Adds "_si" (an integer) and the optional "_sc" and "_sn" (valid screen values). False
    // without change for empty parameters, an event that has any of them already, or an invalid
    // value (16003 class, 16004 name).
    bool addScreenParameters(const APMRawParameters& parameters, std::int32_t maxValueLength);

    // The wire form: name, times in milliseconds (a time of 0 is left out), parameters.
    APMPBEvent protoEvent() const;

    // Scripts see times in milliseconds since 1970 (so a created event keeps its sub-second
    // part through the logger's truncation to a whole number); events keep seconds.
    static double editTimestampFromSeconds(double seconds);
    static double secondsFromEditTimestamp(double milliseconds);

  private:
    APMEvent() = default;

    std::string origin_;
    std::string name_;
    double timestamp_ = 0.0;
    double previousTimestamp_ = 0.0;
    APMParameters parameters_;
};

// The wire parameters of an event: double, int64 and string values, and an array value as one
// parameter holding an unnamed parameter per item. Values that cannot be encoded are logged
// (16005; 16007 for an array inside an item) and left out.
APMPBRepeatedArray APMEventParamsToProto(const APMParameters& parameters,
                                         std::string_view eventName);
// True (logging 23156) when `params` holds a parameter named `name`.
bool APMEventParamArrayContainsName(const APMPBRepeatedArray& params, std::string_view name);

// The event is the internal error event "_err" (an empty name logs 18004).
bool APMIsErrorEvent(const APMEvent& event);
// A subscription start or renewal, or an in-app purchase with "subscription" = 1.
bool APMIsSubscriptionEvent(const APMEvent& event);
// The number of items over the event's array parameters.
std::int64_t APMItemCount(const APMEvent& event);
