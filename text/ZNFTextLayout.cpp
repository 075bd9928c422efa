#include "text/ZNFTextLayout.h"

#include "text/ZNFTextQt.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPen>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace {

// Lines that end exactly at the container's bottom fit; sub-pixel noise must not drop them.
constexpr double kFitTolerance = 1e-6;

bool isParagraphSeparator(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

const ZNFParagraphStyle& defaultParagraphStyle() {
    static const ZNFParagraphStyle style;
    return style;
}

// What decides a run's geometry. Runs that agree on it are laid out as one, so that colours and
// decorations never change shaping, line breaks or measurement.
bool sameGeometry(const ZNFTextAttributes& a, const ZNFTextAttributes& b) {
    return ZNFTextQt::font(a) == ZNFTextQt::font(b) && a.kern == b.kern;
}

} // namespace

struct ZNFTextLayout::Paragraph {
    ZNFRange range;                // characters, without the separator
    qsizetype separatorLength = 0; // 0 for the last paragraph without one
    const ZNFParagraphStyle* style = nullptr;
    QTextLayout layout;
    int firstLine = 0; // index into m_lines
    int lineCount = 0;
};

ZNFTextLayout::ZNFTextLayout(const ZNFAttributedString& string, const QSizeF& containerSize)
    : m_string(string), m_containerSize(containerSize) {
    const QString& text = m_string.string();
    const qsizetype length = text.size();
    qsizetype start = 0;
    while (start < length) {
        qsizetype end = start;
        while (end < length && !isParagraphSeparator(text.at(end)))
            ++end;
        auto p = std::make_unique<Paragraph>();
        p->range = ZNFRange{start, end - start};
        if (end < length) {
            p->separatorLength = (text.at(end) == QLatin1Char('\r') && end + 1 < length &&
                                  text.at(end + 1) == QLatin1Char('\n'))
                                     ? 2
                                     : 1;
        }
        m_paragraphs.push_back(std::move(p));
        start = end + m_paragraphs.back()->separatorLength;
    }
    double y = 0;
    for (std::size_t i = 0; i < m_paragraphs.size(); ++i) {
        if (i > 0)
            y += m_paragraphs[i - 1]->style->paragraphSpacing;
        layoutParagraph(static_cast<int>(i), y);
    }
    const double limit = m_containerSize.height();
    m_fittingLines = 0;
    for (const Line& line : m_lines) {
        if (line.top + line.height > limit + kFitTolerance)
            break;
        ++m_fittingLines;
    }
}

ZNFTextLayout::~ZNFTextLayout() = default;

double ZNFTextLayout::lastGlyphOverhang(ZNFRange characters) const {
    // Qt breaks a line only when its text plus the last glyph's overhang (a negative right
    // bearing) exceeds the width; a measured width without it would break the text earlier.
    const QString& text = m_string.string();
    qsizetype i = characters.end() - 1;
    while (i >= characters.location && text.at(i).isSpace())
        --i;
    if (i < characters.location)
        return 0;
    const ZNFTextAttributesPtr a = m_string.attributesAtIndex(i);
    const QFontMetricsF metrics(a ? ZNFTextQt::geometryFont(*a) : ZNFTextDefaultFont().qfont());
    return std::max(0.0, -metrics.rightBearing(text.at(i)));
}

void ZNFTextLayout::layoutParagraph(int index, double& y) {
    Paragraph& p = *m_paragraphs[static_cast<std::size_t>(index)];
    const QString& text = m_string.string();

    // A paragraph is laid out with the paragraph style of its first character (its separator
    // when it is empty).
    const ZNFTextAttributesPtr head = m_string.attributesAtIndex(p.range.location);
    p.style = (head && head->paragraphStyle) ? &*head->paragraphStyle : &defaultParagraphStyle();
    const ZNFParagraphStyle& style = *p.style;

    const QString paragraphText = (p.range.location == 0 && p.range.length == text.size())
                                      ? text
                                      : text.mid(p.range.location, p.range.length);
    p.layout.setText(paragraphText);
    // Without the cache Qt drops the shaped glyphs at endLayout and shapes again for every
    // later geometry question; the layout dies with this object anyway.
    p.layout.setCacheEnabled(true);

    // Fonts and kerning: the first run's become the layout's font, the others format ranges.
    const ZNFTextAttributes empty;
    const ZNFTextAttributes& first = head ? *head : empty;
    p.layout.setFont(ZNFTextQt::geometryFont(first));
    if (p.range.length > 0) {
        QList<QTextLayout::FormatRange> formats;
        const ZNFTextAttributes* current = &first;
        m_string.enumerateAttributes(p.range, [&](const ZNFTextAttributesPtr& attributes, ZNFRange piece) {
            if (sameGeometry(*attributes, first))
                return;
            if (!formats.isEmpty() && current == attributes.get() &&
                formats.back().start + formats.back().length == piece.location - p.range.location) {
                formats.back().length += static_cast<int>(piece.length);
                return;
            }
            QTextLayout::FormatRange range;
            range.start = static_cast<int>(piece.location - p.range.location);
            range.length = static_cast<int>(piece.length);
            range.format.setFont(ZNFTextQt::geometryFont(*attributes));
            formats.append(range);
            current = attributes.get();
        });
        if (!formats.isEmpty())
            p.layout.setFormats(formats);
    }

    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(ZNFTextQt::alignment(style.alignment));
    static const std::vector<ZNFTextTab> defaultStops = ZNFParagraphStyle::defaultTabStops();
    if (style.tabStops != defaultStops || style.defaultTabInterval > 0) {
        QList<QTextOption::Tab> tabs;
        tabs.reserve(static_cast<qsizetype>(style.tabStops.size()));
        for (const ZNFTextTab& tab : style.tabStops)
            tabs.append(QTextOption::Tab(tab.location, ZNFTextQt::tabType(tab.alignment)));
        option.setTabs(tabs);
        if (style.defaultTabInterval > 0)
            option.setTabStopDistance(style.defaultTabInterval);
    } else {
        // The platform's default stops are every 28 points.
        option.setTabStopDistance(28.0);
    }
    p.layout.setTextOption(option);

    // The first line starts at the first-line indent, later ones at the head indent; a negative
    // first-line indent (the hanging indent that "tabs" sets) starts the first line at the edge.
    const double width = m_containerSize.width();
    const double firstIndent = std::max(0.0, style.firstLineHeadIndent);
    const double headIndent = std::max(0.0, style.headIndent);
    const double multiple = style.lineHeightMultiple > 0 ? style.lineHeightMultiple : 1.0;

    p.firstLine = static_cast<int>(m_lines.size());
    p.layout.beginLayout();
    for (int n = 0;; ++n) {
        QTextLine line = p.layout.createLine();
        if (!line.isValid())
            break;
        const double indent = n == 0 ? firstIndent : headIndent;
        line.setLeadingIncluded(true);
        line.setLineWidth(std::max(0.0, width - indent));
        const double natural = line.height();
        const double fragment = natural * multiple;
        // Extra line height goes above the glyphs, as on the original platform.
        line.setPosition(QPointF(indent, y + (fragment - natural)));
        Line l;
        l.paragraph = index;
        l.qtLine = line.lineNumber();
        l.top = y;
        l.height = fragment;
        l.characters = ZNFRange{p.range.location + line.textStart(), line.textLength()};
        l.overhang = lastGlyphOverhang(l.characters);
        m_lines.push_back(l);
        y += fragment;
    }
    p.layout.endLayout();
    p.lineCount = static_cast<int>(m_lines.size()) - p.firstLine;
}

QRectF ZNFTextLayout::lineFragmentRect(int line) const {
    if (line < 0 || line >= lineCount())
        return {};
    const Line& l = m_lines[static_cast<std::size_t>(line)];
    return QRectF(0, l.top, m_containerSize.width(), l.height);
}

ZNFRange ZNFTextLayout::characterRangeOfLine(int line) const {
    if (line < 0 || line >= lineCount())
        return {};
    return m_lines[static_cast<std::size_t>(line)].characters;
}

QRectF ZNFTextLayout::boundingRectForCharacterRange(ZNFRange range) const {
    const qsizetype start = std::max<qsizetype>(0, range.location);
    const qsizetype end = std::min(m_string.length(), range.location + std::max<qsizetype>(0, range.length));
    bool any = false;
    double left = 0, right = 0, top = 0, bottom = 0;
    for (const Line& l : m_lines) {
        const Paragraph& p = *m_paragraphs[static_cast<std::size_t>(l.paragraph)];
        // A line owns its characters and, on a paragraph's last line, the separator after them.
        const bool lastOfParagraph = l.qtLine == p.lineCount - 1;
        const qsizetype owned = l.characters.end() + (lastOfParagraph ? p.separatorLength : 0);
        const qsizetype s = std::max(start, l.characters.location);
        const qsizetype e = std::min(end, owned);
        if (s > e || (s == e && !(l.characters.length == 0 && s < owned)))
            continue;
        const QTextLine line = p.layout.lineAt(l.qtLine);
        const int ls = static_cast<int>(s - p.range.location);
        const int le = static_cast<int>(std::min(e, l.characters.end()) - p.range.location);
        double x1 = 0, x2 = 0;
        if (s <= l.characters.location && e >= l.characters.end()) {
            // The whole line, the common case of measuring: no cursor walk needed.
            const QRectF natural = line.naturalTextRect();
            x1 = natural.left();
            x2 = natural.right();
        } else {
            x1 = line.cursorToX(ls);
            x2 = line.cursorToX(le);
            if (x1 > x2)
                std::swap(x1, x2);
        }
        // Spaces left hanging at a wrap do not widen the text; the last glyph's overhang does.
        if (e >= l.characters.end())
            x2 = std::max(x1, line.naturalTextRect().right() + l.overhang);
        if (!any) {
            left = x1;
            right = x2;
            top = l.top;
            any = true;
        }
        left = std::min(left, x1);
        right = std::max(right, x2);
        bottom = l.top + l.height;
    }
    if (!any)
        return {};
    return QRectF(left, top, right - left, bottom - top);
}

double ZNFTextLayout::requiredWidth() const {
    double width = 0;
    for (const Line& l : m_lines) {
        const Paragraph& p = *m_paragraphs[static_cast<std::size_t>(l.paragraph)];
        const ZNFParagraphStyle& style = *p.style;
        const double indent = std::max(0.0, l.qtLine == 0 ? style.firstLineHeadIndent : style.headIndent);
        width = std::max(width, indent + p.layout.lineAt(l.qtLine).naturalTextWidth() + l.overhang);
    }
    return width;
}

qint64 ZNFTextLayout::characterIndexNearestPoint(const QPointF& point, QRectF* glyphRect) const {
    if (glyphRect)
        *glyphRect = QRectF();
    const int candidates = m_fittingLines;
    if (candidates == 0)
        return ZNFNotFound;
    // The line under the point, else the nearest one.
    int best = 0;
    double bestDistance = std::numeric_limits<double>::max();
    for (int i = 0; i < candidates; ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(i)];
        double d = 0;
        if (point.y() < l.top)
            d = l.top - point.y();
        else if (point.y() >= l.top + l.height)
            d = point.y() - (l.top + l.height) + 1e-9;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
        if (d == 0)
            break;
    }
    const Line& l = m_lines[static_cast<std::size_t>(best)];
    const Paragraph& p = *m_paragraphs[static_cast<std::size_t>(l.paragraph)];
    const QTextLine line = p.layout.lineAt(l.qtLine);
    if (l.characters.length == 0) {
        // An empty paragraph's only glyph is its separator's.
        const double x = line.cursorToX(0);
        if (glyphRect)
            *glyphRect = QRectF(x, l.top, 0, l.height);
        return p.separatorLength > 0 ? l.characters.location : ZNFNotFound;
    }
    const int lineStart = static_cast<int>(l.characters.location - p.range.location);
    const int lineEnd = lineStart + static_cast<int>(l.characters.length);
    int nearest = lineStart;
    QRectF nearestRect;
    double nearestDistance = std::numeric_limits<double>::max();
    for (int a = lineStart; a < lineEnd;) {
        int b = p.layout.nextCursorPosition(a);
        if (b <= a || b > lineEnd)
            b = std::min(lineEnd, a + 1);
        double x1 = line.cursorToX(a);
        double x2 = line.cursorToX(b);
        if (x1 > x2)
            std::swap(x1, x2);
        const double d = point.x() < x1 ? x1 - point.x() : (point.x() > x2 ? point.x() - x2 : 0);
        if (d < nearestDistance) {
            nearestDistance = d;
            nearest = a;
            nearestRect = QRectF(x1, l.top, x2 - x1, l.height);
        }
        if (d == 0)
            break;
        a = b;
    }
    if (glyphRect)
        *glyphRect = nearestRect;
    return p.range.location + nearest;
}

void ZNFTextLayout::draw(QPainter& painter, const QPointF& origin) const {
    painter.save();
    for (int i = 0; i < m_fittingLines; ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(i)];
        if (l.characters.length == 0)
            continue;
        const Paragraph& p = *m_paragraphs[static_cast<std::size_t>(l.paragraph)];
        const QTextLine line = p.layout.lineAt(l.qtLine);
        const double lineRight = line.naturalTextRect().right();

        // Highlights first, over the whole line fragment height.
        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            if (!a->backgroundColor || a->backgroundColor->alpha() == 0)
                return;
            double x1 = line.cursorToX(static_cast<int>(piece.location - p.range.location));
            double x2 = line.cursorToX(static_cast<int>(piece.end() - p.range.location));
            if (x1 > x2)
                std::swap(x1, x2);
            painter.fillRect(QRectF(origin.x() + x1, origin.y() + l.top, x2 - x1, l.height),
                             *a->backgroundColor);
        });

        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            const auto runs = line.glyphRuns(static_cast<int>(piece.location - p.range.location),
                                             static_cast<int>(piece.length));
            const QColor color = a->foregroundColor.value_or(QColor(Qt::black));
            if (a->textEffect) {
                // Letterpress: a light impression just below the glyphs.
                painter.setPen(QColor(255, 255, 255, 150));
                for (const QGlyphRun& run : runs)
                    painter.drawGlyphRun(origin + QPointF(0, 1), run);
            }
            painter.setPen(color);
            for (const QGlyphRun& run : runs)
                painter.drawGlyphRun(origin, run);
        });

        // Underlines and strikethroughs of the line's runs.
        const double baseline = line.y() + line.ascent();
        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            const ZNFTextQt::LineKind under = ZNFTextQt::lineKind(a->underlineStyle);
            const ZNFTextQt::LineKind strike = ZNFTextQt::lineKind(a->strikethroughStyle);
            if (under == ZNFTextQt::LineKind::None && strike == ZNFTextQt::LineKind::None)
                return;
            const QFontMetricsF metrics(ZNFTextQt::font(*a));
            const QString& text = m_string.string();
            // Segments to decorate: the whole piece, or each word of it for "by word".
            auto segments = [&](qint64 style) {
                std::vector<ZNFRange> out;
                if (!ZNFTextQt::byWord(style)) {
                    out.push_back(piece);
                    return out;
                }
                qsizetype i = piece.location;
                while (i < piece.end()) {
                    while (i < piece.end() && text.at(i).isSpace())
                        ++i;
                    const qsizetype s = i;
                    while (i < piece.end() && !text.at(i).isSpace())
                        ++i;
                    if (i > s)
                        out.push_back(ZNFRange{s, i - s});
                }
                return out;
            };
            auto drawLines = [&](ZNFTextQt::LineKind kind, qint64 style, double y, const QColor& color) {
                if (kind == ZNFTextQt::LineKind::None)
                    return;
                // Whole pixels keep lines crisp; "thick" is twice the font's own thickness.
                const double thickness = std::max(1.0, std::round(metrics.lineWidth())) *
                                         (kind == ZNFTextQt::LineKind::Thick ? 2.0 : 1.0);
                QPen pen(color, thickness, ZNFTextQt::penStyle(style), Qt::FlatCap);
                painter.setPen(pen);
                for (const ZNFRange& seg : segments(style)) {
                    double x1 = line.cursorToX(static_cast<int>(seg.location - p.range.location));
                    double x2 = line.cursorToX(static_cast<int>(seg.end() - p.range.location));
                    if (x1 > x2)
                        std::swap(x1, x2);
                    if (seg.end() >= l.characters.end())
                        x2 = std::max(x1, std::min(x2, lineRight));
                    if (x2 <= x1)
                        continue;
                    const QPointF from = origin + QPointF(x1, y);
                    const QPointF to = origin + QPointF(x2, y);
                    if (kind == ZNFTextQt::LineKind::Double) {
                        const QPointF gap(0, thickness);
                        painter.drawLine(from - gap, to - gap);
                        painter.drawLine(from + gap, to + gap);
                    } else {
                        painter.drawLine(from, to);
                    }
                }
            };
            const QColor text_color = a->foregroundColor.value_or(QColor(Qt::black));
            drawLines(under, a->underlineStyle.value_or(0), baseline + std::max(1.0, metrics.underlinePos()),
                      a->underlineColor.value_or(text_color));
            drawLines(strike, a->strikethroughStyle.value_or(0), baseline - metrics.strikeOutPos(),
                      a->strikethroughColor.value_or(text_color));
        });
    }
    painter.restore();
}
