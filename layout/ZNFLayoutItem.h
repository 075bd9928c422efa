#pragma once

#include "platform/ZNFEvent.h"

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class ZNFCollectionViewItem;
class ZNFLayoutConsumer;
class ZNFLayoutItem;
class ZNFViewController;

// Ownership in the layout engine, one scheme per kind of object:
// - views and other QObjects belong to their QObject parent (a cell's view, the collection
//   view); code that must notice one going away holds a QPointer, never a raw pointer;
// - items, parsers, handlers, providers and formatters are shared_ptr: a provider's
//   registrations are shared with the template providers and with the events it attaches,
//   and an item outlives the reload that made it while a cell still shows it;
// - small fixed-shape data (insets, attributes, event dictionaries) are values.
using ZNFLayoutItemList = std::vector<std::shared_ptr<ZNFLayoutItem>>;

// Click and hover handlers get (the mouse event, the collection-view cell that shows the
// item, a view: the cell's view, or for items nested in a table the nested item's own view).
using ZNFLayoutItemEventHandler =
    std::function<void(const ZNFEvent& event, ZNFCollectionViewItem* cell, QWidget* view)>;

// The unit of every screen. Subclasses answer their kind and size; concrete items also adopt
// ZNFLayoutItemViewProvider so that they can make their own views.
class ZNFLayoutItem : public std::enable_shared_from_this<ZNFLayoutItem> {
public:
    virtual ~ZNFLayoutItem() = default;

    // The class's kind (empty for the base). A subclass declares its own static classKind()
    // and overrides kind() to return it.
    static QString classKind() { return QString(); }
    virtual QString kind() const { return classKind(); }

    // The size the item wants for the offered size, in points. An item that wants the whole
    // width or height of its slot answers ZNFLayoutFill for that dimension.
    virtual QSizeF sizeThatFits(const QSizeF& size) {
        Q_UNUSED(size);
        return QSizeF(0, 0);
    }

    const ZNFLayoutItemEventHandler& clickHandler() const { return m_clickHandler; }
    void setClickHandler(ZNFLayoutItemEventHandler handler) { m_clickHandler = std::move(handler); }
    const ZNFLayoutItemEventHandler& hoverHandler() const { return m_hoverHandler; }
    void setHoverHandler(ZNFLayoutItemEventHandler handler) { m_hoverHandler = std::move(handler); }
    // What assistive technology reads for the item when its own text does not say it (an icon).
    const QString& accessibilityLabel() const { return m_accessibilityLabel; }
    void setAccessibilityLabel(const QString& label) { m_accessibilityLabel = label; }

    // What the keyboard and assistive technology learn of the item. Each kind answers for
    // itself, so that the layer that makes cells never needs to know the kinds.
    struct AccessibleDescription {
        QString text;                // what is read aloud
        bool isText = false;         // static text, or a link when clickable
        bool link = false;           // underlined text reads as a link
        bool forwardsClicks = false; // the click handler only passes clicks on to nested items
    };
    virtual AccessibleDescription accessibleDescription() const { return {m_accessibilityLabel}; }

private:
    QString m_accessibilityLabel;
    ZNFLayoutItemEventHandler m_clickHandler;
    ZNFLayoutItemEventHandler m_hoverHandler;
};

// The fill convention: the largest finite double asks for the whole of that dimension.
inline constexpr double ZNFLayoutFill = 1.7976931348623157e308;

// What a view provider hands back: a view, a view controller (which the consumer hosts as a
// child), or nothing. A returned view passes to the host, which parents and later deletes it.
struct ZNFLayoutInstance {
    QWidget* view = nullptr;
    std::shared_ptr<ZNFViewController> viewController;

    ZNFLayoutInstance() = default;
    ZNFLayoutInstance(std::nullptr_t) {}
    ZNFLayoutInstance(QWidget* v) : view(v) {}
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<ZNFViewController, T>>>
    ZNFLayoutInstance(std::shared_ptr<T> controller) : viewController(std::move(controller)) {}

    bool isEmpty() const { return !view && !viewController; }
};

class ZNFLayoutItemViewProvider {
public:
    virtual ~ZNFLayoutItemViewProvider() = default;
    // Makes or refreshes the view that shows `item` with the given frame (the cell's bounds).
    // `reusingView` is what the cell showed before: possibly none, possibly of another class.
    // Reuse it when it is of the item's own view class; otherwise make a new view. Never
    // delete `reusingView`: the cell owns it and lets it go when it is not returned.
    virtual ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                              ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                              QWidget* reusingView) = 0;
};

// Whoever shows items and lets others find view providers for nested items (the layout
// collection-view controller).
class ZNFLayoutConsumer {
public:
    virtual ~ZNFLayoutConsumer() = default;
    virtual void registerViewProvider(const std::shared_ptr<ZNFLayoutItemViewProvider>& provider,
                                      const QString& kind) = 0;
    // The provider registered for the item's kind; else the item itself when it is a view
    // provider; else none.
    virtual std::shared_ptr<ZNFLayoutItemViewProvider>
    providerForItem(const std::shared_ptr<ZNFLayoutItem>& item) = 0;
};
