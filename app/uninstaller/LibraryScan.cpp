// The Library scan of the related-file search: scanLibrary() and find().
#include <sys/stat.h>

#include <algorithm>
#include <unordered_set>

#include "app/uninstaller/AllocatedSize.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/AppRelatedFiles.h"
#include "app/uninstaller/IdentifierText.h"
#include "app/uninstaller/RelatedFilesSupport.h"

namespace cb::AppRelatedFiles {

namespace fs = std::filesystem;

namespace {

bool isRealFolder(const fs::path& entry) {
    struct stat st {};
    return ::lstat(entry.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One search: the identity it compares against and what it has found so far.
class LibraryScan {
  public:
    LibraryScan(const Identity& identity, const std::atomic<bool>* stop)
        : identity_(identity), stop_(stop) {}

    // Searches every row of the table under `library`.
    void scanRoot(const fs::path& library) {
        for (const SearchRow& row : searchTable) {
            for (const fs::path& entry : folderEntries(library / row.subpath)) {
                if (stopped()) {
                    return;
                }
                scanEntry(entry, row);
            }
        }
    }

    // The items found, in path order.
    std::vector<RelatedFile> takeResults() {
        std::vector<std::pair<std::string, RelatedFile>> keyed;
        keyed.reserve(results_.size());
        for (RelatedFile& file : results_) {
            keyed.emplace_back(canonicalIdentifier(file.url.string()), std::move(file));
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<RelatedFile> sorted;
        sorted.reserve(keyed.size());
        for (auto& entry : keyed) {
            sorted.push_back(std::move(entry.second));
        }
        results_.clear();
        return sorted;
    }

  private:
    bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

    // The entry itself when it matches; else, under "Application Support" only, the matching
    // children of an entry that is a folder (not a link): the vendor/application layout.
    void scanEntry(const fs::path& entry, const SearchRow& row) {
        if (matches(entry, identity_, row.rule)) {
            add(entry, row);
            return;
        }
        if (row.subpath != "Application Support" || !isRealFolder(entry)) {
            return;
        }
        for (const fs::path& child : folderEntries(entry)) {
            if (!stopped() && matches(child, identity_, MatchRule::bundleIDOrName)) {
                add(child, row);
            }
        }
    }

    void add(const fs::path& candidate, const SearchRow& row) {
        if (!seen_.insert(standardisedPath(candidate)).second) {
            return;
        }
        const bool shared = row.rule == MatchRule::groupContainerFolder ||
                            identity_.groupIDs.contains(candidate.filename().string());
        results_.push_back(RelatedFile{QUuid::createUuid(), candidate, row.category,
                                       allocatedSize(candidate, stop_), shared});
    }

    const Identity& identity_;
    const std::atomic<bool>* stop_;
    std::unordered_set<std::string> seen_;  // standardised paths of the items taken
    std::vector<RelatedFile> results_;
};

}  // namespace

std::vector<RelatedFile> scanLibrary(const Identity& identity, const fs::path& home,
                                     const fs::path& library, const std::atomic<bool>* stop) {
    LibraryScan scan(identity, stop);
    if (!home.empty()) {
        scan.scanRoot(home / "Library");
    }
    scan.scanRoot(library);
    return scan.takeResults();
}

std::vector<RelatedFile> find(const std::string& bundleID, const std::string& name,
                              const std::optional<fs::path>& appURL,
                              const std::atomic<bool>* stop) {
    const Identity identity = buildIdentity(bundleID, name, appURL, stop);
    return scanLibrary(identity, homeFolder(), AppLocations::current().machineLibrary, stop);
}

}  // namespace cb::AppRelatedFiles
