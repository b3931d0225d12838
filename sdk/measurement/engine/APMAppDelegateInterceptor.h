#pragma once

#include <memory>

#include "platform/app/ApplicationDelegate.h"

// The object the analytics facade registers with the app-delegate proxy
// (DOZAruZizorudeZadazudu::registerAppDelegateInterceptor), so the proxy is active for the
// measurement SDK. It implements none of the optional application-delegate calls: the
// registration alone is what the facade needs.
//
// Made once; safe to ask for from any thread.
class APMAppDelegateInterceptor final : public platform::ApplicationDelegate {
  public:
    // The one interceptor, alive for the rest of the process (the proxy holds interceptors
    // weakly).
    static const std::shared_ptr<APMAppDelegateInterceptor>& sharedInstance();

    APMAppDelegateInterceptor(const APMAppDelegateInterceptor&) = delete;
    APMAppDelegateInterceptor& operator=(const APMAppDelegateInterceptor&) = delete;

  private:
    APMAppDelegateInterceptor() = default;
};
