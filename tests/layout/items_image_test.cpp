#include "TestSupport.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "platform/ZNFImage.h"
#include "support/LayoutTestSupport.h"
#include "support/UserDefaultsEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

namespace {

QByteArray png(const QColor& color, int w = 200, int h = 100) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return ZNFImage::encodePNG(image);
}

// The picture cache folder is fixed at its first use; the whole program runs under the private
// home of UserDefaultsEnvironment.h, with a resource folder holding one picture for the "name" key.
class ImageEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(writeFile(folder.filePath("resources/picture.png"), png(QColor(0, 0, 255), 40, 20)));
        // The program's own copy of the variable.
        qputenv("NOTECRATE_RESOURCES", QFile::encodeName(folder.filePath("resources")));
    }
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }
    QTemporaryDir folder;
};

ImageEnvironment* const environment =
    static_cast<ImageEnvironment*>(::testing::AddGlobalTestEnvironment(new ImageEnvironment));

std::shared_ptr<ZNFImageLayoutItem> parseImage(const QByteArray& fields) {
    return parseOne<ZNFImageLayoutItem>(R"({"_type": "image", )" + fields + "}");
}

QString writePicture(const QString& name, const QColor& color) {
    const QString path = environment->folder.filePath("pictures/" + name);
    EXPECT_TRUE(writeFile(path, png(color)));
    return path;
}

QColor shownColor(ZNFImageView* view) {
    const QImage image = view ? view->image() : QImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

QString cacheFile(const QUrl& url) {
    return QDir(ZNFImageLayoutItem::cacheDirectoryPath()).filePath(ZNFImageLayoutItem::filenameForURL(url));
}

// An HTTP server on loopback: a body per path, 404 for others; a held path answers when released.
struct LoopbackServer {
    QTcpServer tcp;
    QHash<QString, QByteArray> bodies;
    QHash<QString, int> requests;
    QHash<QString, QPointer<QTcpSocket>> held; // the request of a held path, once it came

    LoopbackServer() {
        EXPECT_TRUE(tcp.listen(QHostAddress::LocalHost));
        QObject::connect(&tcp, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = tcp.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n"))
                    return; // left unread until the whole head has come
                const QString path = QString::fromLatin1(socket->readAll().split(' ').value(1));
                ++requests[path];
                held.contains(path) ? void(held[path] = socket) : answer(socket, path);
            });
        });
    }
    void answer(QTcpSocket* socket, const QString& path) {
        const QByteArray body = bodies.value(path, "<html>missing</html>");
        socket->write(QByteArray(bodies.contains(path) ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Missing") +
                      "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    void release(const QString& path) {
        if (QPointer<QTcpSocket> socket = held.take(path))
            answer(socket, path);
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(tcp.serverPort()).arg(path));
    }
};

std::shared_ptr<ZNFImageLayoutItem> imageItem(const QUrl& url, bool sized = false) {
    return std::make_shared<ZNFImageLayoutItem>(
        url, sized ? ZNFImageLayoutItem::widthSizingBlockWithSize({200, 100}) : nullptr);
}

// Shows an item in a container of the given size, reusing `reusing` when given.
QWidget* show(const std::shared_ptr<ZNFImageLayoutItem>& item, const QSizeF& size,
              QWidget* reusing = nullptr) {
    return item->instanceForItem(item, nullptr, QRectF(QPointF(0, 0), size), reusing).view;
}

} // namespace

TEST(ImageItem, ParsedSizingFollowsTheDrawnWidth) {
    const auto image = [](const QByteArray& more) {
        return parseImage(R"("name": "picture.png", "width": 200, "height": 100)" + more);
    };
    const auto plain = image(""), inset = image(R"(, "left": 10, "right": 10)"),
               capped = image(R"(, "left": 10, "right": 10, "maxWidth": 100, "top": 4, "bottom": 6)");
    ASSERT_TRUE(plain && inset && capped);
    EXPECT_EQ((QList<QSizeF>{plain->sizeThatFits(QSizeF(320, ZNFLayoutFill)),
                             inset->sizeThatFits(QSizeF(320, ZNFLayoutFill)),
                             capped->sizeThatFits(QSizeF(320, ZNFLayoutFill))}),
              (QList<QSizeF>{QSizeF(320, 160), QSizeF(320, 150), QSizeF(320, 60)}));
    std::unique_ptr<QWidget> container(show(capped, QSizeF(320, 60)));
    ASSERT_TRUE(capped->imageView());
    // The image view spans the width less the insets; the container's y grows upwards.
    EXPECT_EQ(capped->imageView()->geometry(), QRect(10, 6, 300, 50));
    // The 40 x 20 picture is fitted proportionally and centred: 100 x 50 in the middle.
    EXPECT_EQ(capped->imageView()->imageRect(), QRectF(100, 0, 100, 50));
    EXPECT_EQ(pixel(capped->imageView(), 150, 25), QColor(0, 0, 255));
    EXPECT_NE(pixel(capped->imageView(), 50, 25), QColor(0, 0, 255));

    // A narrow slot draws nothing rather than a negative height.
    EXPECT_EQ(inset->sizeThatFits(QSizeF(10, 10)), QSizeF(10, 0));
}

TEST(ImageItem, ParserRejectsUnusableDictionaries) {
    // A zero or negative nominal width has no aspect ratio to follow; "url" comes before "name",
    // even when it is not a valid URL.
    for (const QByteArray bad :
         {R"("name": "picture.png", "width": "200", "height": 100)", R"("name": "picture.png", "width": 200)",
          R"("name": "absent.png", "width": 200, "height": 100)",
          R"("name": "", "width": 200, "height": 100)", R"("width": 200, "height": 100)",
          R"("name": "picture.png", "width": 0, "height": 100)",
          R"("name": "picture.png", "width": -5, "height": 100)",
          R"("url": "http://exa mple.com/a b.png", "name": "picture.png", "width": 200, "height": 100)"})
        EXPECT_FALSE(parseImage(bad)) << bad.constData();
    const auto remote = parseImage(R"("url": "http://example.com/a.png", "name": "picture.png",
                                 "width": 200, "height": 100, "placeholder": "#FF0000")");
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->imageURL(), QUrl("http://example.com/a.png"));
    EXPECT_EQ(remote->placeholderColor(), QColor(255, 0, 0));
    // A "url" that is no string leaves the way open for "name".
    const auto named = parseImage(R"("url": 7, "name": "picture.png", "width": 1, "height": 1)");
    ASSERT_TRUE(named);
    EXPECT_TRUE(named->imageURL().isLocalFile());
}

TEST(ImageItem, FilePicturesLoadAtOnceAndAreNeverCached) {
    const QUrl red = QUrl::fromLocalFile(writePicture("red.png", QColor(255, 0, 0)));
    const QUrl green = QUrl::fromLocalFile(writePicture("green.png", QColor(0, 255, 0)));
    auto first = imageItem(red, true);
    std::unique_ptr<QWidget> container(show(first, QSizeF(200, 100)));
    ASSERT_TRUE(first->imageView());
    EXPECT_EQ(shownColor(first->imageView()), QColor(255, 0, 0));
    EXPECT_FALSE(first->imageView()->isFading());
    EXPECT_FALSE(QFileInfo::exists(cacheFile(red)));

    // The recycled container keeps its image view; a file picture replaces the old one at once.
    auto second = imageItem(green, true);
    EXPECT_EQ(show(second, QSizeF(300, 150), container.get()), container.get());
    EXPECT_EQ(second->imageView(), first->imageView());
    EXPECT_EQ(shownColor(second->imageView()), QColor(0, 255, 0));

    // A missing file leaves the image view as it was.
    auto missing = imageItem(QUrl::fromLocalFile("/nonexistent/picture.png"));
    show(missing, QSizeF(300, 150), container.get());
    EXPECT_EQ(missing->sizeThatFits(QSizeF(300, 300)), QSizeF(0, 0)) << "no sizing callable";
    EXPECT_EQ(shownColor(missing->imageView()), QColor(0, 255, 0));

    // A file replaced on disk is read afresh.
    ASSERT_TRUE(writeFile(red.toLocalFile(), png(QColor(0, 0, 255), 30, 30)));
    show(first, QSizeF(300, 150), container.get());
    EXPECT_EQ(shownColor(first->imageView()), QColor(0, 0, 255));

    // A view of another shape is not recycled.
    ZNFView plain;
    std::unique_ptr<QWidget> other(show(second, QSizeF(10, 10), &plain));
    EXPECT_NE(other.get(), &plain);
}

TEST(ImageItem, RemotePicturesDownloadFadeInAndAreCachedByExtension) {
    LoopbackServer server;
    server.bodies["/upper.PNG"] = png(QColor(255, 0, 0));
    for (const char* path : {"/photo.jpeg", "/anim.gif", "/private.png"})
        server.bodies[path] = png(QColor(0, 0, 255));

    const QUrl upper = server.url("/upper.PNG");
    auto item = imageItem(upper, true);
    std::unique_ptr<QWidget> container(show(item, QSizeF(200, 100)));
    ZNFImageView* view = item->imageView();
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->image().isNull());
    ASSERT_TRUE(waitUntil([&] { return !view->image().isNull(); }));
    EXPECT_EQ(shownColor(view), QColor(255, 0, 0));
    EXPECT_TRUE(view->isFading());
    ASSERT_TRUE(waitUntil([&] { return !view->isFading(); }, 2000));

    // Cached as PNG (capitals count), under the URL's cache name.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(cacheFile(upper)); }));
    EXPECT_TRUE(readFile(cacheFile(upper)).startsWith("\x89PNG"));
    EXPECT_EQ(ZNFImageLayoutItem::cachedImageForURL(upper).pixelColor(10, 10), QColor(255, 0, 0));

    // Shown again: from the cache at once, without asking the server.
    auto again = imageItem(upper);
    std::unique_ptr<QWidget> second(show(again, QSizeF(200, 100)));
    EXPECT_EQ(shownColor(again->imageView()), QColor(255, 0, 0));
    EXPECT_EQ(server.requests.value("/upper.PNG"), 1);

    // JPEG by extension; a gif is shown but not cached; caching can be turned off.
    const struct {
        const char* path;
        bool cache;
        QByteArray start; // of the cache file; empty: none
    } rows[] = {{"/photo.jpeg", true, "\xFF\xD8"}, {"/anim.gif", true, {}}, {"/private.png", false, {}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const QUrl url = server.url(row.path);
        auto item = imageItem(url);
        item->setCacheRemoteImages(row.cache);
        std::unique_ptr<QWidget> container(show(item, QSizeF(200, 100)));
        EXPECT_TRUE(waitUntil([&] { return shownColor(item->imageView()) == QColor(0, 0, 255); }));
        EXPECT_TRUE(waitUntil([&] { return row.start.isEmpty() || QFileInfo::exists(cacheFile(url)); }));
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_EQ(readFile(cacheFile(url)).left(2), row.start);
    }
}

TEST(ImageItem, OnlyTheLatestRequestSetsThePicture) {
    LoopbackServer server;
    server.bodies["/slow.png"] = png(QColor(255, 0, 0));
    server.held.insert("/slow.png", nullptr);
    server.bodies["/fast.png"] = png(QColor(0, 255, 0));
    const QUrl slow = server.url("/slow.png");

    // While the slow picture loads, the placeholder colour fills the image view.
    auto waiting = imageItem(slow);
    waiting->setPlaceholderColor(QColor(255, 255, 0));
    std::unique_ptr<QWidget> container(show(waiting, QSizeF(200, 100)));
    ZNFImageView* view = waiting->imageView();
    ASSERT_TRUE(waitUntil([&] { return server.requests.value("/slow.png") == 1; }));
    EXPECT_EQ(pixel(view, 100, 50), QColor(255, 255, 0));

    // The container is recycled for another remote item, which arrives first.
    auto current = imageItem(server.url("/fast.png"));
    show(current, QSizeF(200, 100), container.get());
    ASSERT_TRUE(waitUntil([&] { return !view->image().isNull(); }));
    EXPECT_EQ(shownColor(view), QColor(0, 255, 0));

    // The stale download finishes later (it is still cached) but leaves the picture alone.
    server.release("/slow.png");
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(cacheFile(slow)); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(shownColor(view), QColor(0, 255, 0));

    // A failed download clears the picture of a view it is still current for.
    auto broken = imageItem(server.url("/absent.png"));
    show(broken, QSizeF(200, 100), container.get());
    EXPECT_EQ(shownColor(view), QColor(0, 255, 0));
    ASSERT_TRUE(waitUntil([&] { return view->image().isNull(); }));
    EXPECT_FALSE(QFileInfo::exists(cacheFile(server.url("/absent.png"))));

    // A view that goes away before its download ends is simply not told.
    server.bodies["/late.png"] = png(QColor(1, 2, 3));
    server.held.insert("/late.png", nullptr);
    auto late = imageItem(server.url("/late.png"));
    std::unique_ptr<QWidget> gone(show(late, QSizeF(50, 50)));
    ASSERT_TRUE(waitUntil([&] { return server.requests.value("/late.png") == 1; }));
    gone.reset();
    EXPECT_FALSE(late->imageView());
    server.release("/late.png");
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(cacheFile(server.url("/late.png"))); }));
}
