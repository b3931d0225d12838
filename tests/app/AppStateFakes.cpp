#include "tests/app/AppStateFakes.h"

#include <sstream>

namespace cb::testing {

namespace {

FileNode& childNamed(FileNode& parent, const std::string& name, bool isDirectory) {
    for (const std::unique_ptr<FileNode>& child : parent.children()) {
        if (child->name() == name) {
            return *child;
        }
    }
    return parent.appendChild(std::make_unique<FileNode>(name, isDirectory, &parent));
}

std::vector<std::string> components(const std::string& relative) {
    std::vector<std::string> parts;
    std::stringstream stream(relative);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

}  // namespace

std::unique_ptr<FileNode> buildTree(const std::string& rootPath,
                                    const std::vector<std::pair<std::string, int64_t>>& entries) {
    std::string name = std::filesystem::path(rootPath).filename().string();
    auto root = std::make_unique<FileNode>(name.empty() ? rootPath : name, true, nullptr);
    root->setRootPath(rootPath);
    for (const auto& [relative, size] : entries) {
        std::vector<std::string> parts = components(relative);
        const bool folderOnly = relative.ends_with("/");
        FileNode* node = root.get();
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            node = &childNamed(*node, parts[i], !last || folderOnly);
        }
        if (!folderOnly) {
            node->setSize(size);
            node->setFileCount(1);
            node->parent()->adjustTotals(size, 1);
        }
    }
    root->sortChildrenBySize();
    root->recountInaccessible();
    return root;
}

FileNode* nodeAt(FileNode& root, const std::string& relative) {
    FileNode* node = &root;
    for (const std::string& part : components(relative)) {
        FileNode* next = nullptr;
        for (const std::unique_ptr<FileNode>& child : node->children()) {
            if (child->name() == part) {
                next = child.get();
            }
        }
        if (next == nullptr) {
            return nullptr;
        }
        node = next;
    }
    return node;
}

std::unique_ptr<FileNode> ScriptedScanner::scan(const std::filesystem::path& location) {
    std::unique_lock lock(mutex_);
    location_ = location;
    changed_.notify_all();
    changed_.wait(lock, [this] { return finished_ || cancelled_; });
    std::unique_ptr<FileNode> tree = std::move(result_);
    if (!tree) {
        // A cancelled walk still returns its (here empty) root.
        tree = std::make_unique<FileNode>(location.filename().string(), true, nullptr);
        tree->setRootPath(location.string());
    }
    returned_ = true;
    changed_.notify_all();
    return tree;
}

void ScriptedScanner::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void ScriptedScanner::report(int64_t files, const std::string& currentPath, int64_t bytes) {
    ScanProgress progress;
    progress.filesScanned = files;
    progress.bytesScanned = bytes;
    progress.currentPath = currentPath;
    handler_(progress);
}

int64_t ScriptedScanner::foldersDeniedAccess() const {
    std::lock_guard lock(mutex_);
    return foldersDenied_;
}

void ScriptedScanner::finish(std::unique_ptr<FileNode> tree, int64_t foldersDenied) {
    std::lock_guard lock(mutex_);
    result_ = std::move(tree);
    foldersDenied_ = foldersDenied;
    finished_ = true;
    changed_.notify_all();
}

std::filesystem::path ScriptedScanner::waitUntilStarted() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return location_.has_value(); });
    return *location_;
}

bool ScriptedScanner::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool ScriptedScanner::returned() const {
    std::lock_guard lock(mutex_);
    return returned_;
}

std::vector<std::filesystem::path> FakeWorld::capacityQueries() const {
    std::lock_guard lock(mutex_);
    return capacityQueries_;
}

AppServices FakeWorld::services() {
    AppServices services;
    services.makeScanner = [this](ScanProgressHandler handler) {
        auto scanner = std::make_shared<ScriptedScanner>(std::move(handler));
        scanners.push_back(scanner);
        return scanner;
    };
    services.capacity = [this](const std::filesystem::path& location) {
        std::lock_guard lock(mutex_);
        capacityQueries_.push_back(location);
        return capacity;
    };
    services.isProtectedLocation = [this](const std::filesystem::path&) {
        return protectedLocation;
    };
    services.hasFullDiskAccess = [this] {
        ++fullDiskAccessProbes;
        return fullDiskAccess;
    };
    services.chooseFolder = [this](const std::string& message, const std::string& prompt) {
        chooserTexts.emplace_back(message, prompt);
        std::optional<std::filesystem::path> answer = chooserAnswers.front();
        chooserAnswers.pop_front();
        return answer;
    };
    services.revealInFileViewer = [this](const std::filesystem::path& path, bool isDirectory) {
        revealed.emplace_back(path, isDirectory);
    };
    services.logEvent = [this](AnalyticsEvent event,
                               std::optional<sdk::Value::Dictionary> parameters) {
        events.push_back({event, std::move(parameters)});
    };
    services.recycle = [](const std::filesystem::path&, bool) {
        return RecycleOutcome("no Trash in this test");
    };
    services.countLocalSnapshots = [](const std::string&) { return int64_t{0}; };
    services.thinLocalSnapshots = [](int64_t, const std::string&, int) {};
    apps.install(services);
    return services;
}

void Gate::wait(const std::atomic<bool>* stop) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    // Stop flags are plain atomics without a notification, so they are polled.
    while (!open_ && passes_ == 0 && !(stop != nullptr && stop->load())) {
        changed_.wait_for(lock, std::chrono::milliseconds(2));
    }
    if (!open_ && passes_ > 0) {
        --passes_;
    }
    --waiting_;
}

void Gate::pass(int calls) {
    std::lock_guard lock(mutex_);
    passes_ += calls;
    changed_.notify_all();
}

void Gate::openFully() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
}

int Gate::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

std::shared_ptr<InstalledApp> FakeApps::makeApp(const std::string& name,
                                                const std::string& bundleID) {
    InstalledApp::Fixed fixed;
    fixed.url = "/Apps/" + name + ".app";
    fixed.name = name;
    fixed.bundleID = bundleID.empty() ? "com.example." + name : bundleID;
    return InstalledApp::make(std::move(fixed));
}

void FakeApps::setListing(std::vector<std::shared_ptr<InstalledApp>> apps) {
    std::lock_guard lock(mutex_);
    listing_ = std::move(apps);
}

std::vector<std::filesystem::path> FakeApps::measured() const {
    std::lock_guard lock(mutex_);
    return measured_;
}

int64_t FakeApps::sizeOf(const std::filesystem::path& bundle) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < listing_.size(); ++i) {
        if (listing_[i]->url() == bundle) {
            return 1000 + static_cast<int64_t>(i);
        }
    }
    return 1;
}

void FakeApps::install(AppServices& services) {
    services.listInstalledApps = [this](const std::atomic<bool>* stop) {
        ++listings;
        if (holdListing) {
            listingGate.wait(stop);
        }
        std::lock_guard lock(mutex_);
        return listing_;
    };
    services.measureBundleSize = [this](const std::filesystem::path& bundle,
                                        const std::atomic<bool>* stop) {
        const int now = ++inFlight;
        int seen = maxInFlight.load();
        while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard lock(mutex_);
            measured_.push_back(bundle);
        }
        if (holdMeasurements) {
            measureGate.wait(stop);
        }
        const int64_t size = sizeOf(bundle);
        --inFlight;
        return size;
    };
    services.findRelatedFiles = [this](const std::string&, const std::string&,
                                       const std::filesystem::path&,
                                       const std::atomic<bool>* stop) {
        ++relatedSearches;
        if (holdRelated) {
            relatedGate.wait(stop);
        }
        return relatedResult;
    };
    services.openApplication = [this](const std::filesystem::path& bundle) {
        opened.push_back(bundle);
    };
    services.recycleBatch = [this](const std::vector<std::filesystem::path>& urls) {
        {
            std::lock_guard lock(mutex_);
            batches_.push_back(urls);
        }
        return trashAnswer ? trashAnswer(urls) : TrashBatchResult{urls, {}};
    };
}

std::vector<std::vector<std::filesystem::path>> FakeApps::batches() const {
    std::lock_guard lock(mutex_);
    return batches_;
}

std::vector<std::string> FakeWorld::eventNames() const {
    std::vector<std::string> names;
    for (const LoggedEvent& logged : events) {
        names.emplace_back(rawValue(logged.event));
    }
    return names;
}

}  // namespace cb::testing
