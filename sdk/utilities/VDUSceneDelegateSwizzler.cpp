#include "sdk/utilities/VDUSceneDelegateSwizzler.h"

#include "sdk/utilities/DOZAruZizorudeZadazudu.h"

bool VDUSceneDelegateSwizzler::isSceneDelegateProxyEnabled() {
    return DOZAruZizorudeZadazudu::isAppDelegateProxyEnabled();
}
