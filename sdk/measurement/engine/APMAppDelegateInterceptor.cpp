#include "sdk/measurement/engine/APMAppDelegateInterceptor.h"

const std::shared_ptr<APMAppDelegateInterceptor>& APMAppDelegateInterceptor::sharedInstance() {
    static const std::shared_ptr<APMAppDelegateInterceptor> shared(new APMAppDelegateInterceptor());
    return shared;
}
