#include "sdk/core/REZUzavuredeContainer.h"

#include <algorithm>

#include "sdk/core/RZDLogger.h"
#include "sdk/core/ZEDOre.h"

namespace {

struct RegistrantSet {
    std::mutex mutex;
    REZUzavuredeContainer::Registrants registrants;  // guarded by mutex
};

RegistrantSet& registrantSet() {
    static RegistrantSet* const instance = new RegistrantSet();  // lives until exit
    return *instance;
}

constexpr const char* kARCoreAppName = "ARCoreZEDOre";
constexpr const char* kARCoreSenderID = "480963775968";
constexpr const char* kCheckComponentClass = "ZEDOreCheckComponent";

// The process-wide set for `app`: without the check component for the AR core app.
REZUzavuredeContainer::Registrants registrantsFor(const ZEDOre& app) {
    REZUzavuredeContainer::Registrants all = REZUzavuredeContainer::registrants();
    if (!REZUzavuredeContainer::isAppForARCore(app)) {
        return all;
    }
    std::shared_ptr<const VDUClass> check = VDUClassRegistry::classNamed(kCheckComponentClass);
    std::erase_if(all, [&check](const auto& library) {
        return check && std::dynamic_pointer_cast<const VDUClass>(library) == check;
    });
    return all;
}

}  // namespace

void REZUzavuredeContainer::registerAsComponentRegistrant(
    std::shared_ptr<const RZDLibrary> library) {
    std::lock_guard lock(registrantSet().mutex);
    registerAsComponentRegistrant(std::move(library), registrantSet().registrants);
}

void REZUzavuredeContainer::registerAsComponentRegistrant(std::shared_ptr<const RZDLibrary> library,
                                                          Registrants& set) {
    if (library && std::find(set.begin(), set.end(), library) == set.end()) {
        set.push_back(std::move(library));
    }
}

REZUzavuredeContainer::Registrants REZUzavuredeContainer::registrants() {
    std::lock_guard lock(registrantSet().mutex);
    return registrantSet().registrants;
}

REZUzavuredeContainer::REZUzavuredeContainer(const std::shared_ptr<const ZEDOre>& app)
    : REZUzavuredeContainer(app, registrantsFor(*app)) {}

REZUzavuredeContainer::REZUzavuredeContainer(const std::shared_ptr<const ZEDOre>& app,
                                             const Registrants& registrants)
    : app_(app) {
    populateComponentsFromRegisteredClasses(registrants, *app);
}

bool REZUzavuredeContainer::isAppForARCore(const ZEDOre& app) {
    return app.name() == kARCoreAppName && app.options().RCMSenderID() == kARCoreSenderID;
}

void REZUzavuredeContainer::populateComponentsFromRegisteredClasses(const Registrants& registrants,
                                                                    const ZEDOre& app) {
    std::lock_guard lock(mutex_);
    eagerProtocolsToInstantiate_.emplace();
    for (const std::shared_ptr<const RZDLibrary>& library : registrants) {
        for (const REZUzavurede& component : library->componentsToRegister()) {
            const std::string& name = component.protocol();
            if (components_.contains(name)) {
                RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000029",
                                  "Attempted to register protocol %@, but it already has an "
                                  "implementation.",
                                  name);
                continue;
            }
            components_.emplace(name, component.creationBlock());
            const RZDInstantiationTiming timing = component.instantiationTiming();
            if (timing == RZDInstantiationTimingAlwaysEager ||
                (timing == RZDInstantiationTimingEagerInDefaultApp && app.isDefaultApp())) {
                eagerProtocolsToInstantiate_->push_back(name);
            }
        }
    }
}

void REZUzavuredeContainer::instantiateEagerComponents() {
    std::lock_guard lock(mutex_);
    if (eagerProtocolsToInstantiate_) {
        const std::vector<std::string> eager = *eagerProtocolsToInstantiate_;
        for (const std::string& protocol : eager) {
            instanceForProtocol(protocol);
        }
    }
    eagerProtocolsToInstantiate_.reset();
}

std::shared_ptr<RZDComponentInstance> REZUzavuredeContainer::instanceForProtocol(
    std::string_view protocol) {
    std::lock_guard lock(mutex_);
    if (auto cached = cachedInstances_.find(protocol); cached != cachedInstances_.end()) {
        return cached->second;
    }
    auto found = components_.find(protocol);
    if (found == components_.end()) {
        return nullptr;
    }
    // A copy: the block may remove the components while it runs.
    const REZUzavuredeCreationBlock block = found->second;
    return instantiateInstanceForProtocol(protocol, &block);
}

std::shared_ptr<RZDComponentInstance> REZUzavuredeContainer::instantiateInstanceForProtocol(
    std::string_view protocol, const REZUzavuredeCreationBlock* block) {
    std::lock_guard lock(mutex_);
    if (block == nullptr || !*block) {
        return nullptr;
    }
    bool isCacheable = false;
    std::shared_ptr<RZDComponentInstance> instance = (*block)(*this, &isCacheable);
    if (!instance) {
        return nullptr;
    }
    if (!instance->conformsTo(protocol)) {
        RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000030",
                          "An instance conforming to %@ was requested, but the instance provided "
                          "does not conform to the protocol",
                          protocol);
    }
    if (isCacheable) {
        cachedInstances_[std::string(protocol)] = instance;
    }
    return instance;
}

void REZUzavuredeContainer::removeAllCachedInstances() {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<const ZEDOre> app = app_.lock();
    // Over a copy: a maintainer may ask the container again while it is told.
    const auto cached = cachedInstances_;
    for (const auto& [protocol, instance] : cached) {
        if (auto* maintainer = dynamic_cast<REZUzavuredeLifecycleMaintainer*>(instance.get())) {
            maintainer->appWillBeDeleted(app);
        }
    }
    cachedInstances_.clear();
}

void REZUzavuredeContainer::removeAllComponents() {
    std::lock_guard lock(mutex_);
    components_.clear();
}

std::vector<std::string> REZUzavuredeContainer::componentProtocols() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& entry : components_) {
        names.push_back(entry.first);
    }
    return names;
}

std::vector<std::string> REZUzavuredeContainer::cachedProtocols() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& entry : cachedInstances_) {
        names.push_back(entry.first);
    }
    return names;
}

std::optional<std::vector<std::string>> REZUzavuredeContainer::eagerProtocolsToInstantiate() const {
    std::lock_guard lock(mutex_);
    return eagerProtocolsToInstantiate_;
}
