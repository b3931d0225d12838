#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/script/APMPModule.h"
#include "sdk/utilities/Error.h"

// An event-editing instance: a runtime of its own that loads one program of the configuration
// and then edits or creates events. The script runtime implements it; until it exists there
// is no factory and no program runs.
class APMPEventEditing {
  public:
    virtual ~APMPEventEditing() = default;
    // Installs the creator of the module `name`; the module is made when a program requires it.
    virtual void setModuleCreator(APMPModuleCreator creator, const std::string& name) = 0;
    // Runs the program's instructions and registers its rules; false with `error` set when it
    // cannot be loaded.
    virtual bool loadProgram(const APMPBProgram& program, sdk::Error* error) = 0;
};

// Makes a new event-editing instance.
using APMPEventEditingFactory = std::function<std::shared_ptr<APMPEventEditing>()>;
