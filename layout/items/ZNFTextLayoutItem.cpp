#include "layout/items/ZNFTextLayoutItem.h"

#include "layout/items/ZNFLayoutItemValues_p.h"

#include <algorithm>

void ZNFTextLayoutItem::applyStyle(const QString& string, const QString& key,
                                   const ZNFTextFormatter* formatter) {
    if (!formatter) {
        m_attributedString = ZNFAttributedString(string);
        m_insets = ZNFEdgeInsetsZero;
        m_backgroundColor.reset();
        return;
    }
    m_attributedString = ZNFAttributedString(string, formatter->attributesForKey(key));
    m_insets = formatter->insetsForKey(key);
    m_backgroundColor = formatter->backgroundColorForKey(key);
}

QSizeF ZNFTextLayoutItem::sizeThatFits(const QSizeF& size) {
    if (m_measured && m_measured->width == size.width())
        return m_measured->size;
    const QSizeF measured = ZNFLabel::sizeWithWidth(size.width(), m_attributedString, m_insets, m_fillWidth);
    m_measured = Measurement{size.width(), measured};
    return measured;
}

ZNFLayoutInstance ZNFTextLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                                     ZNFLayoutConsumer*, const QRectF& frame,
                                                     QWidget* reusingView) {
    // The item handed in is the one to show; this item stands in only when that is no text item.
    std::shared_ptr<ZNFLayoutItem> shown = item;
    if (!std::dynamic_pointer_cast<ZNFTextLayoutItem>(shown))
        shown = weak_from_this().lock();
    auto* view = qobject_cast<ZNFTextLayoutItemView*>(reusingView);
    if (view)
        view->setLayoutItem(shown);
    else
        view = new ZNFTextLayoutItemView(shown);
    view->setFrame(frame);
    view->update();
    return view;
}

ZNFTextLayoutItemView::ZNFTextLayoutItemView(const std::shared_ptr<ZNFLayoutItem>& item, QWidget* parent)
    : ZNFLabel(QRectF(), parent) {
    setLayoutItem(item);
}

void ZNFTextLayoutItemView::setLayoutItem(const std::shared_ptr<ZNFLayoutItem>& item) {
    m_layoutItem = item;
    const auto* text = dynamic_cast<const ZNFTextLayoutItem*>(item.get());
    if (!text)
        return;
    setAttributedString(text->attributedString());
    setInsets(text->insets());
    setBackgroundColor(text->backgroundColor().value_or(QColor(Qt::transparent)));
    if (cornerRadius() != text->cornerRadius())
        setCornerRadius(text->cornerRadius());
    // A recycled view must not keep the border of the item it showed before.
    if (text->borderColor()) {
        setBorderColor(*text->borderColor());
        setBorderWidth(text->borderWidth());
    } else {
        setBorderColor(QColor());
        setBorderWidth(0);
    }
    update();
}

ZNFLayoutItemList ZNFTextLayoutParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                           ZNFLayoutProvider*) {
    // Only a string is a text: a number or an array here is a mistake in the data, not a text.
    const QVariant textValue = dictionary.value(ZNFLayoutTextParserKey_Text);
    if (!ZNFItemValues::isString(textValue))
        return {};
    const QString text = textValue.toString();

    const QVariant style = dictionary.value(ZNFLayoutTextParserKey_Style);
    const QVariant inlineAttributes = dictionary.value(ZNFLayoutTextParserKey_Attributes);
    const QVariantMap inlineMap = ZNFItemValues::map(inlineAttributes);
    ZNFTextAttributesPtr attributes;
    if (m_textFormatter) {
        if (style.isValid() && !style.isNull())
            attributes = m_textFormatter->attributesForKey(style.toString());
        else if (inlineAttributes.isValid() && !inlineAttributes.isNull())
            attributes = m_textFormatter->attributesFromDictionary(inlineMap);
        else
            attributes = m_textFormatter->attributesForKey(QStringLiteral("default"));
    }
    if (text.isEmpty() || !attributes)
        return {};

    auto item = std::make_shared<ZNFTextLayoutItem>();
    item->setAttributedString(ZNFAttributedString(text, attributes));
    item->setBackgroundColor(attributes->bg);
    item->setInsets(ZNFTextFormatter::insetsValueFromDictionary(inlineMap));
    item->setFillWidth(ZNFBoolReading(dictionary.value(ZNFLayoutTextParserKey_FillWidth)));
    if (attributes->borderWidth) {
        item->setBorderWidth(*attributes->borderWidth);
        item->setBorderColor(attributes->borderColor);
        item->setCornerRadius(attributes->cornerRadius.value_or(0));
    }
    return {item};
}

ZNFLayoutItem::AccessibleDescription ZNFTextLayoutItem::accessibleDescription() const {
    const auto& runs = m_attributedString.runs();
    const bool underlined = std::any_of(runs.begin(), runs.end(), [](const ZNFAttributedString::Run& run) {
        return run.attributes->underlineStyle && *run.attributes->underlineStyle != 0;
    });
    return {accessibilityLabel().isEmpty() ? m_attributedString.string() : accessibilityLabel(), true,
            underlined};
}
