#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

#include "sdk/measurement/attribution/APMAdExposureReporter.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMEventParameterCleaning.h"
#include "sdk/measurement/engine/APMNumericUtil.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMSessionReporter.h"

namespace {

APMMonitor& monitor() {
    return APMMeasurement::monitor();
}

// The session reporter of the engine once its components have started; else null.
std::shared_ptr<APMSessionReporter> startedSessionReporter() {
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    return engine && engine->didInitializeComponents() ? engine->sessionReporter() : nullptr;
}

// A screen name or class as the app passed it: none when absent; `valid` is false for a value
// that is not a valid screen parameter string.
std::optional<std::string> screenValue(const APMRawParameters& parameters, std::string_view key,
                                       std::int32_t maxValueLength, bool& valid) {
    valid = true;
    const auto found = parameters.find(key);
    if (found == parameters.end()) {
        return std::nullopt;
    }
    const std::string* text = nullptr;
    if (const auto* raw = std::get_if<sdk::Value>(&found->second)) {
        if (raw->isNull()) {
            return std::nullopt;
        }
        text = raw->string();
    } else {
        text = std::get<APMValue>(found->second).stringValue();
    }
    std::uint64_t failure = 0;
    valid = text != nullptr &&
            APMDataTypeValidator::isValidScreenParameterValue(*text, maxValueLength, &failure);
    return text ? std::optional(*text) : std::nullopt;
}

// "_si", "_sc" and "_sn" of `screen`, as every other event carries them.
APMParameters parametersOfScreen(const APMScreen& screen) {
    APMParameters parameters;
    parameters.emplace("_si", APMValue(screen.instanceID()));
    if (const auto& className = screen.className(); className && !className->empty()) {
        parameters.emplace("_sc", APMValue(*className));
    }
    if (const auto& name = screen.name(); name && !name->empty()) {
        parameters.emplace("_sn", APMValue(*name));
    }
    return parameters;
}

sdk::Value describe(const std::optional<std::string>& text) {
    return text ? sdk::Value(*text) : sdk::Value();
}

}  // namespace

const std::shared_ptr<APMScreenViewReporter>& APMScreenViewReporter::sharedInstance() {
    static const std::shared_ptr<APMScreenViewReporter> shared = [] {
        // The ad exposure reporter follows this reporter's screens and logs through the facade.
        APMAdExposureReporter::setEngineHooks(
            {[](const APMScreen* screen) {
                 const std::shared_ptr<APMScreenViewReporter>& reporter = sharedInstance();
                 return screen != nullptr ? APMScreenParameters(*screen, reporter->maxValueLength())
                                          : reporter->screenParameters();
             },
             [] { return sharedInstance()->isAppActive(); },
             [](const std::string& name, const APMRawParameters& parameters) {
                 APMAnalytics::logInternalEventWithOrigin("am", name, parameters);
             }});
        return create(VDUNotificationCenter::defaultCenter());
    }();
    return shared;
}

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::create(
    VDUNotificationCenter& center) {
    std::shared_ptr<APMScreenViewReporter> reporter =
        std::make_shared<APMScreenViewReporter>(Passkey());
    reporter->observe(center);
    return reporter;
}

APMScreenViewReporter::APMScreenViewReporter(Passkey)
    : currentScreenInstanceID_(APMNumericUtil::randomInt64()),
      queue_(platform::DispatchQueue::createSerial("APMScreenViewReporter")) {}

void APMScreenViewReporter::observe(VDUNotificationCenter& center) {
    std::weak_ptr<APMScreenViewReporter> weak = weak_from_this();
    // Losing the key window says nothing about the screen on this platform.
    windowDidResignKeyObserver_ =
        center.addObserverForName(std::string(APMWindowDidResignKeyNotificationName()), nullptr,
                                  [](const VDUNotification&) {});
    didBecomeActiveObserver_ = center.addObserverForName(
        std::string(APMAppDidBecomeActiveNotificationName()), nullptr,
        [weak](const VDUNotification&) {
            if (std::shared_ptr<APMScreenViewReporter> reporter = weak.lock()) {
                reporter->handleApplicationDidBecomeActive();
            }
        });
    willResignActiveObserver_ = center.addObserverForName(
        std::string(APMAppWillResignActiveNotificationName()), nullptr,
        [weak](const VDUNotification&) {
            if (std::shared_ptr<APMScreenViewReporter> reporter = weak.lock()) {
                reporter->handleApplicationWillResignActive();
            }
        });
}

void APMScreenViewReporter::setParameterLimits(const APMParameterLimits& limits) {
    std::lock_guard lock(mutex_);
    limits_ = limits;
}

APMParameterLimits APMScreenViewReporter::parameterLimits() {
    std::lock_guard lock(mutex_);
    return limits_;
}

void APMScreenViewReporter::onQueue(const std::function<void()>& block) {
    // The reporter's own blocks (the change notification, the "_vs" logging) may read the
    // screen too: waiting for the queue there would wait for ever.
    if (queue_->isCurrent()) {
        block();
    } else {
        queue_->sync(block);
    }
}

void APMScreenViewReporter::getScreenName(std::optional<std::string>* name,
                                          std::optional<std::string>* className) {
    onQueue([&] {
        if (name != nullptr) {
            *name = currentScreen_ ? currentScreen_->name() : std::nullopt;
        }
        if (className != nullptr) {
            *className = currentScreen_ ? currentScreen_->className() : std::nullopt;
        }
    });
}

void APMScreenViewReporter::trackScreenWithParameters(const APMRawParameters& parameters,
                                                      double timestamp) {
    if (isInactive()) {
        monitor().logWithLevel(3, 31026, "Cannot log screen view event when the app is not active");
        return;
    }
    const APMParameterLimits limits = parameterLimits();
    bool valid = true;
    std::optional<std::string> name =
        screenValue(parameters, "screen_name", limits.maxPublicEventParameterValueLength, valid);
    if (!valid) {
        monitor().logWithLevel(3, 31027, "Received invalid name for screen", describe(name));
        return;
    }
    std::optional<std::string> className =
        screenValue(parameters, "screen_class", limits.maxPublicEventParameterValueLength, valid);
    if (!valid) {
        monitor().logWithLevel(3, 31028, "Received invalid class for screen");
        return;
    }
    APMScreen screen(name, className, incrementScreenInstanceID());
    screen.setIsManuallyTracked(true);
    screen.setEventTimestamp(timestamp);
    monitor().logWithLevel(7, 31029, "Logging screen view with screen name and screen class",
                           describe(name), describe(className));
    std::optional<APMScreen> previous;
    std::shared_ptr<const APMParameters> published =
        std::make_shared<const APMParameters>(parametersOfScreen(screen));
    onQueue([&] {
        previous = std::move(currentScreen_);
        currentScreen_ = screen;
        std::lock_guard lock(mutex_);
        currentScreenParameters_ = std::move(published);
    });
    std::weak_ptr<APMScreenViewReporter> weak = weak_from_this();
    queue_->async([weak, previous = std::move(previous), screen, parameters, limits] {
        std::shared_ptr<APMScreenViewReporter> reporter = weak.lock();
        if (!reporter) {
            return;
        }
        reporter->postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        APMParameters cleaned =
            APMCleanEventParameters(parameters, "screen_view", true, false, limits)
                .value_or(APMParameters{});
        cleaned.erase("screen_name");
        cleaned.erase("screen_class");
        reporter->logViewScreenEventWithPreviousScreen(previous, screen, cleaned);
    });
}

APMParameters APMScreenViewReporter::screenParameters() {
    if (isInactive() || !allowScreenParameters_) {
        return {};
    }
    std::shared_ptr<const APMParameters> current;
    {
        std::lock_guard lock(mutex_);
        current = currentScreenParameters_;
    }
    return current ? *current : APMParameters{};
}

void APMScreenViewReporter::setScreenName(const std::optional<std::string>& name,
                                          const std::optional<std::string>& className) {
    (void)name;
    (void)className;
    monitor().logWithLevel(3, 31000,
                           "Ignoring call to setScreenName:screenClass:. Screen reporting is "
                           "disabled.");
}

void APMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(
    const std::optional<APMScreen>& previous, const APMScreen& current) {
    if (!isAppActive_.load()) {
        return;
    }
    const APMScreen* previousScreen = previous ? &*previous : nullptr;
    if (previousScreen != nullptr) {
        if (std::shared_ptr<APMSessionReporter> sessions = startedSessionReporter()) {
            sessions->handleScreenDidChangeFromScreen(previousScreen, current);
        }
    }
    APMAdExposureReporter::sharedInstance()->handleScreenDidChangeFromScreen(previousScreen,
                                                                             current);
}

void APMScreenViewReporter::logViewScreenEventWithPreviousScreen(
    const std::optional<APMScreen>& previous, const std::optional<APMScreen>& current,
    const APMParameters& parameters) {
    if (!current) {
        return;
    }
    if (isInactive()) {
        monitor().logWithLevel(7, 31013, "Screen view event not logged. App is not active.");
        return;
    }
    const std::int32_t maxLength = maxValueLength();
    APMParameters all = parameters;
    for (auto& [name, value] : APMScreenParameters(*current, maxLength)) {
        all.insert_or_assign(name, std::move(value));
    }
    if (previous) {
        for (auto& [name, value] : APMPreviousScreenParameters(*previous, maxLength)) {
            all.insert_or_assign(name, std::move(value));
        }
        if (std::shared_ptr<APMSessionReporter> sessions = startedSessionReporter();
            sessions && sessions->settings().efficientEngagementReportingEnabled) {
            if (const std::int64_t engaged = sessions->cutFreerideEngagementTimeMillis();
                engaged >= 1) {
                all.insert_or_assign("_et", APMValue(engaged));
            }
        }
    }
    all.insert_or_assign("_mst", APMValue(std::int64_t{1}));
    const std::string origin = current->isManuallyTracked() ? "app" : "auto";
    if (APMScreenParametersFromEvent(all).empty()) {
        monitor().logWithLevel(1, 31012,
                               "Screen view event not logged. Screen parameters were empty");
        return;
    }
    previousScreen_ = *current;
    APMRawParameters raw(all.begin(), all.end());
    if (current->isManuallyTracked()) {
        APMAnalytics::logInternalEventWithOrigin(origin, "_vs", current->eventTimestamp(), raw);
    } else {
        APMAnalytics::logInternalEventWithOrigin(origin, "_vs", raw);
    }
}

void APMScreenViewReporter::handleApplicationDidBecomeActive() {
    isAppActive_.store(true);
    appHasBeenInitialized_.store(true);
    if (std::shared_ptr<APMSessionReporter> sessions = startedSessionReporter()) {
        sessions->handleAppDidBecomeActive();
    }
    APMAdExposureReporter::sharedInstance()->handleAppDidBecomeActive();
}

void APMScreenViewReporter::handleApplicationWillResignActive() {
    if (std::shared_ptr<APMSessionReporter> sessions = startedSessionReporter()) {
        sessions->handleAppWillResignActiveWithScreen(nullptr);
    }
    APMAdExposureReporter::sharedInstance()->handleAppWillResignActiveWithScreen(nullptr);
}

std::int64_t APMScreenViewReporter::incrementScreenInstanceID() {
    // Wraps around instead of overflowing: the ID starts anywhere in the range.
    const auto previous = static_cast<std::uint64_t>(currentScreenInstanceID_.fetch_add(1));
    return static_cast<std::int64_t>(previous + 1);
}

bool APMIsAppActive() {
    return APMScreenViewReporter::sharedInstance()->isAppActive();
}
