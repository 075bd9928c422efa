#include "TestSupport.h"
#include "platform/ZNFValueReading.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextFormatter.h"

#include <QFile>
#include <QFontInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

ZNFTextAttributesPtr attrs(const QVariantMap& style) {
    return ZNFTextFormatter().attributesFromDictionary(style);
}

ZNFEdgeInsets insetsOf(const QVariantMap& style) {
    return ZNFTextFormatter::insetsValueFromDictionary(style);
}

constexpr QRgb kBlack = qRgb(0, 0, 0), kClear = qRgba(0, 0, 0, 0);

} // namespace

TEST(TextFormatterColors, StringSyntaxes) {
    const QRgb orange = qRgb(255, 128, 0);
    const std::pair<const char*, QRgb> rows[] = {
        // clang-format off
        {"#FF8000", orange}, {"ff8000", orange}, {"  #ff8000 \t", orange}, {" FF8000\n", orange},
        {"##FF8000", orange}, {"rgba(255, 128, 0, 0.5)", qRgba(255, 128, 0, 128)}, {"rgba(255,128,0,1)", orange},
        // Malformed strings are black, never an error.
        {"#FFF", kBlack}, {"#FF800080", kBlack}, {"rgba(255,128,0)", kBlack}, {"rgb(255,128,0)", kBlack},
        {"", kBlack}, {"blue", kBlack}, {"rgba(1,2)", kBlack}, {"rgba(1,2,3,4,5)", kBlack},
        // A pair that does not scan reads 0; digits before a non-digit still count.
        {"zz8000", qRgb(0, 128, 0)},
        // Out-of-range components are held to the valid range instead of making an invalid colour.
        {"rgba(300, -5, abc, 7)", qRgb(255, 0, 0)},
        // clang-format on
    };
    for (const auto& [text, rgba] : rows) {
        SCOPED_TRACE(text);
        const QColor color = ZNFTextFormatter::colorFromString(text);
        EXPECT_TRUE(color.isValid() && color.rgba() == rgba);
    }
    EXPECT_EQ(ZNFTextFormatter::colorFromString(std::optional<QString>()).rgba(), kBlack);
    EXPECT_EQ(ZNFTextFormatter::colorFromString(QVariant(42)).rgba(), kBlack);
}

TEST(TextFormatterTemplates, InheritanceAndChains) {
    ZNFTextFormatter f;
    f.registerKeyedAttributes({
        {"base", QVariantMap{{"color", "#0000FF"}, {"fontWeight", "bold"}, {"top", 10}, {"fontSize", 20}}},
        {"middle", QVariantMap{{"template", "base"}, {"color", "#00FF00"}, {"underline", "single"}}},
        {"leaf", QVariantMap{{"template", "middle"}, {"fontSize", 11}, {"left", 4}}},
        {"orphan", QVariantMap{{"template", "nowhere"}, {"color", "#FF0000"}}},
        {"loopA", QVariantMap{{"template", "loopB"}, {"color", "#010203"}}},
        {"loopB", QVariantMap{{"template", "loopA"}, {"fontWeight", "light"}}},
        {"self", QVariantMap{{"template", "self"}, {"align", "center"}}},
    });
    const auto leaf = f.attributesForKey("leaf");
    // The nearer template's colour, the farther one's weight, its own size over both.
    ASSERT_TRUE(leaf->font);
    EXPECT_EQ(std::tuple(*leaf->foregroundColor, leaf->font->weight(), leaf->font->pointSize()),
              std::tuple(QColor(0, 255, 0), ZNFFontWeight::Bold, 11.0));
    EXPECT_EQ(leaf->underlineStyle, ZNFLineStyle::Single);
    EXPECT_EQ(f.insetsForKey("leaf"), (ZNFEdgeInsets{10, 4, 0, 0}));

    const auto orphan = f.attributesForKey("orphan");
    EXPECT_EQ(orphan->foregroundColor->rgba(), qRgb(255, 0, 0));
    EXPECT_FALSE(orphan->font);

    // Cycles end at the first repeated name instead of looping.
    const auto a = f.attributesForKey("loopA");
    EXPECT_EQ(a->foregroundColor->rgba(), qRgb(1, 2, 3));
    EXPECT_EQ(a->font->weight(), ZNFFontWeight::Light);
    EXPECT_EQ(f.attributesForKey("self")->paragraphStyle->alignment, ZNFTextAlignment::Center);

    // Templates resolve only within the map given to the same registration.
    f.registerKeyedAttributes({{"late", QVariantMap{{"template", "base"}, {"color", "#111111"}}}});
    EXPECT_FALSE(f.attributesForKey("late")->font);
    EXPECT_TRUE(f.hasStyle("leaf")); // earlier styles stay
}

TEST(TextFormatterLookups, Fallbacks) {
    ZNFTextFormatter f;
    f.registerKeyedAttributes(
        {{"plain", QVariantMap{{"color", "#102030"}}}, {"emptyBg", QVariantMap{{"bg", ""}}}});
    EXPECT_EQ(f.backgroundColorForKey("missing").rgba(), qRgb(255, 255, 255));
    EXPECT_EQ(f.backgroundColorForKey("plain").rgba(), kClear);
    EXPECT_EQ(f.backgroundColorForKey("emptyBg").rgba(), kClear);
    EXPECT_EQ(f.colorForKey("missing").rgba(), kBlack);
    EXPECT_EQ(f.insetsForKey("missing"), ZNFEdgeInsetsZero);
    EXPECT_EQ(f.attributesForKey("missing")->font, ZNFFont::systemFont(ZNFSystemFontSize));
}

TEST(TextFormatterFonts, WeightSizeAndName) {
    // A weight without a size is the system font at 18 points.
    const auto bold = attrs({{"fontWeight", "bold"}})->font;
    ASSERT_EQ(bold, ZNFFont::systemFont(18, ZNFFontWeight::Bold));
    EXPECT_EQ(bold->qfont().weight(), QFont::Bold);
    // Weights are matched exactly; a weight wins over a family.
    EXPECT_EQ(attrs({{"fontWeight", "Bold"}})->font->weight(), ZNFFontWeight::Regular);
    EXPECT_TRUE(attrs({{"fontName", "DejaVu Serif"}, {"fontWeight", "light"}})->font->isSystemFont());
    // A family needs a size and must be installed; a size alone is no font.
    EXPECT_FALSE(attrs({{"fontSize", 14}})->font);
    EXPECT_FALSE(attrs({{"fontName", "DejaVu Serif"}})->font);
    EXPECT_FALSE(attrs({{"fontName", "No Such Font Anywhere"}, {"fontSize", 14}})->font);
    const auto named = attrs({{"fontName", "DejaVu Serif"}, {"fontSize", "15.5"}});
    ASSERT_TRUE(named->font);
    EXPECT_EQ(named->font->qfont().family(), "DejaVu Serif");
    // One point is one logical pixel.
    EXPECT_NEAR(QFontInfo(named->font->qfont()).pixelSize(), 15.5, 0.6);
    // Sizes past what the text system lays out are held to its largest.
    EXPECT_EQ(attrs({{"fontWeight", "bold"}, {"fontSize", 1e300}})->font->pointSize(), ZNFLargestFontSize);
    EXPECT_EQ(attrs({{"fontName", "DejaVu Serif"}, {"fontSize", "1e300"}})->font->pointSize(),
              ZNFLargestFontSize);
}

TEST(TextFormatterParagraph, TabsAndHostileNumbers) {
    // A stop that is no number is skipped, and then no hanging indent is made from it.
    EXPECT_EQ(attrs({{"tabs", QVariantList{"x", 40}}})->paragraphStyle,
              (ZNFParagraphStyle{.tabStops = {{ZNFTextAlignment::Left, 40}}}));
    // Not an array: the default stops stay.
    EXPECT_EQ(attrs({{"tabs", 40}})->paragraphStyle->tabStops, ZNFParagraphStyle::defaultTabStops());
    EXPECT_EQ(attrs({{"tabs", QVariantList{}}})->paragraphStyle->tabStops.size(), 0u);

    // Numbers past what the text system lays out are held to a range, and logged.
    LogCapture log;
    const auto wild = attrs({{"tabs", QVariantList{1e300, -40}},
                             {"lineHeight", 1e300},
                             {"paragraphSpacing", 1e300},
                             {"characterSpacing", -1e300}});
    EXPECT_EQ(wild->paragraphStyle, (ZNFParagraphStyle{.lineHeightMultiple = 100,
                                                       .paragraphSpacing = 10000,
                                                       .headIndent = 10000,
                                                       .firstLineHeadIndent = -10000,
                                                       .tabStops = {{ZNFTextAlignment::Left, 10000}, {}}}));
    EXPECT_EQ(wild->kern, -1000);
    EXPECT_TRUE(log.contains(QStringLiteral("Style value tabs 1e+300 is out of range; 10000 is used")));
}

TEST(TextFormatterDecorations, OddValuesDecorateNothing) {
    EXPECT_FALSE(attrs({{"underlineColor", "#FF0000"}})->underlineColor); // a colour without a line
    EXPECT_FALSE(attrs({{"underline", "wavy"}})->underlineStyle);
    EXPECT_FALSE(attrs({{"underline", 1}})->underlineStyle);
    EXPECT_FALSE(attrs({{"characterSpacing", "2"}})->kern);
    EXPECT_EQ(attrs({{"borderWidth", 1e300}, {"cornerRadius", "-1e39"}})->cornerRadius,
              -ZNFLargestNumberReading);
    EXPECT_FALSE(attrs({{"letterpress", "no"}})->textEffect);
    EXPECT_TRUE(attrs({{"letterpress", "YES"}})->textEffect);
    // Every style has a text colour, a paragraph style and an item background.
    const auto bare = attrs({});
    EXPECT_EQ(bare->foregroundColor->rgba(), kBlack);
    EXPECT_EQ(bare->bg->rgba(), kClear);
    EXPECT_TRUE(bare->paragraphStyle);
}

TEST(TextFormatterInsets, ValuesAndHostileInput) {
    EXPECT_EQ(insetsOf({{"top", 1}, {"left", 2.5}, {"bottom", "3"}}), (ZNFEdgeInsets{1, 2.5, 3, 0}));
    EXPECT_EQ(insetsOf({{"top", std::numeric_limits<double>::quiet_NaN()}, {"left", QVariantList{1}}}),
              ZNFEdgeInsetsZero);
    // A negative inset would measure a text smaller than its lines; absurd ones are held too.
    EXPECT_EQ(insetsOf({{"top", -5}, {"left", "-1e300"}, {"bottom", 1e300}, {"right", 10000}}),
              (ZNFEdgeInsets{0, 0, 10000, 10000}));
    ZNFTextFormatter f;
    f.parseInsetsFromAttributes(QVariantMap{{"right", 7}}, "x");
    EXPECT_EQ(f.insetsForKey("x"), (ZNFEdgeInsets{0, 0, 0, 7}));
    // Style dictionaries that are not dictionaries register as empty styles.
    f.registerKeyedAttributes({{"odd", QVariant(5)}});
    EXPECT_TRUE(f.hasStyle("odd"));
    EXPECT_EQ(f.colorForKey("odd").rgba(), kBlack);
}

TEST(TextFormatterPropertyList, XmlAndBadFiles) {
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
    EXPECT_EQ(title->foregroundColor->rgba(), qRgb(255, 128, 0));
    EXPECT_EQ(title->font->pointSize(), 21.5);
    EXPECT_EQ(title->paragraphStyle->tabStops.size(), 2u);
    EXPECT_TRUE(title->textEffect);
    EXPECT_EQ(f.insetsForKey("title").top, 6);

    // Missing file, garbage, a plist without "formats": a clear error and nothing registered. The
    // binary format and hostile lists are read by the property-list reader and tested with it.
    const std::map<QString, QByteArray> files = {
        {"absent.plist", {}},
        {"garbage.plist", "bplist00\xff\xff\xff garbage"},
        {"noformats.plist",
         R"(<?xml version="1.0"?><plist version="1.0"><dict><key>styles</key><dict/></dict></plist>)"}};
    for (const auto& [name, bytes] : files) {
        const QString bad = dir.filePath(name);
        ASSERT_TRUE(bytes.isEmpty() || writeFile(bad, bytes));
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
