#include "layout/items/ZNFLayoutButtonItem.h"

#include <cmath>

ZNFTextAttributes ZNFLayoutButtonItem::defaultAttributesWithFont(const ZNFFont& font) {
    ZNFTextAttributes attributes;
    attributes.foregroundColor = defaultBorderColor();
    attributes.font = font;
    ZNFParagraphStyle paragraph;
    paragraph.alignment = ZNFTextAlignment::Center;
    attributes.paragraphStyle = paragraph;
    return attributes;
}

ZNFTextAttributes ZNFLayoutButtonItem::defaultAttributes() {
    return defaultAttributesWithFont(ZNFFont::systemFont(18, ZNFFontWeight::Bold));
}

QSizeF ZNFLayoutButtonItem::sizeThatFits(const QSizeF& size) {
    double available = size.width() - m_outerInsets.left - m_outerInsets.right;
    if (m_maxWidth > 0 && available > m_maxWidth)
        available = m_maxWidth;
    const double titleHeight = ZNFLabel::sizeWithWidth(available, m_title, m_insets).height();
    return QSizeF(size.width(), std::ceil(titleHeight) + m_outerInsets.top + m_outerInsets.bottom);
}

QRectF ZNFLayoutButtonItem::boxFrameForSize(const QSizeF& size) const {
    QRectF box = UIEdgeInsetsInsetRect(QRectF(QPointF(0, 0), size), m_outerInsets);
    if (m_maxWidth > 0 && box.width() > m_maxWidth) {
        box.setX(std::floor((size.width() - m_maxWidth) * 0.5));
        box.setWidth(m_maxWidth);
    }
    return box;
}

ZNFLayoutInstance ZNFLayoutButtonItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                                       ZNFLayoutConsumer*, const QRectF& frame,
                                                       QWidget* reusingView) {
    const ZNFLayoutButtonItem* shown = dynamic_cast<const ZNFLayoutButtonItem*>(item.get());
    if (!shown)
        shown = this;
    auto* view = qobject_cast<ZNFLayoutButtonItemView*>(reusingView);
    if (view)
        view->setFrame(frame);
    else
        view = new ZNFLayoutButtonItemView(frame);
    // The box is placed in the view's own bounds: the frame's origin is where the view sits in
    // its superview, which says nothing about where the box sits inside it.
    ZNFLabel* label = view->label();
    label->setFrame(shown->boxFrameForSize(frame.size()));
    label->setAttributedString(shown->m_title);
    label->setInsets(shown->m_insets);
    label->setCornerRadius(shown->m_borderRadius);
    label->setBorderColor(shown->m_borderColor);
    label->setBorderWidth(shown->m_borderWidth);
    return view;
}

ZNFLabel* ZNFLayoutButtonItemView::label() {
    if (!m_label) {
        auto* label = new ZNFLabel(QRectF());
        addSubview(label);
        m_label = label;
    }
    return m_label.data();
}
