#include "sdk/measurement/engine/APMMonitoringSampledData.h"

APMMonitoringSampledData APMMonitoringSampledData::fromStoredValue(
    const std::optional<sdk::Value>& stored) {
    APMMonitoringSampledData data;
    if (!stored || !stored->isArray() || stored->array()->size() != 4) {
        return data;
    }
    const sdk::Value::Array& array = *stored->array();
    const std::optional<std::int64_t> population = array[1].intValue();
    const std::optional<sdk::Date> start = array[3].dateValue();
    if (!array[0].isString() || !population || *population < 1 || !array[2].isString() || !start) {
        return data;
    }
    data.sample_ = Sample{*array[0].string(), *population, *array[2].string(), *start};
    return data;
}

std::optional<sdk::Value> APMMonitoringSampledData::storedValue() const {
    if (!sample_) {
        return std::nullopt;
    }
    return sdk::Value(sdk::Value::Array{sdk::Value(sample_->encodedContext),
                                        sdk::Value(sample_->population), sdk::Value(sample_->key),
                                        sdk::Value(sample_->start)});
}
