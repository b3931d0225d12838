// Event sampling: names the server gives a rate N > 1 are kept with probability 1/N, except the
// first of each account day, which is kept and marked exempt. Kept sampled events carry the
// rate ("_sr") so the server can scale them back up. The per-name state lives in the event
// aggregates and is written back at the end of each pass.
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDURandomBytes.h"

namespace {

namespace EventSlots = apmpb::Event;
namespace ParamSlots = apmpb::EventParam;

// The event's integer parameter `name`, if it has one.
std::optional<std::int64_t> integerParameter(const APMPBEvent& event, std::string_view name) {
    std::optional<std::int64_t> found;
    APMPBVisitRepeatedMessages(&event, EventSlots::kParams, [&](const NANOMessageBase& param) {
        if (APMPBGetString(&param, ParamSlots::kName) != name) {
            return true;
        }
        if (APMPBHasField(&param, ParamSlots::kIntValue)) {
            found = APMPBGetInt64(&param, ParamSlots::kIntValue);
        }
        return false;
    });
    return found;
}

// Adds the integer parameter unless the event has one of that name.
void addIntegerParameter(APMPBEvent& event, std::string_view name, std::int64_t value) {
    APMPBRepeatedArray params = APMPBGetRepeated<APMPBEventParam>(&event, EventSlots::kParams)
                                    .value_or(APMPBRepeatedArray{});
    if (APMEventParamArrayContainsName(params, name)) {
        return;
    }
    auto param = std::make_shared<APMPBEventParam>();
    APMPBSetString(param.get(), ParamSlots::kName, name);
    APMPBSetInt64(param.get(), ParamSlots::kIntValue, value);
    params.emplace_back(std::move(param));
    APMPBSetRepeated(&event, EventSlots::kParams, params);
}

// A uniform integer in [0, bound) from OpenSSL's generator; 0 when it fails.
std::uint32_t uniformBelow(std::uint32_t bound) {
    if (bound <= 1) {
        return 0;
    }
    // Rejection sampling: draws at or above the largest multiple of `bound` are drawn again.
    const std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() -
                                std::numeric_limits<std::uint32_t>::max() % bound;
    for (;;) {
        std::uint32_t draw = 0;
        if (!VDURandomBytes(reinterpret_cast<unsigned char*>(&draw), sizeof draw)) {
            return 0;
        }
        if (draw < limit) {
            return draw % bound;
        }
    }
}

using EventAggregatesByName = std::map<std::string, APMEventAggregates, std::less<>>;

// The stored event aggregates by name; none (23157) with `failure` when they cannot be read.
std::optional<EventAggregatesByName> eventAggregatesByName(APMDatabase& database,
                                                           sdk::Error& failure) {
    const std::optional<std::vector<APMEventAggregates>> all =
        database.allEventAggregates(&failure);
    if (!all) {
        APMMeasurement::monitor().logWithLevel(
            1, 23157, "Unable to query all event aggregates for cache. error", failure);
        return std::nullopt;
    }
    EventAggregatesByName byName;
    for (const APMEventAggregates& aggregates : *all) {
        byName.insert_or_assign(aggregates.name(), aggregates);
    }
    return byName;
}

// The account day the event's name was last bundled on: the one recorded, else the day of the
// event's previous time.
std::int32_t lastBundledDay(const APMEventAggregates& state, const APMPBEvent& event,
                            std::int32_t offsetMinutes) {
    if (const std::int32_t recorded = state.lastBundledDay(); recorded != 0) {
        return recorded;
    }
    return APMMeasurement::accountDayNumber(
        static_cast<double>(APMPBGetInt64(&event, EventSlots::kPreviousTimestampMillis)) / 1000.0,
        offsetMinutes);
}

// Records that the name went into a bundle at `seconds`, on account day `day`.
void recordBundled(APMEventAggregates& state, double seconds, std::int32_t day) {
    state.setLastBundledTimestamp(seconds);
    state.setLastBundledDay(day);
}

// Writes the sampling state of the names in `touched` from `byName` over their stored rows (a
// name without a stored row is left out); false (23151, 23152) with `failure` on a database
// error.
bool writeBackSamplingState(APMDatabase& database, const EventAggregatesByName& byName,
                            const std::set<std::string, std::less<>>& touched,
                            sdk::Error& failure) {
    for (const std::string& name : touched) {
        const APMEventAggregates& state = byName.at(name);
        std::optional<APMEventAggregates> stored = database.eventAggregatesWithName(name, &failure);
        if (!stored) {
            if (!failure.ok()) {
                APMMeasurement::monitor().logWithLevel(
                    1, 23151, "Unable to query event aggregates to update database. Name, error",
                    APMDebugEventName(name), failure);
                return false;
            }
            continue;
        }
        if (state.lastBundledTimestamp() != 0) {
            stored->setLastBundledTimestamp(state.lastBundledTimestamp());
        }
        stored->setLastSamplingRate(state.lastSamplingRate());
        stored->setLastSampledComplexEventID(state.lastSampledComplexEventID());
        stored->setLastExemptFromSampling(state.lastExemptFromSampling());
        stored->setLastBundledDay(state.lastBundledDay());
        if (!database.updateEventAggregates(stored, &failure)) {
            APMMeasurement::monitor().logWithLevel(
                1, 23152,
                "Failed to update event aggregates after removing removing events due to "
                "sampling. Error",
                failure);
            return false;
        }
    }
    return true;
}

}  // namespace

std::int32_t APMMeasurement::accountDayNumber(double seconds, std::int32_t offsetMinutes) {
    const double day = std::trunc((seconds + static_cast<double>(offsetMinutes) * 60.0) / 86400.0);
    if (std::isnan(day)) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::clamp(day, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

bool APMMeasurement::isEventBundledAfterRoll(std::uint32_t rate) {
    if (samplingDrawIsZero_) {
        return *samplingDrawIsZero_;
    }
    return uniformBelow(rate) == 0;
}

bool APMMeasurement::canEventBeSampled(const APMPBEvent& event) {
    const std::string name = APMPBGetString(&event, EventSlots::kName).value_or("");
    if (!remoteConfig_->isEventSamplingEnabled() || !remoteConfig_->eventHasSamplingRate(name)) {
        return false;
    }
    if (remoteConfig_->samplingRateForEvent(name) <= 1) {
        monitor().logWithLevel(5, 23154, "Invalid sampling rate provided");
        return false;
    }
    return true;
}

bool APMMeasurement::sampleEvent(APMPBEvent& event, APMEventAggregates& state,
                                 std::int32_t offsetMinutes) {
    const double seconds =
        static_cast<double>(APMPBGetInt64(&event, EventSlots::kTimestampMillis)) / 1000.0;
    const std::int32_t day = accountDayNumber(seconds, offsetMinutes);
    if (!canEventBeSampled(event)) {
        recordBundled(state, seconds, day);
        return true;
    }
    const std::int32_t rate =
        remoteConfig_->samplingRateForEvent(APMPBGetString(&event, EventSlots::kName).value_or(""));
    state.setLastSamplingRate(rate);
    if (isEventBundledAfterRoll(static_cast<std::uint32_t>(rate))) {
        state.setLastSampledComplexEventID(std::nullopt);
        recordBundled(state, seconds, day);
        addIntegerParameter(event, "_sr", rate);
        return true;
    }
    if (lastBundledDay(state, event, offsetMinutes) != day) {
        // The first of its account day is kept whatever the roll said.
        recordBundled(state, seconds, day);
        state.setLastExemptFromSampling(true);
        addIntegerParameter(event, "_sr", rate);
        addIntegerParameter(event, "_efs", 1);
        return true;
    }
    if (const std::optional<std::int64_t> eid = integerParameter(event, "_eid")) {
        state.setLastSampledComplexEventID(eid);
    }
    return false;
}

std::optional<std::vector<APMPBEvent>> APMMeasurement::sampleEvents(std::vector<APMPBEvent> events,
                                                                    sdk::Error* error) {
    sdk::Error failure;
    const auto fail = [&] {
        if (error != nullptr) {
            *error = failure;
        }
        return std::nullopt;
    };
    std::optional<EventAggregatesByName> byName = eventAggregatesByName(*database_, failure);
    if (!byName) {
        return fail();
    }
    const std::int32_t offset = remoteConfig_->analyticsAccountTimeZoneOffsetMinutes();
    std::vector<APMPBEvent> kept;
    std::set<std::string, std::less<>> touched;
    for (APMPBEvent& event : events) {
        const std::string name = APMPBGetString(&event, EventSlots::kName).value_or("");
        if (name.empty()) {
            monitor().logWithLevel(2, 23155, "Dropping event at sampling. Event has no name");
            continue;
        }
        touched.insert(name);
        // A name without a row (it cannot happen in a pass: the aggregates step made them)
        // gets state here that is not written back.
        APMEventAggregates& state =
            byName->try_emplace(name, APMEventAggregates(name, 0, 0, 0, 0)).first->second;
        if (sampleEvent(event, state, offset)) {
            kept.push_back(std::move(event));
        }
    }
    // Only the names of this pass changed; the other rows are written back as they are.
    if (!writeBackSamplingState(*database_, *byName, touched, failure)) {
        return fail();
    }
    return kept;
}
