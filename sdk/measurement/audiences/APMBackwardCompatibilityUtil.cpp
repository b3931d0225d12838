#include "sdk/measurement/audiences/APMBackwardCompatibilityUtil.h"

bool APMBackwardCompatibilityUtil::disableVIZIverirozidi() {
    const auto cls = VDUClassRegistry::classNamed<SwitchableClass>("VIZIverirozidi");
    if (!cls) {
        return false;
    }
    const std::shared_ptr<SwitchableInstance> instance = cls->sharedInstance();
    if (!instance) {
        return false;
    }
    instance->setIsEnabled(false);
    return true;
}
