#include "text/ZNFLabel.h"

#include "text/ZNFTextLayout.h"

#include <QPainter>
#include <algorithm>

ZNFLabel::ZNFLabel(const QRectF& frame, QWidget* parent) : ZNFView(frame, parent) {
    setFlipped(true);
}

ZNFLabel::ZNFLabel(const ZNFAttributedString& string, const QRectF& frame, QWidget* parent)
    : ZNFLabel(frame, parent) {
    setAttributedString(string);
}

ZNFLabel::~ZNFLabel() = default;

void ZNFLabel::setAttributedString(const ZNFAttributedString& string) {
    m_layout.reset();
    m_textStorage = ZNFTextStorage(string);
    setAccessibleName(m_textStorage.string());
    update();
}

void ZNFLabel::setLayoutManagerDelegate(std::shared_ptr<ZNFLayoutManagerDelegate> delegate) {
    m_layoutManagerDelegate = std::move(delegate);
}

QSizeF ZNFLabel::containerSize() const {
    const QRectF b = bounds();
    // The bottom inset is not taken off: a line may run into it but not past the bounds.
    return QSizeF(std::max(0.0, b.width() - m_insets.left - m_insets.right),
                  std::max(0.0, b.height() - m_insets.top));
}

void ZNFLabel::setupLayoutManager() {
    // The layout follows the text, the bounds and the insets: a label that was resized or given
    // new insets since lays its text out again rather than drawing with stale line breaks.
    const QSizeF size = containerSize();
    if (m_layout && (m_layoutContainerSize != size || m_layoutChangeCount != m_textStorage.changeCount()))
        m_layout.reset();
    if (m_layout)
        return;
    m_layout = std::make_unique<ZNFTextLayout>(m_textStorage.storage(), size);
    m_layoutContainerSize = size;
    m_layoutChangeCount = m_textStorage.changeCount();
}

void ZNFLabel::drawContents(QPainter& painter) {
    ZNFView::drawContents(painter);
    if (m_textStorage.length() == 0)
        return;
    setupLayoutManager();
    m_layout->draw(painter, QPointF(m_insets.left, m_insets.top));
}

QSizeF ZNFLabel::sizeThatFits(const QSizeF& size) const {
    return sizeWithWidth(size.width(), m_textStorage.storage(), m_insets, true);
}

qint64 ZNFLabel::characterIndexAtPoint(const QPointF& point, const QSizeF& fuzziness) {
    setupLayoutManager();
    const QPointF moved(std::max(0.0, point.x() - m_insets.left), std::max(0.0, point.y() - m_insets.top));
    QRectF glyph;
    const qint64 index = m_layout->characterIndexNearestPoint(moved, &glyph);
    if (index == ZNFNotFound)
        return ZNFNotFound;
    const QRectF grown =
        glyph.adjusted(-fuzziness.width(), -fuzziness.height(), fuzziness.width(), fuzziness.height());
    // Edges count as inside, so a zero-sized glyph box can still be hit exactly.
    if (moved.x() < grown.left() || moved.x() > grown.right() || moved.y() < grown.top() ||
        moved.y() > grown.bottom())
        return ZNFNotFound;
    return index;
}

ZNFTextAttributesPtr ZNFLabel::attributesAtPoint(const QPointF& point, const QSizeF& fuzziness) {
    const qint64 index = characterIndexAtPoint(point, fuzziness);
    if (index == ZNFNotFound)
        return nullptr;
    return m_textStorage.attributesAtIndex(static_cast<qsizetype>(index));
}

QRectF ZNFLabel::rectForCharacterAtIndex(qsizetype index) {
    if (index < 0 || index >= m_textStorage.length())
        return {};
    setupLayoutManager();
    const QRectF r = m_layout->boundingRectForCharacterRange(ZNFRange{index, 1});
    if (r.isNull())
        return {};
    return r.translated(m_insets.left, m_insets.top);
}
