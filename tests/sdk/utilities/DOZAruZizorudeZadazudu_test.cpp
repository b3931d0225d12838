// The app-delegate proxy: its interceptor registry, the calls it intercepts, its Info.plist
// switches, its once-only steps and the observer that notices a replaced delegate.

#include "sdk/utilities/DOZAruZizorudeZadazudu.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <stdexcept>

#include "platform/app/Application.h"
#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "sdk/utilities/AssertionHandler.h"
#include "sdk/utilities/VDUAppDelegateObserver.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDUSceneDelegateSwizzler.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Application;
using platform::ApplicationDelegate;
using Call = ApplicationDelegate::OptionalCall;
using Proxy = DOZAruZizorudeZadazudu;

// Writes each call it gets, under its name, to a journal shared with the test.
class RecordingDelegate : public ApplicationDelegate {
  public:
    RecordingDelegate(std::string name, std::vector<std::string>& journal, std::set<Call> calls,
                      bool answer = false)
        : name_(std::move(name)), journal_(journal), calls_(std::move(calls)), answer_(answer) {}

    bool implements(Call call) const override { return calls_.count(call) != 0; }
    void applicationDidFinishLaunching() override { journal_.push_back(name_ + " launched"); }
    bool applicationShouldTerminateAfterLastWindowClosed() const override {
        journal_.push_back(name_ + " last window");
        return true;
    }
    bool applicationContinueUserActivity(Application&, const platform::UserActivity& activity,
                                         const platform::RestorationHandler&) override {
        journal_.push_back(name_ + " continue " + activity.activityType);
        return answer_;
    }
    void applicationDidRegisterForRemoteNotifications(
        Application&, const std::vector<std::uint8_t>& token) override {
        journal_.push_back(name_ + " token " + std::to_string(token.size()));
    }
    void applicationDidFailToRegisterForRemoteNotifications(
        Application&, const platform::RemoteNotificationError& error) override {
        journal_.push_back(name_ + " failed " + error.domain);
    }

  private:
    std::string name_;
    std::vector<std::string>& journal_;
    std::set<Call> calls_;
    bool answer_;
};

const std::set<Call> kContinue = {Call::kContinueUserActivity};
const std::set<Call> kRemote = {Call::kDidRegisterForRemoteNotifications,
                                Call::kDidFailToRegisterForRemoteNotifications};

// A class registered as "RZDCore", as the SDK core would.
class CoreClass : public VDUClass {
  public:
    std::string className() const override { return "RZDCore"; }
};

class AppDelegateProxyTest : public ::testing::Test {
  protected:
    AppDelegateProxyTest() { reset(); }
    ~AppDelegateProxyTest() override {
        reset();
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VDUClassRegistry::TEST_unregisterClass("RZDCore");
    }

    static void reset() {
        Application::shared().setDelegate(nullptr);  // the observer drops an earlier original
        Proxy::clearInterceptors();
        Proxy::resetProxyOriginalDelegateOnceToken();
    }

    std::shared_ptr<RecordingDelegate> makeDelegate(const std::string& name, std::set<Call> calls,
                                                    bool answer = false) {
        return std::make_shared<RecordingDelegate>(name, journal, std::move(calls), answer);
    }

    // Makes a delegate the application's one, then proxies it.
    std::shared_ptr<RecordingDelegate> proxied(std::set<Call> calls, bool answer = false) {
        auto delegate = makeDelegate("delegate", std::move(calls), answer);
        Application::shared().setDelegate(delegate);
        Proxy::proxyOriginalDelegate();
        return delegate;
    }

    // Continues an activity through the application's delegate, as the platform would.
    static bool continueActivity() {
        Application& application = Application::shared();
        return application.delegate()->applicationContinueUserActivity(
            application, {"browsing", "https://example.invalid/campaign"}, {});
    }

    // Makes a fixture bundle with `info` the main bundle.
    void useInfo(const platform::PlistDictionary& info) {
        const auto bundle = folder_.path() / ("Fixture" + std::to_string(++bundles_) + ".app");
        std::filesystem::create_directories(bundle / "Contents");
        std::ofstream(bundle / "Contents" / "Info.plist", std::ios::binary)
            << platform::encodeXmlPlist(info);
        platform::Bundle::TEST_setMainBundle(bundle);
    }

    // "<code> <text>" of each proxy line logged since the last call.
    std::vector<std::string> logged() {
        static constexpr std::string_view kCategory = "[VoviduUtilities/AppDelegateSwizzler][";
        std::vector<std::string> result;
        for (const std::string& line : lines_.take()) {
            const size_t at = line.find(kCategory);
            if (at != std::string::npos) {
                const std::string rest = line.substr(at + kCategory.size());
                result.push_back(rest.substr(0, 11) + rest.substr(12));
            }
        }
        return result;
    }

    std::vector<std::string> journal;

  private:
    sdktest::LoggedLines lines_;
    cb::testsupport::TempDir folder_{"cb-proxy"};
    int bundles_ = 0;
};

TEST_F(AppDelegateProxyTest, OneEntryPerInterceptorAndFreedOnesAreDroppedWithAWarning) {
    proxied({});
    auto interceptor = makeDelegate("interceptor", kContinue);
    const std::optional<std::string> id = Proxy::registerAppDelegateInterceptor(interceptor);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->rfind("VDU_0x", 0), 0u) << *id;
    EXPECT_EQ(Proxy::registerAppDelegateInterceptor(interceptor), id);

    auto freed = makeDelegate("freed", kContinue);
    const auto freedID = Proxy::registerAppDelegateInterceptor(freed);
    ASSERT_TRUE(freedID.has_value());
    EXPECT_NE(freedID, id);
    freed.reset();
    Proxy::unregisterAppDelegateInterceptorWithID(*freedID);  // already gone: refused, kept
    Proxy::unregisterAppDelegateInterceptorWithID("VDU_0x1");
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "I-SWZ001004 AppDelegateProxy cannot unregister interceptor that was "
                            "not registered. Interceptor ID " +
                                *freedID,
                            "I-SWZ001004 AppDelegateProxy cannot unregister interceptor that was "
                            "not registered. Interceptor ID VDU_0x1"}));

    continueActivity();
    EXPECT_EQ(logged(), (std::vector<std::string>{"I-SWZ001010 AppDelegateProxy cannot find "
                                                  "interceptor with ID " +
                                                  *freedID + ". Removing the interceptor."}));
    continueActivity();
    EXPECT_TRUE(logged().empty()) << "dropped at the first call";
    EXPECT_EQ(journal, (std::vector<std::string>{"interceptor continue browsing",
                                                 "interceptor continue browsing"}))
        << "registered twice, told once per call";

    Proxy::unregisterAppDelegateInterceptorWithID(*id);
    journal.clear();
    continueActivity();
    EXPECT_TRUE(journal.empty());
    EXPECT_TRUE(logged().empty());
}

TEST_F(AppDelegateProxyTest, AnInterceptorMayUnregisterItselfWhileItIsTold) {
    proxied({});
    struct SelfRemoving : ApplicationDelegate {
        bool implements(Call) const override { return true; }
        bool applicationContinueUserActivity(Application&, const platform::UserActivity&,
                                             const platform::RestorationHandler&) override {
            ++calls;
            Proxy::unregisterAppDelegateInterceptorWithID(id);
            return true;
        }
        std::string id;
        int calls = 0;
    };
    auto interceptor = std::make_shared<SelfRemoving>();
    interceptor->id = Proxy::registerAppDelegateInterceptor(interceptor).value();
    EXPECT_TRUE(continueActivity());
    EXPECT_FALSE(continueActivity());
    EXPECT_EQ(interceptor->calls, 1);
}

TEST_F(AppDelegateProxyTest, ContractViolationsTripTheHandlerAndAreLoggedWhenItReturns) {
    EXPECT_THROW(
        {
            try {
                Proxy::registerAppDelegateInterceptor(nullptr);
            } catch (const sdk::InternalInconsistencyException& error) {
                EXPECT_STREQ(error.what(), "AppDelegateProxy cannot add nil interceptor");
                throw;
            }
        },
        sdk::InternalInconsistencyException);
    EXPECT_THROW(Proxy::unregisterAppDelegateInterceptorWithID(""),
                 sdk::InternalInconsistencyException);

    std::vector<std::string> asserted;
    const auto previous = sdk::setCurrentThreadAssertionHandler(
        [&](std::string_view file, const std::string& message) {
            asserted.push_back(std::string(file) + ": " + message);
        });
    EXPECT_EQ(Proxy::registerAppDelegateInterceptor(nullptr), std::nullopt);
    Proxy::unregisterAppDelegateInterceptorWithID("");
    sdk::setCurrentThreadAssertionHandler(previous);
    EXPECT_EQ(asserted, (std::vector<std::string>{
                            "DOZAruZizorudeZadazudu: AppDelegateProxy cannot add nil interceptor",
                            "DOZAruZizorudeZadazudu: AppDelegateProxy cannot unregister empty "
                            "interceptor ID."}));
    EXPECT_EQ(logged(),
              (std::vector<std::string>{
                  "I-SWZ001000 AppDelegateProxy cannot add nil interceptor.",
                  "I-SWZ001003 AppDelegateProxy cannot unregister empty interceptor ID."}));
}

TEST_F(AppDelegateProxyTest, ContinuingAnActivityAsksEveryoneInterceptorsFirstAndOrsTheAnswers) {
    struct Case {
        std::vector<bool> interceptorAnswers;
        std::optional<bool> delegateAnswer;  // none: the delegate does not implement the call
        bool expected;
    };
    const Case cases[] = {
        {{}, std::nullopt, false},
        {{}, false, false},
        {{}, true, true},
        {{true}, false, true},
        {{false, false}, std::nullopt, false},
        {{true, false}, false, true},
        {{false}, true, true},
    };
    for (const Case& c : cases) {
        reset();
        journal.clear();
        const auto delegate = proxied(c.delegateAnswer ? kContinue : std::set<Call>{},
                                      c.delegateAnswer.value_or(false));
        std::vector<std::shared_ptr<RecordingDelegate>> interceptors;
        std::vector<std::string> expectedOrder;
        for (bool answer : c.interceptorAnswers) {
            interceptors.push_back(makeDelegate("i", kContinue, answer));
            Proxy::registerAppDelegateInterceptor(interceptors.back());
            expectedOrder.push_back("i continue browsing");
        }
        interceptors.push_back(makeDelegate("silent", {}, true));  // implements nothing
        Proxy::registerAppDelegateInterceptor(interceptors.back());
        if (c.delegateAnswer) {
            expectedOrder.push_back("delegate continue browsing");
        }
        EXPECT_EQ(continueActivity(), c.expected) << interceptors.size() - 1 << " interceptors";
        EXPECT_EQ(journal, expectedOrder);
    }
}

TEST_F(AppDelegateProxyTest, TheWrapperDescribesTheRealDelegateAndPassesOtherCallsOn) {
    VDULoggerSetLevel(VDULoggerLevelDebug);
    const auto delegate = proxied({});
    const auto installed = Application::shared().delegate();
    ASSERT_NE(installed, delegate);
    EXPECT_EQ(Proxy::originalDelegate(), delegate);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(delegate.get()));
    EXPECT_EQ(installed->description(),
              "<(anonymous namespace)::RecordingDelegate: " + std::string(address) + ">");
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "I-SWZ001008 Successfully created App Delegate Proxy automatically. "
                            "To disable the proxy, set the flag "
                            "VoviduUtilitiesAppDelegateProxyEnabled to NO (Boolean) in the "
                            "Info.plist"}));

    installed->applicationDidFinishLaunching();
    EXPECT_TRUE(installed->applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_EQ(journal, (std::vector<std::string>{"delegate launched", "delegate last window"}));
    EXPECT_TRUE(installed->implements(Call::kContinueUserActivity));
    EXPECT_FALSE(installed->implements(Call::kDidRegisterForRemoteNotifications));
    EXPECT_TRUE(VDUAppDelegateObserver::sharedInstance().isObserving());
}

TEST_F(AppDelegateProxyTest, TheSwitchesOfTheInfoListTurnTheProxyOff) {
    using platform::PlistDictionary;
    struct Case {
        PlistDictionary info;
        bool enabled;
    };
    const Case cases[] = {
        {{}, true},
        {{{"VoviduUtilitiesAppDelegateProxyEnabled", false}}, false},
        {{{"VoviduUtilitiesAppDelegateProxyEnabled", 0}}, false},
        {{{"VoviduUtilitiesAppDelegateProxyEnabled", 0.0}}, false},
        {{{"VoviduUtilitiesAppDelegateProxyEnabled", "NO"}}, true},
        {{{"VoviduUtilitiesAppDelegateProxyEnabled", 1}}, true},
        {{{"RazudizoAppDelegateProxyEnabled", false}}, false},
        {{{"RazudizoAppDelegateProxyEnabled", true},
          {"VoviduUtilitiesAppDelegateProxyEnabled", true}},
         true},
    };
    for (const Case& c : cases) {
        reset();
        useInfo(c.info);
        EXPECT_EQ(Proxy::isAppDelegateProxyEnabled(), c.enabled);
        EXPECT_EQ(VDUSceneDelegateSwizzler::isSceneDelegateProxyEnabled(), c.enabled);
        const auto delegate = proxied({});
        EXPECT_EQ(Application::shared().delegate() == delegate, !c.enabled);
        const std::vector<std::string> lines = logged();
        if (!c.enabled) {
            EXPECT_EQ(lines, (std::vector<std::string>{"I-SWZ001011 App Delegate Proxy is "
                                                       "disabled. "}));
        }
    }
}

TEST_F(AppDelegateProxyTest, TheMessagesNameTheCoresSwitchWhenTheCoreIsPresent) {
    EXPECT_EQ(Proxy::correctAppDelegateProxyKey(), "VoviduUtilitiesAppDelegateProxyEnabled");
    EXPECT_EQ(Proxy::correctAlternativeWhenAppDelegateProxyNotCreated(), "");
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<CoreClass>()));
    EXPECT_EQ(Proxy::correctAppDelegateProxyKey(), "RazudizoAppDelegateProxyEnabled");
    const std::string advice =
        "To log deep link campaigns manually, call the methods in REROdazadeve+AppDelegate.";
    EXPECT_EQ(Proxy::correctAlternativeWhenAppDelegateProxyNotCreated(), advice);

    Proxy::proxyOriginalDelegate();  // the application has no delegate
    EXPECT_EQ(logged(), (std::vector<std::string>{"I-SWZ001014 App Delegate does not conform to "
                                                  "UIApplicationDelegate protocol. " +
                                                  advice}));
    EXPECT_EQ(Application::shared().delegate(), nullptr);
}

TEST_F(AppDelegateProxyTest, AFailureWhileInstallingIsLoggedAndGoesNoFurther) {
    const auto token = Application::shared().addDelegateObserver(
        [](const auto&, const auto&) { throw std::runtime_error("observer failed"); });
    auto delegate = makeDelegate("delegate", {});
    try {
        Application::shared().setDelegate(delegate);
    } catch (const std::runtime_error&) {
    }
    EXPECT_NO_THROW(Proxy::proxyOriginalDelegate());
    Application::shared().removeDelegateObserver(token);
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"I-SWZ001013 Cannot create App Delegate Proxy. "}));
    EXPECT_EQ(Proxy::originalDelegate(), nullptr);
}

TEST_F(AppDelegateProxyTest, ProxyingRunsOnceUntilResetAndNeverWrapsTwice) {
    auto interceptor = makeDelegate("interceptor", kContinue);
    Proxy::registerAppDelegateInterceptor(interceptor);
    const auto first = proxied({});
    const auto wrapper = Application::shared().delegate();

    // The application takes another delegate: the original one is dropped, the observer idles.
    auto second = makeDelegate("second", {});
    Application::shared().setDelegate(second);
    EXPECT_EQ(Proxy::originalDelegate(), nullptr);
    EXPECT_FALSE(VDUAppDelegateObserver::sharedInstance().isObserving());

    Proxy::proxyOriginalDelegate();
    EXPECT_EQ(Application::shared().delegate(), second) << "a second call does nothing";

    Proxy::resetProxyOriginalDelegateOnceToken();
    Proxy::proxyOriginalDelegate();
    const auto secondWrapper = Application::shared().delegate();
    EXPECT_NE(secondWrapper, second);
    EXPECT_EQ(Proxy::originalDelegate(), second);
    EXPECT_TRUE(VDUAppDelegateObserver::sharedInstance().isObserving());

    // Once more on the installed wrapper: kept as it is, so interceptors are told once.
    Proxy::resetProxyOriginalDelegateOnceToken();
    Proxy::proxyOriginalDelegate();
    EXPECT_EQ(Application::shared().delegate(), secondWrapper);
    EXPECT_EQ(Proxy::originalDelegate(), second);
    EXPECT_TRUE(VDUAppDelegateObserver::sharedInstance().isObserving());
    continueActivity();
    EXPECT_EQ(journal, (std::vector<std::string>{"interceptor continue browsing"}));
}

TEST_F(AppDelegateProxyTest, RemoteNotificationCallsAreInterceptedOnlyAfterTheirStep) {
    auto interceptor = makeDelegate("interceptor", kRemote);
    Proxy::registerAppDelegateInterceptor(interceptor);
    proxied(kRemote);
    Application& application = Application::shared();
    const auto deliver = [&application] {
        const auto delegate = application.delegate();
        if (delegate->implements(Call::kDidRegisterForRemoteNotifications)) {
            delegate->applicationDidRegisterForRemoteNotifications(application, {1, 2, 3});
        }
        if (delegate->implements(Call::kDidFailToRegisterForRemoteNotifications)) {
            delegate->applicationDidFailToRegisterForRemoteNotifications(application,
                                                                         {"push", 3000, "no"});
        }
    };
    deliver();
    EXPECT_EQ(journal, (std::vector<std::string>{"delegate token 3", "delegate failed push"}));

    journal.clear();
    Proxy::proxyOriginalDelegateIncludingAPNSMethods();
    deliver();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"interceptor token 3", "delegate token 3",
                                        "interceptor failed push", "delegate failed push"}));

    // A delegate without the calls: the interceptors still hear of them.
    reset();
    journal.clear();
    Proxy::registerAppDelegateInterceptor(interceptor);
    proxied({});
    Proxy::proxyOriginalDelegateIncludingAPNSMethods();
    deliver();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"interceptor token 3", "interceptor failed push"}));
}

}  // namespace
