#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFView.h"

#include <QColor>
#include <QSizeF>
#include <optional>

// Keys of a "spacer" layout dictionary (its colour is the formatter's "bg").
inline constexpr QLatin1StringView ZNFLayoutSpacerParserKey_Width{"width"};
inline constexpr QLatin1StringView ZNFLayoutSpacerParserKey_Height{"height"};

// A box of fixed size, optionally filled: vertical gaps between items, fixed gaps in tables.
class ZNFSpacerLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    explicit ZNFSpacerLayoutItem(const QSizeF& size = QSizeF(0, 0)) : m_size(size) {}

    static QString classKind() { return QStringLiteral("spacer"); }
    QString kind() const override { return classKind(); }

    // Its own size, whatever is offered.
    QSizeF sizeThatFits(const QSizeF& size) override;
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    QSizeF size() const { return m_size; }
    void setSize(const QSizeF& size) { m_size = size; }
    // None leaves the view clear.
    std::optional<QColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::optional<QColor> color) { m_backgroundColor = std::move(color); }

private:
    QSizeF m_size;
    std::optional<QColor> m_backgroundColor;
};

// A plain view; its class lets a recycled spacer view be recognised.
class ZNFSpacerLayoutView : public ZNFView {
    Q_OBJECT
public:
    using ZNFView::ZNFView;
};

// "width" and "height" (0 when absent; no item when both are absent) and "bg".
class ZNFSpacerLayoutParser : public ZNFLayoutParsing {
public:
    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override;
};
