#include "app/uninstaller/AppIcon.h"

#include <sys/stat.h>
#include <QFile>
#include <QImageReader>
#include <optional>
#include <string>

#include "platform/bundle/Bundle.h"

namespace cb {

namespace {

constexpr off_t kMaxIconFileBytes = 32 << 20;
constexpr int kAllocationLimitMegabytes = 64;

std::optional<QImage> readIcon(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxIconFileBytes) {
        return std::nullopt;
    }
    QImageReader reader(QFile::decodeName(path.c_str()));
    reader.setAllocationLimit(kAllocationLimitMegabytes);
    QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    if (image.width() > kMaxAppIconPixels || image.height() > kMaxAppIconPixels) {
        image = image.scaled(kMaxAppIconPixels, kMaxAppIconPixels, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    }
    return image;
}

}  // namespace

QImage loadAppIcon(const platform::Bundle& bundle) {
    std::optional<std::string> name = bundle.infoString("CFBundleIconFile");
    if (!name || !platform::isSinglePathComponent(*name)) {
        return QImage();
    }
    const std::filesystem::path resources = bundle.resourcesPath();
    for (const std::string& candidate : {*name, *name + ".icns", *name + ".png"}) {
        if (std::optional<QImage> image = readIcon(resources / candidate)) {
            return *image;
        }
    }
    return QImage();
}

}  // namespace cb
