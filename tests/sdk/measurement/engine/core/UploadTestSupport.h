#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"
#include "tests/support/LoopbackServer.h"

namespace sdktest {

// The engine talking to a loopback server that stands in for the upload and configuration
// services: each test scripts the answers, the server records every request.
class UploadTest : public EngineTest {
  protected:
    using Responder = cb::testsupport::LoopbackServer::Responder;

    UploadTest() { APMRemoteConfigTestPeer::setServiceOrigin(server_.address()); }
    ~UploadTest() override { APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt); }

    // Answers every later request with `responder`.
    void respondWith(Responder responder) {
        std::lock_guard lock(responderMutex_);
        responder_ = std::move(responder);
    }

    // Answers every request with `status` and `body`.
    void respondWithStatus(int status, const std::string& body = "") {
        respondWith([status, body](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            if (!body.empty()) {
                response.set_content(body, "application/octet-stream");
            }
        });
    }

    // Starts the engine and waits until its network client reports the loopback host reachable.
    void startConnected() {
        ASSERT_TRUE(startEngine(kAppID));
        ASSERT_TRUE(platform::runMainQueueUntil(
            [&] { return engine_->network()->isNetworkConnected(); }, std::chrono::seconds(10)));
        drain(*engine_);
    }

    // Runs `block` on the worker queue and waits for it.
    void onWorker(const std::function<void()>& block) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, block);
    }

    // Waits until `count` requests arrived and the engine has handled the last answer.
    void waitForAnswers(std::size_t count) {
        waitUntil([&] {
            return server_.requests().size() >= count && !engine_->isNetworkRequestPending();
        });
    }

    // Drains the main queue (where the network's sessions report) and the worker queue until
    // `done` (read on the worker queue) holds; fails after ten seconds.
    void waitUntil(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool reached = false;
        while (!reached && std::chrono::steady_clock::now() < limit) {
            platform::drainMainQueue();
            onWorker([&] { reached = done(); });
            if (!reached) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        ASSERT_TRUE(reached);
    }

    // A bundle of this app with one event, ending at `endSeconds` (now when 0).
    static APMPBMeasurementBundle bundle(double endSeconds = 0,
                                         const std::string& eventName = "scan",
                                         const std::string& appID = kAppID) {
        const double end = endSeconds != 0 ? endSeconds : APMCurrentTimeInterval();
        APMPBMeasurementBundle bundle;
        namespace Bundle = apmpb::MeasurementBundle;
        APMPBSetInt32(&bundle, Bundle::kProtocolVersion, 1);
        APMPBSetString(&bundle, Bundle::kAppId, appID);
        APMPBSetString(&bundle, Bundle::kPlatform, "macos");
        const auto millis = static_cast<std::int64_t>(end * 1000);
        APMPBSetInt64(&bundle, Bundle::kStartTimestampMillis, millis - 1000);
        APMPBSetInt64(&bundle, Bundle::kEndTimestampMillis, millis);
        auto event = std::make_shared<APMPBEvent>();
        APMPBSetString(event.get(), apmpb::Event::kName, eventName);
        APMPBSetInt64(event.get(), apmpb::Event::kTimestampMillis, millis);
        APMPBSetRepeated(&bundle, Bundle::kEvents, APMPBRepeatedArray{event});
        return bundle;
    }

    // Queues `bundles` in order with the storage call.
    void queue(const std::vector<APMPBMeasurementBundle>& bundles, bool isRealtime = false) {
        onWorker([&] {
            for (const APMPBMeasurementBundle& b : bundles) {
                sdk::Error error;
                ASSERT_TRUE(engine_->database()->insertBundle(&b, isRealtime, &error))
                    << error.ToString();
            }
        });
    }

    std::string queueCount() { return sqlite("SELECT count(*) FROM queue;"); }

    // The batch of a request body (the server has inflated it already).
    static std::unique_ptr<APMPBMeasurementBatch> batchOf(
        const cb::testsupport::ReceivedRequest& r) {
        return APMPBMeasurementBatch::initWithBuffer(
            std::span(reinterpret_cast<const std::uint8_t*>(r.body.data()), r.body.size()));
    }

    // The bundles of a batch.
    static std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundlesOf(
        const APMPBMeasurementBatch& batch) {
        std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundles;
        for (const APMPBRepeatedElement& element :
             APMPBGetRepeated<APMPBMeasurementBundle>(&batch, apmpb::MeasurementBatch::kBundles)
                 .value_or(APMPBRepeatedArray{})) {
            bundles.push_back(std::static_pointer_cast<APMPBMeasurementBundle>(
                std::get<std::shared_ptr<NANOMessageBase>>(element)));
        }
        return bundles;
    }

    // A request's header `name`; none when it was not sent.
    static std::optional<std::string> headerOf(const cb::testsupport::ReceivedRequest& r,
                                               const std::string& name) {
        const auto found = r.headers.find(name);
        return found == r.headers.end() ? std::nullopt : std::optional(found->second);
    }

    // The requests the server received with `method`.
    std::vector<cb::testsupport::ReceivedRequest> requestsWithMethod(const std::string& method) {
        std::vector<cb::testsupport::ReceivedRequest> found;
        for (const cb::testsupport::ReceivedRequest& r : server_.requests()) {
            if (r.method == method) {
                found.push_back(r);
            }
        }
        return found;
    }

    // Seconds from now until the upload alarm fires; none when no upload is planned.
    std::optional<double> secondsUntilAlarm() {
        const std::optional<sdk::Date> due = engine_->alarm()->scheduledTimestamp();
        if (!due) {
            return std::nullopt;
        }
        return due->timeIntervalSince1970() - sdk::Date::now().timeIntervalSince1970();
    }

    // The standard output of `command` run by the shell.
    static std::string shell(const std::string& command) {
        const platform::ProcessResult result =
            platform::ProcessRunner::shared().run("/bin/sh", {"-c", command});
        EXPECT_TRUE(result.launched) << result.launchError;
        return result.output;
    }

    APMPersistedConfig& persisted() { return *engine_->persistedConfig(); }

  private:
    std::mutex responderMutex_;
    Responder responder_ = [](const httplib::Request&, httplib::Response& response) {
        response.status = 204;
    };

  protected:
    cb::testsupport::LoopbackServer server_{
        [this](const httplib::Request& request, httplib::Response& response) {
            Responder responder;
            {
                std::lock_guard lock(responderMutex_);
                responder = responder_;
            }
            responder(request, response);
        }};
};

}  // namespace sdktest
