#pragma once

#include "sdk/measurement/attribution/APMLifetimeValueStore.h"
#include "sdk/measurement/engine/APMEvent.h"

// The user's running spend per currency: the automatic user property "_ltv_" + the upper-case
// currency code, in micros. Purchase events move it: "_iap" (its "value" in micros) and the
// ecommerce events "ecommerce_purchase", "purchase" and "refund" (in currency units; a refund
// lowers it). At most maxTrackedCurrencies (remote configuration) currencies are kept; a new one
// beyond that replaces the least recently set.
//
// Runs on the engine's worker queue inside the event write, so reads and writes of the
// properties never interleave.
class APMLifetimeValueRecorder {
  public:
    APMLifetimeValueRecorder() = delete;

    // Updates the property for `event`. True when there was nothing to do, when the event's
    // currency (22000) or value (22001) is unusable, or when the property was written (22006);
    // false, so that the event is not written, when the amount is out of bounds (22002: beyond
    // the int64 range in micros, not a number, or a sum that would overflow) or a database
    // operation fails (22003-22005).
    static bool recordLifetimeValueToDatabase(APMLifetimeValueStore& database,
                                              const APMEvent& event);

    // "_iap", or an ecommerce purchase event.
    static bool isPurchaseEvent(const APMEvent& event);
    // "ecommerce_purchase", "purchase" or "refund".
    static bool isEcommercePurchaseEvent(const APMEvent& event);
};
