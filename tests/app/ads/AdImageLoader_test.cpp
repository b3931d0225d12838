// Loading of the ad bar's images: only web addresses, only 2xx bodies up to the size cap, only
// pictures of a bounded size, and the answer back on the UI thread.

#include "app/ads/AdImageLoader.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>

#include "tests/app/WindowTestEnvironment.h"
#include "tests/app/ads/AdTestServer.h"

namespace cb {
namespace {

using testing::AdTestServer;
using testing::pngBytes;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

class AdImageLoaderTest : public ::testing::Test {
  protected:
    // Loads `url` and waits for the answer; checks it comes on the UI thread.
    QImage load(const QUrl& url) {
        bool done = false;
        QImage result;
        loader.load(url, [&](QImage image) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            result = std::move(image);
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 20000));
        return result;
    }

    QUrl at(const std::string& path) const {
        return QUrl(QString::fromStdString(ads.address(path)));
    }

    AdTestServer ads;
    AdImageLoader loader;
};

TEST_F(AdImageLoaderTest, ServedPicturesDecodeAndEverythingElseGivesNoImage) {
    const std::string png = pngBytes(30, 20, Qt::blue);
    // A PNG ends at its last chunk; what follows is not read, so padding keeps it decodable
    // and shows that only the cap refuses the larger body.
    const std::string padding(kMaxAdImageBytes - png.size(), '\0');
    ads.setImage("/small.png", png);
    ads.setImage("/at-cap.png", png + padding);
    ads.setImage("/over-cap.png", png + padding + "x");
    ads.setImage("/text.png", "not a picture");

    const QImage image = load(at("/small.png"));
    EXPECT_EQ(image.size(), QSize(30, 20));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_EQ(load(at("/at-cap.png")).size(), QSize(30, 20));

    for (const char* path : {"/over-cap.png", "/text.png", "/missing.png"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(load(at(path)).isNull());
    }
}

TEST_F(AdImageLoaderTest, OnlyWebAddressesAreFetched) {
    const std::string png = pngBytes(4, 4, Qt::blue);
    const QString file = QDir::temp().filePath("cb-ad-image.png");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(png.data(), qint64(png.size()));
    out.close();
    for (const QUrl& url : {QUrl::fromLocalFile(file), QUrl("ftp://127.0.0.1/x.png"),
                            QUrl("data:image/png;base64,AAAA"), QUrl("relative.png")}) {
        SCOPED_TRACE(url.toString().toStdString());
        EXPECT_TRUE(load(url).isNull());
    }
    QFile::remove(file);
    EXPECT_TRUE(ads.server.requests().empty());
}

// A one-bit picture of `width` x `height` as PNG bytes: small to make and to store.
QByteArray monoPng(int width, int height) {
    QImage image(width, height, QImage::Format_Mono);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST_F(AdImageLoaderTest, HugePicturesInSmallFilesAreNotDecoded) {
    // 5000 x 5000 fits in a few kilobytes but would take 100 MB decoded.
    const QByteArray huge = monoPng(5000, 5000);
    EXPECT_LT(huge.size(), 1 << 20);
    EXPECT_TRUE(decodeAdImage(huge).isNull());
    EXPECT_EQ(decodeAdImage(monoPng(4096, 4096)).size(), QSize(4096, 4096));
}

TEST_F(AdImageLoaderTest, NoAnswerAfterTheLoaderIsGone) {
    ads.holdImage("/late.png");
    ads.setImage("/late.png", pngBytes(4, 4, Qt::blue));
    bool called = false;
    {
        AdImageLoader shortLived;
        shortLived.load(at("/late.png"), [&](QImage) { called = true; });
        ASSERT_TRUE(ads.server.waitForRequests(1));
    }
    ads.release();
    // A load started after the release ends after the dropped one was handed back.
    load(at("/late.png"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace cb
