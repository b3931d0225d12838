// cbscan [--json] [--width N] [--per-entry] PATH
// Scans PATH with the real Scanner and prints its totals: allocated bytes counted once, files
// (non-folder entries on the root's volume), folders marked inaccessible, and wall seconds.
// --per-entry stats every entry on its walker's thread, without the stat helpers: the reference
// reader the comparison script checks the default one against.
// While stderr is a terminal, progress reports are shown there.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/disk/DescriptorLimit.h"
#include "app/disk/EntryStatter.h"
#include "app/disk/Scanner.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: cbscan [--json] [--width N] [--per-entry] PATH\n");
    return 2;
}

class PerEntryReader final : public cb::DirectoryReader {
  public:
    std::unique_ptr<cb::EntryStatter> makeStatter(cb::StatHelpers*, size_t slot) override {
        return DirectoryReader::makeStatter(nullptr, slot);
    }
};

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    cb::ScannerOptions options;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--width" && i + 1 < argc) {
            char* end = nullptr;
            const long width = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || width < 1 || width > 256) {
                return usage();
            }
            options.width = static_cast<int>(width);
        } else if (arg == "--per-entry") {
            options.reader = std::make_shared<PerEntryReader>();
        } else if (!arg.empty() && arg[0] != '-' && path.empty()) {
            path = arg;
        } else {
            return usage();
        }
    }
    if (path.empty()) {
        return usage();
    }
    cb::raiseDescriptorLimit();
    const bool showProgress = ::isatty(STDERR_FILENO) && !json;
    cb::Scanner scanner(
        [showProgress](const cb::ScanProgress& p) {
            if (showProgress) {
                std::fprintf(stderr, "\r\033[K%lld files, %lld bytes, %.0f files/s  %s",
                             static_cast<long long>(p.filesScanned),
                             static_cast<long long>(p.bytesScanned), p.filesPerSecond,
                             p.currentPath.c_str());
            }
        },
        options);
    const auto start = std::chrono::steady_clock::now();
    const auto root = scanner.scan(path);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (showProgress) {
        std::fprintf(stderr, "\r\033[K");
    }
    const auto bytes = static_cast<long long>(root->size());
    const auto files = static_cast<long long>(root->fileCount());
    const auto inaccessible = static_cast<long long>(root->inaccessibleCount());
    if (json) {
        std::printf(
            "{\"bytes\": %lld, \"files\": %lld, \"inaccessible\": %lld, \"seconds\": %.6f}\n",
            bytes, files, inaccessible, seconds.count());
    } else {
        std::printf("bytes        %lld\nfiles        %lld\ninaccessible %lld\nseconds      %.3f\n",
                    bytes, files, inaccessible, seconds.count());
    }
    // Freeing half a million nodes one by one only to exit takes tens of milliseconds; like
    // other command-line scanners, leave the memory to the system. The scanner has already
    // joined its threads.
    std::fflush(stdout);
    std::_Exit(std::ferror(stdout) ? 1 : 0);
}
