// The request, the reply and the database work of the fetching task manager.
#include <chrono>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "sdk/measurement/experiments/APMEExperimentRequestBuilder.h"
#include "sdk/measurement/experiments/APMEFetchTaskManager.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUGzip.h"
#include "sdk/utilities/VDUServiceOrigin.h"

namespace {

namespace ER = apmpb::ExperimentResponse;
namespace SR = apmpb::SdkResponse;

double now() {
    return std::chrono::duration<double>(platform::wallClockNow().time_since_epoch()).count();
}

std::vector<std::shared_ptr<APMPBSnapshot>> snapshotsOf(const APMPBExperimentResponse& response) {
    std::vector<std::shared_ptr<APMPBSnapshot>> protos;
    for (const auto& element :
         APMPBGetRepeated<APMPBSnapshot>(&response, ER::kSnapshots).value_or(APMPBRepeatedArray{}))
        protos.push_back(std::static_pointer_cast<APMPBSnapshot>(
            std::get<std::shared_ptr<NANOMessageBase>>(element)));
    if (!protos.empty())
        return protos;
    for (const auto& element : APMPBGetRepeated<APMPBSdkResponse>(&response, ER::kSdkResponses)
                                   .value_or(APMPBRepeatedArray{})) {
        const auto& sdkResponse = std::get<std::shared_ptr<NANOMessageBase>>(element);
        std::shared_ptr<APMPBSnapshot> snapshot =
            APMPBGetMessage<APMPBSnapshot>(sdkResponse.get(), SR::kSnapshot);
        if (snapshot == nullptr)
            continue;
        const std::string name = APMPBGetString(sdkResponse.get(), SR::kSdkName).value_or("");
        if (!name.empty())
            APMPBSetString(snapshot.get(), apmpb::Snapshot::kSdkName, name);
        protos.push_back(std::move(snapshot));
    }
    return protos;
}

// The most an experiments reply may hold once inflated, as much as a reply may bring before
// it: a small reply that would inflate to gigabytes fails as a reply that does not inflate.
constexpr std::size_t kMaxInflatedReplyBytes = kVDUDefaultMaxInflatedSize;

}  // namespace

void APMEFetchTaskManager::fetchExperiments() {
    const APMPBExperimentRequest request = APMEExperimentRequestBuilder::sharedInstance().request();
    const auto payload = request.protoBuffer();
    APMEMonitor::logWithLevel(8, 820001, "Fetching new experiments. Request",
                              {static_cast<std::int64_t>(payload ? payload->size() : 0)});
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    // The process-wide override, else the deployment's origin (its environment), else the
    // built-in host.
    std::optional<std::string> origin = APMRemoteConfig::serviceOriginOverride();
    if (!origin) {
        origin = VDUServiceOriginFromEnvironment(kVDUExperimentsOriginVariable);
    }
    const std::string url =
        !serviceURL_.empty() ? serviceURL_
                             : origin.value_or("https://" + std::string(kServiceHost)) + "/sdk-exp";
    network_->postURL(url, payload.value_or(sdk::Bytes{}), workerQueue_, false,
                      [weak](const VDUNetwork::Response& response, const VDUNetwork::Data& data,
                             const sdk::Error& error) {
                          const auto self = weak.lock();
                          if (!self)
                              return;
                          VDUNetwork::Data inflated;
                          if (data) {
                              sdk::Error inflateError;
                              inflated = vdu_dataByInflatingGzippedData(*data, &inflateError,
                                                                        kMaxInflatedReplyBytes);
                              if (!inflated && !inflateError.ok())
                                  APMEMonitor::logWithLevel(
                                      2, 820023, "Cannot inflate downloaded experiment data. Error",
                                      {inflateError});
                          }
                          self->handleFetchingExperimentsResponse(response, inflated, error);
                      });
}

void APMEFetchTaskManager::handleFetchingExperimentsResponse(const VDUNetwork::Response& response,
                                                             const VDUNetwork::Data& data,
                                                             const sdk::Error& error) {
    const long status = response ? response->statusCode : 0;
    if (status == 200 || status == 204) {
        // Data that does not decode counts as an empty reply.
        std::unique_ptr<APMPBExperimentResponse> reply;
        if (data)
            reply = APMPBExperimentResponse::initWithBuffer(*data);
        if (reply == nullptr)
            reply = std::make_unique<APMPBExperimentResponse>();
        APMEMonitor::logWithLevel(8, 820003, "Successful fetch. Got network response. Code, data",
                                  {static_cast<std::int64_t>(status),
                                   static_cast<std::int64_t>(data ? data->size() : 0)});
        persistedStorage_->setDouble(now(), kSuccessKey);
        persistedStorage_->removeObjectForKey(kFailureKey);
        persistedStorage_->removeObjectForKey(kBackoffKey);
        const auto snapshots = experimentSnapshotsFromExperimentResponse(reply.get())
                                   .value_or(std::vector<APMESnapshot>{});
        const auto errors =
            errorsFromExperimentResponse(reply.get()).value_or(std::map<std::string, sdk::Error>{});
        if (!snapshots.empty() && database_ != nullptr) {
            sdk::Error upsertError;
            if (!database_->upsertPendingExperimentSnapshots(snapshots, &upsertError))
                APMEMonitor::logWithLevel(
                    1, 820022, "Cannot upsert pending snapshots. Error, snapshots",
                    {upsertError, static_cast<std::int64_t>(snapshots.size())});
        }
        if (const auto delegate = this->delegate())
            delegate->taskManagerDidFinishFetching(*this, snapshots, errors);
    } else {
        const double current = now();
        persistedStorage_->setDouble(current, kFailureKey);
        if (status == 503 || status == 429)
            persistedStorage_->setDouble(current, kBackoffKey);
        APMEMonitor::logWithLevel(1, 820002, "Network fetch failed. Will retry later. Code, error",
                                  {static_cast<std::int64_t>(status), error});
    }
    scheduleFetchingExperimentsOnWorkerQueue();
}

std::optional<std::vector<APMESnapshot>>
APMEFetchTaskManager::experimentSnapshotsFromExperimentResponse(
    const APMPBExperimentResponse* response) {
    if (response == nullptr) {
        APMEMonitor::logWithLevel(2, 820015,
                                  "Cannot create experiment snapshots from nil response");
        return std::nullopt;
    }
    std::vector<APMESnapshot> snapshots;
    for (const auto& proto : snapshotsOf(*response)) {
        if (auto snapshot = APMESnapshot::initWithProtobuf(*proto))
            snapshots.push_back(std::move(*snapshot));
        else
            APMEMonitor::logWithLevel(2, 820016, "Cannot create a snapshot from the proto");
    }
    return snapshots;
}

std::optional<std::map<std::string, sdk::Error>> APMEFetchTaskManager::errorsFromExperimentResponse(
    const APMPBExperimentResponse* response) {
    if (response == nullptr)
        return std::nullopt;
    const auto sdkResponses = APMPBGetRepeated<APMPBSdkResponse>(response, ER::kSdkResponses);
    if (!sdkResponses || sdkResponses->empty())
        return std::nullopt;
    std::map<std::string, sdk::Error> errors;
    for (const auto& element : *sdkResponses) {
        const auto& sdkResponse = std::get<std::shared_ptr<NANOMessageBase>>(element);
        const std::uint32_t status = APMPBGetInt32(sdkResponse.get(), SR::kStatus);
        const std::string name = APMPBGetString(sdkResponse.get(), SR::kSdkName).value_or("");
        if (status == 0 || name.empty())
            continue;
        const std::int64_t code = status <= 3 ? -(static_cast<std::int64_t>(status) + 1) : -1;
        errors.insert_or_assign(name, sdk::Error(std::string(kErrorDomain), code));
    }
    return errors;
}

std::optional<std::vector<APMESnapshot>> APMEFetchTaskManager::experimentSnapshotsFromData(
    const sdk::Bytes& data) {
    if (data.empty()) {
        APMEMonitor::logWithLevel(2, 820025, "Cannot create experiment snapshots from empty data");
        return std::nullopt;
    }
    const auto response = APMPBExperimentResponse::initWithBuffer(data);
    return experimentSnapshotsFromExperimentResponse(response.get());
}

void APMEFetchTaskManager::activatePendingSnapshot(const APMESnapshot& pendingSnapshot,
                                                   double timestamp) {
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, pendingSnapshot, timestamp] {
        const auto self = weak.lock();
        if (!self || self->database_ == nullptr)
            return;
        sdk::Error error;
        const bool done = self->database_->performTransaction(
            [&] { return self->database_->activateSnapshot(&pendingSnapshot, timestamp, &error); });
        if (!done)
            APMEMonitor::logWithLevel(1, 820014, "Cannot activate snapshot for SDK Name. Error",
                                      {pendingSnapshot.SDKName(), error});
    });
}

void APMEFetchTaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(1, 820018, "Cannot reset to defaults for empty SDK name");
        return;
    }
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, SDKName] {
        const auto self = weak.lock();
        if (!self || self->database_ == nullptr)
            return;
        sdk::Error error;
        if (!self->database_->deleteActivatedExperimentsOfSDKName(SDKName, &error))
            APMEMonitor::logWithLevel(1, 820019,
                                      "Cannot reset to defaults in the database. SDK Name, error",
                                      {SDKName, error});
    });
}

void APMEFetchTaskManager::upsertPendingSnapshots(const std::vector<APMESnapshot>& snapshots) {
    if (snapshots.empty()) {
        APMEMonitor::logWithLevel(2, 820020, "Cannot upsert empty pending snapshot list");
        return;
    }
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, snapshots] {
        const auto self = weak.lock();
        if (!self || self->database_ == nullptr)
            return;
        sdk::Error error;
        if (!self->database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            APMEMonitor::logWithLevel(
                1, 820021, "Cannot upsert pending snapshots into the database. Error", {error});
            return;
        }
        if (const auto delegate = self->delegate())
            delegate->taskManagerDidUpsertPendingSnapshots(*self, snapshots);
    });
}

void APMEFetchTaskManager::reset() {
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (self->database_ != nullptr)
            (void)self->database_->reset();
        self->removeFetchTimes();
        self->scheduleFetchingExperimentsOnWorkerQueue();
    });
}

void APMEFetchTaskManager::clearAndDelete() {
    std::weak_ptr<APMEFetchTaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (self->database_ != nullptr)
            (void)self->database_->closeAndDelete();
        self->removeFetchTimes();
    });
}
