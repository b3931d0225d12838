#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/core/heartbeat/HeartbeatsBundle.h"
#include "sdk/core/heartbeat/RZDAllocatedUnfairLock.h"
#include "sdk/core/heartbeat/Storage.h"
#include "sdk/core/heartbeat/WeakContainer.h"
#include "sdk/utilities/Error.h"

namespace heartbeat {

// Turns the stored bundle (none when nothing usable is stored) into the bundle to store (none
// stores an empty file). Runs on the store's queue; must not call back into the store.
using BundleTransform =
    std::function<std::optional<HeartbeatsBundle>(std::optional<HeartbeatsBundle>)>;

// The outcome of a swap: the bundle stored before, or the failure to store the new one.
struct SwapResult {
    std::optional<HeartbeatsBundle> old;
    sdk::Error error;
};

// The read-transform-write operations a heartbeat controller needs of its store.
class HeartbeatStorageProtocol {
  public:
    virtual ~HeartbeatStorageProtocol() = default;

    // Queues one read-transform-write and returns at once; a failed write is dropped.
    virtual void updateAsync(BundleTransform transform) = 0;

    // The same, waiting until it has run. REQUIRES: not called from the store's queue.
    virtual void updateSync(const BundleTransform& transform) = 0;

    // Reads, writes the transform of what was read, and returns what was read; on a failed
    // encode or write returns the error instead (and no bundle). REQUIRES: not called from the
    // store's queue.
    virtual SwapResult swapSync(const BundleTransform& transform) = 0;

    // The same, queued; `completion` runs once, on the store's queue.
    virtual void swapAsync(BundleTransform transform,
                           std::function<void(SwapResult)> completion) = 0;
};

// The store of one heartbeat id: one bundle file behind one serial queue
// ("com.heartbeat.storage." + id), on which every read-transform-write runs, one at a time, in
// the order queued. The bundle is read afresh and written back by every operation; nothing is
// cached. A missing, unreadable, empty or undecodable file reads as no bundle and is overwritten
// by whatever the transform makes of that.
//
// Stores are shared: sharedStore returns the live store of an id while anyone holds it, so all
// users of an id share one queue. A store's queued work holds it alive until it has run.
//
// Thread-safety: every member may be called from any thread (see the REQUIRES above).
class HeartbeatStorage final : public HeartbeatStorageProtocol,
                               public std::enable_shared_from_this<HeartbeatStorage> {
  public:
    // The live store of `id`, or a new one over StorageFactory::makeStorage(id).
    static std::shared_ptr<HeartbeatStorage> sharedStore(const std::string& id);

    // A store of `id` over `storage`, not entered in the shared map (sharedStore makes the
    // shared ones; tests use this with a back end of their own).
    static std::shared_ptr<HeartbeatStorage> make(std::string id, std::unique_ptr<Storage> storage);

    // Removes the id's map entry, unless it already holds a newer live store of the id.
    ~HeartbeatStorage() override;

    const std::string& id() const { return id_; }

    void updateAsync(BundleTransform transform) override;
    void updateSync(const BundleTransform& transform) override;
    SwapResult swapSync(const BundleTransform& transform) override;
    void swapAsync(BundleTransform transform, std::function<void(SwapResult)> completion) override;

    // The label of the store's queue.
    const std::string& TEST_queueLabel() const { return queue_->label(); }

    // Runs `hook` with the id in every dying shared store, before it takes the map's lock (so
    // a test can make a newer store of the id at that moment); an empty hook removes it.
    static void TEST_setBeforeRemovalHook(std::function<void(const std::string&)> hook);

    struct Passkey {
        explicit Passkey() = default;
    };
    struct LiveStores;
    HeartbeatStorage(Passkey, std::string id, std::unique_ptr<Storage> storage,
                     std::shared_ptr<LiveStores> liveStores);

  private:
    std::optional<HeartbeatsBundle> load();
    sdk::Error save(const std::optional<HeartbeatsBundle>& bundle);
    SwapResult readTransformWrite(const BundleTransform& transform);

    const std::string id_;
    const std::unique_ptr<Storage> storage_;  // used on queue_ only
    const platform::QueueRef queue_;
    // Held so the map outlives every store, whatever the order of static destruction.
    const std::shared_ptr<LiveStores> liveStores_;
};

// The process-wide map of live stores by id, under its lock; it holds the stores weakly.
struct HeartbeatStorage::LiveStores {
    RZDAllocatedUnfairLock<std::map<std::string, WeakContainer<HeartbeatStorage>>> stores;
    RZDAllocatedUnfairLock<std::function<void(const std::string&)>> TEST_beforeRemoval;
};

}  // namespace heartbeat
