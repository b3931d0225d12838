#include "app/uninstaller/RelatedFileGroups.h"

#include <algorithm>

namespace cb {

std::map<RelatedCategory, std::vector<RelatedFile>> groupRelatedFilesByCategory(
    const std::vector<RelatedFile>& files) {
    std::map<RelatedCategory, std::vector<RelatedFile>> groups;
    for (const RelatedFile& file : files) {
        groups[file.category].push_back(file);
    }
    return groups;
}

std::vector<RelatedFile> inDisplayOrder(std::vector<RelatedFile> files) {
    std::stable_sort(files.begin(), files.end(),
                     [](const RelatedFile& a, const RelatedFile& b) { return a.size > b.size; });
    return files;
}

}  // namespace cb
