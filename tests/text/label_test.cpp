#include "text/ZNFLabel.h"
#include "text/ZNFTextFormatter.h"
#include "text/ZNFTextLayout.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <cmath>
#include <gtest/gtest.h>

namespace {

ZNFTextAttributes styled(double size, QColor color = Qt::black) {
    ZNFTextAttributes a;
    a.font = ZNFFont::systemFont(size);
    a.foregroundColor = color;
    return a;
}

// Text in a paragraph style read the way the screens read it.
ZNFTextAttributes paragraph(const QVariantMap& info, double size = 15) {
    ZNFTextAttributes a = styled(size);
    a.paragraphStyle = ZNFTextFormatter::paragraphStyleFromInfo(info);
    return a;
}

QRectF used(const QString& text, const ZNFTextAttributes& a, double width = 500) {
    return ZNFTextLayout(ZNFAttributedString(text, a), QSizeF(width, ZNFTextLayout::UnlimitedHeight))
        .usedRect();
}

const QString kParagraph = QStringLiteral(
    "Notes move from this computer to the phone in one archive. Every picture travels with its note, and the "
    "dates stay as they were.");

// The label's pixels, painted as the window would.
QImage render(ZNFLabel& label) {
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& match) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (match(image.pixelColor(x, y)))
                ++n;
    return n;
}

bool reddish(QColor c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}
bool bluish(QColor c) {
    return c.blue() > 180 && c.red() < 90 && c.green() < 90;
}

} // namespace

TEST(LabelMeasuring, RoundsUpAndSurvivesHostileSizes) {
    const ZNFEdgeInsets five{5, 5, 5, 5};
    EXPECT_EQ(ZNFTextStorage::sizeForTextSize(QSizeF(100.2, 30.4), 300, five, false), QSizeF(111, 41));
    EXPECT_EQ(ZNFTextStorage::sizeForTextSize(QSizeF(100.2, 30.4), 300, five, true), QSizeF(300, 41));
    // The fill convention's largest double survives instead of turning into infinity.
    const double fill = std::numeric_limits<double>::max();
    EXPECT_EQ(ZNFTextStorage::sizeForTextSize(QSizeF(10, 10), fill, five, true).width(), fill);

    const ZNFAttributedString text(QStringLiteral("Send Wirelessly"), styled(17));
    // An empty text measures as its insets; a width narrower than the insets does not crash.
    EXPECT_EQ(ZNFLabel::sizeWithWidth(300, ZNFAttributedString(), ZNFEdgeInsets{1, 2, 3, 4}, false),
              QSizeF(6, 4));
    EXPECT_GT(ZNFLabel::sizeWithWidth(4, text, five, false).height(), 0);
    EXPECT_GT(ZNFLabel::sizeWithWidth(std::nan(""), text, five, false).height(), 0);
    // A style with numbers past any sense is held to what the text system lays out: it measures
    // as the largest font does, not as nothing.
    const QVariantMap absurd{
        {"fontWeight", "regular"}, {"fontSize", 1e300}, {"lineHeight", 1e300}, {"tabs", QVariantList{1e300}}};
    const ZNFAttributedString tabbed(QStringLiteral("A\tB"),
                                     ZNFTextFormatter().attributesFromDictionary(absurd));
    const QSizeF huge = ZNFLabel::sizeWithWidth(3000, tabbed, {});
    EXPECT_TRUE(huge.height() > ZNFLargestFontSize && std::isfinite(huge.height()));
    // Negative insets set in code never make a negative size.
    EXPECT_EQ(ZNFLabel::sizeWithWidth(300, ZNFAttributedString(), ZNFEdgeInsets{-9, -9, -9, -9}, false),
              QSizeF(0, 0));
}

TEST(LabelMeasuring, MeasuredSizeDrawsInTheSameLines) {
    const ZNFTextAttributes big =
        paragraph({{"align", "center"}, {"lineHeight", 1.3}, {"paragraphSpacing", 7}}, 19);
    ZNFTextAttributes kerned = styled(13);
    kerned.kern = 1.25;
    const ZNFTextAttributes hanging = paragraph({{"tabs", QVariantList{36.5, 120}}}, 14);
    ZNFTextAttributes centredHanging = paragraph({{"tabs", QVariantList{22}}, {"align", "center"}}, 11);
    centredHanging.font = ZNFFont::systemFont(11, ZNFFontWeight::UltraLight);
    centredHanging.foregroundColor = QColor(Qt::blue);

    std::vector<ZNFAttributedString> texts;
    texts.emplace_back(kParagraph, styled(15));
    texts.emplace_back(kParagraph + "\n\n" + kParagraph, big);
    texts.emplace_back(
        QStringLiteral("1.\tA hanging indent keeps the wrapped lines of this item under its text, "
                       "not under its number."),
        hanging);
    ZNFAttributedString mixed(QStringLiteral("Mixed "), styled(12));
    mixed.appendString(QStringLiteral("sizes and kerning "), kerned);
    mixed.appendString(kParagraph, styled(22, Qt::red));
    texts.push_back(mixed);
    texts.emplace_back(QStringLiteral("Averyveryveryverylongwordthatcannotbreakanywhereatallinthiswidth"),
                       styled(16));
    texts.emplace_back(kParagraph, centredHanging);
    // Words longer than many lines, alone and among others: laid out in windows.
    texts.emplace_back(QString(5000, QLatin1Char('x')), styled(15));
    texts.emplace_back(
        kParagraph + QString(3000, QLatin1Char('y')) + QLatin1Char(' ') + kParagraph.repeated(9), styled(15));
    texts.emplace_back(QStringLiteral("1.\t") + QString(2500, QLatin1Char('z')) + QStringLiteral("\tend"),
                       hanging);

    const ZNFEdgeInsets insets{6, 11.5, 4, 9.25};
    for (const ZNFAttributedString& text : texts) {
        // Fractional widths too: rounding up must not hand the label room for more per line.
        for (double width = 60; width <= 640; width += 37.3) {
            const bool fill = int(width) % 2;
            const QSizeF size = ZNFLabel::sizeWithWidth(width, text, insets, fill);
            EXPECT_LE(size.width(), width);
            const ZNFTextLayout atWidth(
                text, QSizeF(width - insets.left - insets.right, ZNFTextLayout::UnlimitedHeight));
            ZNFLabel label(text, QRectF(QPointF(0, 0), size));
            label.setInsets(insets);
            label.setupLayoutManager();
            const ZNFTextLayout* drawn = label.layoutManager();
            ASSERT_NE(drawn, nullptr);
            SCOPED_TRACE(QStringLiteral("%1 at %2").arg(text.string().left(20)).arg(width).toStdString());
            EXPECT_EQ(drawn->lineCount(), atWidth.lineCount());
            EXPECT_EQ(drawn->lineCountFittingContainer(), drawn->lineCount());
            for (int i = 0; i < drawn->lineCount(); ++i)
                EXPECT_EQ(drawn->characterRangeOfLine(i), atWidth.characterRangeOfLine(i));
            // A plain paragraph breaks where Qt breaks it as a whole, windows or not.
            if (text.runs().size() == 1 && *text.runs().front().attributes == styled(15)) {
                QTextLayout whole(text.string(), text.runs().front().attributes->font->qfont());
                QTextOption option;
                option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                whole.setTextOption(option);
                whole.beginLayout();
                int n = 0;
                for (QTextLine line = whole.createLine(); line.isValid(); line = whole.createLine(), ++n) {
                    line.setLineWidth(width - insets.left - insets.right);
                    EXPECT_EQ(atWidth.characterRangeOfLine(n),
                              (ZNFRange{line.textStart(), line.textLength()}));
                }
                whole.endLayout();
                EXPECT_EQ(atWidth.lineCount(), n);
            }
        }
    }
}

TEST(LabelLayout, ParagraphSettingsShapeTheText) {
    EXPECT_NEAR(used("One", paragraph({{"lineHeight", 2.0}})).height(), 2 * used("One", styled(15)).height(),
                0.01);
    // Paragraph spacing goes between paragraphs, not after the last one.
    const ZNFTextAttributes spaced = paragraph({{"paragraphSpacing", 10}});
    EXPECT_NEAR(used("a\nb", spaced).height() - used("a\nb", styled(15)).height(), 10, 0.01);
    EXPECT_EQ(ZNFTextLayout(ZNFAttributedString("a\n", spaced), QSizeF(500, 1e9)).lineCount(), 1);
    // Alignment: right-aligned text ends at the container's edge, centred text sits in the middle.
    EXPECT_NEAR(used("Back", paragraph({{"align", "right"}}), 300).right(), 300, 0.5);
    EXPECT_NEAR(used("Back", paragraph({{"align", "center"}}), 300).center().x(), 150, 0.5);

    // Tabs stop at the given points; the hanging indent starts wrapped lines at the first stop.
    const ZNFAttributedString list(
        QStringLiteral("1.\tFirst item that goes on long enough to wrap onto more lines"),
        paragraph({{"tabs", QVariantList{40, 120}}}, 14));
    const ZNFTextLayout tabs(list, QSizeF(200, 1e9));
    ASSERT_GT(tabs.lineCount(), 1);
    EXPECT_NEAR(tabs.boundingRectForCharacterRange({3, 1}).left(), 40, 0.5);
    EXPECT_NEAR(tabs.boundingRectForCharacterRange({0, 1}).left(), 0, 0.5);
    EXPECT_NEAR(tabs.boundingRectForCharacterRange({tabs.characterRangeOfLine(1).location, 1}).left(), 40,
                0.5);

    // Stops are measured from the container's edge on wrapped, indented lines too.
    const QString wrapped = QStringLiteral("1.\taaaa bbbb cccc dddd ee\tT");
    const ZNFTextLayout stopped(
        ZNFAttributedString(wrapped, paragraph({{"tabs", QVariantList{40, 120, 200}}}, 14)),
        QSizeF(130, 1e9));
    ASSERT_EQ(stopped.lineCount(), 3);
    EXPECT_NEAR(stopped.boundingRectForCharacterRange({wrapped.indexOf('e'), 1}).left(), 40, 0.5);
    EXPECT_NEAR(stopped.boundingRectForCharacterRange({wrapped.indexOf('T'), 1}).left(), 120, 0.5);

    // Kerning widens the text by its amount per character.
    ZNFTextAttributes kern = styled(15);
    kern.kern = 2;
    // The last character's spacing may hang off the end.
    EXPECT_NEAR(used("abcdef", kern).width() - used("abcdef", styled(15)).width(), 10, 2.1);

    // Colours and decorations never change geometry.
    ZNFTextAttributes loud = styled(15, Qt::red);
    loud.underlineStyle = ZNFLineStyle::Double;
    loud.backgroundColor = QColor(Qt::yellow);
    ZNFAttributedString split(QStringLiteral("AVATAR WAVE"), styled(15));
    split.setAttributes(loud, {1, 3});
    EXPECT_EQ(ZNFTextLayout(split, QSizeF(500, 1e9)).usedRect(), used("AVATAR WAVE", styled(15)));
}

TEST(LabelHitTesting, FuzzinessInsetsAndMisses) {
    ZNFAttributedString text(QStringLiteral("Hello"), styled(20));
    text.setAttributes(styled(20, Qt::red), {4, 1});
    ZNFLabel label(text, QRectF(0, 0, 300, 60));
    label.setInsets({5, 7, 5, 7});
    const QRectF last = label.rectForCharacterAtIndex(4);
    ASSERT_FALSE(last.isNull());
    EXPECT_GT(last.left(), 7);
    EXPECT_GE(last.top(), 5);
    const QPointF mid(last.right(), last.center().y());
    EXPECT_EQ(label.characterIndexAtPoint(mid + QPointF(8, 0)), 4);
    EXPECT_EQ(*label.attributesAtPoint(mid + QPointF(8, 0))->foregroundColor, QColor(Qt::red));
    EXPECT_EQ(label.characterIndexAtPoint(mid + QPointF(12, 0)), ZNFNotFound);
    EXPECT_EQ(label.attributesAtPoint(mid + QPointF(12, 0)), nullptr);
    // Smaller fuzziness, smaller reach.
    EXPECT_EQ(label.characterIndexAtPoint(mid + QPointF(8, 0), QSizeF(4, 4)), ZNFNotFound);
    // A click in the insets above and left of the text is moved to the text's origin.
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(1, 1)), 0);
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(-50, -50)), 0);
    // Below the line by more than the fuzziness: nothing.
    const double e = label.rectForCharacterAtIndex(1).center().x();
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(e, last.bottom() + 11)), ZNFNotFound);
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(e, last.bottom() + 9)), 1);
    // A label without text hits nothing.
    ZNFLabel empty(QRectF(0, 0, 100, 100));
    EXPECT_EQ(empty.characterIndexAtPoint(QPointF(1, 1)), ZNFNotFound);
    EXPECT_TRUE(empty.rectForCharacterAtIndex(0).isNull());
    EXPECT_TRUE(label.rectForCharacterAtIndex(5).isNull() && label.rectForCharacterAtIndex(-1).isNull());
}

TEST(LabelHitTesting, MultipleLinesAndParagraphs) {
    const ZNFAttributedString text(QStringLiteral("alpha beta\n\ngamma"), styled(16));
    ZNFLabel label(text, QRectF(0, 0, 400, 200));
    EXPECT_EQ(label.characterIndexAtPoint(label.rectForCharacterAtIndex(12).center()), 12);
    // The empty middle paragraph answers with its separator.
    const QRectF sep = label.rectForCharacterAtIndex(11);
    EXPECT_GT(sep.top(), label.rectForCharacterAtIndex(0).bottom() - 0.01);
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(0, sep.center().y())), 11);
    // Past the end of the first line: its last glyph, within the fuzziness.
    const QRectF a = label.rectForCharacterAtIndex(9);
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(a.right() + 3, a.center().y())), 9);
}

TEST(LabelLayoutLifecycle, FollowsNewTextFrameAndInsets) {
    const ZNFAttributedString text(kParagraph, styled(15));
    ZNFLabel label(text, QRectF(0, 0, 800, 300));
    label.setupLayoutManager();
    const int wide = label.layoutManager()->lineCount();
    EXPECT_EQ(wide, 2);
    // New text after a frame change is laid out for the new bounds.
    label.setFrame(QRectF(0, 0, 200, 300));
    label.setAttributedString(text);
    EXPECT_EQ(label.layoutManager(), nullptr);
    label.setupLayoutManager();
    const int narrow = label.layoutManager()->lineCount();
    EXPECT_GT(narrow, wide);
    // A frame or inset change alone lays the text out again too, on the next use.
    label.setFrame(QRectF(0, 0, 800, 300));
    EXPECT_EQ(label.characterIndexAtPoint(QPointF(1, 1)), 0);
    EXPECT_EQ(label.layoutManager()->lineCount(), wide);
    label.setInsets({0, 300, 0, 300});
    label.setupLayoutManager();
    EXPECT_EQ(label.layoutManager()->lineCount(), narrow);
    // Its text is the accessibility name.
    EXPECT_EQ(label.accessibleName(), kParagraph);
}

TEST(LabelDrawing, ColoursHighlightAndUnderlineReachThePixels) {
    // Styled the way the screens style text: through the formatter.
    ZNFTextFormatter formatter;
    formatter.registerKeyedAttributes(
        {{"base", QVariantMap{{"fontWeight", "regular"}, {"fontSize", 24}}},
         {"red", QVariantMap{{"template", "base"}, {"color", "#FF0000"}}},
         {"link", QVariantMap{{"template", "base"},
                              {"color", "rgba(0, 0, 255, 1)"},
                              {"underline", "single"},
                              {"underlineColor", "#00C800"}}},
         {"mark", QVariantMap{{"template", "base"}, {"highlight", "#FFFF00"}}}});
    ZNFAttributedString text(QStringLiteral("Red "), formatter.attributesForKey("red"));
    const ZNFTextAttributes blue = *formatter.attributesForKey("link");
    text.appendAttributedString(
        ZNFAttributedString(QStringLiteral("blue"), formatter.attributesForKey("link")));
    text.appendAttributedString(
        ZNFAttributedString(QStringLiteral(" mark"), formatter.attributesForKey("mark")));

    ZNFLabel label(text, QRectF(0, 0, 360, 60));
    label.setInsets({10, 12, 0, 0});
    const QImage image = render(label);
    const QRect red = label.rectForCharacterAtIndex(0).toAlignedRect();
    const QRectF blueBox = label.rectForCharacterAtIndex(4).united(label.rectForCharacterAtIndex(7));
    EXPECT_GT(countPixels(image, red, reddish), 10);
    EXPECT_EQ(countPixels(image, red, bluish), 0);
    EXPECT_GT(countPixels(image, blueBox.toAlignedRect(), bluish), 10);
    // Nothing is drawn in the insets.
    EXPECT_EQ(countPixels(image, QRect(0, 0, 360, 10), [](QColor c) { return c != QColor(Qt::white); }), 0);
    EXPECT_EQ(countPixels(image, QRect(0, 0, 12, 60), [](QColor c) { return c != QColor(Qt::white); }), 0);

    // The underline: a green row below the baseline across the blue word only.
    const QFontMetricsF metrics(blue.font->qfont());
    const ZNFTextLayout* layout = label.layoutManager();
    ASSERT_NE(layout, nullptr);
    const double baseline = 10 + layout->lineFragmentRect(0).top() + metrics.ascent();
    auto green = [](QColor c) { return c.green() > 150 && c.red() < 80 && c.blue() < 80; };
    const QRect underlineBand(qRound(blueBox.left()) + 2, qFloor(baseline), qRound(blueBox.width()) - 4,
                              qCeil(metrics.descent()));
    EXPECT_GT(countPixels(image, underlineBand, green), underlineBand.width() / 2);
    const QRect redBand(red.left(), qFloor(baseline), red.width(), qCeil(metrics.descent()));
    EXPECT_EQ(countPixels(image, redBand, green), 0);

    // The highlight fills behind its glyphs.
    const QRectF markBox = label.rectForCharacterAtIndex(9).united(label.rectForCharacterAtIndex(12));
    auto yellow = [](QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() < 60; };
    EXPECT_GT(countPixels(image, markBox.toAlignedRect(), yellow),
              int(markBox.width() * markBox.height() / 3));
    EXPECT_EQ(countPixels(image, red, yellow), 0);
}

TEST(LabelDrawing, LinesThatDoNotFitAreNotDrawn) {
    const ZNFAttributedString text(QStringLiteral("first\nsecond"), styled(20, Qt::red));
    const QSizeF one = ZNFLabel::sizeWithWidth(200, ZNFAttributedString("first", styled(20)), {});
    // The bottom inset is not taken off the container: a line may run into it.
    ZNFLabel label(text, QRectF(0, 0, 200, one.height() + 4));
    label.setInsets({0, 0, 20, 0});
    const QImage image = render(label);
    label.setupLayoutManager();
    EXPECT_EQ(label.layoutManager()->lineCountFittingContainer(), 1);
    EXPECT_GT(countPixels(image, QRect(0, 0, 200, int(one.height())), reddish), 10);
    EXPECT_EQ(countPixels(image, QRect(0, int(one.height()), 200, 4), reddish), 0);

    // A tall label is painted a band at a time, as a scrolled view exposes it: each band shows
    // its own lines.
    const ZNFAttributedString tall(QStringLiteral("line\n").repeated(400), styled(20, Qt::red));
    ZNFLabel column(tall, QRectF(QPointF(0, 0), ZNFLabel::sizeWithWidth(200, tall, {})));
    for (const int top : {0, int(column.height()) / 2, int(column.height()) - 60}) {
        QImage band(200, 60, QImage::Format_ARGB32);
        band.fill(Qt::white);
        column.render(&band, QPoint(), QRegion(0, top, 200, 60), QWidget::DrawChildren);
        EXPECT_GT(countPixels(band, band.rect(), reddish), 10) << top;
    }
}

TEST(LabelDrawing, LineStylesPatternsAndThickness) {
    // The red of a label whose only red is its underline or strikethrough: all of it, the most in
    // one row, and of the rows at least a quarter covered the first and how many bands they form.
    struct Red {
        int total = 0, widest = 0, firstFull = 1000, bands = 0;
    };
    auto red = [](qint64 style, bool underline = true) {
        ZNFTextAttributes a = styled(30, Qt::white);
        (underline ? a.underlineStyle : a.strikethroughStyle) = style;
        (underline ? a.underlineColor : a.strikethroughColor) = QColor(Qt::red);
        ZNFLabel label(ZNFAttributedString(QStringLiteral("mmmmmmmm"), a), QRectF(0, 0, 300, 60));
        const QImage image = render(label);
        Red out;
        for (int y = 0, previous = 0; y < image.height(); ++y) {
            const int n = countPixels(image, QRect(0, y, image.width(), 1), reddish);
            out.total += n;
            out.widest = std::max(out.widest, n);
            if (n >= image.width() / 4 && previous < image.width() / 4) {
                ++out.bands;
                out.firstFull = std::min(out.firstFull, y);
            }
            previous = n;
        }
        return out;
    };
    EXPECT_EQ(red(ZNFLineStyle::PatternDash).total, 0); // a pattern alone draws no line
    EXPECT_EQ(red(ZNFLineStyle::ByWord).total, 0);
    const Red single = red(ZNFLineStyle::Single);
    EXPECT_GT(single.widest, 150);
    EXPECT_EQ(single.bands, 1);
    EXPECT_GT(red(ZNFLineStyle::Thick).total, single.total * 3 / 2);
    EXPECT_EQ(red(ZNFLineStyle::Double).bands, 2);
    const Red dashed = red(ZNFLineStyle::Single | ZNFLineStyle::PatternDash);
    EXPECT_GT(dashed.total, 0);
    EXPECT_LT(dashed.widest, single.widest * 9 / 10);
    // Strikethrough sits above the underline, through the glyphs.
    EXPECT_LT(red(ZNFLineStyle::Single, false).firstFull + 5, single.firstFull);

    // "By word" leaves the blanks between words bare.
    ZNFTextAttributes words = styled(30, Qt::white);
    words.underlineStyle = ZNFLineStyle::Single | ZNFLineStyle::ByWord;
    words.underlineColor = QColor(Qt::red);
    ZNFLabel label(ZNFAttributedString(QStringLiteral("mm      mm"), words), QRectF(0, 0, 300, 60));
    const QImage image = render(label);
    const QRectF gap = label.rectForCharacterAtIndex(3).united(label.rectForCharacterAtIndex(6));
    const QRectF word = label.rectForCharacterAtIndex(0).united(label.rectForCharacterAtIndex(1));
    EXPECT_GT(countPixels(image, word.toAlignedRect(), reddish), 10);
    EXPECT_EQ(countPixels(image, gap.toAlignedRect(), reddish), 0);
}

TEST(LabelDrawing, LetterpressLeavesALightImpressionBelowTheGlyphs) {
    auto lightPixels = [](bool letterpress) {
        ZNFTextAttributes a = styled(30, QColor(40, 40, 40));
        if (letterpress)
            a.textEffect = QString(ZNFTextEffectLetterpressStyle);
        ZNFLabel label(ZNFAttributedString(QStringLiteral("Tessanote"), a), QRectF(0, 0, 300, 60));
        label.setBackgroundColor(QColor(90, 90, 90));
        return countPixels(render(label), QRect(0, 0, 300, 60), [](QColor c) { return c.lightness() > 150; });
    };
    EXPECT_EQ(lightPixels(false), 0);
    EXPECT_GT(lightPixels(true), 20);
}

TEST(LabelRobustness, UnusualTextMeasuresDrawsAndHitTests) {
    const QStringList texts = {
        QStringLiteral("\r\n\r\n"),
        QStringLiteral("line\u2028break and\u2029paragraph\rold mac\r\nwindows"),
        QStringLiteral("\t\t\t"),
        QStringLiteral("emoji \U0001F600\U0001F44D\U0001F3FD and combining e\u0301\u0301"),
        QStringLiteral("\u05E9\u05DC\u05D5\u05DD mixed with English \u0645\u0631\u062D\u0628\u0627"),
        QString(2000, QLatin1Char('W')),
        QString(300, QLatin1Char(' ')),
        QStringLiteral("lone surrogate ") + QChar(0xD800) + QStringLiteral(" here"),
    };
    const ZNFTextAttributes tabbed = paragraph({{"tabs", QVariantList{500, 20}}}, 14);
    for (const QString& t : texts) {
        for (const ZNFTextAttributes& a : {styled(14), tabbed, ZNFTextAttributes()}) {
            const ZNFAttributedString text(t, a);
            SCOPED_TRACE(t.left(12).toStdString());
            const QSizeF size = ZNFLabel::sizeWithWidth(150, text, {2, 3, 4, 5}, false);
            EXPECT_TRUE(std::isfinite(size.width()) && std::isfinite(size.height()));
            EXPECT_LE(size.width(), 150);
            ZNFLabel label(text, QRectF(QPointF(), size));
            label.setInsets({2, 3, 4, 5});
            render(label);
            const ZNFTextLayout* layout = label.layoutManager();
            ASSERT_NE(layout, nullptr);
            EXPECT_EQ(layout->lineCountFittingContainer(), layout->lineCount());
            for (const QPointF& p : {QPointF(0, 0), QPointF(75, 10), QPointF(1e9, 1e9), QPointF(-1e9, 5)}) {
                const qint64 i = label.characterIndexAtPoint(p);
                EXPECT_TRUE(i == ZNFNotFound || (i >= 0 && i < t.size()));
            }
            for (qsizetype i = 0; i < t.size(); i += 7)
                label.rectForCharacterAtIndex(i);
        }
    }
}
