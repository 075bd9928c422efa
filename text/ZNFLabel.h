#pragma once

#include "platform/ZNFGeometry.h"
#include "platform/ZNFView.h"
#include "text/ZNFAttributedString.h"
#include "text/ZNFTextStorage.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <memory>

class ZNFTextLayout;

// Declares nothing the label calls; an owner may use the label's delegate as it likes.
class ZNFLabelDelegate {
public:
    virtual ~ZNFLabelDelegate() = default;
};

// Held for the label's layout; Qt's text layout has no callbacks to route to it.
class ZNFLayoutManagerDelegate {
public:
    virtual ~ZNFLayoutManagerDelegate() = default;
};

// A flipped view that draws an attributed string inside insets, measures such strings for a
// width, and answers which character lies under a point.
class ZNFLabel : public ZNFView {
    Q_OBJECT
public:
    explicit ZNFLabel(const QRectF& frame = QRectF(), QWidget* parent = nullptr);
    ZNFLabel(const ZNFAttributedString& string, const QRectF& frame, QWidget* parent = nullptr);
    ~ZNFLabel() override;

    bool isFlipped() const override { return true; }

    // An independent copy of the text shown.
    ZNFAttributedString attributedString() const { return m_textStorage.storage(); }
    // Replaces the text and drops the layout; the next drawing or hit test lays it out again.
    void setAttributedString(const ZNFAttributedString& string);
    const ZNFTextStorage& textStorage() const { return m_textStorage; }

    // Space between the bounds and the text. Setting it does not redraw by itself.
    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }

    std::weak_ptr<ZNFLabelDelegate> delegate() const { return m_delegate; }
    void setDelegate(std::weak_ptr<ZNFLabelDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<ZNFLayoutManagerDelegate> layoutManagerDelegate() const {
        return m_layoutManagerDelegate;
    }
    void setLayoutManagerDelegate(std::shared_ptr<ZNFLayoutManagerDelegate> delegate);

    // Builds the layout for the current bounds and insets unless one is there already.
    void setupLayoutManager();
    // The layout in use; null until built.
    const ZNFTextLayout* layoutManager() const { return m_layout.get(); }

    // The text's size for the size's width with this label's insets (fill width on).
    QSizeF sizeThatFits(const QSizeF& size) const;
    // Measures with a fresh layout and no label state; see ZNFTextStorage::sizeWithWidth.
    static QSizeF sizeWithWidth(double width, const ZNFAttributedString& string, const ZNFEdgeInsets& insets,
                                bool fillWidth = true) {
        return ZNFTextStorage::sizeWithWidth(width, string, insets, fillWidth);
    }

    // Hit testing in the label's (flipped) coordinates. The character under the point, or
    // ZNFNotFound when no glyph lies within `fuzziness` of it.
    qint64 characterIndexAtPoint(const QPointF& point, const QSizeF& fuzziness = QSizeF(10, 10));
    // The attributes of that character; null when none is hit.
    ZNFTextAttributesPtr attributesAtPoint(const QPointF& point, const QSizeF& fuzziness = QSizeF(10, 10));
    // The glyph box of the character at an index, in the label's coordinates; null past the end.
    QRectF rectForCharacterAtIndex(qsizetype index);

protected:
    void drawContents(QPainter& painter) override;

private:
    QSizeF containerSize() const;

    ZNFTextStorage m_textStorage;
    std::unique_ptr<ZNFTextLayout> m_layout;
    std::shared_ptr<ZNFLayoutManagerDelegate> m_layoutManagerDelegate;
    std::weak_ptr<ZNFLabelDelegate> m_delegate;
    ZNFEdgeInsets m_insets;
    // What the layout was built for; a change of either lays the text out again.
    QSizeF m_layoutContainerSize;
    quint64 m_layoutChangeCount = 0;
};
