#pragma once

#include "text/ZNFAttributedString.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTextLayout>
#include <limits>
#include <memory>
#include <vector>

class QPainter;

// The text system: lays an attributed string out in a container (line-fragment padding 0) with
// Qt's QTextLayout, one layout per paragraph, and answers the geometry questions a label asks.
// Every attribute reaches the screen here, through the name and integer mappings of ZNFTextQt.
class ZNFTextLayout {
public:
    // A container height with no limit.
    static constexpr double UnlimitedHeight = std::numeric_limits<double>::max();

    // Measuring and drawing build the very same layout, so they cannot disagree.
    ZNFTextLayout(const ZNFAttributedString& string, const QSizeF& containerSize);
    ~ZNFTextLayout();
    ZNFTextLayout(const ZNFTextLayout&) = delete;
    ZNFTextLayout& operator=(const ZNFTextLayout&) = delete;

    const ZNFAttributedString& attributedString() const { return m_string; }
    QSizeF containerSize() const { return m_containerSize; }

    // All line fragments, and how many of them fit the container's height.
    int lineCount() const { return static_cast<int>(m_lines.size()); }
    int lineCountFittingContainer() const { return m_fittingLines; }
    // A line fragment's rectangle: full container width, its height including line spacing.
    QRectF lineFragmentRect(int line) const;
    // The characters of a line fragment.
    ZNFRange characterRangeOfLine(int line) const;

    // The bounding rectangle of the glyphs of a character range, in container coordinates:
    // the union of each glyph's advance box over its line fragment's height. For all
    // characters this is the size a measurement reports.
    QRectF boundingRectForCharacterRange(ZNFRange range) const;
    QRectF usedRect() const { return boundingRectForCharacterRange(ZNFRange{0, m_string.length()}); }
    // The narrowest container width that breaks every line where this layout broke it: the
    // widest line's indent, text and last-glyph overhang. It is the used width for text that
    // starts at the leading edge; centred or right-aligned indented text needs more.
    double requiredWidth() const;

    // The character whose glyph is nearest `point` (container coordinates), with that glyph's
    // bounding rectangle; ZNFNotFound (and a null rectangle) only for an empty string.
    qint64 characterIndexNearestPoint(const QPointF& point, QRectF* glyphRect = nullptr) const;

    // Draws highlights, then glyphs and their decorations, of the lines that fit the container,
    // with the container's origin at `origin`.
    void draw(QPainter& painter, const QPointF& origin) const;

private:
    struct Paragraph;
    struct Line {
        int paragraph = 0;
        int part = 0;       // which of the paragraph's Qt layouts holds the line
        int qtLine = 0;     // the line's number in that layout
        qsizetype base = 0; // string index of that layout's first character
        bool first = false; // first / last line of its paragraph
        bool last = false;
        double top = 0;      // line fragment top
        double height = 0;   // line fragment height
        ZNFRange characters; // in the whole string
        double overhang = 0; // of the last glyph past its advance (Qt counts it when breaking)
    };

    QTextLine qtLineOf(const Line& line) const;
    const QTextLayout& qtLayoutOf(const Line& line) const;
    void layoutParagraph(int index, double& y);
    double lastGlyphOverhang(ZNFRange characters) const;

    ZNFAttributedString m_string;
    QSizeF m_containerSize;
    std::vector<std::unique_ptr<Paragraph>> m_paragraphs;
    std::vector<Line> m_lines;
    int m_fittingLines = 0;
};
