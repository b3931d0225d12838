#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/preferences/PlistValue.h"
#include "platform/preferences/PreferencesFileSystem.h"

namespace platform {

// Names used in item queries and attribute dictionaries. A query is a PlistDictionary whose
// keys are these names; matching attributes hold strings, except the application tag and the
// generic attribute, which may be strings or data (compared as given).
inline constexpr std::string_view kSecClass = "class";
inline constexpr std::string_view kSecClassGenericPassword = "genp";
inline constexpr std::string_view kSecClassKey = "keys";
inline constexpr std::string_view kSecAttrService = "svce";
inline constexpr std::string_view kSecAttrAccount = "acct";
inline constexpr std::string_view kSecAttrAccessGroup = "agrp";
inline constexpr std::string_view kSecAttrGeneric = "gena";
inline constexpr std::string_view kSecAttrApplicationTag = "atag";
inline constexpr std::string_view kSecAttrKeyType = "type";
inline constexpr std::string_view kSecAttrKeyTypeRSA = "rsa";
// Recorded with a new item, never matched.
inline constexpr std::string_view kSecAttrAccessible = "pdmn";
inline constexpr std::string_view kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
inline constexpr std::string_view kSecUseDataProtectionKeychain = "nleg";
// Options of a query: which keychain (the folder path as a string, or an array of them, the
// first one counting), what to return and how many.
inline constexpr std::string_view kSecUseKeychain = "u_Keychain";
inline constexpr std::string_view kSecMatchSearchList = "m_SearchList";
inline constexpr std::string_view kSecReturnData = "r_Data";
inline constexpr std::string_view kSecMatchLimit = "m_Limit";
inline constexpr std::string_view kSecMatchLimitOne = "m_LimitOne";
// The item's secret bytes (data), in an added item and in an update.
inline constexpr std::string_view kSecValueData = "v_Data";

// Result codes of the item operations.
using SecStatus = int32_t;
inline constexpr SecStatus errSecSuccess = 0;
inline constexpr SecStatus errSecIO = -36;  // any file failure
inline constexpr SecStatus errSecParam = -50;
inline constexpr SecStatus errSecDuplicateItem = -25299;
inline constexpr SecStatus errSecItemNotFound = -25300;

// A keychain kept as files: each item (its attributes and its data) is one binary property
// list, mode 0600, in one private folder (0700).
//
// Design notes:
// 1. An item's file name is the SHA-256 (hex) of its identity: the class and the key attributes
//    (service, account, access group, application tag, key type) that are present. No text of
//    an item reaches a path, so any service, group or account is safe; two items with the same
//    identity cannot both exist (add answers errSecDuplicateItem).
// 2. A query matches the items whose attributes equal every matching attribute it names (class,
//    service, account, access group, generic attribute, application tag, key type). Other keys
//    (options, recorded attributes) do not take part.
// 3. Every change holds the store's mutex and an exclusive lock on the folder, which other
//    processes honour, and replaces or removes whole files: a new file is written to a
//    temporary file, synced and renamed over the old one, so a failed step leaves the previous
//    item and no temporary file.
// 4. Reads take no lock: a file is always either the old or the new whole item. Files that are
//    not items (temporary files, foreign or damaged files, files over kMaxItemFileSize) are
//    passed over; so is anything but a regular file with an item's name (a FIFO, a folder),
//    which is never opened for reading and is reported once on stderr.
// 5. The first opening of a folder in a process removes the temporary files that a writer
//    killed between writing and renaming left behind (under the folder lock).
//
// All members are safe to call from any thread.
class SecretStore {
  public:
    // Item files (attributes and data) larger than this are not read, and not written.
    static constexpr size_t kMaxItemFileSize = 1u << 20;

    // Returns "<Application Support>/cellarbright/keychain"; read on every call.
    static std::filesystem::path defaultFolder();

    // Returns the store of `folder`: one per folder in this process while anyone holds it. The
    // first opening decides the file system, which must outlive the store.
    static std::shared_ptr<SecretStore> open(
        const std::filesystem::path& folder,
        PreferencesFileSystem& fileSystem = systemFileSystem());

    // Returns the store a query names through kSecUseKeychain or kSecMatchSearchList (opened as
    // by open() when it is not open yet), else the store of defaultFolder().
    static std::shared_ptr<SecretStore> forQuery(const PlistDictionary& query);

    // Finds the first item matching `query` (in file-name order) and returns its data in
    // `*data`. errSecItemNotFound when nothing matches; errSecIO when the folder or a file
    // cannot be read.
    SecStatus copyMatching(const PlistDictionary& query, PlistData* data);

    // Adds the item described by `attributes` (kSecClass required; kSecValueData is its data,
    // empty when absent). errSecDuplicateItem when an item of the same identity exists;
    // errSecParam without a class or when the item would be too large.
    SecStatus add(const PlistDictionary& attributes);

    // Replaces the data of every item matching `query`. errSecItemNotFound when none matches.
    SecStatus update(const PlistDictionary& query, const PlistData& data);

    // Removes every item matching `query`. errSecItemNotFound when none matches.
    SecStatus remove(const PlistDictionary& query);

    // The store's folder.
    const std::filesystem::path& folder() const { return folder_; }

    SecretStore(std::filesystem::path folder, PreferencesFileSystem& fileSystem);
    SecretStore(const SecretStore&) = delete;
    SecretStore& operator=(const SecretStore&) = delete;

  private:
    struct Item {
        std::filesystem::path path;
        PlistDictionary attributes;
        PlistData data;
    };

    // Reads every item matching `query` into `*items`, in file-name order.
    SecStatus findMatches(const PlistDictionary& query, std::vector<Item>* items);
    // Removes the temporary item files a writer killed mid-write left, under the folder lock.
    void removeStaleTemporaryFiles();
    // Says once on stderr that `path`, named like an item, is not a regular file.
    void reportSpecialFile(const std::filesystem::path& path);
    SecStatus readItem(const std::filesystem::path& path, std::optional<Item>* item);
    std::filesystem::path pathOf(const PlistDictionary& attributes) const;
    // Runs `change` with the folder created (0700) and locked against other processes.
    SecStatus withFolderLocked(const std::function<SecStatus()>& change);
    std::error_code writeItem(const Item& item);

    const std::filesystem::path folder_;
    PreferencesFileSystem& fileSystem_;
    std::mutex mutex_;  // held by every change, around the folder lock
    std::mutex reportedMutex_;
    std::set<std::filesystem::path> reported_;  // guarded by reportedMutex_
};

// The attributes of `attributes` that take part in matching (design note 2).
bool isSecretMatchingAttribute(std::string_view name);

}  // namespace platform
