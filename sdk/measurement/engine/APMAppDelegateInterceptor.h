#pragma once

#include <memory>

// The object the analytics facade registers with the app-delegate proxy, so the proxy is
// active for the measurement SDK. It intercepts none of the application-delegate calls: the
// registration alone is what the facade needs.
//
// Made once; safe to ask for from any thread.
class APMAppDelegateInterceptor {
  public:
    // The one interceptor, alive for the rest of the process (the proxy holds interceptors
    // weakly).
    static const std::shared_ptr<APMAppDelegateInterceptor>& sharedInstance();

    APMAppDelegateInterceptor(const APMAppDelegateInterceptor&) = delete;
    APMAppDelegateInterceptor& operator=(const APMAppDelegateInterceptor&) = delete;

  private:
    APMAppDelegateInterceptor() = default;
};
