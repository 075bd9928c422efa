#include "LayoutTestItems.h"

#include "layout/items/ZNFLayoutItemParserRegistrations.h"

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

std::shared_ptr<ZNFLayoutProvider> makeDefaultProvider() {
    auto provider = std::make_shared<ZNFLayoutProvider>();
    ZNFRegisterDefaultItemParsers(*provider);
    return provider;
}
