// Step 9 of the event pipeline: the configuration's event-editing program over one event.
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/core/APMEventEditEvent.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/script/APMPEventEditing.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

APMMeasurement::EventEditingResult APMMeasurement::editEventOnWorkerQueue(const APMEvent& event) {
    EventEditingResult result;
    const std::shared_ptr<APMPEventEditing> editing =
        remoteConfig_ ? remoteConfig_->eventEditing() : nullptr;
    if (!editing) {
        // No program configured: nothing is edited or created.
        return result;
    }
    // The error decides, not the answer: an unchanged event answers false too.
    sdk::Error error;
    editing->handleEvent(APMEventEditEvent(event), error);
    if (!error.ok()) {
        result.error = error;
        return result;
    }
    const APMPEventContext& context = editing->eventContext();
    if (editing->hasEdits()) {
        // An edit the validator refuses (it logs why) leaves the event as it came, rather than
        // losing it.
        result.editedEvent =
            APMEventFromEditEvent(context.outputEvent(),
                                  APMRemoteConfig::current()->parameterLimits(), event.timestamp());
    }
    for (const APMPEvent& created : context.eventsToLog()) {
        // Scripts log whole milliseconds.
        result.createdEvents.push_back({created.name(),
                                        APMEvent::secondsFromEditTimestamp(created.timestamp()),
                                        APMRawParametersFromDictionary(created.parameters())});
    }
    return result;
}
