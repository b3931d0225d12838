#include "platform/secretstore/SecretStore.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iostream>
#include <map>
#include <set>

#include "platform/folders/Folders.h"
#include "platform/preferences/PlistCodec.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kItemSuffix = ".item";
constexpr std::string_view kAttributesKey = "attributes";
constexpr std::string_view kDataKey = "data";

// The attributes that make an item's identity: two items never share all of them.
constexpr std::array<std::string_view, 6> kIdentityAttributes = {
    kSecClass,           kSecAttrService,        kSecAttrAccount,
    kSecAttrAccessGroup, kSecAttrApplicationTag, kSecAttrKeyType};

// What an item records besides its matching attributes.
constexpr std::array<std::string_view, 2> kRecordedAttributes = {kSecAttrAccessible,
                                                                 kSecUseDataProtectionKeychain};

// Open stores by folder. Weak, so a folder nobody uses any more is forgotten.
struct Registry {
    std::mutex mutex;
    std::map<fs::path, std::weak_ptr<SecretStore>> stores;  // guarded by mutex
    std::set<fs::path> swept;  // guarded by mutex; folders cleared of leftovers in this process
};

Registry& registry() {
    static Registry& instance = *new Registry();  // lives for the process
    return instance;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xf];
    }
    return hex;
}

bool isItemFileName(const std::string& name) {
    if (name.size() != 64 + kItemSuffix.size() || !name.ends_with(kItemSuffix)) {
        return false;
    }
    return std::all_of(name.begin(), name.begin() + 64,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool matches(const PlistDictionary& query, const PlistDictionary& attributes) {
    for (const auto& [name, wanted] : query) {
        if (!isSecretMatchingAttribute(name)) {
            continue;
        }
        auto found = attributes.find(name);
        if (found == attributes.end() || !(found->second == wanted)) {
            return false;
        }
    }
    return true;
}

// The attributes an added item keeps: the matching and the recorded ones.
PlistDictionary keptAttributes(const PlistDictionary& attributes) {
    PlistDictionary kept;
    for (const auto& [name, value] : attributes) {
        if (isSecretMatchingAttribute(name) ||
            std::find(kRecordedAttributes.begin(), kRecordedAttributes.end(), name) !=
                kRecordedAttributes.end()) {
            kept.emplace(name, value);
        }
    }
    return kept;
}

std::string encodeItem(const PlistDictionary& attributes, const PlistData& data) {
    return encodeBinaryPlist(
        PlistDictionary{{std::string(kAttributesKey), attributes}, {std::string(kDataKey), data}});
}

// The keychain folder a query names, if any.
std::optional<fs::path> namedFolder(const PlistDictionary& query) {
    if (auto use = query.find(kSecUseKeychain); use != query.end()) {
        if (const std::string* path = use->second.getIf<std::string>()) {
            return fs::path(*path);
        }
    }
    if (auto list = query.find(kSecMatchSearchList); list != query.end()) {
        const PlistArray* folders = list->second.getIf<PlistArray>();
        if (folders != nullptr && !folders->empty()) {
            if (const std::string* path = folders->front().getIf<std::string>()) {
                return fs::path(*path);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

bool isSecretMatchingAttribute(std::string_view name) {
    return name == kSecAttrGeneric ||
           std::find(kIdentityAttributes.begin(), kIdentityAttributes.end(), name) !=
               kIdentityAttributes.end();
}

fs::path SecretStore::defaultFolder() {
    return applicationSupportFolder() / "cellarbright" / "keychain";
}

std::shared_ptr<SecretStore> SecretStore::open(const fs::path& folder,
                                               PreferencesFileSystem& fileSystem) {
    Registry& open = registry();
    std::lock_guard lock(open.mutex);
    std::weak_ptr<SecretStore>& slot = open.stores[folder.lexically_normal()];
    std::shared_ptr<SecretStore> store = slot.lock();
    if (!store) {
        store = std::make_shared<SecretStore>(folder.lexically_normal(), fileSystem);
        slot = store;
    }
    // Once per folder and process: a store is made afresh for many single calls.
    if (open.swept.insert(store->folder()).second) {
        store->removeStaleTemporaryFiles();
    }
    return store;
}

void SecretStore::removeStaleTemporaryFiles() {
    std::lock_guard lock(mutex_);
    int lockFd = -1;
    if (fileSystem_.lockFolder(folder_, &lockFd)) {
        return;  // no folder yet, so nothing left behind
    }
    // Each one may hold a whole secret, of an item that may since have been removed.
    platform::removeStaleTemporaryFiles(fileSystem_, folder_, [](std::string_view name) {
        return isItemFileName(std::string(name));
    });
    fileSystem_.unlockFolder(lockFd);
}

void SecretStore::reportSpecialFile(const fs::path& path) {
    std::lock_guard lock(reportedMutex_);
    if (reported_.insert(path).second) {
        std::cerr << "keychain: skipping " << path.string()
                  << ": not a regular file, so not an item\n";
    }
}

std::shared_ptr<SecretStore> SecretStore::forQuery(const PlistDictionary& query) {
    return open(namedFolder(query).value_or(defaultFolder()));
}

SecretStore::SecretStore(fs::path folder, PreferencesFileSystem& fileSystem)
    : folder_(std::move(folder)), fileSystem_(fileSystem) {}

fs::path SecretStore::pathOf(const PlistDictionary& attributes) const {
    PlistDictionary identity;
    for (std::string_view name : kIdentityAttributes) {
        if (auto found = attributes.find(name); found != attributes.end()) {
            identity.emplace(std::string(name), found->second);
        }
    }
    return folder_ / (sha256Hex(encodeBinaryPlist(identity)) + std::string(kItemSuffix));
}

SecStatus SecretStore::readItem(const fs::path& path, std::optional<Item>* item) {
    item->reset();
    std::string bytes;
    std::error_code error = fileSystem_.readFile(path, kMaxItemFileSize, &bytes);
    if (error == std::errc::no_such_file_or_directory || error == std::errc::file_too_large) {
        return errSecSuccess;  // removed meanwhile, or not one of ours
    }
    if (error == std::errc::invalid_argument) {
        reportSpecialFile(path);  // a FIFO or folder with an item's name: never read
        return errSecSuccess;
    }
    if (error) {
        return errSecIO;
    }
    std::optional<PlistValue> root = decodePlist(bytes);
    const PlistDictionary* file = root ? root->getIf<PlistDictionary>() : nullptr;
    if (file == nullptr) {
        return errSecSuccess;
    }
    auto attributes = file->find(kAttributesKey);
    auto data = file->find(kDataKey);
    if (attributes == file->end() || data == file->end() ||
        attributes->second.getIf<PlistDictionary>() == nullptr ||
        data->second.getIf<PlistData>() == nullptr) {
        return errSecSuccess;
    }
    *item =
        Item{path, *attributes->second.getIf<PlistDictionary>(), *data->second.getIf<PlistData>()};
    return errSecSuccess;
}

SecStatus SecretStore::findMatches(const PlistDictionary& query, std::vector<Item>* items) {
    items->clear();
    std::error_code error;
    std::vector<fs::path> paths;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        if (isItemFileName(it->path().filename().string())) {
            paths.push_back(it->path());
        }
    }
    if (error == std::errc::no_such_file_or_directory) {
        return errSecSuccess;  // no item was ever stored
    }
    if (error) {
        return errSecIO;
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        std::optional<Item> item;
        if (SecStatus status = readItem(path, &item); status != errSecSuccess) {
            return status;
        }
        if (item && matches(query, item->attributes)) {
            items->push_back(std::move(*item));
        }
    }
    return errSecSuccess;
}

SecStatus SecretStore::copyMatching(const PlistDictionary& query, PlistData* data) {
    std::vector<Item> items;
    if (SecStatus status = findMatches(query, &items); status != errSecSuccess) {
        return status;
    }
    if (items.empty()) {
        return errSecItemNotFound;
    }
    *data = std::move(items.front().data);
    return errSecSuccess;
}

SecStatus SecretStore::withFolderLocked(const std::function<SecStatus()>& change) {
    std::lock_guard lock(mutex_);
    if (fileSystem_.createFolder(folder_)) {
        return errSecIO;
    }
    // A folder made by someone else keeps no secret unless it is private.
    struct stat info {};
    if (!fileSystem_.statFile(folder_, &info) && (info.st_mode & 077) != 0) {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, ignored);
        if (ignored) {
            return errSecIO;
        }
    }
    int lockFd = -1;
    if (fileSystem_.lockFolder(folder_, &lockFd)) {
        return errSecIO;
    }
    SecStatus status = change();
    fileSystem_.unlockFolder(lockFd);
    return status;
}

std::error_code SecretStore::writeItem(const Item& item) {
    const std::string bytes = encodeItem(item.attributes, item.data);
    if (bytes.size() > kMaxItemFileSize) {
        return std::make_error_code(std::errc::file_too_large);
    }
    return writeFileAtomically(fileSystem_, item.path, bytes);
}

SecStatus SecretStore::add(const PlistDictionary& attributes) {
    if (attributes.find(kSecClass) == attributes.end()) {
        return errSecParam;
    }
    PlistData data;
    if (auto value = attributes.find(kSecValueData); value != attributes.end()) {
        const PlistData* bytes = value->second.getIf<PlistData>();
        if (bytes == nullptr) {
            return errSecParam;
        }
        data = *bytes;
    }
    Item item{pathOf(attributes), keptAttributes(attributes), std::move(data)};
    if (encodeItem(item.attributes, item.data).size() > kMaxItemFileSize) {
        return errSecParam;
    }
    return withFolderLocked([&] {
        std::optional<Item> existing;
        if (SecStatus status = readItem(item.path, &existing); status != errSecSuccess) {
            return status;
        }
        if (existing) {
            return errSecDuplicateItem;
        }
        return writeItem(item) ? errSecIO : errSecSuccess;
    });
}

SecStatus SecretStore::update(const PlistDictionary& query, const PlistData& data) {
    return withFolderLocked([&] {
        std::vector<Item> items;
        if (SecStatus status = findMatches(query, &items); status != errSecSuccess) {
            return status;
        }
        if (items.empty()) {
            return errSecItemNotFound;
        }
        for (Item& item : items) {
            item.data = data;
            if (std::error_code error = writeItem(item)) {
                return error == std::errc::file_too_large ? errSecParam : errSecIO;
            }
        }
        return errSecSuccess;
    });
}

SecStatus SecretStore::remove(const PlistDictionary& query) {
    return withFolderLocked([&] {
        std::vector<Item> items;
        if (SecStatus status = findMatches(query, &items); status != errSecSuccess) {
            return status;
        }
        if (items.empty()) {
            return errSecItemNotFound;
        }
        for (const Item& item : items) {
            std::error_code error = fileSystem_.removeFile(item.path);
            if (error && error != std::errc::no_such_file_or_directory) {
                return errSecIO;
            }
        }
        (void)fileSystem_.syncFolder(folder_);
        return errSecSuccess;
    });
}

}  // namespace platform
