#include "sdk/utilities/VDUClassRegistry.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const VDUClass>, std::less<>>
        classes;  // guarded by mutex
};

Registry& registry() {
    static Registry* const instance = new Registry();  // lives until exit
    return *instance;
}

}  // namespace

bool VDUClassRegistry::registerClass(std::shared_ptr<const VDUClass> cls) {
    if (!cls) {
        return false;
    }
    std::string name = cls->className();
    if (name.empty()) {
        return false;
    }
    std::lock_guard lock(registry().mutex);
    auto [it, inserted] = registry().classes.try_emplace(std::move(name), cls);
    return inserted || it->second == cls;
}

std::shared_ptr<const VDUClass> VDUClassRegistry::classNamed(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().classes.find(name);
    return it != registry().classes.end() ? it->second : nullptr;
}

std::vector<std::string> VDUClassRegistry::registeredClassNames() {
    std::lock_guard lock(registry().mutex);
    std::vector<std::string> names;
    for (const auto& entry : registry().classes) {
        names.push_back(entry.first);
    }
    return names;
}

void VDUClassRegistry::TEST_unregisterClass(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    if (auto it = registry().classes.find(name); it != registry().classes.end()) {
        registry().classes.erase(it);
    }
}
