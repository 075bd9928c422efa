// Layout data (JSON) through a provider with every default parser and evaluator, then sized at
// a few widths and shown, as the collection view would. Each element yields at most one item.

#include "FuzzSupport.h"

#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFLayoutItemParserRegistrations.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Finds view providers the way the collection view does, for tables' nested items.
class Consumer : public ZNFLayoutConsumer {
public:
    void registerViewProvider(const std::shared_ptr<ZNFLayoutItemViewProvider>& provider,
                              const QString& kind) override {
        m_providers.insert(kind, provider);
    }
    std::shared_ptr<ZNFLayoutItemViewProvider>
    providerForItem(const std::shared_ptr<ZNFLayoutItem>& item) override {
        if (!item)
            return nullptr;
        if (auto provider = m_providers.value(item->kind()))
            return provider;
        return std::dynamic_pointer_cast<ZNFLayoutItemViewProvider>(item);
    }

private:
    QHash<QString, std::shared_ptr<ZNFLayoutItemViewProvider>> m_providers;
};

std::shared_ptr<ZNFLayoutProvider> makeProvider() {
    auto provider = std::make_shared<ZNFLayoutProvider>();
    ZNFRegisterDefaultItemParsers(*provider);
    // The application's styles, so that "style" names resolve as on the real screens.
    provider->textFormatter()->registerKeyedAttributesFromFile(
        QStringLiteral(NOTECRATE_SOURCE_DIR) + QStringLiteral("/resources/notecrateStyles.plist"));
    return provider;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        NCFuzz::environment();
        // Remote pictures may be named by the data: their downloads go to a closed loopback port.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9));
        return true;
    }();
    Q_UNUSED(ready);
    static std::shared_ptr<ZNFLayoutProvider> provider = makeProvider();
    static Consumer consumer;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson("[" + NCFuzz::bytes(data, size) + "\n]", &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        return 0;
    const QVariant layout = document.array().at(0).toVariant();
    const ZNFLayoutItemList items = provider->layoutItemsWithData(layout);
    const qsizetype elements = layout.typeId() == QMetaType::QVariantList ? layout.toList().size() : 0;
    FUZZ_CHECK(qsizetype(items.size()) <= elements,
               QStringLiteral("%1 items from %2 elements").arg(items.size()).arg(elements));

    static const double widths[] = {0, 320, 1e9, ZNFLayoutFill};
    QWidget host;
    for (const auto& item : items) {
        FUZZ_CHECK(item, QStringLiteral("a null item"));
        for (double width : widths) {
            const QSizeF fitted = item->sizeThatFits(QSizeF(width, ZNFLayoutFill));
            FUZZ_CHECK(!std::isnan(fitted.width()) && !std::isnan(fitted.height()),
                       QStringLiteral("a %1 item measured NaN at %2").arg(item->kind()).arg(width));
        }
        const auto viewProvider = consumer.providerForItem(item);
        if (!viewProvider)
            continue;
        const QSizeF fitted = item->sizeThatFits(QSizeF(320, ZNFLayoutFill));
        const QRectF frame(0, 0, 320, std::clamp(fitted.height(), 0.0, 2000.0));
        const ZNFLayoutInstance instance = viewProvider->instanceForItem(item, &consumer, frame, nullptr);
        if (instance.view) {
            instance.view->setParent(&host);
            // Reuse, as a recycled cell would.
            const ZNFLayoutInstance again =
                viewProvider->instanceForItem(item, &consumer, frame, instance.view);
            if (again.view && again.view != instance.view)
                again.view->setParent(&host);
        }
    }
    // Painting is where styles and pictures meet the screen.
    if (!items.empty() && items.size() <= 16) {
        host.resize(320, 480);
        host.grab();
    }
    // The run may end after any input, and this process never destroys its application object:
    // a download still on Qt's network thread then races Qt's globals going away. Refused
    // loopback connections end in milliseconds.
    QElapsedTimer waited;
    waited.start();
    while (ZNFImageLayoutItem::downloadsInFlight() > 0 && waited.elapsed() < 5000)
        QThread::msleep(1);
    return 0;
}
