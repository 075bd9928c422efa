#include "layout/items/ZNFBlockLayoutItem.h"

#include "platform/ZNFView.h"

QSizeF ZNFBlockLayoutItem::sizeThatFits(const QSizeF& size) {
    return m_sizingBlock ? m_sizingBlock(size) : QSizeF(0, 0);
}

ZNFLayoutInstance ZNFBlockLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                      ZNFLayoutConsumer*, const QRectF& frame,
                                                      QWidget* reusingView) {
    if (m_instantiationBlock)
        return m_instantiationBlock(reusingView, frame);
    return new ZNFView();
}

ZNFLayoutItemList ZNFBlockLayoutParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                            ZNFLayoutProvider* provider) {
    return m_block ? m_block(dictionary, provider) : ZNFLayoutItemList{};
}
