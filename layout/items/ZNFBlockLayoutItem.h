#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"

#include <QRectF>
#include <QSizeF>
#include <functional>
#include <memory>

inline constexpr QLatin1StringView ZNFBlockLayoutItemKind{"ZNFBlockLayoutItemKind"};

// An item whose size and view come from two callables, so that code can put any view into a
// screen (a spinner, say).
class ZNFBlockLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    // The offered size to the item's size.
    using SizingBlock = std::function<QSizeF(const QSizeF& size)>;
    // (the view the cell showed before, possibly none and of any class; the frame) to the
    // view to show. Returning the reused view after reconfiguring it is fine; a new view passes
    // to the cell, which owns it from then on. A view controller may be returned instead.
    using InstantiationBlock = std::function<ZNFLayoutInstance(QWidget* reusingView, const QRectF& frame)>;

    static QString classKind() { return ZNFBlockLayoutItemKind; }
    QString kind() const override { return classKind(); }

    template <typename T = ZNFBlockLayoutItem>
    static std::shared_ptr<T> itemWithSizing(SizingBlock sizing, InstantiationBlock instantiation) {
        auto item = std::make_shared<T>();
        item->setSizingBlock(std::move(sizing));
        item->setInstantiationBlock(std::move(instantiation));
        return item;
    }

    // Zero without a sizing callable.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // An empty plain view without an instantiation callable.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    const SizingBlock& sizingBlock() const { return m_sizingBlock; }
    void setSizingBlock(SizingBlock block) { m_sizingBlock = std::move(block); }
    const InstantiationBlock& instantiationBlock() const { return m_instantiationBlock; }
    void setInstantiationBlock(InstantiationBlock block) { m_instantiationBlock = std::move(block); }

private:
    SizingBlock m_sizingBlock;
    InstantiationBlock m_instantiationBlock;
};

// Lets a callable stand in as the parser of a layout type. Not registered by default.
class ZNFBlockLayoutParser : public ZNFLayoutParsing {
public:
    using Block =
        std::function<ZNFLayoutItemList(const QVariantMap& dictionary, ZNFLayoutProvider* provider)>;

    explicit ZNFBlockLayoutParser(Block block = nullptr) : m_block(std::move(block)) {}
    static std::shared_ptr<ZNFBlockLayoutParser> parserWithBlock(Block block) {
        return std::make_shared<ZNFBlockLayoutParser>(std::move(block));
    }

    // The callable's items; none without a callable.
    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override;

    const Block& block() const { return m_block; }
    void setBlock(Block block) { m_block = std::move(block); }

private:
    Block m_block;
};
