#include "app/views/SymbolIcons.h"

#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>

namespace cb {

namespace {

#define CB_SVG(body) "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24'>" body "</svg>"
#define CB_STROKE_W(width)                           \
    "fill='none' stroke='#000' stroke-width='" width \
    "' stroke-linecap='round' "                      \
    "stroke-linejoin='round'"
#define CB_STROKE CB_STROKE_W("2")

constexpr SymbolEntry kSymbols[] = {
    {"folder.fill", "folder",
     CB_SVG("<path d='M2 6.5A2.5 2.5 0 0 1 4.5 4H9l2 2.5h8.5A2.5 2.5 0 0 1 22 9v9.5a2.5 2.5 0 0 "
            "1-2.5 2.5h-15A2.5 2.5 0 0 1 2 18.5z'/>")},
    {"folder", "folder",
     CB_SVG("<path " CB_STROKE
            " d='M3 6.5A1.5 1.5 0 0 1 4.5 5H9l2 2.5h8.5A1.5 1.5 0 0 1 21 9v9.5a1.5 "
            "1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 18.5z'/>")},
    {"doc.fill", "text-x-generic",
     CB_SVG("<path d='M6 2h7v7h7v11a2 2 0 0 1-2 2H6a2 2 0 0 1-2-2V4a2 2 0 0 1 2-2zM15 2.6 19.4 "
            "7H15z'/>")},
    {"doc.text", "text-x-generic",
     CB_SVG("<path " CB_STROKE " d='M6 3h8l5 5v12a1 1 0 0 1-1 1H6a1 1 0 0 1-1-1V4a1 1 0 0 1 1-1zM8 "
            "12h8M8 16h8'/>")},
    {"internaldrive", "drive-harddisk",
     CB_SVG("<rect x='2.5' y='7' width='19' height='10' rx='2.5' " CB_STROKE "/>"
            "<circle cx='17' cy='12' r='1.4'/>")},
    {"info.circle", "dialog-information",
     CB_SVG("<circle cx='12' cy='12' r='9' " CB_STROKE "/><rect x='11' y='10.5' width='2' "
            "height='6.5' rx='1'/><circle cx='12' cy='7.6' r='1.3'/>")},
    {"chevron.right", "go-next", CB_SVG("<path " CB_STROKE_W("2.6") " d='M9 5l7 7-7 7'/>")},
    {"chevron.left", "go-previous", CB_SVG("<path " CB_STROKE_W("2.6") " d='M15 5l-7 7 7 7'/>")},
    {"chevron.down", "go-down", CB_SVG("<path " CB_STROKE_W("2.6") " d='M5 9l7 7 7-7'/>")},
    {"xmark", "window-close", CB_SVG("<path " CB_STROKE_W("2.4") " d='M6 6l12 12M18 6 6 18'/>")},
    {"checkmark", "object-select",
     CB_SVG("<path " CB_STROKE_W("2.6") " d='M5 12.5l4.5 4.5L19 7'/>")},
    {"trash.fill", "user-trash-full",
     CB_SVG("<path d='M9 2.5h6l.8 1.5H20v2.5H4V4h4.2zM5.5 8h13l-1.1 12.2a2 2 0 0 1-2 1.8H8.6a2 "
            "2 0 "
            "0 1-2-1.8z'/>")},
    {"house", "user-home",
     CB_SVG("<path " CB_STROKE " d='M3.5 11 12 4l8.5 7M6 9.5V20h4.5v-5.5h3V20H18V9.5'/>")},
    {"globe", "preferences-desktop-locale",
     CB_SVG("<circle cx='12' cy='12' r='9' " CB_STROKE_W(
         "1.6") "/><ellipse cx='12' "
                "cy='12' rx='4' ry='9' " CB_STROKE_W("1.6") "/><path " CB_STROKE_W(
                    "1.6") " d='M3 12h18'/>")},
    {"arrow.up.right", "external-link",
     CB_SVG("<path " CB_STROKE_W("2.6") " d='M5.5 18.5 18.5 5.5M8 5.5h10.5V16'/>")},
    {"arrow.clockwise", "view-refresh",
     CB_SVG("<path " CB_STROKE " d='M19 12a7 7 0 1 1-2.05-4.95'/><path d='M20 3v6.5h-6.5z'/>")},
    {"sidebar.left", "sidebar-show",
     CB_SVG("<rect x='3' y='4.5' width='18' height='15' rx='2.5' " CB_STROKE "/><path " CB_STROKE
            " d='M9.5 4.5v15'/>")},
    {"gearshape", "emblem-system",
     CB_SVG("<circle cx='12' cy='12' r='7' fill='none' stroke='#000' stroke-width='4' "
            "stroke-dasharray='2.75 2.75'/><circle cx='12' cy='12' r='5.5' " CB_STROKE
            "/><circle cx='12' cy='12' r='2' " CB_STROKE "/>")},
    {"lock.shield", "security-high",
     CB_SVG("<path " CB_STROKE
            " d='M12 2.5 4.5 5.5v6c0 4.6 3.2 8.3 7.5 10 4.3-1.7 7.5-5.4 7.5-10v-6z'/>"
            "<rect x='9' y='11' width='6' height='5' rx='1'/><path " CB_STROKE_W(
                "1.6") " d='M10.2 11V9.5a1.8 1.8 0 0 1 3.6 0V11'/>")},
    {"lock.shield.fill", "security-high",
     CB_SVG("<path fill-rule='evenodd' d='M12 2 4 5.2v6.3c0 4.9 3.4 8.8 8 10.5 4.6-1.7 8-5.6 "
            "8-10.5V5.2zM9 11h6v5H9zM10.3 11V9.4a1.7 1.7 0 0 1 3.4 0V11h1V9.4a2.7 2.7 0 0 "
            "0-5.4 0V11z'/>")},
    {"exclamationmark.lock.fill", "changes-prevent",
     CB_SVG("<path fill-rule='evenodd' d='M5 10h14v11H5zM11 12.5v4.5h2v-4.5zM11 18v1.7h2V18z'/>"
            "<path " CB_STROKE " d='M8 10V7a4 4 0 0 1 8 0v3'/>")},
    {"exclamationmark.triangle.fill", "dialog-warning",
     CB_SVG("<path fill-rule='evenodd' d='M12 2.5 1.5 21h21zM11 9v6.5h2V9zM11 17v2h2v-2z'/>")},
    {"clock.arrow.circlepath", "document-open-recent",
     CB_SVG("<path " CB_STROKE " d='M4.5 12a7.5 7.5 0 1 0 2.2-5.3M12 8v4.5l3 2'/>"
            "<path d='M3 4.5V10h5.5z'/>")},
    {"app", "application-x-executable",
     CB_SVG("<rect x='4' y='4' width='16' height='16' rx='4' " CB_STROKE "/>")},
    {"app.fill", "application-x-executable",
     CB_SVG("<rect x='3.5' y='3.5' width='17' height='17' rx='4.5'/>")},
    {"magnifyingglass", "system-search",
     CB_SVG("<circle cx='10.5' cy='10.5' r='6.5' " CB_STROKE
            "/><path " CB_STROKE_W("2.4") " d='M15.5 15.5 21 21'/>")},
    {"trash", "user-trash",
     CB_SVG("<path " CB_STROKE " d='M4 6.5h16M9.5 6.5V4h5v2.5M6 6.5l1 14h10l1-14M10 10.5v6.5M14 "
            "10.5v6.5'/>")},
    {"tray.full", "mail-folder-inbox",
     CB_SVG("<path " CB_STROKE " d='M3 13.5 5.5 5h13l2.5 8.5V19a1 1 0 0 1-1 1H4a1 1 0 0 1-1-1zM3 "
            "13.5h5l1.5 2.5h5l1.5-2.5h5M8 8.5h8M7.5 11h9'/>")},
    {"externaldrive.badge.timemachine", "drive-harddisk",
     CB_SVG("<rect x='2.5' y='9' width='14' height='9' rx='2' " CB_STROKE "/><circle cx='18' "
            "cy='7' r='4' " CB_STROKE_W("1.6") "/><path " CB_STROKE_W(
                "1.6") " d='M18 5v2.2l1.4 1'/>")},
    {"slider.horizontal.3", "preferences-system",
     CB_SVG("<path " CB_STROKE " d='M3 6h18M3 12h18M3 18h18'/><circle cx='8' cy='6' r='2.2'/>"
            "<circle cx='16' cy='12' r='2.2'/><circle cx='10' cy='18' r='2.2'/>")},
    {"cube.box", "package-x-generic",
     CB_SVG("<path " CB_STROKE " d='M12 2.8 20.5 7v10L12 21.2 3.5 17V7zM3.5 7 12 11.3 20.5 7M12 "
            "11.3v9.9'/>")},
    {"cube.box.fill", "package-x-generic",
     CB_SVG("<path d='M12 2.5 21 7l-9 4.6L3 7zM2.8 8.3l8.5 4.4V22l-8.5-4.4zM21.2 8.3v9.3L12.7 "
            "22v-9.3z'/>")},
    {"scroll", "text-x-script",
     CB_SVG("<path " CB_STROKE " d='M7 4h11a2 2 0 0 1 2 2v1h-4M7 4a2 2 0 0 0-2 2v12a2 2 0 0 0 2 "
            "2h10a2 2 0 0 0 2-2V7M7 4a2 2 0 0 1 2 2v12M12 10h4M12 14h4'/>")},
    {"archivebox", "folder-documents",
     CB_SVG("<path " CB_STROKE " d='M3 4.5h18v4H3zM4.5 8.5V19a1 1 0 0 0 1 1h13a1 1 0 0 0 "
            "1-1V8.5M10 12.5h4'/>")},
    {"circle.grid.2x2", "applications-other",
     CB_SVG("<circle cx='7.5' cy='7.5' r='3.3' " CB_STROKE_W(
         "1.8") "/><circle cx='16.5' "
                "cy='7.5' r='3.3' " CB_STROKE_W("1.8") "/><circle cx='7.5' cy='16.5' "
                                                       "r='3.3' " CB_STROKE_W(
                                                           "1.8") "/><circle cx='16.5' cy='16.5' "
                                                                  "r='3.3' " CB_STROKE_W("1.8") "/"
                                                                                                ">")},
    {"network", "network-workgroup",
     CB_SVG("<circle cx='12' cy='12' r='9' " CB_STROKE_W("1.8") "/><path " CB_STROKE_W(
         "1.8") " d='M3 12h18M12 3c3 3.2 3 14.8 0 18M12 3c-3 3.2-3 14.8 0 18'/>")},
    {"bolt.horizontal", "system-run",
     CB_SVG("<path d='M2 12 9 6.5V10h5.5L22 12l-7 5.5V14H9.5z'/>")},
    {"bolt.fill", "system-run", CB_SVG("<path d='M13.5 2 4.5 13.5H11L9.5 22l9-12H12z'/>")},
    {"gearshape.2", "preferences-other",
     CB_SVG("<circle cx='9' cy='10' r='5' " CB_STROKE_W(
         "2.6") " stroke-dasharray='2.2 1.7'/>"
                "<circle cx='9' cy='10' r='2'/><circle cx='17.5' cy='17' r='3.2' " CB_STROKE_W(
                    "2") " stroke-dasharray='1.6 1.2'/><circle cx='17.5' cy='17' r='1.1'/>")},
};

#undef CB_STROKE
#undef CB_STROKE_W
#undef CB_SVG

QIcon themeIconFor(const SymbolEntry& entry) {
    const QString name = QString::fromLatin1(entry.themeIcon);
    QIcon icon = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
    if (icon.isNull()) {
        icon = QIcon::fromTheme(name);
    }
    return icon;
}

// Paints `tint` through the alpha of `image`.
void tintImage(QImage& image, const QColor& tint) {
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), tint);
}

QImage drawnImage(const SymbolEntry* entry, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (entry == nullptr) {
        painter.setBrush(Qt::black);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(
            QRectF(image.rect())
                .adjusted(pixels * 0.2, pixels * 0.2, -pixels * 0.2, -pixels * 0.2));
        return image;
    }
    QSvgRenderer renderer(QByteArray(entry->svg));
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    return image;
}

}  // namespace

std::span<const SymbolEntry> symbolTable() {
    return kSymbols;
}

const SymbolEntry* findSymbol(std::string_view symbol) {
    const auto it = std::find_if(std::begin(kSymbols), std::end(kSymbols),
                                 [symbol](const SymbolEntry& e) { return symbol == e.symbol; });
    return it == std::end(kSymbols) ? nullptr : &*it;
}

SymbolSource symbolSource(std::string_view symbol) {
    const SymbolEntry* entry = findSymbol(symbol);
    if (entry == nullptr) {
        return SymbolSource::none;
    }
    return themeIconFor(*entry).isNull() ? SymbolSource::fallback : SymbolSource::theme;
}

QPixmap symbolPixmap(std::string_view symbol, double logicalSize, const QColor& tint,
                     double devicePixelRatio) {
    const int pixels = std::max(1, static_cast<int>(std::lround(logicalSize * devicePixelRatio)));
    const SymbolEntry* entry = findSymbol(symbol);
    QImage image;
    if (entry != nullptr) {
        const QIcon icon = themeIconFor(*entry);
        if (!icon.isNull()) {
            image = icon.pixmap(QSize(pixels, pixels), 1.0)
                        .toImage()
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            // A theme that ships the icon only in smaller fixed sizes hands back its largest;
            // stretch it so the symbol keeps the size the layout asked for.
            if (!image.isNull() && image.size() != QSize(pixels, pixels)) {
                image = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            }
        }
    }
    if (image.isNull()) {
        image = drawnImage(entry, pixels);
    }
    tintImage(image, tint);
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon symbolIcon(std::string_view symbol, double logicalSize, const QColor& tint) {
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbol, logicalSize, tint, 1.0));
    icon.addPixmap(symbolPixmap(symbol, logicalSize, tint, 2.0));
    return icon;
}

}  // namespace cb
