#include "layout/items/ZNFImageLayoutItem.h"

#include "layout/items/ZNFLayoutItemValues_p.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFImage.h"
#include "platform/ZNFMainQueue.h"
#include "platform/ZNFPaths.h"
#include "text/ZNFTextFormatter.h"

#include <QCache>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>

namespace {

// A picture larger than this is not a layout picture; the download stops and shows nothing.
constexpr qint64 kMaxDownloadBytes = 64LL * 1024 * 1024;
// A server that stops sending gives up its request after this long without data.
constexpr int kTransferTimeoutMs = 30000;

// Downloads pictures on a thread of its own, so neither the transfer nor the decoding ever
// runs on the main thread; results are handed to the main queue.
class ImageDownloader {
public:
    using Completion = std::function<void(const QImage& image)>;

    static ImageDownloader* instance() {
        static ImageDownloader* downloader = [] {
            auto* d = new ImageDownloader;
            qAddPostRoutine(&ImageDownloader::shutDown);
            return d;
        }();
        return downloader;
    }

    void fetch(const QUrl& url, Completion done) {
        QObject* context = m_context;
        if (!m_thread)
            return; // the application is shutting down
        ++m_inFlight;
        QMetaObject::invokeMethod(
            context,
            [this, url, done = std::move(done)] {
                if (!m_manager)
                    m_manager = new QNetworkAccessManager(m_context);
                QNetworkRequest request(url);
                request.setTransferTimeout(kTransferTimeoutMs);
                QNetworkReply* reply = m_manager->get(request);
                auto tooLarge = std::make_shared<bool>(false);
                QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                                 [reply, tooLarge](qint64 received, qint64) {
                                     if (received > kMaxDownloadBytes && !*tooLarge) {
                                         *tooLarge = true;
                                         reply->abort();
                                     }
                                 });
                QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, tooLarge, done] {
                    // Whatever came back is tried as a picture; an error page simply does not decode.
                    const QByteArray data = *tooLarge ? QByteArray() : reply->readAll();
                    reply->deleteLater();
                    const QImage image = data.isEmpty() ? QImage() : ZNFImage::decodeData(data);
                    ZNFPostToMainQueue([done, image] { done(image); });
                    --m_inFlight;
                });
            },
            Qt::QueuedConnection);
    }

    int inFlight() const { return m_inFlight; }

private:
    ImageDownloader() {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("ZNFImageLayoutItem downloads"));
        m_context = new QObject;
        m_context->moveToThread(m_thread);
        QObject::connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
        m_thread->start();
    }

    static void shutDown() {
        ImageDownloader* d = instance();
        // The manager goes on its own thread, aborting its replies and stopping Qt's network
        // thread; left alive, that thread could still be working while Qt's globals go.
        QMetaObject::invokeMethod(
            d->m_context,
            [d] {
                delete d->m_manager;
                d->m_manager = nullptr;
            },
            Qt::BlockingQueuedConnection);
        d->m_thread->quit();
        d->m_thread->wait();
        delete d->m_thread;
        d->m_thread = nullptr;
        d->m_inFlight = 0;
    }

    QThread* m_thread = nullptr;
    QObject* m_context = nullptr;
    std::atomic<int> m_inFlight{0};
    // Made and used on the download thread only.
    QNetworkAccessManager* m_manager = nullptr;
};

QString cacheFilePath(const QUrl& url) {
    const QString name = ZNFImageLayoutItem::filenameForURL(url);
    // Removing the slashes already keeps the name inside the folder; these are not names at all.
    if (name.isEmpty() || name == u"." || name == u"..")
        return QString();
    return QDir(ZNFImageLayoutItem::cacheDirectoryPath()).filePath(name);
}

// Decoded file pictures, so that showing the same icon again (every reload reconfigures the
// visible cells) does not decode its file again. Keyed by path, size and modification time, so
// a replaced file is read afresh. Main thread only, like the loading that uses it.
QImage decodedFilePicture(const QFileInfo& file) {
    static QCache<QString, QImage> pictures(32 * 1024); // cost in KiB
    const QString key = file.absoluteFilePath() + QLatin1Char('|') + QString::number(file.size()) +
                        QLatin1Char('|') + QString::number(file.lastModified().toMSecsSinceEpoch());
    if (const QImage* cached = pictures.object(key))
        return *cached;
    const QImage image = ZNFImage::decodeFile(file.absoluteFilePath());
    if (!image.isNull())
        pictures.insert(key, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    return image;
}

} // namespace

QSizeF ZNFImageLayoutItem::sizeThatFits(const QSizeF& size) {
    return m_sizingBlock ? m_sizingBlock(size) : QSizeF(0, 0);
}

ZNFLayoutInstance ZNFImageLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                                      ZNFLayoutConsumer*, const QRectF& frame,
                                                      QWidget* reusingView) {
    ZNFImageLayoutItem* shown = dynamic_cast<ZNFImageLayoutItem*>(item.get());
    if (!shown)
        shown = this;

    ZNFView* container = qobject_cast<ZNFView*>(reusingView);
    ZNFImageView* imageView = nullptr;
    if (container) {
        const QList<QWidget*> subviews = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        if (!subviews.isEmpty())
            imageView = qobject_cast<ZNFImageView*>(subviews.first());
    }
    if (!imageView) {
        container = new ZNFView(frame);
        imageView = new ZNFImageView();
        container->addSubview(imageView);
    }
    container->setFrame(frame);
    // The container's y grows upwards: the top inset is measured from its bottom edge.
    imageView->setFrame(UIEdgeInsetsInsetRect(container->bounds(), shown->m_insets));
    shown->m_imageView = imageView;
    loadImageFromURL(shown->m_imageURL, imageView, shown->m_cacheRemoteImages, shown->m_placeholderColor);
    return container;
}

QString ZNFImageLayoutItem::cacheDirectoryPath() {
    static const QString path =
        QDir(ZNFPaths::expandTilde(ZNFPaths::cachesDirectory())).filePath(ZNFImageLayoutItemCacheFolderName);
    return path;
}

QString ZNFImageLayoutItem::filenameForURL(const QUrl& url) {
    if (url.isEmpty())
        return QString();
    QString name = url.toString(QUrl::FullyEncoded);
    name.remove(QLatin1Char(':'));
    name.remove(QLatin1Char('/'));
    return name;
}

QSizeF ZNFImageLayoutItem::sizeScaledToWidth(const QSizeF& size, double width) {
    return QSizeF(width, size.height() * (width / size.width()));
}

QSizeF ZNFImageLayoutItem::sizeScaledToHeight(const QSizeF& size, double height) {
    return QSizeF(size.width() * (height / size.height()), height);
}

ZNFImageLayoutItem::SizingBlock ZNFImageLayoutItem::widthSizingBlockWithSize(const QSizeF& size) {
    return [size](const QSizeF& offered) { return sizeScaledToWidth(size, offered.width()); };
}

ZNFImageLayoutItem::SizingBlock ZNFImageLayoutItem::heightSizingBlockWithSize(const QSizeF& size) {
    return [size](const QSizeF& offered) { return sizeScaledToHeight(size, offered.height()); };
}

QByteArray ZNFImageLayoutItem::jpgDataWithImage(const QImage& image) {
    return image.isNull() ? QByteArray() : ZNFImage::encodeJPEG(image, 100);
}

QByteArray ZNFImageLayoutItem::pngDataWithImage(const QImage& image) {
    return image.isNull() ? QByteArray() : ZNFImage::encodePNG(image);
}

void ZNFImageLayoutItem::cacheImage(const QImage& image, const QUrl& url) {
    if (image.isNull())
        return;
    const QString path = cacheFilePath(url);
    if (path.isEmpty())
        return;
    const QString extension = QFileInfo(url.path()).suffix().toLower();
    QThreadPool::globalInstance()->start([image, path, extension] {
        QByteArray data;
        if (extension == u"png")
            data = pngDataWithImage(image);
        else if (extension == u"jpg" || extension == u"jpeg")
            data = jpgDataWithImage(image);
        if (data.isEmpty())
            return;
        QDir().mkpath(QFileInfo(path).absolutePath());
        // Atomic: a reader never sees half a picture, and of two writes the later one wins.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        if (file.write(data) != data.size()) {
            file.cancelWriting();
            return;
        }
        file.commit();
    });
}

QImage ZNFImageLayoutItem::cachedImageForURL(const QUrl& url) {
    const QString path = cacheFilePath(url);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return QImage();
    return ZNFImage::decodeFile(path);
}

int ZNFImageLayoutItem::downloadsInFlight() {
    return ImageDownloader::instance()->inFlight();
}

void ZNFImageLayoutItem::loadImageFromURL(const QUrl& url, ZNFImageView* imageView, bool cacheResult,
                                          const std::optional<QColor>& placeholder) {
    if (!imageView)
        return;
    // Even a load that ends up setting nothing supersedes the view's earlier ones.
    const quint64 request = imageView->beginRequest();
    imageView->setPlaceholderColor(placeholder);
    if (url.isEmpty())
        return;
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.isFile())
            return;
        const QImage image = decodedFilePicture(file);
        if (!image.isNull())
            imageView->setImage(image);
        return;
    }
    const QImage cached = cachedImageForURL(url);
    if (!cached.isNull()) {
        imageView->setImage(cached);
        return;
    }
    QPointer<ZNFImageView> view(imageView);
    ImageDownloader::instance()->fetch(url, [view, request, url, cacheResult](const QImage& image) {
        if (cacheResult)
            cacheImage(image, url);
        if (view && view->isCurrentRequest(request))
            view->setImage(image, true);
    });
}

QColor ZNFImageLayoutParser::colorFromString(const QVariant& string) {
    return ZNFTextFormatter::colorFromString(string);
}

ZNFLayoutItemList ZNFImageLayoutParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                            ZNFLayoutProvider*) {
    QUrl url;
    const QVariant urlValue = dictionary.value(ZNFLayoutImageParserKey_URL);
    const QVariant nameValue = dictionary.value(ZNFLayoutImageParserKey_Filename);
    if (ZNFItemValues::isString(urlValue)) {
        url = QUrl(urlValue.toString(), QUrl::StrictMode);
        if (!url.isValid())
            url = QUrl();
    } else if (ZNFItemValues::isString(nameValue) && !nameValue.toString().isEmpty()) {
        const QString path = ZNFBundle::mainBundle().pathForResource(nameValue.toString(), QString());
        if (!path.isEmpty() && QFileInfo(path).isFile())
            url = QUrl::fromLocalFile(path);
    }
    if (url.isEmpty())
        return {};

    const QVariant widthValue = dictionary.value(ZNFLayoutImageParserKey_Width);
    const QVariant heightValue = dictionary.value(ZNFLayoutImageParserKey_Height);
    if (!ZNFItemValues::isNumber(widthValue) || !ZNFItemValues::isNumber(heightValue))
        return {};
    const float width = static_cast<float>(ZNFItemValues::number(widthValue).value_or(0));
    const float height = static_cast<float>(ZNFItemValues::number(heightValue).value_or(0));
    // The height follows width / "width": a width that is not positive has no aspect ratio.
    if (!(width > 0) || !std::isfinite(width) || !std::isfinite(height))
        return {};

    const ZNFEdgeInsets insets = ZNFTextFormatter::insetsValueFromDictionary(dictionary);
    std::optional<double> maxWidth;
    if (dictionary.contains(ZNFLayoutImageParserKey_MaxWidth))
        maxWidth = ZNFItemValues::number(dictionary.value(ZNFLayoutImageParserKey_MaxWidth));
    auto sizing = [width, height, insets, maxWidth](const QSizeF& offered) {
        double drawn = offered.width() - insets.left - insets.right;
        if (maxWidth && drawn > *maxWidth)
            drawn = *maxWidth;
        // A slot narrower than the insets draws nothing rather than a negative height.
        drawn = std::max(0.0, drawn);
        const double scale = drawn / static_cast<double>(width);
        return QSizeF(offered.width(), static_cast<double>(height) * scale + insets.top + insets.bottom);
    };
    auto item = std::make_shared<ZNFImageLayoutItem>(url, sizing);
    item->setInsets(insets);
    const QVariant placeholder = dictionary.value(ZNFLayoutImageParserKey_Placeholder);
    if (placeholder.isValid() && !placeholder.isNull())
        item->setPlaceholderColor(colorFromString(placeholder));
    return {item};
}
