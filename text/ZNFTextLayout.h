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
// Qt's QTextLayout and answers the geometry questions a label asks. Every attribute reaches the
// screen here, through the name and integer mappings of ZNFTextQt.
//
// Paragraphs are laid out in windows of at most a few thousand characters, each a QTextLayout of
// its own that ends where one of its lines ends: Qt scans every line of a word to the end of its
// text, so a word longer than a line would otherwise cost the square of its length. Only the
// lines' geometry is kept; the Qt layouts of a few windows are cached for drawing and hit
// testing, the others laid out again (with the very same breaks) when a question needs them.
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

    // Draws highlights, then glyphs and their decorations, of the lines that fit the container
    // and reach into the painter's clip, with the container's origin at `origin`.
    void draw(QPainter& painter, const QPointF& origin) const;

private:
    struct Paragraph {
        ZNFRange range;                // characters, without the separator
        qsizetype separatorLength = 0; // 0 for the last paragraph without one
        const ZNFParagraphStyle* style = nullptr;
        double firstIndent = 0; // where its first line starts, and the lines after it
        double headIndent = 0;
    };
    // One window of a paragraph: the characters its QTextLayout holds and the lines kept from it.
    struct Part {
        int paragraph = 0;
        qsizetype start = 0;
        qsizetype stop = 0;
        // Qt measures tab stops from each line's start, the platform from the container's edge:
        // a window whose lines start at an indent has its stops moved by that indent.
        double tabShift = 0;
        int firstLine = 0;
        int lineCount = 0;
    };
    struct Line {
        int part = 0;
        int qtLine = 0;     // the line's number in its part's layout
        bool first = false; // first / last line of its paragraph
        bool last = false;
        double top = 0;      // line fragment top
        double height = 0;   // line fragment height
        double natural = 0;  // Qt's own line height, without the line height multiple
        double indent = 0;   // where the line starts
        ZNFRange characters; // in the whole string
        double overhang = 0; // of the last glyph past its advance (Qt counts it when breaking)
        // Qt's natural text rectangle of the line, kept so that measuring needs no Qt layout.
        double naturalLeft = 0;
        double naturalRight = 0;
        double naturalWidth = 0;
    };
    struct CachedPart {
        int part = -1;
        quint64 lastUse = 0;
        std::unique_ptr<QTextLayout> layout;
    };

    void layoutParagraph(int index, double& y);
    std::unique_ptr<QTextLayout> makePartLayout(const Paragraph& paragraph, qsizetype start, qsizetype stop,
                                                double tabShift) const;
    // The part's Qt layout, from the cache or laid out again. A QTextLine taken from it is valid
    // only until the next call: that may drop the layout from the cache.
    const QTextLayout& partLayout(int part) const;
    // Keeps a part's layout, dropping the least recently used ones to make room; without `evict`
    // only when there is room.
    void cachePart(int part, std::unique_ptr<QTextLayout> layout, bool evict) const;
    QTextLine qtLineOf(const Line& line) const;
    const Paragraph& paragraphOf(const Line& line) const;
    double lastGlyphOverhang(ZNFRange characters) const;
    // The first line whose characters (with its paragraph's separator) reach `index`.
    int firstLineReaching(qsizetype index) const;

    ZNFAttributedString m_string;
    QSizeF m_containerSize;
    std::vector<Paragraph> m_paragraphs;
    std::vector<Part> m_parts;
    std::vector<Line> m_lines;
    int m_fittingLines = 0;
    double m_tallestLine = 0;
    mutable std::vector<CachedPart> m_cache;
    mutable qsizetype m_cachedCharacters = 0;
    mutable quint64 m_useCount = 0;
};
