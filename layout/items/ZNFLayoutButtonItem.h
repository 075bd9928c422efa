#pragma once

#include "layout/ZNFLayoutItem.h"
#include "platform/ZNFGeometry.h"
#include "platform/ZNFView.h"
#include "text/ZNFAttributedString.h"
#include "text/ZNFLabel.h"
#include "text/ZNFTextAttributes.h"

#include <QColor>
#include <QPointer>
#include <memory>
#include <optional>

// An outlined push button: a title inside a rounded, bordered box centred in its slot and
// never wider than `maxWidth`. Made in code only; clicks reach its click handler.
class ZNFLayoutButtonItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    static QString classKind() { return QStringLiteral("ZNFLayoutButtonItem"); }
    QString kind() const override { return classKind(); }
    AccessibleDescription accessibleDescription() const override {
        return {accessibilityLabel().isEmpty() ? m_title.string() : accessibilityLabel()};
    }

    // Class defaults. A subclass changes one by declaring a static function of the same name
    // and making its items with itemWithTitle<Subclass>().
    static ZNFEdgeInsets defaultInsets() { return ZNFEdgeInsets{12, 0, 12, 0}; }
    static ZNFEdgeInsets defaultOuterInsets() { return ZNFEdgeInsets{10, 10, 10, 10}; }
    static QColor defaultBorderColor() { return QColor::fromRgbF(0.29f, 0.565f, 0.886f, 1.0f); }
    static double defaultBorderRadius() { return 7; }
    static double defaultBorderWidth() { return 2; }
    static double defaultMaxWidth() { return 300; }
    static ZNFTextAttributes defaultAttributesWithFont(const ZNFFont& font);
    static ZNFTextAttributes defaultAttributes();

    // A new item of class T titled `title` with the attributes (T's default attributes when
    // none are given) and every other field at T's defaults.
    template <typename T = ZNFLayoutButtonItem>
    static std::shared_ptr<T>
    itemWithTitle(const QString& title, const std::optional<ZNFTextAttributes>& attributes = std::nullopt) {
        auto item = std::make_shared<T>();
        item->setTitle(ZNFAttributedString(title, attributes ? *attributes : T::defaultAttributes()));
        item->setBorderRadius(T::defaultBorderRadius());
        item->setBorderColor(T::defaultBorderColor());
        item->setOuterInsets(T::defaultOuterInsets());
        item->setBorderWidth(T::defaultBorderWidth());
        item->setInsets(T::defaultInsets());
        item->setMaxWidth(T::defaultMaxWidth());
        return item;
    }

    // The whole offered width; the title's wrapped height in the (capped) box plus both insets.
    QSizeF sizeThatFits(const QSizeF& size) override;
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;
    // Where the box goes in a view of the given size (y up, as in the button's view).
    QRectF boxFrameForSize(const QSizeF& size) const;

    const ZNFAttributedString& title() const { return m_title; }
    void setTitle(const ZNFAttributedString& title) { m_title = title; }
    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }
    ZNFEdgeInsets outerInsets() const { return m_outerInsets; }
    void setOuterInsets(const ZNFEdgeInsets& insets) { m_outerInsets = insets; }
    // 0 or less: no limit.
    double maxWidth() const { return m_maxWidth; }
    void setMaxWidth(double width) { m_maxWidth = width; }
    double borderRadius() const { return m_borderRadius; }
    void setBorderRadius(double radius) { m_borderRadius = radius; }
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width) { m_borderWidth = width; }
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color) { m_borderColor = color; }

private:
    ZNFAttributedString m_title;
    ZNFEdgeInsets m_insets;
    ZNFEdgeInsets m_outerInsets;
    double m_maxWidth = 0;
    double m_borderRadius = 0;
    double m_borderWidth = 0;
    QColor m_borderColor;
};

// The button's view: a label (the box) inside the slot.
class ZNFLayoutButtonItemView : public ZNFView {
    Q_OBJECT
public:
    using ZNFView::ZNFView;

    // Made on first read and added as a subview.
    ZNFLabel* label();
    // Replaces the field only; the new label is not added as a subview.
    void setLabel(ZNFLabel* label) { m_label = label; }

private:
    QPointer<ZNFLabel> m_label;
};
