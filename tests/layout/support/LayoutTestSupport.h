#pragma once

#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFView.h"

#include <QColor>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Layout data written as JSON in a test; text that does not parse fails the test.
QVariant json(const char* text);
inline QVariant json(const QByteArray& text) {
    return json(text.constData());
}

// A fixed-size item that shows itself in a plain view, reusing a view of its own class.
class TestLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    explicit TestLayoutItem(QString name = QString(), QSizeF size = QSizeF(120, 40), QString kind = QString())
        : m_name(std::move(name)), m_kind(std::move(kind)), m_size(size) {}

    static QString classKind() { return QStringLiteral("test"); }
    QString kind() const override { return m_kind.isEmpty() ? classKind() : m_kind; }

    QSizeF sizeThatFits(const QSizeF& size) override {
        m_lastOffered = size;
        ++m_sizeCalls;
        return m_size;
    }
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item, ZNFLayoutConsumer*,
                                      const QRectF& frame, QWidget* reusingView) override;

    QString name() const { return m_name; }
    QSizeF lastOffered() const { return m_lastOffered; }
    int sizeCalls() const { return m_sizeCalls; }
    int instanceCalls() const { return m_instanceCalls; }
    void setSize(QSizeF size) { m_size = size; }

private:
    QString m_name;
    QString m_kind;
    QSizeF m_size;
    QSizeF m_lastOffered;
    int m_sizeCalls = 0;
    int m_instanceCalls = 0;
};

// The view of a TestLayoutItem; remembers which item it shows.
class TestLayoutItemView : public ZNFView {
    Q_OBJECT
public:
    using ZNFView::ZNFView;
    QString itemName;
};

// A parser that hands back whatever its function makes.
class FunctionParser : public ZNFLayoutParsing {
public:
    using Function = std::function<ZNFLayoutItemList(const QVariantMap&, ZNFLayoutProvider*)>;
    explicit FunctionParser(Function fn) : m_fn(std::move(fn)) {}
    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override {
        return m_fn ? m_fn(dictionary, provider) : ZNFLayoutItemList{};
    }

private:
    Function m_fn;
};

// One TestLayoutItem per dictionary, named by its "name".
std::shared_ptr<FunctionParser> namedItemParser();

// A provider with the default registrations and the default item parsers, as the screens make it.
std::shared_ptr<ZNFLayoutProvider> makeDefaultProvider();

// The names of TestLayoutItems in order, "?" for any other item.
QStringList names(const ZNFLayoutItemList& items);

// Owns a view made by a provider for the length of a test.
inline std::unique_ptr<QWidget> own(const ZNFLayoutInstance& instance) {
    return std::unique_ptr<QWidget>(instance.view);
}

// A fresh view of an item for a frame, owned by the caller.
template <typename T>
std::unique_ptr<QWidget> instantiate(const std::shared_ptr<T>& item, const QRectF& frame) {
    return own(item->instanceForItem(item, nullptr, frame, nullptr));
}

// The items a provider (by default one with the default parsers) makes of one element
// written as JSON.
ZNFLayoutItemList parse(const QByteArray& element, ZNFLayoutProvider* provider = nullptr);

// The one item made of one element, as T; null when there is not exactly one.
template <typename T>
std::shared_ptr<T> parseOne(const QByteArray& element, ZNFLayoutProvider* provider = nullptr) {
    const ZNFLayoutItemList items = parse(element, provider);
    return items.size() == 1 ? std::dynamic_pointer_cast<T>(items.front()) : nullptr;
}

// Where the direct children of class T sit in a view, in Qt's (y-down) coordinates.
template <typename T> QList<QRect> placed(const QWidget* view) {
    QList<QRect> out;
    for (const T* child : view->findChildren<T*>(Qt::FindDirectChildrenOnly))
        out << child->geometry();
    return out;
}

// The colour a view draws at a point.
QColor pixel(QWidget* view, int x, int y);

// Keeps every event it is handed.
class RecordingHandler : public ZNFLayoutEventHandling {
public:
    void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) override { events.push_back(event); }
    std::vector<std::shared_ptr<ZNFLayoutEvent>> events;
};

// A collection-view controller in a real, exposed window, as the application shows a screen.
class LayoutWindowTest : public ::testing::Test {
protected:
    void openWindow(const QSizeF& size, double scrollerWidth);
    void TearDown() override { controller.reset(); }
    void show(const ZNFLayoutItemList& items);
    std::shared_ptr<ZNFLayoutCollectionViewItem> cellAt(int index) const;

    std::shared_ptr<ZNFLayoutCollectionViewController> controller;
    ZNFView* root = nullptr;
    ZNFCollectionView* cv = nullptr;
};
