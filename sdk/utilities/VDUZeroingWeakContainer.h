#pragma once

#include <memory>
#include <utility>

#include "platform/app/ApplicationDelegate.h"

// Holds an application-delegate interceptor without keeping it alive: object() is null once the
// interceptor is gone. The app-delegate proxy's registry stores one per interceptor. Immutable,
// so safe to share between threads.
class VDUZeroingWeakContainer {
  public:
    explicit VDUZeroingWeakContainer(std::weak_ptr<platform::ApplicationDelegate> object)
        : object_(std::move(object)) {}

    // The interceptor, or null when it has been freed.
    std::shared_ptr<platform::ApplicationDelegate> object() const { return object_.lock(); }

  private:
    const std::weak_ptr<platform::ApplicationDelegate> object_;
};

// The same for a scene's delegate. There are no scenes on this platform and no scene-delegate
// type, so it holds any object; nothing stores one yet.
class VDUSceneZeroingWeakContainer {
  public:
    explicit VDUSceneZeroingWeakContainer(std::weak_ptr<void> object)
        : object_(std::move(object)) {}

    // The object, or null when it has been freed.
    std::shared_ptr<void> object() const { return object_.lock(); }

  private:
    const std::weak_ptr<void> object_;
};
