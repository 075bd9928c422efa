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
    // Qt measures tab stops from each line's start, the platform from the container's edge. When
    // lines after the first start at another indent and hold tabs, they get a layout of their
    // own whose stops are moved by that indent.
    QTextLayout layouts[2];
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

    // Fonts and kerning: the first run's become the layouts' font, the others format ranges
    // (in string positions here, moved to each layout's own positions below).
    const ZNFTextAttributes empty;
    const ZNFTextAttributes& first = head ? *head : empty;
    const QFont baseFont = ZNFTextQt::geometryFont(first);
    QList<QTextLayout::FormatRange> formats;
    if (p.range.length > 0) {
        const ZNFTextAttributes* current = &first;
        m_string.enumerateAttributes(p.range, [&](const ZNFTextAttributesPtr& attributes, ZNFRange piece) {
            if (sameGeometry(*attributes, first))
                return;
            if (!formats.isEmpty() && current == attributes.get() &&
                formats.back().start + formats.back().length == piece.location) {
                formats.back().length += static_cast<int>(piece.length);
                return;
            }
            QTextLayout::FormatRange range;
            range.start = static_cast<int>(piece.location);
            range.length = static_cast<int>(piece.length);
            range.format.setFont(ZNFTextQt::geometryFont(*attributes));
            formats.append(range);
            current = attributes.get();
        });
    }

    static const std::vector<ZNFTextTab> defaultStops = ZNFParagraphStyle::defaultTabStops();
    auto option = [&](double tabShift) {
        QTextOption o;
        o.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        o.setAlignment(ZNFTextQt::alignment(style.alignment));
        QList<QTextOption::Tab> tabs;
        for (const ZNFTextTab& tab : style.tabStops)
            if (tab.location - tabShift > 0)
                tabs.append(QTextOption::Tab(tab.location - tabShift, ZNFTextQt::tabType(tab.alignment)));
        if (style.tabStops != defaultStops || tabShift != 0)
            o.setTabs(tabs);
        // Past the last stop: the paragraph's interval, else the platform's 28 points.
        o.setTabStopDistance(style.defaultTabInterval > 0 ? style.defaultTabInterval : 28.0);
        return o;
    };
    auto prepare = [&](QTextLayout& layout, qsizetype from, double tabShift) {
        const qsizetype length = p.range.end() - from;
        layout.setText((from == 0 && length == text.size()) ? text : text.mid(from, length));
        // Without the cache Qt drops the shaped glyphs at endLayout and shapes again for every
        // later geometry question; the layout dies with this object anyway.
        layout.setCacheEnabled(true);
        layout.setFont(baseFont);
        if (!formats.isEmpty()) {
            QList<QTextLayout::FormatRange> local;
            for (QTextLayout::FormatRange r : formats) {
                const qsizetype start = std::max<qsizetype>(r.start, from);
                const qsizetype end = r.start + r.length;
                if (end <= start)
                    continue;
                r.start = static_cast<int>(start - from);
                r.length = static_cast<int>(end - start);
                local.append(r);
            }
            layout.setFormats(local);
        }
        layout.setTextOption(option(tabShift));
    };

    // The first line starts at the first-line indent, later ones at the head indent; a negative
    // first-line indent (the hanging indent that "tabs" sets) starts the first line at the edge.
    const double width = m_containerSize.width();
    const double firstIndent = std::max(0.0, style.firstLineHeadIndent);
    const double headIndent = std::max(0.0, style.headIndent);
    const double multiple = style.lineHeightMultiple > 0 ? style.lineHeightMultiple : 1.0;

    int part = 0;
    qsizetype base = p.range.location;
    prepare(p.layouts[0], base, firstIndent);
    p.layouts[0].beginLayout();
    for (int n = 0;; ++n) {
        QTextLayout& layout = p.layouts[part];
        QTextLine line = layout.createLine();
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
        l.part = part;
        l.qtLine = line.lineNumber();
        l.base = base;
        l.first = n == 0;
        l.top = y;
        l.height = fragment;
        l.characters = ZNFRange{base + line.textStart(), line.textLength()};
        l.overhang = lastGlyphOverhang(l.characters);
        m_lines.push_back(l);
        y += fragment;

        const qsizetype rest = l.characters.end();
        if (n == 0 && part == 0 && headIndent != firstIndent && rest < p.range.end() &&
            QStringView(text).mid(rest, p.range.end() - rest).contains(QLatin1Char('\t'))) {
            p.layouts[0].endLayout();
            part = 1;
            base = rest;
            prepare(p.layouts[1], base, headIndent);
            p.layouts[1].beginLayout();
        }
    }
    p.layouts[part].endLayout();
    m_lines.back().last = true;
}

QTextLine ZNFTextLayout::qtLineOf(const Line& line) const {
    return qtLayoutOf(line).lineAt(line.qtLine);
}

const QTextLayout& ZNFTextLayout::qtLayoutOf(const Line& line) const {
    return m_paragraphs[static_cast<std::size_t>(line.paragraph)]->layouts[line.part];
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
        const qsizetype owned = l.characters.end() + (l.last ? p.separatorLength : 0);
        const qsizetype s = std::max(start, l.characters.location);
        const qsizetype e = std::min(end, owned);
        if (s > e || (s == e && !(l.characters.length == 0 && s < owned)))
            continue;
        const QTextLine line = qtLineOf(l);
        const int ls = static_cast<int>(s - l.base);
        const int le = static_cast<int>(std::min(e, l.characters.end()) - l.base);
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
        const double indent = std::max(0.0, l.first ? style.firstLineHeadIndent : style.headIndent);
        width = std::max(width, indent + qtLineOf(l).naturalTextWidth() + l.overhang);
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
    const QTextLine line = qtLineOf(l);
    if (l.characters.length == 0) {
        // An empty paragraph's only glyph is its separator's.
        const double x = line.cursorToX(0);
        if (glyphRect)
            *glyphRect = QRectF(x, l.top, 0, l.height);
        return p.separatorLength > 0 ? l.characters.location : ZNFNotFound;
    }
    const int lineStart = static_cast<int>(l.characters.location - l.base);
    const int lineEnd = lineStart + static_cast<int>(l.characters.length);
    int nearest = lineStart;
    QRectF nearestRect;
    double nearestDistance = std::numeric_limits<double>::max();
    for (int a = lineStart; a < lineEnd;) {
        int b = qtLayoutOf(l).nextCursorPosition(a);
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
    return l.base + nearest;
}

void ZNFTextLayout::draw(QPainter& painter, const QPointF& origin) const {
    painter.save();
    for (int i = 0; i < m_fittingLines; ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(i)];
        if (l.characters.length == 0)
            continue;
        const QTextLine line = qtLineOf(l);
        const double lineRight = line.naturalTextRect().right();

        // Highlights first, over the whole line fragment height.
        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            if (!a->backgroundColor || a->backgroundColor->alpha() == 0)
                return;
            double x1 = line.cursorToX(static_cast<int>(piece.location - l.base));
            double x2 = line.cursorToX(static_cast<int>(piece.end() - l.base));
            if (x1 > x2)
                std::swap(x1, x2);
            painter.fillRect(QRectF(origin.x() + x1, origin.y() + l.top, x2 - x1, l.height),
                             *a->backgroundColor);
        });

        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            const auto runs =
                line.glyphRuns(static_cast<int>(piece.location - l.base), static_cast<int>(piece.length));
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
                    double x1 = line.cursorToX(static_cast<int>(seg.location - l.base));
                    double x2 = line.cursorToX(static_cast<int>(seg.end() - l.base));
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
