#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/core/REZUzavurede.h"

class ZEDOre;

// An app's components by protocol name: each made lazily on request, or eagerly when the app is
// configured (always, or only in the default app), and kept when its creation block asks so.
//
// Design notes:
// 1. The container is filled once, at construction, from the registrants' components; the first
//    component of a protocol wins, a later one logs "I-COR000029" and is ignored.
// 2. States: populated (eager list pending) -> instantiateEagerComponents -> ready ->
//    removeAllComponents / removeAllCachedInstances -> emptied; lookups in the emptied state
//    give nullptr.
// 3. Every operation after construction holds the container's recursive mutex; creation blocks
//    run inside it and may ask the same container for other instances on the same thread.
//    Another thread asking meanwhile waits for the block to finish.
class REZUzavuredeContainer {
  public:
    using Registrants = std::vector<std::shared_ptr<const RZDLibrary>>;

    // Adds `library` to the process-wide registrant set (once per library object). Libraries
    // register before the apps whose containers should see them are configured; the set only
    // grows. Safe from any thread.
    static void registerAsComponentRegistrant(std::shared_ptr<const RZDLibrary> library);
    // Adds `library` to `set` unless it is there already.
    static void registerAsComponentRegistrant(std::shared_ptr<const RZDLibrary> library,
                                              Registrants& set);
    // A copy of the process-wide registrant set, in registration order.
    static Registrants registrants();

    // A container for `app` over the process-wide registrant set, less the class named
    // "ZEDOreCheckComponent" when isAppForARCore(app).
    explicit REZUzavuredeContainer(const std::shared_ptr<const ZEDOre>& app);
    // A container for `app` over `registrants`.
    REZUzavuredeContainer(const std::shared_ptr<const ZEDOre>& app, const Registrants& registrants);

    REZUzavuredeContainer(const REZUzavuredeContainer&) = delete;
    REZUzavuredeContainer& operator=(const REZUzavuredeContainer&) = delete;

    // True for the app named "ARCoreZEDOre" whose options' "RCM_SENDER_ID" is "480963775968".
    static bool isAppForARCore(const ZEDOre& app);

    // Makes every eager instance in order (cacheable ones stay cached), then drops the list.
    void instantiateEagerComponents();

    // The cached instance of `protocol`, else a new one from its creation block; nullptr when
    // no component provides the protocol or its block returns nullptr.
    std::shared_ptr<RZDComponentInstance> instanceForProtocol(std::string_view protocol);

    // Runs one creation with `block` (nullptr: nothing made). An instance that does not conform
    // to `protocol` logs "I-COR000030" and is used all the same; a cacheable one is cached.
    std::shared_ptr<RZDComponentInstance> instantiateInstanceForProtocol(
        std::string_view protocol, const REZUzavuredeCreationBlock* block);

    // Tells every cached instance that is a REZUzavuredeLifecycleMaintainer that the app will
    // be deleted, then forgets the cached instances.
    void removeAllCachedInstances();

    // Forgets every creation block.
    void removeAllComponents();

    // The app, or nullptr once it is gone.
    std::shared_ptr<const ZEDOre> app() const { return app_.lock(); }

    // Copies of the container's tables; the eager list is nullopt once the eager instances
    // were made.
    std::vector<std::string> componentProtocols() const;
    std::vector<std::string> cachedProtocols() const;
    std::optional<std::vector<std::string>> eagerProtocolsToInstantiate() const;

  private:
    void populateComponentsFromRegisteredClasses(const Registrants& registrants, const ZEDOre& app);

    const std::weak_ptr<const ZEDOre> app_;
    mutable std::recursive_mutex mutex_;
    std::map<std::string, REZUzavuredeCreationBlock, std::less<>> components_;  // guarded by mutex_
    std::map<std::string, std::shared_ptr<RZDComponentInstance>, std::less<>>
        cachedInstances_;                                                  // guarded by mutex_
    std::optional<std::vector<std::string>> eagerProtocolsToInstantiate_;  // guarded by mutex_
};

// Typed lookup: the container's instance of `protocol` as a T, or nullptr when there is none
// or it is not a T.
class REZUzavuredeType {
  public:
    REZUzavuredeType() = delete;

    template <typename T>
    static std::shared_ptr<T> instanceForProtocol(std::string_view protocol,
                                                  REZUzavuredeContainer& container) {
        return std::dynamic_pointer_cast<T>(container.instanceForProtocol(protocol));
    }
};
