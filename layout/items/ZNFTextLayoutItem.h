#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFGeometry.h"
#include "text/ZNFAttributedString.h"
#include "text/ZNFLabel.h"
#include "text/ZNFTextFormatter.h"

#include <QColor>
#include <memory>
#include <optional>

// Keys of a "text" layout dictionary.
inline constexpr QLatin1StringView ZNFLayoutTextParserKey_Text{"text"};
inline constexpr QLatin1StringView ZNFLayoutTextParserKey_Style{"style"};
inline constexpr QLatin1StringView ZNFLayoutTextParserKey_Attributes{"attributes"};
inline constexpr QLatin1StringView ZNFLayoutTextParserKey_FillWidth{"fillWidth"};

// One styled text inside a box (insets, background, border, corner radius). Headings,
// paragraphs and the screens' button-like texts are all text items.
class ZNFTextLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    static QString classKind() { return QStringLiteral("text"); }
    QString kind() const override { return classKind(); }
    // Underlined text reads as a link.
    AccessibleDescription accessibleDescription() const override;

    // A new item of class T holding `string` with the style `key` of `formatter`: the style's
    // attributes, insets and background colour. Without a formatter the text is unstyled and
    // the box has no insets or background.
    template <typename T = ZNFTextLayoutItem>
    static std::shared_ptr<T> itemWithString(const QString& string, const QString& key,
                                             const std::shared_ptr<ZNFTextFormatter>& formatter) {
        auto item = std::make_shared<T>();
        static_cast<ZNFTextLayoutItem*>(item.get())->applyStyle(string, key, formatter.get());
        return item;
    }
    template <typename T = ZNFTextLayoutItem>
    static std::shared_ptr<T> itemWithString(const QString& string, const QString& key,
                                             const ZNFTextFormatter& formatter) {
        auto item = std::make_shared<T>();
        static_cast<ZNFTextLayoutItem*>(item.get())->applyStyle(string, key, &formatter);
        return item;
    }

    // The text measured in the offered width (the height offered is not used); see
    // ZNFLabel::sizeWithWidth.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A ZNFTextLayoutItemView, the reused one when it is one.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    const ZNFAttributedString& attributedString() const { return m_attributedString; }
    void setAttributedString(const ZNFAttributedString& string) {
        m_attributedString = string;
        m_measured.reset();
    }
    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) {
        m_insets = insets;
        m_measured.reset();
    }
    // None draws no fill.
    std::optional<QColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::optional<QColor> color) { m_backgroundColor = std::move(color); }
    // A border is drawn only when a colour is set.
    std::optional<QColor> borderColor() const { return m_borderColor; }
    void setBorderColor(std::optional<QColor> color) { m_borderColor = std::move(color); }
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width) { m_borderWidth = width; }
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius) { m_cornerRadius = radius; }
    // True: as wide as the width offered; false: as wide as the text plus the insets.
    bool fillWidth() const { return m_fillWidth; }
    void setFillWidth(bool fill) {
        m_fillWidth = fill;
        m_measured.reset();
    }

private:
    void applyStyle(const QString& string, const QString& key, const ZNFTextFormatter* formatter);

    ZNFAttributedString m_attributedString;
    ZNFEdgeInsets m_insets;
    std::optional<QColor> m_backgroundColor;
    std::optional<QColor> m_borderColor;
    double m_borderWidth = 0;
    double m_cornerRadius = 0;
    bool m_fillWidth = false;
    // The last measurement: the collection view asks again for the same width on every
    // reload, and laying text out is the dearest part of sizing a screen. Every setter that
    // changes what is measured forgets it.
    struct Measurement {
        double width;
        QSizeF size;
    };
    std::optional<Measurement> m_measured;
};

// A label that shows a text item: the item's text and insets, and its box on the view's layer.
class ZNFTextLayoutItemView : public ZNFLabel {
    Q_OBJECT
public:
    explicit ZNFTextLayoutItemView(const std::shared_ptr<ZNFLayoutItem>& item, QWidget* parent = nullptr);

    std::shared_ptr<ZNFLayoutItem> layoutItem() const { return m_layoutItem; }
    // Takes the text, insets, background, border and corner radius of a text item. Every one
    // of them is brought up to date, so a recycled view keeps nothing of the item it showed
    // before. Any other item is only stored.
    void setLayoutItem(const std::shared_ptr<ZNFLayoutItem>& item);

private:
    std::shared_ptr<ZNFLayoutItem> m_layoutItem;
};

// Parses "text" dictionaries: the text styled by "style", else by the inline "attributes",
// else by the formatter's "default" style. Insets come from "attributes" only; a border only
// when the resolved attributes carry "borderWidth".
class ZNFTextLayoutParser : public ZNFLayoutParsing {
public:
    explicit ZNFTextLayoutParser(std::shared_ptr<ZNFTextFormatter> formatter = nullptr)
        : m_textFormatter(std::move(formatter)) {}

    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override;

    std::shared_ptr<ZNFTextFormatter> textFormatter() const { return m_textFormatter; }
    void setTextFormatter(std::shared_ptr<ZNFTextFormatter> formatter) {
        m_textFormatter = std::move(formatter);
    }

private:
    std::shared_ptr<ZNFTextFormatter> m_textFormatter;
};
