#include "layout/items/ZNFRuleLayoutItem.h"

#include "layout/items/ZNFLayoutItemValues_p.h"
#include "platform/ZNFView.h"

#include <algorithm>

QSizeF ZNFRuleLayoutItem::sizeThatFits(const QSizeF& size) {
    return QSizeF(size.width(), m_insets.top + m_insets.bottom + m_width);
}

ZNFLayoutInstance ZNFRuleLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                     ZNFLayoutConsumer*, const QRectF& frame, QWidget*) {
    auto* container = new ZNFView(frame);
    // The container's y grows upwards, so the top inset is measured from its bottom edge.
    auto* line = new ZNFView(QRectF(
        m_insets.left, m_insets.top,
        std::max(0.0, container->bounds().width() - m_insets.left - m_insets.right), std::max(0.0, m_width)));
    container->addSubview(line);
    line->setBackgroundColor(m_color);
    return container;
}

ZNFLayoutItemList ZNFRuleLayoutParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                           ZNFLayoutProvider*) {
    const ZNFEdgeInsets insets = ZNFTextFormatter::insetsValueFromDictionary(dictionary);
    const double width = static_cast<double>(static_cast<float>(
        ZNFItemValues::number(dictionary.value(ZNFLayoutRuleParserKey_Width)).value_or(0)));
    const QColor color = ZNFTextFormatter::colorFromString(dictionary.value(ZNFLayoutRuleParserKey_Color));
    return {std::make_shared<ZNFRuleLayoutItem>(insets, width, color)};
}
