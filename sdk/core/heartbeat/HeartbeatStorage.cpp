#include "sdk/core/heartbeat/HeartbeatStorage.h"

#include "sdk/core/heartbeat/StorageFactory.h"
#include "sdk/utilities/ValueJson.h"

namespace heartbeat {

namespace {

const std::shared_ptr<HeartbeatStorage::LiveStores>& liveStores() {
    static const auto& stores =
        *new auto(std::make_shared<HeartbeatStorage::LiveStores>());  // lives for the process
    return stores;
}

// What Swift-style encoders report for a value they cannot write.
constexpr std::int64_t kCoderInvalidValueError = 4866;

}  // namespace

std::shared_ptr<HeartbeatStorage> HeartbeatStorage::sharedStore(const std::string& id) {
    const auto& live = liveStores();
    return live->stores.withLock([&](auto& stores) {
        if (auto it = stores.find(id); it != stores.end()) {
            if (auto store = it->second.get()) {
                return store;
            }
        }
        auto store = std::make_shared<HeartbeatStorage>(Passkey(), id,
                                                        StorageFactory::makeStorage(id), live);
        stores[id] = WeakContainer<HeartbeatStorage>{store};
        return store;
    });
}

std::shared_ptr<HeartbeatStorage> HeartbeatStorage::make(std::string id,
                                                         std::unique_ptr<Storage> storage) {
    return std::make_shared<HeartbeatStorage>(Passkey(), std::move(id), std::move(storage),
                                              nullptr);
}

HeartbeatStorage::HeartbeatStorage(Passkey, std::string id, std::unique_ptr<Storage> storage,
                                   std::shared_ptr<LiveStores> liveStores)
    : id_(std::move(id)),
      storage_(std::move(storage)),
      queue_(platform::DispatchQueue::createSerial("com.heartbeat.storage." + id_)),
      liveStores_(std::move(liveStores)) {}

void HeartbeatStorage::TEST_setBeforeRemovalHook(std::function<void(const std::string&)> hook) {
    liveStores()->TEST_beforeRemoval.withLock([&](auto& stored) { stored = std::move(hook); });
}

HeartbeatStorage::~HeartbeatStorage() {
    if (!liveStores_) {
        return;
    }
    if (const auto hook = liveStores_->TEST_beforeRemoval.value()) {
        hook(id_);
    }
    // Our own entry has expired by now. An entry that is alive belongs to a newer store that
    // sharedStore made while this one was dying: removing it would let a third store of the
    // same id appear beside it, with a second queue writing the same file.
    liveStores_->stores.withLock([&](auto& stores) {
        if (auto it = stores.find(id_); it != stores.end() && it->second.object.expired()) {
            stores.erase(it);
        }
    });
}

std::optional<HeartbeatsBundle> HeartbeatStorage::load() {
    sdk::Bytes bytes;
    if (storage_->read(&bytes) || bytes.empty()) {
        return std::nullopt;
    }
    return HeartbeatsBundle::decode(std::string(bytes.begin(), bytes.end()));
}

sdk::Error HeartbeatStorage::save(const std::optional<HeartbeatsBundle>& bundle) {
    std::optional<sdk::Bytes> data;
    if (bundle) {
        const auto text = bundle->encode();
        if (!text) {
            return sdk::Error(std::string(sdk::kCocoaErrorDomain), kCoderInvalidValueError,
                              "The heartbeat bundle could not be encoded.");
        }
        data.emplace(text->begin(), text->end());
    }
    if (const auto failed = storage_->write(data)) {
        return makeError(*failed);
    }
    return sdk::Error::OK();
}

SwapResult HeartbeatStorage::readTransformWrite(const BundleTransform& transform) {
    auto old = load();
    sdk::Error error = save(transform(old));
    if (!error.ok()) {
        return {std::nullopt, std::move(error)};
    }
    return {std::move(old), sdk::Error::OK()};
}

void HeartbeatStorage::updateAsync(BundleTransform transform) {
    queue_->async([self = shared_from_this(), transform = std::move(transform)] {
        (void)self->readTransformWrite(transform);
    });
}

void HeartbeatStorage::updateSync(const BundleTransform& transform) {
    queue_->sync([&] { (void)readTransformWrite(transform); });
}

SwapResult HeartbeatStorage::swapSync(const BundleTransform& transform) {
    SwapResult result;
    queue_->sync([&] { result = readTransformWrite(transform); });
    return result;
}

void HeartbeatStorage::swapAsync(BundleTransform transform,
                                 std::function<void(SwapResult)> completion) {
    queue_->async(
        [self = shared_from_this(), transform = std::move(transform),
         completion = std::move(completion)] { completion(self->readTransformWrite(transform)); });
}

}  // namespace heartbeat
