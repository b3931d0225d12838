#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/preferences/PreferencesFileSystem.h"
#include "sdk/utilities/TypedValueAccessors.h"
#include "sdk/utilities/Value.h"

// A dictionary kept in one binary property-list file, written back in the background about
// once a second while changes arrive.
//
// Design notes.
// Invariants:
//   1. Keys are non-empty; values have a property-list form (no null anywhere).
//   2. hasPendingPersistence_ is true exactly while a write is scheduled on serialQueue_ and
//      has not yet taken its copy of content_.
//   3. The file is only ever replaced whole: written to a temporary file in the same folder,
//      synced, renamed over the plist, and the folder synced. A crash leaves the old file or
//      the new one, never a mix. Each write holds the folder's lock (lockFolder), and opening
//      a dictionary removes, under that lock, the temporary files of writers killed before
//      their rename.
// Transitions of the pending flag:
//   clean --setObject/removeObjectForKey/clearAllData (a change)--> pending
//           (schedulePersistToDisk: one write one second later on serialQueue_)
//   pending --a further change--> pending (rides on the same write)
//   pending --persistToDisk (scheduled, or the destructor)--> clean
//
// Diagnostics go to VDULogger with subsystem "com.vovidu.razudizo.analytics", category
// "<DivEdadevadeze>" and codes "I-ACS043000" to "I-ACS043004".
//
// Thread-safety: every member may be called from any thread. content_ and the pending flag are
// guarded by mutex_; file writes run outside it, one at a time under writeMutex_.
class APMPersistentDictionary : public std::enable_shared_from_this<APMPersistentDictionary>,
                                public sdk::TypedValueAccessors<APMPersistentDictionary> {
  public:
    // Largest file read back; anything bigger is treated as unreadable.
    static constexpr std::size_t kMaxFileSize = 16u << 20;

    // Opens the dictionary of APMMeasurementPlistPath(name), doing its file work through
    // `fileSystem` (which must outlive it). Creates the parent folder; when that fails, logs
    // 43004 and returns null. Null for an empty name too. A missing or unreadable file gives an
    // empty dictionary, replaced whole by the next write.
    static std::shared_ptr<APMPersistentDictionary> initWithFileName(
        std::string_view name,
        platform::PreferencesFileSystem& fileSystem = platform::systemFileSystem());

    // Writes at once when a write is pending.
    ~APMPersistentDictionary();

    APMPersistentDictionary(const APMPersistentDictionary&) = delete;
    APMPersistentDictionary& operator=(const APMPersistentDictionary&) = delete;

    // The stored value, or no value. An empty key logs 43001.
    std::optional<sdk::Value> objectForKey(std::string_view key) const;

    // Stores `value`; no value removes the key. An empty key logs 43002 and a value without a
    // property-list form 43003; both change nothing. Storing an equal value or removing an
    // absent key changes nothing and schedules no write.
    void setObject(const std::optional<sdk::Value>& value, std::string_view key);
    // The typed reads and writes (integerForKey, setBool, removeObjectForKey, ...) come from
    // sdk::TypedValueAccessors over these two.
    // Empties a non-empty dictionary and schedules a write.
    void clearAllData();

    // Schedules one write a second from now unless one is pending already.
    void schedulePersistToDisk();

    // Writes the current contents now; a failed write logs 43000 and is retried only with
    // the next change.
    void persistToDisk();

    // Writes are scheduled by every change already; nothing to do.
    void synchronize() {}

    const std::filesystem::path& fileURL() const { return fileURL_; }

    // Public only for std::make_shared; use initWithFileName.
    struct Passkey {
        explicit Passkey() = default;
    };
    APMPersistentDictionary(Passkey, std::filesystem::path fileURL,
                            platform::PreferencesFileSystem& fileSystem,
                            sdk::Value::Dictionary content);

  private:
    static sdk::Value::Dictionary loadFile(const std::filesystem::path& file,
                                           platform::PreferencesFileSystem& fileSystem);
    // Removes the temporary files of `file` that a writer killed mid-write left behind.
    static void removeStaleTemporaryFiles(const std::filesystem::path& file,
                                          platform::PreferencesFileSystem& fileSystem);
    bool writeFile(const sdk::Value::Dictionary& content);
    bool writeFileLocked(const sdk::Bytes& encoded);

    const std::filesystem::path fileURL_;
    platform::PreferencesFileSystem& fileSystem_;
    const platform::QueueRef serialQueue_;

    mutable std::mutex mutex_;
    sdk::Value::Dictionary content_;      // guarded by mutex_
    bool hasPendingPersistence_ = false;  // guarded by mutex_

    // Held for a whole write, so two writes reach the file in the order they took their copies.
    std::mutex writeMutex_;
};
