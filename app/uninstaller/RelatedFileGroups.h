#pragma once

#include <map>
#include <vector>

#include "app/uninstaller/RelatedCategory.h"
#include "app/uninstaller/RelatedFile.h"

// How the detail panel and the uninstall dialog arrange an application's related files: one
// group per category, shown in category declaration order, each in display order.
namespace cb {

// `files` grouped by category, each group in input order; a category without files has no key.
// Iterating the map visits the groups in RelatedCategory declaration order.
std::map<RelatedCategory, std::vector<RelatedFile>> groupRelatedFilesByCategory(
    const std::vector<RelatedFile>& files);

// `files` in the order one category lists them: larger sizes first (plain signed comparison),
// a stable sort, so files of equal size keep their input order (the search's path order).
std::vector<RelatedFile> inDisplayOrder(std::vector<RelatedFile> files);

}  // namespace cb
