#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// One analytics event: its origin, name, timestamps (seconds since 1970) and parameters. The
// origin also travels as the string parameter "_o" and the real-time flag as "_r", so both
// survive the round trip through the wire message. A plain value; copies are independent.
class APMEvent {
  public:
    // No value for an empty origin or name. The parameters are kept as given and "_o" is set
    // to the origin (replacing any given). A previous timestamp after the timestamp is logged
    // (16002) and kept. `isPublic` marks an event named by the app.
    static std::optional<APMEvent> initWithOrigin(const std::string& origin, bool isPublic,
                                                  const std::string& name, double timestamp,
                                                  double previousTimestamp,
                                                  APMParameters parameters);
    // The event of a wire message: name, timestamps (milliseconds / 1000.0), origin from the
    // string parameter "_o" and the string, integer and double parameters. Unnamed parameters
    // (15000) and parameters of another kind (15002) are skipped; an "_o" that is not a string
    // (15001) or a missing "_o" give no value.
    static std::optional<APMEvent> initWithEventProto(const APMPBEvent& proto);

    // A fresh wire message of the event (the caller may change it): name, timestamps in
    // milliseconds (each only when positive), parameters in name order. Array parameters
    // become unnamed elements holding their item's parameters; an array inside an item is
    // dropped (16007).
    std::unique_ptr<APMPBEvent> protoEvent() const;

    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    // "_r" is the int64 1. An "_r" of another type logs 16006 and reads false.
    bool isRealtime() const;

  private:
    APMEvent() = default;

    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    APMParameters parameters_;
};
