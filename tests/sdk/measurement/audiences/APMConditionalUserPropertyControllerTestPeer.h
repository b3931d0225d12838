#pragma once

#include <chrono>
#include <optional>

#include "sdk/measurement/audiences/APMConditionalUserPropertyController.h"

// The controller's test-only settings, kept out of its public face.
class APMConditionalUserPropertyControllerTestPeer {
  public:
    // How long a query waits for the worker queue; no value restores 30 s. Any thread.
    static void setQueryTimeout(std::optional<std::chrono::milliseconds> timeout) {
        APMConditionalUserPropertyController::setQueryTimeout(timeout);
    }
};
