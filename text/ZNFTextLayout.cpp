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

// Characters a paragraph's window holds at first (more when not one whole line fits). Each line
// costs Qt at most this much scanning, each window one more line of shaping.
constexpr qsizetype kWindowLength = 1024;
// Laid-out windows kept for drawing and hit testing, at most this many and this many characters.
constexpr int kCachedParts = 256;
constexpr qsizetype kCachedCharacters = 128 * 1024;

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

ZNFTextLayout::ZNFTextLayout(const ZNFAttributedString& string, const QSizeF& containerSize)
    : m_string(string), m_containerSize(containerSize) {
    const QString& text = m_string.string();
    const qsizetype length = text.size();
    qsizetype start = 0;
    while (start < length) {
        qsizetype end = start;
        while (end < length && !isParagraphSeparator(text.at(end)))
            ++end;
        Paragraph p;
        p.range = ZNFRange{start, end - start};
        if (end < length) {
            p.separatorLength = (text.at(end) == QLatin1Char('\r') && end + 1 < length &&
                                 text.at(end + 1) == QLatin1Char('\n'))
                                    ? 2
                                    : 1;
        }
        m_paragraphs.push_back(p);
        start = end + p.separatorLength;
    }
    double y = 0;
    for (std::size_t i = 0; i < m_paragraphs.size(); ++i) {
        if (i > 0)
            y += m_paragraphs[i - 1].style->paragraphSpacing;
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

std::unique_ptr<QTextLayout> ZNFTextLayout::makePartLayout(const Paragraph& p, qsizetype start,
                                                           qsizetype stop, double tabShift) const {
    const QString& text = m_string.string();
    const ZNFParagraphStyle& style = *p.style;

    // Fonts and kerning: the paragraph's first run's become the layout's font, the others
    // format ranges. A paragraph is laid out with the paragraph style of its first character
    // (its separator when it is empty).
    const ZNFTextAttributesPtr head = m_string.attributesAtIndex(p.range.location);
    const ZNFTextAttributes empty;
    const ZNFTextAttributes& first = head ? *head : empty;
    QList<QTextLayout::FormatRange> formats;
    if (stop > start) {
        const ZNFTextAttributes* current = &first;
        m_string.enumerateAttributes(ZNFRange{start, stop - start},
                                     [&](const ZNFTextAttributesPtr& attributes, ZNFRange piece) {
                                         if (sameGeometry(*attributes, first))
                                             return;
                                         const int local = static_cast<int>(piece.location - start);
                                         if (!formats.isEmpty() && current == attributes.get() &&
                                             formats.back().start + formats.back().length == local) {
                                             formats.back().length += static_cast<int>(piece.length);
                                             return;
                                         }
                                         QTextLayout::FormatRange range;
                                         range.start = local;
                                         range.length = static_cast<int>(piece.length);
                                         range.format.setFont(ZNFTextQt::geometryFont(*attributes));
                                         formats.append(range);
                                         current = attributes.get();
                                     });
    }

    auto layout = std::make_unique<QTextLayout>();
    layout->setText((start == 0 && stop == text.size()) ? text : text.mid(start, stop - start));
    // Without the cache Qt drops the shaped glyphs at endLayout and shapes again for every later
    // geometry question.
    layout->setCacheEnabled(true);
    layout->setFont(ZNFTextQt::geometryFont(first));
    if (!formats.isEmpty())
        layout->setFormats(formats);

    static const std::vector<ZNFTextTab> defaultStops = ZNFParagraphStyle::defaultTabStops();
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
    // A window that starts inside a paragraph keeps the paragraph's direction, which Qt would
    // otherwise guess again from the window's own first letters.
    if (p.range.length > kWindowLength)
        o.setTextDirection(QStringView(text).mid(p.range.location, p.range.length).isRightToLeft()
                               ? Qt::RightToLeft
                               : Qt::LeftToRight);
    layout->setTextOption(o);
    return layout;
}

void ZNFTextLayout::layoutParagraph(int index, double& y) {
    Paragraph& p = m_paragraphs[static_cast<std::size_t>(index)];
    const QString& text = m_string.string();
    const ZNFTextAttributesPtr head = m_string.attributesAtIndex(p.range.location);
    p.style = (head && head->paragraphStyle) ? &*head->paragraphStyle : &defaultParagraphStyle();
    const ZNFParagraphStyle& style = *p.style;

    // The first line starts at the first-line indent, later ones at the head indent; a negative
    // first-line indent (the hanging indent that "tabs" sets) starts the first line at the edge.
    const double width = m_containerSize.width();
    p.firstIndent = std::max(0.0, style.firstLineHeadIndent);
    p.headIndent = std::max(0.0, style.headIndent);
    const double multiple = style.lineHeightMultiple > 0 ? style.lineHeightMultiple : 1.0;
    const qsizetype end = p.range.end();

    qsizetype start = p.range.location;
    int n = 0; // lines of the paragraph so far
    for (;;) {
        const double tabShift = n == 0 ? p.firstIndent : p.headIndent;
        const int partIndex = static_cast<int>(m_parts.size());
        Part part;
        part.paragraph = index;
        part.start = start;
        part.tabShift = tabShift;
        part.firstLine = static_cast<int>(m_lines.size());
        std::unique_ptr<QTextLayout> layout;
        qsizetype window = kWindowLength;
        for (;;) {
            qsizetype stop = end - start > window ? start + window : end;
            // Never between the halves of a surrogate pair.
            if (stop < end && QChar::isHighSurrogate(text.at(stop - 1).unicode()))
                ++stop;
            part.stop = stop;
            layout = makePartLayout(p, start, stop, tabShift);
            layout->beginLayout();
            for (;;) {
                QTextLine line = layout->createLine();
                if (!line.isValid())
                    break;
                const int number = n + part.lineCount;
                const double indent = number == 0 ? p.firstIndent : p.headIndent;
                line.setLeadingIncluded(true);
                line.setLineWidth(std::max(0.0, width - indent));
                const qsizetype lineEnd = start + line.textStart() + line.textLength();
                // A line that runs to the end of a window may go on past it: the next window
                // lays it out again from its start.
                if (stop < end && lineEnd >= stop)
                    break;
                const double natural = line.height();
                const double fragment = natural * multiple;
                // Extra line height goes above the glyphs: the baseline keeps its place at the
                // foot of the line, so a taller line spaces text apart without moving it down.
                line.setPosition(QPointF(indent, y + (fragment - natural)));
                Line l;
                l.part = partIndex;
                l.qtLine = line.lineNumber();
                l.first = number == 0;
                l.top = y;
                l.height = fragment;
                l.natural = natural;
                l.indent = indent;
                l.characters = ZNFRange{start + line.textStart(), line.textLength()};
                l.overhang = lastGlyphOverhang(l.characters);
                const QRectF rect = line.naturalTextRect();
                l.naturalLeft = rect.left();
                l.naturalRight = rect.right();
                l.naturalWidth = line.naturalTextWidth();
                m_lines.push_back(l);
                m_tallestLine = std::max(m_tallestLine, std::max(natural, fragment));
                y += fragment;
                ++part.lineCount;
                // Lines after the first start at another indent: when they hold tabs, they get
                // a window of their own whose stops are moved by that indent.
                if (number == 0 && p.headIndent != p.firstIndent && lineEnd < end &&
                    QStringView(text).mid(lineEnd, end - lineEnd).contains(QLatin1Char('\t')))
                    break;
            }
            layout->endLayout();
            if (part.lineCount > 0 || stop >= end)
                break;
            // Not one whole line fitted in the window: try a wider one.
            window *= 2;
        }
        m_parts.push_back(part);
        // The first windows stay laid out while there is room: they are what a label shows first.
        cachePart(partIndex, std::move(layout), false);
        // The next window starts where the last line kept from this one ends.
        const qsizetype reached = part.lineCount > 0 ? m_lines.back().characters.end() : end;
        if (reached >= end)
            break;
        n += part.lineCount;
        start = reached;
    }
    m_lines.back().last = true;
}

void ZNFTextLayout::cachePart(int part, std::unique_ptr<QTextLayout> layout, bool evict) const {
    const Part& p = m_parts[static_cast<std::size_t>(part)];
    const qsizetype size = p.stop - p.start;
    auto full = [&] {
        return static_cast<int>(m_cache.size()) >= kCachedParts ||
               m_cachedCharacters + size > kCachedCharacters;
    };
    if (!evict && full())
        return;
    while (!m_cache.empty() && full()) {
        const auto oldest =
            std::min_element(m_cache.begin(), m_cache.end(),
                             [](const CachedPart& a, const CachedPart& b) { return a.lastUse < b.lastUse; });
        const Part& gone = m_parts[static_cast<std::size_t>(oldest->part)];
        m_cachedCharacters -= gone.stop - gone.start;
        m_cache.erase(oldest);
    }
    m_cachedCharacters += size;
    m_cache.push_back(CachedPart{part, ++m_useCount, std::move(layout)});
}

const QTextLayout& ZNFTextLayout::partLayout(int part) const {
    for (CachedPart& cached : m_cache) {
        if (cached.part == part) {
            cached.lastUse = ++m_useCount;
            return *cached.layout;
        }
    }
    // Laid out again exactly as the first time: the same text, options, widths and positions
    // give Qt's same line breaks.
    const Part& p = m_parts[static_cast<std::size_t>(part)];
    const Paragraph& paragraph = m_paragraphs[static_cast<std::size_t>(p.paragraph)];
    auto layout = makePartLayout(paragraph, p.start, p.stop, p.tabShift);
    const double width = m_containerSize.width();
    layout->beginLayout();
    for (int i = 0; i < p.lineCount; ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(p.firstLine + i)];
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLeadingIncluded(true);
        line.setLineWidth(std::max(0.0, width - l.indent));
        line.setPosition(QPointF(l.indent, l.top + (l.height - l.natural)));
    }
    layout->endLayout();
    const QTextLayout& made = *layout;
    cachePart(part, std::move(layout), true);
    return made;
}

QTextLine ZNFTextLayout::qtLineOf(const Line& line) const {
    return partLayout(line.part).lineAt(line.qtLine);
}

const ZNFTextLayout::Paragraph& ZNFTextLayout::paragraphOf(const Line& line) const {
    const Part& part = m_parts[static_cast<std::size_t>(line.part)];
    return m_paragraphs[static_cast<std::size_t>(part.paragraph)];
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

int ZNFTextLayout::firstLineReaching(qsizetype index) const {
    // Lines follow the characters, so the owned ends grow with the line number.
    const auto it = std::partition_point(m_lines.begin(), m_lines.end(), [&](const Line& l) {
        const qsizetype owned = l.characters.end() + (l.last ? paragraphOf(l).separatorLength : 0);
        return owned < index;
    });
    return static_cast<int>(it - m_lines.begin());
}

QRectF ZNFTextLayout::boundingRectForCharacterRange(ZNFRange range) const {
    const qsizetype start = std::max<qsizetype>(0, range.location);
    const qsizetype end = std::min(m_string.length(), range.location + std::max<qsizetype>(0, range.length));
    bool any = false;
    double left = 0, right = 0, top = 0, bottom = 0;
    for (int i = firstLineReaching(start); i < lineCount(); ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(i)];
        if (l.characters.location > end)
            break;
        // A line owns its characters and, on a paragraph's last line, the separator after them.
        const qsizetype owned = l.characters.end() + (l.last ? paragraphOf(l).separatorLength : 0);
        const qsizetype s = std::max(start, l.characters.location);
        const qsizetype e = std::min(end, owned);
        if (s > e || (s == e && !(l.characters.length == 0 && s < owned)))
            continue;
        double x1 = 0, x2 = 0;
        if (s <= l.characters.location && e >= l.characters.end()) {
            // The whole line, the common case of measuring: no Qt layout needed.
            x1 = l.naturalLeft;
            x2 = l.naturalRight;
        } else {
            const Part& part = m_parts[static_cast<std::size_t>(l.part)];
            const QTextLine line = qtLineOf(l);
            x1 = line.cursorToX(static_cast<int>(s - part.start));
            x2 = line.cursorToX(static_cast<int>(std::min(e, l.characters.end()) - part.start));
            if (x1 > x2)
                std::swap(x1, x2);
        }
        // Spaces left hanging at a wrap do not widen the text; the last glyph's overhang does.
        if (e >= l.characters.end())
            x2 = std::max(x1, l.naturalRight + l.overhang);
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
    for (const Line& l : m_lines)
        width = std::max(width, l.indent + l.naturalWidth + l.overhang);
    return width;
}

qint64 ZNFTextLayout::characterIndexNearestPoint(const QPointF& point, QRectF* glyphRect) const {
    if (glyphRect)
        *glyphRect = QRectF();
    const int candidates = m_fittingLines;
    if (candidates == 0)
        return ZNFNotFound;
    // The line under the point, else the nearest one (the upper one of two equally near): lines
    // go down the container.
    const auto begin = m_lines.begin();
    const auto below = std::partition_point(begin, begin + candidates,
                                            [&](const Line& l) { return l.top + l.height <= point.y(); });
    int best = static_cast<int>(below - begin);
    if (best == candidates) {
        --best;
    } else if (best > 0 && point.y() < below->top) {
        const Line& above = m_lines[static_cast<std::size_t>(best - 1)];
        if (point.y() - (above.top + above.height) + 1e-9 <= below->top - point.y())
            --best;
    }
    const Line& l = m_lines[static_cast<std::size_t>(best)];
    const Paragraph& p = paragraphOf(l);
    const Part& part = m_parts[static_cast<std::size_t>(l.part)];
    const QTextLayout& layout = partLayout(l.part);
    const QTextLine line = layout.lineAt(l.qtLine);
    if (l.characters.length == 0) {
        // An empty paragraph's only glyph is its separator's.
        const double x = line.cursorToX(0);
        if (glyphRect)
            *glyphRect = QRectF(x, l.top, 0, l.height);
        return p.separatorLength > 0 ? l.characters.location : ZNFNotFound;
    }
    const int lineStart = static_cast<int>(l.characters.location - part.start);
    const int lineEnd = lineStart + static_cast<int>(l.characters.length);
    int nearest = lineStart;
    QRectF nearestRect;
    double nearestDistance = std::numeric_limits<double>::max();
    for (int a = lineStart; a < lineEnd;) {
        int b = layout.nextCursorPosition(a);
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
    return part.start + nearest;
}

void ZNFTextLayout::draw(QPainter& painter, const QPointF& origin) const {
    painter.save();
    // Only the lines that reach into the area being painted: a long text in a tall view is
    // painted a screenful at a time. Glyphs may stand out of their line fragment by up to a
    // line's height (a line height multiple below 1 moves them up).
    int from = 0, to = m_fittingLines;
    if (painter.hasClipping()) {
        const QRectF clip = painter.clipBoundingRect().translated(-origin);
        const auto begin = m_lines.begin();
        from = static_cast<int>(std::partition_point(begin, begin + to,
                                                     [&](const Line& l) {
                                                         return l.top + l.height + m_tallestLine < clip.top();
                                                     }) -
                                begin);
        to = static_cast<int>(
            std::partition_point(begin + from, begin + to,
                                 [&](const Line& l) { return l.top - m_tallestLine <= clip.bottom(); }) -
            begin);
    }
    for (int i = from; i < to; ++i) {
        const Line& l = m_lines[static_cast<std::size_t>(i)];
        if (l.characters.length == 0)
            continue;
        const QTextLine line = qtLineOf(l);
        const qsizetype base = m_parts[static_cast<std::size_t>(l.part)].start;
        const double lineRight = l.naturalRight;

        // Highlights first, over the whole line fragment height.
        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            if (!a->backgroundColor || a->backgroundColor->alpha() == 0)
                return;
            double x1 = line.cursorToX(static_cast<int>(piece.location - base));
            double x2 = line.cursorToX(static_cast<int>(piece.end() - base));
            if (x1 > x2)
                std::swap(x1, x2);
            painter.fillRect(QRectF(origin.x() + x1, origin.y() + l.top, x2 - x1, l.height),
                             *a->backgroundColor);
        });

        m_string.enumerateAttributes(l.characters, [&](const ZNFTextAttributesPtr& a, ZNFRange piece) {
            const auto runs =
                line.glyphRuns(static_cast<int>(piece.location - base), static_cast<int>(piece.length));
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
                    double x1 = line.cursorToX(static_cast<int>(seg.location - base));
                    double x2 = line.cursorToX(static_cast<int>(seg.end() - base));
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
