#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"

// What tests may do to the identity support front beyond its public interface. Test code only.
class APMDefaultIdentitySupportTestPeer {
  public:
    APMDefaultIdentitySupportTestPeer() = delete;

    // Installs `support` in `front` (null removes it), as if it had been linked, and forgets the
    // last advertising identifier received. Any thread.
    static void setPlatformSupport(APMDefaultIdentitySupport& front,
                                   std::shared_ptr<APMIdentitySupport> support) {
        std::lock_guard lock(front.mutex_);
        front.support_ = std::move(support);
        front.deviceID_.reset();
    }
};
