#include "TestSupport.h"
#include "platform/ZNFValueReading.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextFormatter.h"

#include <QFile>
#include <QFontInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <plist/plist.h>

namespace {

QVariantMap style(std::initializer_list<std::pair<const char*, QVariant>> entries) {
    QVariantMap m;
    for (const auto& [k, v] : entries)
        m.insert(QString::fromLatin1(k), v);
    return m;
}

ZNFTextAttributesPtr attrs(std::initializer_list<std::pair<const char*, QVariant>> entries) {
    return ZNFTextFormatter().attributesFromDictionary(style(entries));
}

// A binary property list of `links` arrays, each holding `refs` references to the next (the
// last to itself when `cycle`), the innermost holding true.
QByteArray binaryChain(int links, int refs, bool cycle = false) {
    auto be = [](quint64 v, int width) {
        QByteArray out(width, '\0');
        for (int i = width - 1; i >= 0; --i, v >>= 8)
            out[i] = char(v & 0xff);
        return out;
    };
    QByteArray bytes("bplist00"), table;
    for (int i = 0; i < links; ++i) {
        table += be(quint64(bytes.size()), 4);
        bytes += char(0xa0 | refs);
        for (int r = 0; r < refs; ++r)
            bytes += be(cycle && i == links - 1 ? quint64(i) : quint64(i + 1), 4);
    }
    table += be(quint64(bytes.size()), 4);
    bytes += char(0x09);
    const quint64 tableOffset = quint64(bytes.size());
    bytes += table + QByteArray(6, '\0') + char(4) + char(4) + be(quint64(links + 1), 8) + be(0, 8) +
             be(tableOffset, 8);
    return bytes;
}

QByteArray nestedXml(int depth, qsizetype padding = 0) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + QByteArray(padding, ' ') +
           QByteArray("<array>").repeated(depth) + "<true/>" + QByteArray("</array>").repeated(depth) +
           "</plist>";
}

void expectColor(const QColor& c, int r, int g, int b, double a = 1.0) {
    EXPECT_EQ(c.red(), r);
    EXPECT_EQ(c.green(), g);
    EXPECT_EQ(c.blue(), b);
    EXPECT_NEAR(c.alphaF(), a, 0.002);
}

} // namespace

TEST(TextFormatterColors, StringSyntaxes) {
    for (const char* orange : {"#FF8000", "ff8000", "  #ff8000 \t", " FF8000\n", "##FF8000"})
        expectColor(ZNFTextFormatter::colorFromString(orange), 255, 128, 0);
    expectColor(ZNFTextFormatter::colorFromString("rgba(255, 128, 0, 0.5)"), 255, 128, 0, 0.5);
    expectColor(ZNFTextFormatter::colorFromString("rgba(255,128,0,1)"), 255, 128, 0, 1.0);
    // Malformed strings are black, never an error.
    for (const char* black : {"#FFF", "#FF800080", "rgba(255,128,0)", "rgb(255,128,0)", "", "blue",
                              "rgba(1,2)", "rgba(1,2,3,4,5)"})
        expectColor(ZNFTextFormatter::colorFromString(black), 0, 0, 0);
    expectColor(ZNFTextFormatter::colorFromString(std::optional<QString>()), 0, 0, 0);
    expectColor(ZNFTextFormatter::colorFromString(QVariant(42)), 0, 0, 0);
    // A pair that does not scan reads 0; digits before a non-digit still count.
    expectColor(ZNFTextFormatter::colorFromString("zz8000"), 0, 128, 0);
    // Out-of-range components are held to the valid range instead of making an invalid colour.
    const QColor wild = ZNFTextFormatter::colorFromString("rgba(300, -5, abc, 7)");
    EXPECT_TRUE(wild.isValid());
    expectColor(wild, 255, 0, 0, 1.0);
}

TEST(TextFormatterTemplates, InheritanceAndChains) {
    ZNFTextFormatter f;
    f.registerKeyedAttributes({
        {"base", style({{"color", "#0000FF"}, {"fontWeight", "bold"}, {"top", 10}, {"fontSize", 20}})},
        {"middle", style({{"template", "base"}, {"color", "#00FF00"}, {"underline", "single"}})},
        {"leaf", style({{"template", "middle"}, {"fontSize", 11}, {"left", 4}})},
        {"orphan", style({{"template", "nowhere"}, {"color", "#FF0000"}})},
        {"loopA", style({{"template", "loopB"}, {"color", "#010203"}})},
        {"loopB", style({{"template", "loopA"}, {"fontWeight", "light"}})},
        {"self", style({{"template", "self"}, {"align", "center"}})},
    });
    const auto leaf = f.attributesForKey("leaf");
    expectColor(*leaf->foregroundColor, 0, 255, 0); // nearer template wins
    ASSERT_TRUE(leaf->font);
    EXPECT_EQ(leaf->font->weight(), ZNFFontWeight::Bold); // from the farther one
    EXPECT_EQ(leaf->font->pointSize(), 11);               // own value wins over both
    EXPECT_EQ(leaf->underlineStyle, ZNFLineStyle::Single);
    EXPECT_EQ(f.insetsForKey("leaf"), (ZNFEdgeInsets{10, 4, 0, 0}));

    const auto orphan = f.attributesForKey("orphan");
    expectColor(*orphan->foregroundColor, 255, 0, 0);
    EXPECT_FALSE(orphan->font);

    // Cycles end at the first repeated name instead of looping.
    const auto a = f.attributesForKey("loopA");
    expectColor(*a->foregroundColor, 1, 2, 3);
    EXPECT_EQ(a->font->weight(), ZNFFontWeight::Light);
    EXPECT_EQ(f.attributesForKey("self")->paragraphStyle->alignment, ZNFTextAlignment::Center);

    // Templates resolve only within the map given to the same registration.
    f.registerKeyedAttributes({{"late", style({{"template", "base"}, {"color", "#111111"}})}});
    EXPECT_FALSE(f.attributesForKey("late")->font);
    EXPECT_TRUE(f.hasStyle("leaf")); // earlier styles stay
}

TEST(TextFormatterLookups, Fallbacks) {
    ZNFTextFormatter f;
    f.registerKeyedAttributes({{"plain", style({{"color", "#102030"}})},
                               {"withBg", style({{"bg", "#FFFFFF"}})},
                               {"emptyBg", style({{"bg", ""}})}});
    expectColor(f.backgroundColorForKey("missing"), 255, 255, 255);
    expectColor(f.backgroundColorForKey("plain"), 0, 0, 0, 0.0);
    expectColor(f.backgroundColorForKey("emptyBg"), 0, 0, 0, 0.0);
    expectColor(f.backgroundColorForKey("withBg"), 255, 255, 255);
    expectColor(f.colorForKey("missing"), 0, 0, 0);
    expectColor(f.colorForKey("plain"), 16, 32, 48);
    EXPECT_EQ(f.insetsForKey("missing"), ZNFEdgeInsetsZero);

    const auto fallback = f.attributesForKey("missing");
    ASSERT_TRUE(fallback);
    ASSERT_TRUE(fallback->font);
    EXPECT_TRUE(fallback->font->isSystemFont());
    EXPECT_EQ(fallback->font->pointSize(), ZNFSystemFontSize);
    EXPECT_FALSE(fallback->foregroundColor);
    EXPECT_FALSE(fallback->paragraphStyle);
    // Lookups hand out the one stored object.
    EXPECT_EQ(f.attributesForKey("plain").get(), f.attributesForKey("plain").get());
}

TEST(TextFormatterFonts, WeightSizeAndName) {
    const auto bold = attrs({{"fontWeight", "bold"}});
    ASSERT_TRUE(bold->font);
    EXPECT_TRUE(bold->font->isSystemFont());
    EXPECT_EQ(bold->font->pointSize(), 18);
    EXPECT_EQ(bold->font->weight(), ZNFFontWeight::Bold);
    EXPECT_EQ(bold->font->qfont().weight(), QFont::Bold);

    const auto capital = attrs({{"fontWeight", "Bold"}, {"fontSize", 12}});
    EXPECT_EQ(capital->font->weight(), ZNFFontWeight::Regular);
    EXPECT_EQ(capital->font->pointSize(), 12);

    const auto both = attrs({{"fontName", "DejaVu Serif"}, {"fontSize", 12}, {"fontWeight", "light"}});
    EXPECT_TRUE(both->font->isSystemFont());
    EXPECT_EQ(both->font->weight(), ZNFFontWeight::Light);

    EXPECT_FALSE(attrs({{"fontSize", 14}})->font);
    EXPECT_FALSE(attrs({{"fontName", "DejaVu Serif"}})->font);
    EXPECT_FALSE(attrs({{"fontName", "No Such Font Anywhere"}, {"fontSize", 14}})->font);

    const auto named = attrs({{"fontName", "DejaVu Serif"}, {"fontSize", "15.5"}});
    ASSERT_TRUE(named->font);
    EXPECT_FALSE(named->font->isSystemFont());
    EXPECT_EQ(named->font->pointSize(), 15.5);
    EXPECT_EQ(named->font->qfont().family(), "DejaVu Serif");
    // One point is one logical pixel.
    EXPECT_NEAR(QFontInfo(named->font->qfont()).pixelSize(), 15.5, 0.6);

    // Sizes past what the text system lays out are held to its largest.
    EXPECT_EQ(attrs({{"fontWeight", "bold"}, {"fontSize", 1e300}})->font->pointSize(), ZNFLargestFontSize);
    EXPECT_EQ(attrs({{"fontName", "DejaVu Serif"}, {"fontSize", "1e300"}})->font->pointSize(),
              ZNFLargestFontSize);
}

TEST(TextFormatterParagraph, AlignmentSpacingAndTabs) {
    EXPECT_EQ(attrs({{"align", "justified"}})->paragraphStyle->alignment, ZNFTextAlignment::Natural);
    EXPECT_EQ(attrs({})->paragraphStyle->alignment, ZNFTextAlignment::Natural);
    EXPECT_EQ(attrs({{"align", "right"}})->paragraphStyle->alignment, ZNFTextAlignment::Right);
    EXPECT_EQ(attrs({{"align", "Center"}})->paragraphStyle->alignment, ZNFTextAlignment::Natural);

    const auto spaced = attrs({{"lineHeight", 1.5}, {"paragraphSpacing", 6}});
    EXPECT_EQ(spaced->paragraphStyle->lineHeightMultiple, 1.5);
    EXPECT_EQ(spaced->paragraphStyle->paragraphSpacing, 6);

    const auto two = attrs({{"tabs", QVariantList{40, 120}}})->paragraphStyle;
    EXPECT_EQ(two->tabStops,
              (std::vector<ZNFTextTab>{{ZNFTextAlignment::Left, 40}, {ZNFTextAlignment::Left, 120}}));
    EXPECT_EQ(two->headIndent, 40);
    EXPECT_EQ(two->firstLineHeadIndent, -40);

    const auto skipped = attrs({{"tabs", QVariantList{"x", 40}}})->paragraphStyle;
    EXPECT_EQ(skipped->tabStops, (std::vector<ZNFTextTab>{{ZNFTextAlignment::Left, 40}}));
    EXPECT_EQ(skipped->headIndent, 0);
    EXPECT_EQ(skipped->firstLineHeadIndent, 0);

    const auto fraction = attrs({{"tabs", QVariantList{40.7}}})->paragraphStyle;
    EXPECT_EQ(fraction->tabStops, (std::vector<ZNFTextTab>{{ZNFTextAlignment::Left, 40}}));
    EXPECT_NEAR(fraction->headIndent, 40.7, 1e-5);

    // Numbers past what the text system lays out are held to a range, and logged.
    LogCapture log;
    const auto wild = attrs({{"tabs", QVariantList{1e300, -40}},
                             {"lineHeight", 1e300},
                             {"paragraphSpacing", 1e300},
                             {"characterSpacing", -1e300}});
    EXPECT_EQ(wild->paragraphStyle->tabStops,
              (std::vector<ZNFTextTab>{{ZNFTextAlignment::Left, 10000}, {ZNFTextAlignment::Left, 0}}));
    EXPECT_EQ(wild->paragraphStyle->headIndent, 10000);
    EXPECT_EQ(wild->paragraphStyle->lineHeightMultiple, 100);
    EXPECT_EQ(wild->paragraphStyle->paragraphSpacing, 10000);
    EXPECT_EQ(wild->kern, -1000);
    EXPECT_TRUE(log.contains(QStringLiteral("Style value tabs 1e+300 is out of range; 10000 is used")));

    // Not an array: the default stops stay.
    EXPECT_EQ(attrs({{"tabs", 40}})->paragraphStyle->tabStops, ZNFParagraphStyle::defaultTabStops());
    EXPECT_EQ(attrs({{"tabs", QVariantList{}}})->paragraphStyle->tabStops.size(), 0u);
}

TEST(TextFormatterDecorations, LineStylesAndBoxKeys) {
    const auto dbl = attrs({{"underline", "double"}, {"underlineColor", "#FF0000"}});
    EXPECT_EQ(dbl->underlineStyle, 9);
    expectColor(*dbl->underlineColor, 255, 0, 0);
    const auto colourOnly = attrs({{"underlineColor", "#FF0000"}});
    EXPECT_FALSE(colourOnly->underlineStyle);
    EXPECT_FALSE(colourOnly->underlineColor);
    EXPECT_EQ(attrs({{"underline", "dash"}})->underlineStyle, 512);
    EXPECT_EQ(attrs({{"strikethrough", "thick"}})->strikethroughStyle, 2);
    EXPECT_FALSE(attrs({{"underline", "wavy"}})->underlineStyle);
    EXPECT_FALSE(attrs({{"underline", 1}})->underlineStyle);

    const auto box = attrs({{"borderWidth", 2},
                            {"borderColor", "#00FF00"},
                            {"cornerRadius", 8},
                            {"maxFontSize", 30},
                            {"characterSpacing", 1.5},
                            {"letterpress", true},
                            {"highlight", "#FFFF00"}});
    EXPECT_EQ(box->borderWidth, 2);
    expectColor(*box->borderColor, 0, 255, 0);
    EXPECT_EQ(box->cornerRadius, 8);
    EXPECT_EQ(box->maxFontSize, 30);
    EXPECT_EQ(box->kern, 1.5);
    EXPECT_EQ(box->textEffect, QString(ZNFTextEffectLetterpressStyle));
    expectColor(*box->backgroundColor, 255, 255, 0);
    EXPECT_FALSE(attrs({{"characterSpacing", "2"}})->kern);
    EXPECT_EQ(attrs({{"borderWidth", 1e300}, {"cornerRadius", "-1e39"}})->cornerRadius,
              -ZNFLargestNumberReading);
    EXPECT_FALSE(attrs({{"letterpress", "no"}})->textEffect);
    EXPECT_TRUE(attrs({{"letterpress", "YES"}})->textEffect);
    // Every style has a text colour, a paragraph style and an item background.
    const auto bare = attrs({});
    expectColor(*bare->foregroundColor, 0, 0, 0);
    expectColor(*bare->bg, 0, 0, 0, 0.0);
    EXPECT_TRUE(bare->paragraphStyle);
}

TEST(TextFormatterInsets, ValuesAndHostileInput) {
    EXPECT_EQ(
        ZNFTextFormatter::insetsValueFromDictionary(style({{"top", 1}, {"left", 2.5}, {"bottom", "3"}})),
        (ZNFEdgeInsets{1, 2.5, 3, 0}));
    EXPECT_EQ(ZNFTextFormatter::insetsValueFromDictionary(
                  style({{"top", std::numeric_limits<double>::quiet_NaN()}, {"left", QVariantList{1}}})),
              ZNFEdgeInsetsZero);
    // A negative inset would measure a text smaller than its lines; absurd ones are held too.
    EXPECT_EQ(ZNFTextFormatter::insetsValueFromDictionary(
                  style({{"top", -5}, {"left", "-1e300"}, {"bottom", 1e300}, {"right", 10000}})),
              (ZNFEdgeInsets{0, 0, 10000, 10000}));
    ZNFTextFormatter f;
    f.parseInsetsFromAttributes(style({{"right", 7}}), "x");
    EXPECT_EQ(f.insetsForKey("x"), (ZNFEdgeInsets{0, 0, 0, 7}));
    // Style dictionaries that are not dictionaries register as empty styles.
    f.registerKeyedAttributes({{"odd", QVariant(5)}});
    EXPECT_TRUE(f.hasStyle("odd"));
    expectColor(f.colorForKey("odd"), 0, 0, 0);
}

TEST(TextFormatterPropertyList, XmlBinaryAndBadFiles) {
    QTemporaryDir dir;
    const QString xmlPath = dir.filePath("styles.plist");
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>formats</key><dict>
  <key>base</key><dict><key>color</key><string>#FF8000</string><key>top</key><integer>6</integer></dict>
  <key>title</key><dict><key>template</key><string>base</string><key>fontWeight</key><string>bold</string>
    <key>fontSize</key><real>21.5</real><key>tabs</key><array><integer>30</integer><real>90.5</real></array>
    <key>letterpress</key><true/></dict>
</dict></dict></plist>)";
    ASSERT_TRUE(writeFile(xmlPath, xml));
    ZNFTextFormatter f;
    QString error;
    ASSERT_TRUE(f.registerKeyedAttributesFromFile(xmlPath, &error)) << error.toStdString();
    const auto title = f.attributesForKey("title");
    expectColor(*title->foregroundColor, 255, 128, 0);
    EXPECT_EQ(title->font->pointSize(), 21.5);
    EXPECT_EQ(title->paragraphStyle->tabStops.size(), 2u);
    EXPECT_TRUE(title->textEffect);
    EXPECT_EQ(f.insetsForKey("title").top, 6);

    // The same table in the binary format.
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr);
    char* bin = nullptr;
    uint32_t binLength = 0;
    plist_to_bin(root, &bin, &binLength);
    plist_free(root);
    const QString binPath = dir.filePath("styles.bplist");
    ASSERT_TRUE(writeFile(binPath, QByteArray(bin, binLength)));
    free(bin);
    ZNFTextFormatter g;
    ASSERT_TRUE(g.registerKeyedAttributesFromFile(binPath, &error)) << error.toStdString();
    EXPECT_EQ(*g.attributesForKey("title"), *title);

    // Missing file, garbage, a plist without "formats": a clear error and nothing registered.
    const QString garbage = dir.filePath("garbage.plist");
    const QString noFormats = dir.filePath("noformats.plist");
    ASSERT_TRUE(writeFile(garbage, "bplist00\xff\xff\xff garbage"));
    ASSERT_TRUE(writeFile(
        noFormats,
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>styles</key><dict/></dict></plist>"));
    for (const QString& bad : {dir.filePath("absent.plist"), garbage, noFormats}) {
        ZNFTextFormatter h;
        error.clear();
        EXPECT_FALSE(h.registerKeyedAttributesFromFile(bad, &error)) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(h.internalAttributes().isEmpty());
    }
}

TEST(TextFormatterPropertyList, ApplicationStyleTable) {
    // The shipped table must load and every template it names must exist in it.
    const QString path = QStringLiteral(NOTECRATE_SOURCE_DIR "/resources/notecrateStyles.plist");
    if (!QFile::exists(path))
        GTEST_SKIP() << "no style table in this checkout";
    ZNFTextFormatter f;
    QString error;
    ASSERT_TRUE(f.registerKeyedAttributesFromFile(path, &error)) << error.toStdString();
    EXPECT_TRUE(f.hasStyle("default")); // the text parser's fallback style
    const QVariantMap formats = ZNFPropertyListFromFile(path).toMap().value("formats").toMap();
    for (auto it = formats.begin(); it != formats.end(); ++it) {
        const QVariantMap entry = it.value().toMap();
        if (entry.contains("template")) {
            EXPECT_TRUE(formats.contains(entry.value("template").toString())) << it.key().toStdString();
        }
        if (entry.contains("fontWeight")) {
            EXPECT_TRUE(ZNFTextFormatter::keyedFontWeights().count(entry.value("fontWeight").toString()))
                << it.key().toStdString();
        }
    }
}

TEST(TextFormatterPropertyList, DamagedFilesNeverCrash) {
    // A valid binary table, then every truncation of it and a run of flipped bytes.
    plist_t dict = plist_new_dict();
    plist_t formats = plist_new_dict();
    plist_t a = plist_new_dict();
    plist_dict_set_item(a, "color", plist_new_string("#FF8000"));
    plist_t tabs = plist_new_array();
    plist_array_append_item(tabs, plist_new_uint(1));
    plist_array_append_item(tabs, plist_new_real(2.5));
    plist_dict_set_item(a, "tabs", tabs);
    plist_dict_set_item(formats, "a", a);
    plist_dict_set_item(dict, "formats", formats);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bin, &length);
    plist_free(dict);
    const QByteArray good(bin, length);
    free(bin);

    QString error;
    const QVariant parsed = ZNFPropertyListFromData(good, &error);
    ASSERT_TRUE(parsed.isValid()) << error.toStdString();
    EXPECT_EQ(parsed.toMap().value("formats").toMap().value("a").toMap().value("tabs").toList(),
              (QVariantList{qint64(1), 2.5}));

    for (qsizetype n = 0; n < good.size(); ++n)
        ZNFPropertyListFromData(good.left(n));

    // Damage past the truncations is the style_plist fuzz target's job. Shapes that make
    // libplist recurse past the stack or copy shared arrays without end are
    // refused before it reads them; the largest allowed ones read.
    const struct {
        const char* what;
        QByteArray bytes;
        bool readable;
    } shapes[] = {
        {"XML, 256 levels", nestedXml(256), true},
        {"XML, 257 levels", nestedXml(257), false},
        {"XML, 30,000 levels", nestedXml(30000), false},
        {"XML over 8 MiB", nestedXml(1, 8 * 1024 * 1024), false},
        {"binary, 256 levels", binaryChain(256, 1), true},
        {"binary, 100,000 levels", binaryChain(100000, 1), false},
        {"binary, 2^60 values from 60 shared arrays", binaryChain(60, 2), false},
        {"binary, 2^15 values from 15 shared arrays", binaryChain(15, 2), true},
        {"binary, a cycle", binaryChain(3, 1, true), false},
    };
    for (const auto& shape : shapes) {
        QString reason;
        EXPECT_EQ(ZNFPropertyListFromData(shape.bytes, &reason).isValid(), shape.readable) << shape.what;
        EXPECT_EQ(reason.isEmpty(), shape.readable) << shape.what;
    }
    EXPECT_FALSE(ZNFPropertyListFromData(QByteArray()).isValid());
}
