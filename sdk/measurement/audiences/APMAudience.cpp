#include "sdk/measurement/audiences/APMAudience.h"

#include <algorithm>
#include <map>
#include <string>

#include "sdk/measurement/audiences/APMAudienceLimits.h"
#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMAudienceValidation.h"
#include "sdk/measurement/audiences/APMRepeatedMessages.h"
#include "sdk/measurement/audiences/APMStoredFilterEvaluation.h"
#include "sdk/measurement/audiences/APMUserAttributeFromNano.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMInternalParameterNames.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

using Words = std::vector<std::uint64_t>;
using ResultMap = std::map<std::int32_t, APMFilterResult>;

namespace RD = apmpb::ResultData;

// The 64-bit words of a repeated uint64 slot (each kept bit for bit in a signed value).
Words wordsOf(const NANOMessageBase* data, std::int32_t slot) {
    Words words;
    for (const APMPBRepeatedElement& element :
         APMPBGetRepeated(data, slot).value_or(APMPBRepeatedArray{})) {
        if (const auto* value = std::get_if<sdk::Value>(&element)) {
            words.push_back(static_cast<std::uint64_t>(value->numberAsInt().value_or(0)));
        }
    }
    return words;
}

void setWords(NANOMessageBase* data, std::int32_t slot, const Words& words) {
    APMPBRepeatedArray elements;
    for (const std::uint64_t word : words) {
        // The signed value keeps all 64 bits; a plain unsigned one would saturate at bit 63.
        elements.emplace_back(sdk::Value(static_cast<std::int64_t>(word)));
    }
    APMPBSetRepeated(data, slot, elements);
}

template <class W>
void setMessages(NANOMessageBase* data, std::int32_t slot,
                 const std::vector<std::shared_ptr<W>>& messages) {
    APMPBRepeatedArray elements(messages.begin(), messages.end());
    APMPBSetRepeated(data, slot, elements);
}

template <class W>
void setMessages(NANOMessageBase* data, std::int32_t slot, const std::vector<W>& messages) {
    APMPBRepeatedArray elements;
    for (const W& message : messages) {
        elements.emplace_back(std::make_shared<W>(message));
    }
    APMPBSetRepeated(data, slot, elements);
}

std::unique_ptr<APMPBResultData> decodedResultData(const sdk::Bytes& bytes) {
    return APMPBResultData::initWithBuffer(bytes);
}

sdk::Bytes encoded(const NANOMessageBase& message) {
    return message.protoBuffer().value_or(sdk::Bytes{});
}

std::uint64_t bitOf(std::int32_t filterID) {
    return std::uint64_t{1} << APMFilterResultBitIndex(filterID);
}

bool failedWithError(const sdk::Error& error) {
    return !error.ok();
}

std::string describeAudience(const APMPBAudience& audience) {
    namespace A = apmpb::Audience;
    std::string text = "APMPBAudience{";
    if (APMPBHasField(&audience, A::kAudienceId)) {
        text +=
            "id=" +
            std::to_string(static_cast<std::int32_t>(APMPBGetInt32(&audience, A::kAudienceId))) +
            " ";
    }
    text += "event_filters=" +
            std::to_string(
                APMRepeatedMessagesOf<APMPBEventFilter>(&audience, A::kEventFilters).size()) +
            " property_filters=" +
            std::to_string(
                APMRepeatedMessagesOf<APMPBPropertyFilter>(&audience, A::kPropertyFilters).size()) +
            "}";
    return text;
}

// `name` through `map` when it is one of its keys.
template <class Map>
std::optional<std::string> renamed(const std::optional<std::string>& name, const Map& map) {
    if (!name) {
        return name;
    }
    const auto found = map.find(*name);
    return found != map.end() ? std::optional<std::string>(found->second) : name;
}

// The stored records of one accepted audience, its names in their internal forms.
void appendFilters(const APMPBAudience& audience, std::vector<APMEventFilter>& events,
                   std::vector<APMPropertyFilter>& properties) {
    namespace A = apmpb::Audience;
    namespace EF = apmpb::EventFilter;
    namespace PF = apmpb::PropertyFilter;
    const auto audienceID = static_cast<std::int32_t>(APMPBGetInt32(&audience, A::kAudienceId));
    for (const auto& original :
         APMRepeatedMessagesOf<APMPBEventFilter>(&audience, A::kEventFilters)) {
        APMPBEventFilter filter(*original);
        const std::optional<std::string> name =
            renamed(APMPBGetString(&filter, EF::kEventName), APMPublicEventNameMap());
        APMPBSetString(&filter, EF::kEventName, name);
        std::vector<std::shared_ptr<APMPBFilter>> parameters =
            APMRepeatedMessagesOf<APMPBFilter>(&filter, EF::kFilters);
        for (const std::shared_ptr<APMPBFilter>& parameter : parameters) {
            APMPBSetString(parameter.get(), apmpb::Filter::kParamName,
                           renamed(APMPBGetString(parameter.get(), apmpb::Filter::kParamName),
                                   APMInternalParameterNames()));
        }
        setMessages(&filter, EF::kFilters, parameters);
        events.emplace_back(
            audienceID, static_cast<std::int32_t>(APMPBGetInt32(&filter, EF::kFilterId)),
            name.value_or(""), encoded(filter), APMPBGetBool(&filter, EF::kSessionScoped),
            APMPBGetBool(&filter, EF::kDynamic), APMPBGetBool(&filter, EF::kSequence));
    }
    for (const auto& original :
         APMRepeatedMessagesOf<APMPBPropertyFilter>(&audience, A::kPropertyFilters)) {
        APMPBPropertyFilter filter(*original);
        const std::optional<std::string> name =
            renamed(APMPBGetString(&filter, PF::kPropertyName), APMReservedUserPropertyNames());
        APMPBSetString(&filter, PF::kPropertyName, name);
        properties.emplace_back(
            audienceID, static_cast<std::int32_t>(APMPBGetInt32(&filter, PF::kFilterId)),
            name.value_or(""), encoded(filter), APMPBGetBool(&filter, PF::kSessionScoped),
            APMPBGetBool(&filter, PF::kDynamic), APMPBGetBool(&filter, PF::kSequence));
    }
}

// The monitor codes and texts of one kind of evaluation (events or user properties).
struct EvaluationMessages {
    std::int64_t queryFiltersCode;
    std::string_view queryFilters;
    std::int64_t queryResultCode;
    std::string_view queryResult;
    std::int64_t saveCode;
    std::string_view save;
    std::int64_t corruptFilterCode;
    std::string_view corruptFilter;
};

constexpr EvaluationMessages kEventMessages{
    6000,
    "Unable to query event filters for event. Event will not be evaluated. Event name, error",
    6001,
    "Unable to query filter result for audience. Event will not be evaluated. Event name, error",
    6003,
    "Unable to save updated Audience filter results. Event will not be evaluated. Event name, "
    "error",
    6035,
    "Event filter contains no data or corrupt data. Event will not be evaluated. Event name, "
    "filter ID, audience ID, dynamic",
};

constexpr EvaluationMessages kPropertyMessages{
    6004,
    "Unable to query property filters for property. Property will not be evaluated. Property "
    "name, error",
    6005,
    "Unable to query filter result for audience. Property will not be evaluated. Property name, "
    "error",
    6007,
    "Unable to save updated Audience filter results. User property will not be evaluated. User "
    "property name, error",
    6036,
    "User property filter contains no data or corrupt data. User property will not be "
    "evaluated. User property name, filter ID, audience ID, dynamic",
};

// Runs `filters` (of the event or property `name`) and writes the audiences' changed results.
// `evaluate(wasTrue, filter)` gives the leaf result (none: no change); `decide(wasTrue, result,
// filter)` the value the bit takes.
template <class Filter, class Evaluate, class Decide>
bool evaluateFilters(APMDatabase& database, const std::vector<Filter>& filters,
                     std::string_view name, double timestamp, APMAudienceTimestampsCache* given,
                     const EvaluationMessages& messages, Evaluate evaluate, Decide decide) {
    APMAudienceTimestampsCache ownCache;
    APMAudienceTimestampsCache& cache = given != nullptr ? *given : ownCache;
    const std::int32_t maxFilters = APMAudienceLimits::current().maxFiltersPerAudience;
    ResultMap updated;
    ResultMap loaded;
    for (const Filter& filter : filters) {
        const std::int32_t audienceID = filter.audienceID();
        // Rows come from a file: an ID outside the checked range must not address a word.
        if (filter.filterID() < 0 || filter.filterID() >= maxFilters) {
            APMAudienceLog(1, messages.corruptFilterCode, messages.corruptFilter, name,
                           filter.filterID(), audienceID, filter.isDynamic());
            continue;
        }
        const APMFilterResult* current = nullptr;
        if (auto found = updated.find(audienceID); found != updated.end()) {
            current = &found->second;
        } else if (auto cached = loaded.find(audienceID); cached != loaded.end()) {
            current = &cached->second;
        } else {
            sdk::Error error;
            std::optional<APMFilterResult> stored =
                database.filterResultForAudienceID(audienceID, &error);
            if (!stored && failedWithError(error)) {
                APMAudienceLog(1, messages.queryResultCode, messages.queryResult, name, error);
                return false;
            }
            if (stored) {
                current = &loaded.insert_or_assign(audienceID, std::move(*stored)).first->second;
            }
        }
        const bool wasTrue = APMAudience::isFilterResultTrueForFilterID(current, filter.filterID());
        if (!APMShouldEvaluateFilter(wasTrue, filter)) {
            continue;
        }
        const std::optional<bool> result = evaluate(wasTrue, filter);
        if (!result) {
            continue;
        }
        cache.populateCachedTimestamps(current, audienceID);
        if (*result) {
            cache.addEvaluationTimestamp(timestamp, filter);
        }
        APMFilterResult next = APMAudience::updatedFilterResultWithFilterID(
            filter.filterID(), audienceID, current, decide(wasTrue, *result, filter), cache);
        updated.insert_or_assign(audienceID, std::move(next));
        loaded.erase(audienceID);
    }
    if (updated.empty()) {
        return true;
    }
    std::vector<APMFilterResult> results;
    for (auto& [audienceID, result] : updated) {
        results.push_back(std::move(result));
    }
    sdk::Error error;
    if (!database.updateFilterResults(results, &error) && failedWithError(error)) {
        APMAudienceLog(1, messages.saveCode, messages.save, name, error);
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<APMAudience> APMAudience::initWithDatabase(std::shared_ptr<APMDatabase> database) {
    return database ? std::make_shared<APMAudience>(std::move(database)) : nullptr;
}

APMAudience::APMAudience(std::shared_ptr<APMDatabase> database) : database_(std::move(database)) {}

// Definitions
// -----------------------------------------------------------------------------------------

bool APMAudience::updateAudiences(const APMPBRepeatedArray& elements) {
    std::vector<std::shared_ptr<APMPBAudience>> audiences;
    for (const APMPBRepeatedElement& element : elements) {
        if (const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element)) {
            if (auto audience = std::dynamic_pointer_cast<APMPBAudience>(*message)) {
                audiences.push_back(std::move(audience));
            }
        }
    }
    const APMAudienceLimits limits = APMAudienceLimits::current();
    if (audiences.size() > static_cast<std::size_t>(std::max(limits.maxAudienceCount, 0))) {
        APMAudienceLog(2, 6008,
                       "Configuration contains too many audiences. Audiences will not be saved. "
                       "Audience count",
                       static_cast<std::int64_t>(audiences.size()));
        return true;
    }
    std::set<std::int32_t> accepted;
    std::vector<APMEventFilter> eventFilters;
    std::vector<APMPropertyFilter> propertyFilters;
    for (const std::shared_ptr<APMPBAudience>& audience : audiences) {
        sdk::Error error;
        if (!APMValidateAudience(*audience, accepted, limits, &error)) {
            APMAudienceLog(2, 6009,
                           "Audience definition is invalid. Audience will not be saved. Audience, "
                           "error",
                           describeAudience(*audience), error);
            continue;
        }
        accepted.insert(
            static_cast<std::int32_t>(APMPBGetInt32(audience.get(), apmpb::Audience::kAudienceId)));
        appendFilters(*audience, eventFilters, propertyFilters);
    }
    if (!maybeDeleteStaleFilterResults(accepted)) {
        return false;
    }
    sdk::Error error;
    if (!database_->deleteAllEventFilters(&error) && failedWithError(error)) {
        APMAudienceLog(1, 6010,
                       "Unable to delete existing Audience event filters. Audiences will not be "
                       "saved. Error",
                       error);
        return false;
    }
    if (!database_->deleteAllPropertyFilters(&error) && failedWithError(error)) {
        APMAudienceLog(1, 6011,
                       "Unable to delete existing Audience user property filters. Audiences will "
                       "not be saved. Error",
                       error);
        return false;
    }
    if (!eventFilters.empty() && !database_->updateEventFilters(eventFilters, &error) &&
        failedWithError(error)) {
        APMAudienceLog(1, 6012,
                       "Unable to save Audience event filters. Audiences will not be saved. Error",
                       error);
        return false;
    }
    if (!propertyFilters.empty() && !database_->updatePropertyFilters(propertyFilters, &error) &&
        failedWithError(error)) {
        APMAudienceLog(1, 6013,
                       "Unable to save Audience user property filters. Audiences will not be "
                       "saved. Error",
                       error);
        return false;
    }
    return true;
}

bool APMAudience::maybeDeleteStaleFilterResults(const std::set<std::int32_t>& audienceIDs) {
    sdk::Error error;
    const std::optional<ResultMap> results = database_->allFilterResults(&error);
    if (!results && failedWithError(error)) {
        APMAudienceLog(1, 6015,
                       "Unable to query Audience filter results. Audiences will not be saved. "
                       "Error",
                       error);
        return false;
    }
    const std::int32_t maxCount = APMAudienceLimits::current().maxFilterResultCount;
    const std::size_t count = results ? results->size() : 0;
    if (count <= static_cast<std::size_t>(std::max(maxCount, 0))) {
        return true;
    }
    APMAudienceLog(3, 6016,
                   "Too many Audience filter results. Deleting filter results for deleted "
                   "Audiences. Filter result count, max filter result count",
                   static_cast<std::int64_t>(count), maxCount);
    const std::optional<std::vector<std::int32_t>> current = database_->allAudienceIDs(&error);
    if (!current && failedWithError(error)) {
        APMAudienceLog(1, 6017,
                       "Unable to query current Audience IDs. Audiences will not be saved. Error",
                       error);
        return false;
    }
    std::set<std::int32_t> kept(audienceIDs);
    if (current) {
        kept.insert(current->begin(), current->end());
    }
    std::vector<APMFilterResult> stale;
    for (const auto& [audienceID, result] : *results) {
        if (!kept.contains(audienceID)) {
            stale.push_back(result);
        }
    }
    if (!stale.empty() && !database_->deleteFilterResults(stale, &error) &&
        failedWithError(error)) {
        APMAudienceLog(1, 6018,
                       "Unable to delete stale Audience filter results. Audiences will not be "
                       "saved. Error",
                       error);
        return false;
    }
    return true;
}

// Evaluation
// -----------------------------------------------------------------------------------------

bool APMAudience::evaluateFiltersForEvent(const APMEvent& event,
                                          const APMEventAggregates& eventAggregates,
                                          APMAudienceTimestampsCache& cache) {
    return evaluateFiltersForEventName(event.name(), event.parameters(), &eventAggregates,
                                       event.timestamp(), &cache);
}

bool APMAudience::evaluateFiltersForEventName(std::string_view eventName,
                                              const APMParameters& parameters,
                                              const APMEventAggregates* eventAggregates,
                                              double timestamp, APMAudienceTimestampsCache* cache) {
    sdk::Error error;
    const std::optional<std::vector<APMEventFilter>> filters =
        database_->eventFiltersForEventName(eventName, &error);
    if (!filters && failedWithError(error)) {
        APMAudienceLog(1, kEventMessages.queryFiltersCode, kEventMessages.queryFilters, eventName,
                       error);
        return false;
    }
    return evaluateFilters(
        *database_, filters.value_or(std::vector<APMEventFilter>{}), eventName, timestamp, cache,
        kEventMessages,
        [&](bool, const APMEventFilter& filter) {
            return APMEvaluateStoredEventFilter(filter, parameters, eventAggregates);
        },
        // An event filter that was true stays true until the session-scoped results are cleared.
        [](bool wasTrue, bool result, const APMEventFilter&) { return result || wasTrue; });
}

bool APMAudience::evaluateFiltersForUserProperty(const APMUserAttribute& attribute,
                                                 APMAudienceTimestampsCache* cache,
                                                 double evaluationTimestamp) {
    sdk::Error error;
    const std::optional<std::vector<APMPropertyFilter>> filters =
        database_->propertyFiltersForPropertyName(attribute.name(), &error);
    if (!filters && failedWithError(error)) {
        APMAudienceLog(1, kPropertyMessages.queryFiltersCode, kPropertyMessages.queryFilters,
                       attribute.name(), error);
        return false;
    }
    return evaluateFilters(
        *database_, filters.value_or(std::vector<APMPropertyFilter>{}), attribute.name(),
        evaluationTimestamp, cache, kPropertyMessages,
        [&](bool wasTrue, const APMPropertyFilter& filter) {
            return APMEvaluateStoredPropertyFilter(wasTrue, filter, attribute);
        },
        [](bool wasTrue, bool result, const APMPropertyFilter& filter) {
            return APMShouldTakePropertyResult(result, filter) ? result : wasTrue;
        });
}

bool APMAudience::evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& attribute,
                                                     APMAudienceTimestampsCache* cache,
                                                     std::optional<double> evaluationTime) {
    const std::optional<APMUserAttribute> converted = APMUserAttributeFromNano(attribute);
    if (!converted) {
        APMAudienceLog(2, 6039, "Could not convert user property from nano format.");
        return false;
    }
    return evaluateFiltersForUserProperty(*converted, cache,
                                          evaluationTime.value_or(converted->lastSetTimestamp()));
}

// Bits
// -----------------------------------------------------------------------------------------

bool APMAudience::isFilterResultTrueForFilterID(const APMFilterResult* result,
                                                std::int32_t filterID) {
    if (result == nullptr || result->currentResults().empty() || filterID < 0) {
        return false;
    }
    const std::unique_ptr<APMPBResultData> data = decodedResultData(result->currentResults());
    const Words status = wordsOf(data.get(), RD::kStatus);
    const Words results = wordsOf(data.get(), RD::kResults);
    if (status.empty() || results.empty()) {
        APMAudienceLog(2, 6023,
                       "Audience filter result is non-nil and is missing status or results array. "
                       "Audience result will not be bundled. Audience ID, result data",
                       result->audienceID(), sdk::Value(result->currentResults()));
        return false;
    }
    const auto word = static_cast<std::size_t>(APMFilterResultWordIndex(filterID));
    if (word >= status.size()) {
        return false;
    }
    const std::uint64_t bit = bitOf(filterID);
    return (status[word] & bit) != 0 && word < results.size() && (results[word] & bit) != 0;
}

APMFilterResult APMAudience::updatedFilterResultWithFilterID(
    std::int32_t filterID, std::int32_t audienceID, const APMFilterResult* current,
    std::optional<bool> newEvaluationResult, const APMAudienceTimestampsCache& cache) {
    Words status;
    Words results;
    if (current != nullptr && !current->currentResults().empty()) {
        const std::unique_ptr<APMPBResultData> data = decodedResultData(current->currentResults());
        status = wordsOf(data.get(), RD::kStatus);
        results = wordsOf(data.get(), RD::kResults);
    }
    const auto word = static_cast<std::size_t>(APMFilterResultWordIndex(std::max(filterID, 0)));
    while (status.size() < word + 1 || results.size() < word + 1) {
        status.push_back(0);
        results.push_back(0);
    }
    const std::uint64_t bit = bitOf(std::max(filterID, 0));
    status[word] = newEvaluationResult ? status[word] | bit : status[word] & ~bit;
    results[word] =
        newEvaluationResult.value_or(false) ? results[word] | bit : results[word] & ~bit;
    APMPBResultData data;
    setWords(&data, RD::kStatus, status);
    setWords(&data, RD::kResults, results);
    setMessages(&data, RD::kDynamicFilterTimestamps,
                cache.dynamicTimestampsForAudienceID(audienceID));
    if (const auto sequence = cache.sequenceTimestampsForAudienceID(audienceID)) {
        setMessages(&data, RD::kSequenceFilterTimestamps, *sequence);
    }
    return APMFilterResult(audienceID, encoded(data),
                           current != nullptr ? current->previousResults() : sdk::Bytes{});
}

// Bundling
// -----------------------------------------------------------------------------------------

bool APMAudience::resultsForBundling(
    std::optional<std::vector<APMPBAudienceLeafFilterResult>>& results) {
    namespace Leaf = apmpb::AudienceLeafFilterResult;
    results.emplace();
    sdk::Error error;
    const std::optional<ResultMap> stored = database_->allFilterResults(&error);
    if (!stored && failedWithError(error)) {
        APMAudienceLog(1, 6019,
                       "Unable to query Audience filter results. Audience results will not be "
                       "bundled. Error",
                       error);
        results.reset();
        return false;
    }
    std::vector<APMFilterResult> rolled;
    for (const auto& [audienceID, result] : stored.value_or(ResultMap{})) {
        const std::unique_ptr<APMPBResultData> current = decodedResultData(result.currentResults());
        if (!current) {
            APMAudienceLog(2, 6020,
                           "Current result data is nil. Audience result will not be bundled. "
                           "Audience ID",
                           audienceID);
            continue;
        }
        if (!APMHasAnyBitSet(wordsOf(current.get(), RD::kStatus))) {
            APMAudienceLog(2, 6021,
                           "Current result status is 0. Audience result will not be bundled. "
                           "Audience ID",
                           audienceID);
            continue;
        }
        APMPBAudienceLeafFilterResult leaf;
        APMPBSetInt32(&leaf, Leaf::kAudienceId, static_cast<std::uint32_t>(audienceID));
        APMPBSetMessage(&leaf, Leaf::kCurrentData, current.get());
        if (result.previousResults().empty()) {
            APMPBSetBool(&leaf, Leaf::kNewAudience, true);
            APMPBClearField(&leaf, Leaf::kPreviousData);
        } else {
            APMPBSetBool(&leaf, Leaf::kNewAudience, false);
            const std::unique_ptr<APMPBResultData> previous =
                decodedResultData(result.previousResults());
            if (previous && encoded(*previous) == encoded(*current)) {
                // Unchanged since the last bundle: the first sequence entry keeps only its
                // latest time.
                auto sequence = APMRepeatedMessagesOf<APMPBSequenceFilterResultTimestamp>(
                    current.get(), RD::kSequenceFilterTimestamps);
                namespace Seq = apmpb::SequenceFilterResultTimestamp;
                const APMPBRepeatedArray times =
                    sequence.empty()
                        ? APMPBRepeatedArray{}
                        : APMPBGetRepeated(sequence.front().get(), Seq::kEvalTimestamps)
                              .value_or(APMPBRepeatedArray{});
                if (times.size() >= 2) {
                    APMPBSetRepeated(sequence.front().get(), Seq::kEvalTimestamps,
                                     APMPBRepeatedArray{times.back()});
                    setMessages(current.get(), RD::kSequenceFilterTimestamps, sequence);
                    APMPBSetMessage(&leaf, Leaf::kCurrentData, current.get());
                }
            } else {
                APMPBSetMessage(&leaf, Leaf::kPreviousData, previous.get());
            }
        }
        results->push_back(leaf);
        rolled.emplace_back(audienceID, encoded(*current), result.currentResults());
    }
    if (!rolled.empty() && !database_->updateFilterResults(rolled, &error) &&
        failedWithError(error)) {
        APMAudienceLog(1, 6022,
                       "Unable to save updated Audience filter results. Audience results will not "
                       "be bundled. Error",
                       error);
        results.reset();
        return false;
    }
    return true;
}

// Sessions
// -----------------------------------------------------------------------------------------

namespace {

// Clears the bits of the filters in `cleared` from `words` (a filter beyond the words has none).
void clearFilterBits(Words& words, const std::set<std::int32_t>& cleared) {
    for (const std::int32_t filterID : cleared) {
        if (filterID < 0) {
            continue;
        }
        const auto word = static_cast<std::size_t>(APMFilterResultWordIndex(filterID));
        if (word < words.size()) {
            words[word] &= ~bitOf(filterID);
        }
    }
}

// Removes the times of the filters in `cleared` from the repeated slot `slot` of `data`, whose
// messages W name their filter in `filterIDSlot`.
template <class W>
void eraseFilterTimestamps(NANOMessageBase* data, std::int32_t slot, std::int32_t filterIDSlot,
                           const std::set<std::int32_t>& cleared) {
    auto timestamps = APMRepeatedMessagesOf<W>(data, slot);
    std::erase_if(timestamps, [&](const auto& entry) {
        return cleared.contains(
            static_cast<std::int32_t>(APMPBGetInt32(entry.get(), filterIDSlot)));
    });
    setMessages(data, slot, timestamps);
}

// One stored result without the session-scoped filters `filterIDs`: into `deletions` when no
// status bit is left, else into `updates` with its bits and times cleared. A result whose data
// cannot be read is left as it is.
void clearSessionScopedFiltersOfResult(std::int32_t audienceID, const APMFilterResult& result,
                                       const std::vector<std::int32_t>& filterIDs,
                                       std::vector<APMFilterResult>& updates,
                                       std::vector<APMFilterResult>& deletions) {
    std::unique_ptr<APMPBResultData> data = decodedResultData(result.currentResults());
    if (!data) {
        return;
    }
    const std::set<std::int32_t> cleared(filterIDs.begin(), filterIDs.end());
    Words status = wordsOf(data.get(), RD::kStatus);
    Words results = wordsOf(data.get(), RD::kResults);
    clearFilterBits(status, cleared);
    clearFilterBits(results, cleared);
    if (!APMHasAnyBitSet(status)) {
        deletions.push_back(result);
        return;
    }
    setWords(data.get(), RD::kStatus, status);
    setWords(data.get(), RD::kResults, results);
    eraseFilterTimestamps<APMPBDynamicFilterResultTimestamp>(
        data.get(), RD::kDynamicFilterTimestamps, apmpb::DynamicFilterResultTimestamp::kFilterId,
        cleared);
    eraseFilterTimestamps<APMPBSequenceFilterResultTimestamp>(
        data.get(), RD::kSequenceFilterTimestamps, apmpb::SequenceFilterResultTimestamp::kFilterId,
        cleared);
    updates.emplace_back(audienceID, encoded(*data), result.currentResults());
}

// Writes the cleared results and deletes the emptied ones; false (6043, 6042) when either
// fails.
bool storeClearedResults(APMDatabase& database, const std::vector<APMFilterResult>& updates,
                         const std::vector<APMFilterResult>& deletions) {
    sdk::Error error;
    if (!updates.empty() && !database.updateFilterResults(updates, &error) &&
        failedWithError(error)) {
        APMAudienceLog(2, 6043,
                       "Unable to update filter results. Session scoped results will not be "
                       "cleared. Error",
                       error);
        return false;
    }
    if (!deletions.empty() && !database.deleteFilterResults(deletions, &error) &&
        failedWithError(error)) {
        APMAudienceLog(1, 6042,
                       "Unable to delete filter results. Session scoped results will not be "
                       "cleared. Error",
                       error);
        return false;
    }
    return true;
}

}  // namespace

bool APMAudience::clearEvaluationResultsForSessionScopedFilters() {
    sdk::Error error;
    const std::optional<std::map<std::int32_t, std::vector<std::int32_t>>> sessionFilters =
        database_->allSessionScopedFilters(&error);
    if (!sessionFilters && failedWithError(error)) {
        APMAudienceLog(1, 6040,
                       "Unable to query all session scoped filters. Session scoped results will "
                       "not be cleared. Error",
                       error);
        return false;
    }
    const std::optional<ResultMap> stored = database_->allFilterResults(&error);
    if (!stored && failedWithError(error)) {
        APMAudienceLog(1, 6041,
                       "Unable to query all filter results. Session scoped results will not be "
                       "cleared. Error",
                       error);
        return false;
    }
    if (!sessionFilters || !stored) {
        return true;
    }
    std::vector<APMFilterResult> updates;
    std::vector<APMFilterResult> deletions;
    for (const auto& [audienceID, filterIDs] : *sessionFilters) {
        if (const auto found = stored->find(audienceID); found != stored->end()) {
            clearSessionScopedFiltersOfResult(audienceID, found->second, filterIDs, updates,
                                              deletions);
        }
    }
    return storeClearedResults(*database_, updates, deletions);
}
