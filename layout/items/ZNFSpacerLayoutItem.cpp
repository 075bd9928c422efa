#include "layout/items/ZNFSpacerLayoutItem.h"

#include "layout/items/ZNFLayoutItemValues_p.h"
#include "text/ZNFTextFormatter.h"

QSizeF ZNFSpacerLayoutItem::sizeThatFits(const QSizeF&) {
    return m_size;
}

ZNFLayoutInstance ZNFSpacerLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                                       ZNFLayoutConsumer*, const QRectF& frame,
                                                       QWidget* reusingView) {
    auto* view = qobject_cast<ZNFSpacerLayoutView*>(reusingView);
    if (view)
        view->setFrame(frame);
    else
        view = new ZNFSpacerLayoutView(frame);
    if (auto* spacer = dynamic_cast<const ZNFSpacerLayoutItem*>(item.get()))
        view->setBackgroundColor(spacer->backgroundColor().value_or(QColor(Qt::transparent)));
    return view;
}

ZNFLayoutItemList ZNFSpacerLayoutParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                             ZNFLayoutProvider*) {
    const QLatin1String widthKey(ZNFLayoutSpacerParserKey_Width);
    const QLatin1String heightKey(ZNFLayoutSpacerParserKey_Height);
    if (!dictionary.contains(widthKey) && !dictionary.contains(heightKey))
        return {};
    const auto read = [&](QLatin1String key) {
        return static_cast<double>(
            static_cast<float>(ZNFItemValues::number(dictionary.value(key)).value_or(0)));
    };
    auto item = std::make_shared<ZNFSpacerLayoutItem>(QSizeF(read(widthKey), read(heightKey)));
    // Only a colour string names a colour; a number or an array here leaves the spacer clear.
    const QVariant bg = dictionary.value(ZNFTextFormatterKey_backgroundColor);
    if (ZNFItemValues::isString(bg))
        item->setBackgroundColor(ZNFTextFormatter::colorFromString(bg.toString()));
    return {item};
}
