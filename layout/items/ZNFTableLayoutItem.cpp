#include "layout/items/ZNFTableLayoutItem.h"

#include "layout/ZNFLayoutItemInteraction.h"
#include "layout/items/ZNFLayoutItemValues_p.h"
#include "text/ZNFTextFormatter.h"

#include <algorithm>
#include <cmath>

namespace {

// A nested item may answer the fill convention or a broken number; inside a table there is no
// slot to fill, so such a height takes no room and such a width takes the column's.
double usableLength(double value, double fallback) {
    if (std::isnan(value) || !std::isfinite(value) || value >= ZNFLayoutFill)
        return fallback;
    return value;
}

// Fractions are single-precision numbers.
double fraction(const std::optional<double>& value, double fallback) {
    return value ? static_cast<double>(static_cast<float>(*value)) : fallback;
}

QList<QWidget*> subviewsOf(const QWidget* view) {
    QList<QWidget*> out;
    if (!view)
        return out;
    for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && !child->isHidden())
            out.append(child);
    return out;
}

std::shared_ptr<ZNFLayoutItemViewProvider> providerFor(ZNFLayoutConsumer* consumer,
                                                       const std::shared_ptr<ZNFLayoutItem>& item) {
    if (consumer)
        return consumer->providerForItem(item);
    return std::dynamic_pointer_cast<ZNFLayoutItemViewProvider>(item);
}

} // namespace

ZNFTableLayoutItem::ZNFTableLayoutItem() : m_lifetime(std::make_shared<ZNFTableLayoutItem*>(this)) {
    setClickHandler(defaultClickHandler());
    setHoverHandler(defaultHoverHandler());
}

ZNFTableLayoutItem::~ZNFTableLayoutItem() = default;

ZNFLayoutItemEventHandler ZNFTableLayoutItem::defaultClickHandler() const {
    std::weak_ptr<ZNFTableLayoutItem*> table = m_lifetime;
    return [table](const ZNFEvent& event, ZNFCollectionViewItem* cell, QWidget* view) {
        if (const auto alive = table.lock())
            (*alive)->fireClickEvent(event, cell, subviewsOf(view));
    };
}

ZNFLayoutItemEventHandler ZNFTableLayoutItem::defaultHoverHandler() const {
    std::weak_ptr<ZNFTableLayoutItem*> table = m_lifetime;
    return [table](const ZNFEvent& event, ZNFCollectionViewItem* cell, QWidget* view) {
        if (const auto alive = table.lock())
            (*alive)->fireHoverEvent(event, cell, subviewsOf(view));
    };
}

void ZNFTableLayoutItem::fireClickEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell,
                                        const QList<QWidget*>& views) {
    fireEvent(event, cell, views, true);
}

void ZNFTableLayoutItem::fireHoverEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell,
                                        const QList<QWidget*>& views) {
    fireEvent(event, cell, views, false);
}

void ZNFTableLayoutItem::fireEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell,
                                   const QList<QWidget*>& views, bool click) {
    // A handler may replace the screen: keep this table, its rows and the views checked.
    const std::shared_ptr<ZNFLayoutItem> keepAlive = weak_from_this().lock();
    const auto rows = m_rows;
    std::vector<QPointer<QWidget>> guarded(views.begin(), views.end());
    const QPointF location = event.locationInWindow();
    for (const QPointer<QWidget>& view : guarded) {
        if (!view)
            continue;
        if (ZNFView::frameInWindow(view).contains(location)) {
            for (const auto& row : rows) {
                if (!row)
                    continue;
                for (const auto& column : row->columns()) {
                    if (!column || !view)
                        continue;
                    const std::shared_ptr<ZNFLayoutItem> item = column->layoutItemForView(view);
                    if (!item)
                        continue;
                    // A copy: the handler may replace the item's handlers while it runs.
                    if (const ZNFLayoutItemEventHandler handler =
                            click ? item->clickHandler() : item->hoverHandler())
                        handler(event, cell, view);
                }
            }
        }
        if (view)
            fireEvent(event, cell, subviewsOf(view), click);
    }
}

QSizeF ZNFTableLayoutItem::sizeThatFits(const QSizeF& size) {
    double height = 0;
    for (const auto& row : m_rows)
        if (row)
            height += row->sizeThatFits(size).height();
    return QSizeF(size.width(), height);
}

ZNFLayoutInstance ZNFTableLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                                      QWidget*) {
    auto* view = new ZNFView(frame);
    std::vector<QWidget*> rowViews;
    double y = 0;
    for (const auto& row : m_rows) {
        if (!row)
            continue;
        const QSizeF size = row->sizeThatFits(frame.size());
        const ZNFLayoutInstance instance =
            row->instanceForItem(row, providerSource, QRectF(0, y, size.width(), size.height()), nullptr);
        if (!instance.view)
            continue;
        rowViews.push_back(instance.view);
        // The table's y grows upwards: each row goes above the one before.
        y = ZNFItemValues::viewFrame(instance.view).bottom();
    }
    ZNFItemValues::addSubviews(view, rowViews);
    return view;
}

std::shared_ptr<ZNFTableLayoutItem>
ZNFTableLayoutItem::rowBasedTableWithItems(const ZNFLayoutItemList& items) {
    std::vector<std::shared_ptr<ZNFTableRowLayoutItem>> rows;
    // Rows stack from the table's bottom edge, so the last item's row comes first.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (!*it)
            continue;
        auto column = std::make_shared<ZNFTableColumnLayoutItem>();
        column->setItems({*it});
        column->setWidthPercentage(1.0);
        column->setOffsetPercentage(0.0);
        auto row = std::make_shared<ZNFTableRowLayoutItem>();
        row->setColumns({column});
        rows.push_back(row);
    }
    auto table = std::make_shared<ZNFTableLayoutItem>();
    table->setRows(std::move(rows));
    return table;
}

std::shared_ptr<ZNFTableLayoutItem>
ZNFTableLayoutItem::columnBasedTableWithItems(const std::vector<ZNFTableEntry>& entries,
                                              const std::vector<double>& widths) {
    const size_t count = entries.size();
    std::vector<double> fractions = widths;
    if (fractions.size() != count)
        fractions.assign(count, count ? 1.0 / static_cast<double>(count) : 0.0);
    std::vector<std::shared_ptr<ZNFTableColumnLayoutItem>> columns;
    double offset = 0;
    for (size_t i = 0; i < count; ++i) {
        ZNFLayoutItemList items;
        for (const auto& item : entries[i].items)
            if (item)
                items.push_back(item);
        if (!items.empty()) {
            auto column = std::make_shared<ZNFTableColumnLayoutItem>();
            column->setWidthPercentage(fractions[i]);
            column->setOffsetPercentage(offset);
            column->setItems(std::move(items));
            columns.push_back(column);
        }
        // An entry without items leaves a gap: the next column still starts after its width.
        offset += static_cast<double>(static_cast<float>(fractions[i]));
    }
    auto row = std::make_shared<ZNFTableRowLayoutItem>();
    row->setColumns(std::move(columns));
    auto table = std::make_shared<ZNFTableLayoutItem>();
    table->setRows({row});
    return table;
}

double ZNFTableRowLayoutItem::widthForColumn(const ZNFTableColumnLayoutItem& column, double width) {
    return width * fraction(column.widthPercentage(), 1.0) - column.insets().left - column.insets().right;
}

QSizeF ZNFTableRowLayoutItem::sizeThatFits(const QSizeF& size) {
    const double inner = size.width() - m_insets.left - m_insets.right;
    double tallest = 0;
    for (const auto& column : m_columns) {
        if (!column)
            continue;
        const double width = widthForColumn(*column, inner);
        tallest = std::max(tallest, column->sizeThatFits(QSizeF(width, size.height())).height());
    }
    return QSizeF(size.width(), tallest + m_insets.top + m_insets.bottom);
}

ZNFLayoutInstance ZNFTableRowLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                         ZNFLayoutConsumer* providerSource,
                                                         const QRectF& frame, QWidget*) {
    auto* view = new ZNFTableRowView(frame);
    const double inner = frame.width() - m_insets.left - m_insets.right;
    std::vector<QWidget*> columnViews;
    for (const auto& column : m_columns) {
        if (!column)
            continue;
        const double width = widthForColumn(*column, inner);
        const QSizeF size = column->sizeThatFits(QSizeF(width, frame.height()));
        // Columns sit at the row's top inset: they start their items at their own top inset.
        const QRectF columnFrame(fraction(column->offsetPercentage(), 0.0) * inner + m_insets.left,
                                 m_insets.top, width, size.height());
        const ZNFLayoutInstance instance =
            column->instanceForItem(column, providerSource, columnFrame, nullptr);
        if (instance.view)
            columnViews.push_back(instance.view);
    }
    ZNFItemValues::addSubviews(view, columnViews);
    if (m_backgroundColor)
        view->setBackgroundColor(*m_backgroundColor);
    return view;
}

QSizeF ZNFTableColumnLayoutItem::sizeThatFits(const QSizeF& size) {
    double height = m_insets.top + m_insets.bottom;
    for (const auto& item : m_items)
        if (item)
            height += std::max(0.0, usableLength(item->sizeThatFits(size).height(), 0));
    return QSizeF(size.width(), height);
}

ZNFLayoutInstance ZNFTableColumnLayoutItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                            ZNFLayoutConsumer* providerSource,
                                                            const QRectF& frame, QWidget*) {
    const double contentWidth = frame.width();
    auto* view = new ZNFTableColumnView(QRectF(
        frame.x(), frame.y(), std::max(0.0, contentWidth + m_insets.left + m_insets.right), frame.height()));
    if (m_zPosition)
        view->setZPosition(*m_zPosition);
    std::vector<ZNFTableColumnViewReference> references;
    std::vector<QWidget*> itemViews;
    double y = m_insets.top;
    for (const auto& item : m_items) {
        if (!item)
            continue;
        const QSizeF size = item->sizeThatFits(frame.size());
        const double height = std::max(0.0, usableLength(size.height(), 0));
        const double width =
            m_fillWidth ? contentWidth : std::max(0.0, usableLength(size.width(), contentWidth));
        const QRectF itemFrame(m_insets.left, y, width, height);
        const auto provider = providerFor(providerSource, item);
        if (!provider)
            continue;
        const ZNFLayoutInstance instance =
            provider->instanceForItem(item, providerSource, itemFrame, nullptr);
        // Only views can be placed here; a view controller has no parent to host it.
        QWidget* itemView = instance.view;
        if (!itemView)
            continue;
        ZNFLayoutItemInteraction::attach(itemView, item);
        // A plain widget knows no frame: it takes the slot the column gives it.
        if (!qobject_cast<ZNFView*>(itemView))
            ZNFItemValues::setViewFrame(itemView, itemFrame);
        alignViewIfNecessary(itemView, contentWidth, m_alignment);
        y = ZNFItemValues::viewFrame(itemView).bottom();
        itemViews.push_back(itemView);
        references.push_back(ZNFTableColumnViewReference{itemView, item});
    }
    ZNFItemValues::addSubviews(view, itemViews);
    m_viewReferences = std::move(references);
    return view;
}

void ZNFTableColumnLayoutItem::alignViewIfNecessary(QWidget* view, double contentWidth, unsigned alignment) {
    if (!view)
        return;
    QRectF frame = ZNFItemValues::viewFrame(view);
    const double difference = contentWidth - frame.width();
    if (difference <= 0)
        return;
    if (alignment == ZNFTableColumnAlignmentCenter)
        frame.moveLeft(frame.x() + difference * 0.5);
    else if (alignment == ZNFTableColumnAlignmentRight)
        frame.moveLeft(frame.x() + difference);
    else
        return;
    ZNFItemValues::setViewFrame(view, frame);
}

std::shared_ptr<ZNFLayoutItem> ZNFTableColumnLayoutItem::layoutItemForView(const QWidget* view) const {
    if (!view)
        return nullptr;
    for (const auto& reference : m_viewReferences)
        if (reference.view.data() == view)
            return reference.layoutItem;
    return nullptr;
}

namespace {

// A column set up by a column (or "config") dictionary, holding the items of `itemsData`.
std::shared_ptr<ZNFTableColumnLayoutItem> columnWithDictionary(const QVariantMap& settings,
                                                               const QVariant& itemsData,
                                                               ZNFLayoutProvider* provider,
                                                               bool readFillWidth) {
    auto column = std::make_shared<ZNFTableColumnLayoutItem>();
    column->setAlignment(
        ZNFTableLayoutItemParser::alignmentForKey(settings.value(ZNFLayoutTableParserKey_Align)));
    const auto optionalNumber = [&](QLatin1StringView key) -> std::optional<double> {
        return settings.contains(key) ? ZNFItemValues::number(settings.value(key)) : std::nullopt;
    };
    column->setOffsetPercentage(optionalNumber(ZNFLayoutTableParserKey_Offset));
    column->setWidthPercentage(optionalNumber(ZNFLayoutTableParserKey_Width));
    column->setZPosition(optionalNumber(ZNFLayoutTableParserKey_ZPosition));
    column->setInsets(ZNFTextFormatter::insetsValueFromDictionary(settings));
    const QLatin1String fillWidthKey(ZNFLayoutTableParserKey_FillWidth);
    if (readFillWidth && settings.contains(fillWidthKey))
        column->setFillWidth(ZNFBoolReading(settings.value(fillWidthKey)));
    if (provider)
        column->setItems(provider->layoutItemsWithData(itemsData));
    return column;
}

} // namespace

ZNFLayoutItemList ZNFTableLayoutItemParser::itemsWithDictionary(const QVariantMap& dictionary,
                                                                ZNFLayoutProvider* provider) {
    std::shared_ptr<ZNFTableLayoutItem> table;
    if (dictionary.contains(ZNFLayoutTableParserKey_Rows))
        table = rowBasedTableWithDictionary(dictionary, provider);
    else if (dictionary.contains(ZNFLayoutTableParserKey_Items))
        table = singleColumnBasedTableWithDictionary(dictionary, provider);
    if (!table)
        return {};
    return {table};
}

std::shared_ptr<ZNFTableLayoutItem>
ZNFTableLayoutItemParser::rowBasedTableWithDictionary(const QVariantMap& dictionary,
                                                      ZNFLayoutProvider* provider) {
    std::vector<std::shared_ptr<ZNFTableRowLayoutItem>> rows;
    // Rows and columns that are not dictionaries (or lists that are not arrays) are skipped.
    for (const QVariant& rowValue : ZNFItemValues::list(dictionary.value(ZNFLayoutTableParserKey_Rows))) {
        if (!ZNFItemValues::isMap(rowValue))
            continue;
        const QVariantMap rowDictionary = rowValue.toMap();
        std::vector<std::shared_ptr<ZNFTableColumnLayoutItem>> columns;
        for (const QVariant& columnValue :
             ZNFItemValues::list(rowDictionary.value(ZNFLayoutTableParserKey_Columns))) {
            if (!ZNFItemValues::isMap(columnValue))
                continue;
            const QVariantMap columnDictionary = columnValue.toMap();
            columns.push_back(columnWithDictionary(
                columnDictionary, columnDictionary.value(ZNFLayoutTableParserKey_Items), provider, true));
        }
        if (columns.empty())
            continue;
        auto row = std::make_shared<ZNFTableRowLayoutItem>();
        row->setColumns(std::move(columns));
        const QVariant insets = rowDictionary.value(ZNFLayoutTableParserKey_Insets);
        if (ZNFItemValues::isMap(insets))
            row->setInsets(ZNFTextFormatter::insetsValueFromDictionary(insets.toMap()));
        const QLatin1String bgKey(ZNFTextFormatterKey_backgroundColor);
        if (rowDictionary.contains(bgKey))
            row->setBackgroundColor(ZNFTextFormatter::colorFromString(rowDictionary.value(bgKey)));
        rows.push_back(row);
    }
    if (rows.empty())
        return nullptr;
    // The table stacks rows from its bottom edge; reversed, the data's first row is at the top.
    std::reverse(rows.begin(), rows.end());
    auto table = std::make_shared<ZNFTableLayoutItem>();
    table->setRows(std::move(rows));
    return table;
}

std::shared_ptr<ZNFTableLayoutItem>
ZNFTableLayoutItemParser::singleColumnBasedTableWithDictionary(const QVariantMap& dictionary,
                                                               ZNFLayoutProvider* provider) {
    const QVariantMap config = ZNFItemValues::map(dictionary.value(ZNFLayoutTableParserKey_Config));
    auto column =
        columnWithDictionary(config, dictionary.value(ZNFLayoutTableParserKey_Items), provider, false);
    auto row = std::make_shared<ZNFTableRowLayoutItem>();
    row->setColumns({column});
    auto table = std::make_shared<ZNFTableLayoutItem>();
    table->setRows({row});
    return table;
}

unsigned ZNFTableLayoutItemParser::alignmentForKey(const QVariant& key) {
    if (!ZNFItemValues::isString(key))
        return ZNFTableColumnAlignmentLeft;
    const QString value = key.toString();
    if (value == ZNFTextFormatterKey_center)
        return ZNFTableColumnAlignmentCenter;
    if (value == ZNFTextFormatterKey_right)
        return ZNFTableColumnAlignmentRight;
    return ZNFTableColumnAlignmentLeft;
}
