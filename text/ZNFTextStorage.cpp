#include "text/ZNFTextStorage.h"

#include "text/ZNFTextLayout.h"

#include <algorithm>
#include <cmath>

namespace {

// Qt's text layout keeps positions in 26.6 fixed point; wider lines than this overflow it.
constexpr double kMaxLineWidth = 4.0e6;

bool isParagraphSeparator(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

// Rounds up to a whole point in single precision, as the platform's measuring does. A value
// that single precision cannot hold (the "fill" width, the largest double) stays as it is.
double ceilPoint(double value) {
    const float f = static_cast<float>(value);
    if (!std::isfinite(f))
        return value;
    return static_cast<double>(std::ceil(f));
}

} // namespace

ZNFTextStorage::ZNFTextStorage(const ZNFAttributedString& string) : m_storage(string) {
    fixAttributesInRange(ZNFRange{0, m_storage.length()});
}

ZNFTextStorage::ZNFTextStorage(const QString& string, const ZNFTextAttributes& attributes)
    : ZNFTextStorage(ZNFAttributedString(string, attributes)) {}

ZNFTextStorage::ZNFTextStorage(const QString& string, ZNFTextAttributesPtr attributes)
    : ZNFTextStorage(ZNFAttributedString(string, std::move(attributes))) {}

ZNFTextAttributesPtr ZNFTextStorage::attributesAtIndex(qsizetype index, ZNFRange* effectiveRange) const {
    if (index < 0 || index >= m_storage.length())
        return nullptr;
    return m_storage.attributesAtIndex(index, effectiveRange);
}

void ZNFTextStorage::replaceCharactersInRange(ZNFRange range, const QString& string) {
    m_storage.replaceCharactersInRange(range, string);
    edited(EditedCharacters, range, string.size() - range.length);
}

void ZNFTextStorage::setAttributes(const ZNFTextAttributes& attributes, ZNFRange range) {
    setAttributes(ZNFMakeAttributes(attributes), range);
}

void ZNFTextStorage::setAttributes(ZNFTextAttributesPtr attributes, ZNFRange range) {
    m_storage.setAttributes(std::move(attributes), range);
    edited(EditedAttributes, range, 0);
}

void ZNFTextStorage::edited(int editMask, ZNFRange range, qsizetype changeInLength) {
    Q_UNUSED(editMask);
    ++m_changeCount;
    // The edited range after the change, widened to whole paragraphs by the fixing.
    fixAttributesInRange(ZNFRange{range.location, std::max<qsizetype>(0, range.length + changeInLength)});
}

void ZNFTextStorage::fixAttributesInRange(ZNFRange range) {
    const QString& text = m_storage.string();
    const qsizetype length = text.size();
    if (length == 0)
        return;
    qsizetype start = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype end =
        std::clamp<qsizetype>(range.location + std::max<qsizetype>(0, range.length), start, length);
    while (start > 0 && !isParagraphSeparator(text.at(start - 1)))
        --start;
    while (start < length && start <= end) {
        qsizetype stop = start;
        while (stop < length && !isParagraphSeparator(text.at(stop)))
            ++stop;
        if (stop < length)
            ++stop; // the separator belongs to its paragraph
        const ZNFTextAttributesPtr head = m_storage.attributesAtIndex(start);
        const std::optional<ZNFParagraphStyle> style = head ? head->paragraphStyle : std::nullopt;
        // Collect first, then edit: setting attributes changes the runs being walked.
        std::vector<std::pair<ZNFRange, ZNFTextAttributesPtr>> fixes;
        m_storage.enumerateAttributes(ZNFRange{start, stop - start},
                                      [&](const ZNFTextAttributesPtr& a, ZNFRange r) {
                                          if (a->paragraphStyle != style) {
                                              ZNFTextAttributes fixed = *a;
                                              fixed.paragraphStyle = style;
                                              fixes.emplace_back(r, ZNFMakeAttributes(std::move(fixed)));
                                          }
                                      });
        for (auto& [r, a] : fixes)
            m_storage.setAttributes(std::move(a), r);
        if (stop == start)
            break;
        start = stop;
    }
}

QSizeF ZNFTextStorage::sizeForTextSize(const QSizeF& textSize, double width, const ZNFEdgeInsets& insets,
                                       bool fillWidth) {
    // Insets set in code are not checked like a style's: a negative one never makes a size so.
    const double height = std::max(0.0, textSize.height() + insets.top + insets.bottom);
    const double w = fillWidth ? width : std::max(0.0, textSize.width() + insets.left + insets.right);
    double roundedWidth = ceilPoint(w);
    // Rounding up never makes a fitting text wider than the width it was offered: a label
    // given that wider frame would fit more on a line than was measured.
    if (roundedWidth > width && w <= width)
        roundedWidth = width;
    return QSizeF(roundedWidth, ceilPoint(height));
}

QSizeF ZNFTextStorage::sizeWithWidth(double width, const ZNFAttributedString& string,
                                     const ZNFEdgeInsets& insets, bool fillWidth) {
    QSizeF textSize(0, 0);
    if (!string.isEmpty()) {
        double available = width - insets.left - insets.right;
        if (!(available > 0))
            available = 0; // also NaN
        available = std::min(available, kMaxLineWidth);
        const ZNFTextLayout layout(string, QSizeF(available, ZNFTextLayout::UnlimitedHeight));
        textSize = QSizeF(layout.requiredWidth(), layout.usedRect().height());
        // Only a glyph wider than the whole line makes the text wider than its width. Such a
        // size, given back as the label's frame, would lay the text out in other lines; held to
        // the width, the label breaks it exactly as measured (and clips the glyph, as it must).
        textSize.setWidth(std::min(textSize.width(), available));
    }
    return sizeForTextSize(textSize, width, insets, fillWidth);
}
