#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFImageView.h"
#include "platform/ZNFGeometry.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <optional>

// Keys of an "image" layout dictionary besides the formatter's inset keys.
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_URL{"url"};
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_Filename{"name"};
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_Width{"width"};
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_Height{"height"};
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_MaxWidth{"maxWidth"};
inline constexpr QLatin1StringView ZNFLayoutImageParserKey_Placeholder{"placeholder"};

// The folder of downloaded pictures, in the user's caches folder.
inline constexpr QLatin1StringView ZNFImageLayoutItemCacheFolderName{"ZNFImageLayoutItemCache"};

// One picture named by a URL, inside an inset box. File pictures load at once; remote ones
// download in the background, fade in, and are kept in an on-disk cache. The item never
// measures its picture: its size comes from the sizing callable, so a screen reserves the
// right space before the picture arrives.
class ZNFImageLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    using SizingBlock = std::function<QSizeF(const QSizeF& size)>;

    ZNFImageLayoutItem() = default;
    ZNFImageLayoutItem(const QUrl& url, SizingBlock sizing)
        : m_imageURL(url), m_sizingBlock(std::move(sizing)) {}

    static QString classKind() { return QStringLiteral("image"); }
    QString kind() const override { return classKind(); }

    // The sizing callable's answer (it accounts for the insets); zero without one.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A plain container whose first subview is the image view, inset by `insets` (the
    // container's y grows upwards). Starts loading the picture.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    QUrl imageURL() const { return m_imageURL; }
    void setImageURL(const QUrl& url) { m_imageURL = url; }
    const SizingBlock& sizingBlock() const { return m_sizingBlock; }
    void setSizingBlock(SizingBlock block) { m_sizingBlock = std::move(block); }
    bool cacheRemoteImages() const { return m_cacheRemoteImages; }
    void setCacheRemoteImages(bool cache) { m_cacheRemoteImages = cache; }
    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }
    // Fills the image view until its picture arrives.
    std::optional<QColor> placeholderColor() const { return m_placeholderColor; }
    void setPlaceholderColor(std::optional<QColor> color) { m_placeholderColor = std::move(color); }
    // The image view most recently made or reused for this item.
    ZNFImageView* imageView() const { return m_imageView.data(); }

    // The cache folder, fixed at first use.
    static QString cacheDirectoryPath();
    // The URL's full string without any ":" or "/"; empty for no URL.
    static QString filenameForURL(const QUrl& url);
    static QSizeF sizeScaledToWidth(const QSizeF& size, double width);
    static QSizeF sizeScaledToHeight(const QSizeF& size, double height);
    static SizingBlock widthSizingBlockWithSize(const QSizeF& size);
    static SizingBlock heightSizingBlockWithSize(const QSizeF& size);
    // Best quality JPEG, and PNG.
    static QByteArray jpgDataWithImage(const QImage& image);
    static QByteArray pngDataWithImage(const QImage& image);
    // Writes the picture to the cache in the background, as PNG or JPEG by the URL's path
    // extension (any other extension writes nothing). Returns at once.
    static void cacheImage(const QImage& image, const QUrl& url);
    // The cached picture of a URL; null when there is none or it cannot be read.
    static QImage cachedImageForURL(const QUrl& url);
    // A file URL loads at once (a missing file leaves the view as it was); a remote one comes
    // from the cache at once or is downloaded off the main thread and faded in. Only the
    // view's latest load may set its picture.
    static void loadImageFromURL(const QUrl& url, ZNFImageView* imageView, bool cacheResult,
                                 const std::optional<QColor>& placeholder = std::nullopt);
    // Downloads started and not yet handed back. A process that ends without destroying its
    // application object waits for these first: Qt's network thread must not outlive Qt.
    static int downloadsInFlight();

private:
    QUrl m_imageURL;
    SizingBlock m_sizingBlock;
    bool m_cacheRemoteImages = true;
    ZNFEdgeInsets m_insets;
    std::optional<QColor> m_placeholderColor;
    QPointer<ZNFImageView> m_imageView;
};

// Parses "image" dictionaries: "url" (or a main-bundle resource "name"), the nominal "width"
// and "height" (numbers; the height follows the drawn width), "maxWidth", insets, "placeholder".
class ZNFImageLayoutParser : public ZNFLayoutParsing {
public:
    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override;
    static QColor colorFromString(const QVariant& string);
};
