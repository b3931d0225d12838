#pragma once

#include <QImage>

namespace platform {
class Bundle;
}

namespace cb {

// The largest side, in pixels, an application icon is kept at; larger pictures are scaled down
// (aspect kept), enough for the 48-point icon on any screen.
inline constexpr int kMaxAppIconPixels = 256;

// The icon the bundle names under "CFBundleIconFile", looked up in its Contents/Resources as
// written, then with ".icns" added (read when Qt has a plugin for it), then with ".png" added;
// the first regular file (not a link, at most 32 MiB) that decodes wins. A null image when the
// key is missing, is not a single file name, or nothing decodes: views then draw the symbol
// "app". Blocks on the file reads; any thread.
QImage loadAppIcon(const platform::Bundle& bundle);

}  // namespace cb
