#include "LayoutTestSupport.h"

#include "layout/items/ZNFLayoutItemParserRegistrations.h"

#include <QApplication>
#include <QImage>
#include <QJsonDocument>
#include <QTest>

QVariant json(const char* text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return doc.toVariant();
}

ZNFLayoutInstance TestLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                                  ZNFLayoutConsumer*, const QRectF& frame,
                                                  QWidget* reusingView) {
    ++m_instanceCalls;
    auto* view = qobject_cast<TestLayoutItemView*>(reusingView);
    if (!view)
        view = new TestLayoutItemView(frame);
    else
        view->setFrame(frame);
    auto* self = dynamic_cast<TestLayoutItem*>(item.get());
    view->itemName = self ? self->name() : QString();
    return view;
}

std::shared_ptr<FunctionParser> namedItemParser() {
    return std::make_shared<FunctionParser>([](const QVariantMap& dictionary, ZNFLayoutProvider*) {
        return ZNFLayoutItemList{
            std::make_shared<TestLayoutItem>(dictionary.value(QStringLiteral("name")).toString())};
    });
}

ZNFLayoutItemList parse(const QByteArray& element, ZNFLayoutProvider* provider) {
    const QVariantList data{json(element)};
    return provider ? provider->layoutItemsWithData(data) : makeDefaultProvider()->layoutItemsWithData(data);
}

QColor pixel(QWidget* view, int x, int y) {
    return view->grab().toImage().pixelColor(x, y);
}

std::shared_ptr<ZNFLayoutProvider> makeDefaultProvider() {
    auto provider = std::make_shared<ZNFLayoutProvider>();
    ZNFRegisterDefaultItemParsers(*provider);
    return provider;
}

QStringList names(const ZNFLayoutItemList& items) {
    QStringList out;
    for (const auto& item : items) {
        auto* test = dynamic_cast<TestLayoutItem*>(item.get());
        out << (test ? test->name() : QStringLiteral("?"));
    }
    return out;
}

void LayoutWindowTest::openWindow(const QSizeF& size, double scrollerWidth) {
    controller = std::make_shared<ZNFLayoutCollectionViewController>();
    root = controller->view();
    cv = controller->collectionView();
    cv->setVerticalScrollerWidth(scrollerWidth);
    // The scroller always takes its width here, as the measuring rules describe it; the
    // application's hiding of it is the flow tests'.
    cv->setAutohidesScrollers(false);
    root->setFrame(QRectF(QPointF(0, 0), size));
    root->show();
    root->activateWindow();
    QApplication::setActiveWindow(root);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(root));
}

void LayoutWindowTest::show(const ZNFLayoutItemList& items) {
    controller->setLayoutItems(items);
    cv->reloadData();
}

std::shared_ptr<ZNFLayoutCollectionViewItem> LayoutWindowTest::cellAt(int index) const {
    return std::dynamic_pointer_cast<ZNFLayoutCollectionViewItem>(
        cv->itemAtIndexPath(ZNFIndexPath{0, index}));
}
