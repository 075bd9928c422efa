#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFGeometry.h"
#include "text/ZNFTextFormatter.h"

#include <QColor>
#include <memory>

// Keys of a "rule" layout dictionary besides the formatter's inset keys.
inline constexpr QLatin1StringView ZNFLayoutRuleParserKey_Width{"width"};
inline constexpr QLatin1StringView ZNFLayoutRuleParserKey_Color{"color"};

// A horizontal line of a thickness and colour, inset within the width it is offered.
class ZNFRuleLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    ZNFRuleLayoutItem() = default;
    ZNFRuleLayoutItem(const ZNFEdgeInsets& insets, double width, const QColor& color)
        : m_insets(insets), m_width(width), m_color(color) {}

    static QString classKind() { return QStringLiteral("rule"); }
    QString kind() const override { return classKind(); }

    // The offered width; the insets' top and bottom plus the thickness high.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A new container every time, holding the line.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }
    // The line's thickness, not its length.
    double width() const { return m_width; }
    void setWidth(double width) { m_width = width; }
    QColor color() const { return m_color; }
    void setColor(const QColor& color) { m_color = color; }

private:
    ZNFEdgeInsets m_insets;
    double m_width = 0;
    QColor m_color = Qt::black;
};

// Always yields a rule: insets from the dictionary's own "top"/"left"/"bottom"/"right",
// thickness "width", colour "color" (black when absent or malformed).
class ZNFRuleLayoutParser : public ZNFLayoutParsing {
public:
    explicit ZNFRuleLayoutParser(std::shared_ptr<ZNFTextFormatter> formatter = nullptr)
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
