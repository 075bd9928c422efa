#include "TestSupport.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFBlockLayoutItem.h"
#include "layout/items/ZNFLayoutButtonItem.h"
#include "layout/items/ZNFRuleLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "support/LayoutTestSupport.h"

#include <QImage>
#include <QJsonDocument>
#include <QProgressBar>
#include <gtest/gtest.h>

namespace {

class TextItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        provider = makeDefaultProvider();
        formatter = provider->textFormatter();
        formatter->registerKeyedAttributes(json(R"({
            "default": {"fontWeight": "regular", "fontSize": 14, "color": "#112233"},
            "boxed": {"fontWeight": "bold", "fontSize": 20, "color": "#FF0000", "bg": "#00FF00", "top": 7, "left": 9, "bottom": 11, "right": 13},
            "roundedNoWidth": {"fontSize": 12, "fontWeight": "regular", "borderColor": "#0000FF", "cornerRadius": 8},
            "bordered": {"fontSize": 12, "fontWeight": "regular", "borderColor": "#0000FF", "borderWidth": 3, "cornerRadius": 8, "bg": "#FFFFFF"}
        })")
                                               .toMap());
    }
    std::shared_ptr<ZNFTextLayoutItem> parse(const QByteArray& text) {
        return parseOne<ZNFTextLayoutItem>(text, provider.get());
    }

    std::shared_ptr<ZNFLayoutProvider> provider;
    std::shared_ptr<ZNFTextFormatter> formatter;
};

} // namespace

TEST_F(TextItemTest, DictionariesWithoutAUsableTextGiveNoItem) {
    for (const char* bad : {R"({"_type": "text", "text": ""})", R"({"_type": "text"})",
                            R"({"_type": "text", "text": 42})", R"({"_type": "text", "text": ["a"]})"})
        EXPECT_FALSE(parse(bad)) << bad;
    // Without a formatter nothing can be styled.
    ZNFTextLayoutParser bare;
    EXPECT_TRUE(bare.itemsWithDictionary(json(R"({"text": "x"})").toMap(), nullptr).empty());

    const auto item = parse(R"({"_type": "text", "text": "Hello"})");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->attributedString().string(), "Hello");
}

TEST_F(TextItemTest, StyleWinsOverAttributesButInsetsComeFromAttributesOnly) {
    const auto both = parse(R"({"_type": "text", "text": "Hi", "style": "boxed",
        "attributes": {"color": "#0000FF", "top": 1, "left": 2, "bottom": 3, "right": 4}})");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->attributedString().attributesAtIndex(0), formatter->attributesForKey("boxed"));
    EXPECT_EQ(both->insets(), (ZNFEdgeInsets{1, 2, 3, 4}));
    EXPECT_EQ(both->backgroundColor(), QColor("#00FF00"));

    // A named style's own insets are not used by the parser, but are by the factory.
    const auto styled = parse(R"({"_type": "text", "text": "Hi", "style": "boxed"})");
    ASSERT_TRUE(styled);
    EXPECT_EQ(styled->insets(), ZNFEdgeInsetsZero);
    const auto made = ZNFTextLayoutItem::itemWithString("Hi", "boxed", formatter);
    EXPECT_EQ(made->insets(), (ZNFEdgeInsets{7, 9, 11, 13}));

    // Inline attributes alone style the text.
    const auto inlined = parse(R"({"_type": "text", "text": "Hi", "attributes": {"color": "#0000FF"}})");
    ASSERT_TRUE(inlined);
    EXPECT_EQ(inlined->attributedString().attributesAtIndex(0)->foregroundColor, QColor("#0000FF"));

    // Neither: the "default" style; without one, the formatter's default attributes.
    const auto plain = parse(R"({"_type": "text", "text": "Hi"})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->attributedString().attributesAtIndex(0), formatter->attributesForKey("default"));
    ZNFTextLayoutParser noDefault(std::make_shared<ZNFTextFormatter>());
    const auto fallback = std::dynamic_pointer_cast<ZNFTextLayoutItem>(
        noDefault.itemsWithDictionary({{"text", "Hi"}}, nullptr).at(0));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(*fallback->attributedString().attributesAtIndex(0),
              *noDefault.textFormatter()->defaultAttributes());

    // A subclass asked through the factory gets an instance of itself; no formatter, no style.
    class Heading : public ZNFTextLayoutItem {};
    const std::shared_ptr<Heading> heading =
        ZNFTextLayoutItem::itemWithString<Heading>("H", "boxed", nullptr);
    EXPECT_EQ(heading->insets(), ZNFEdgeInsetsZero);
    EXPECT_FALSE(heading->backgroundColor());
}

TEST_F(TextItemTest, BorderOnlyWithBorderWidthAndFillWidthReadings) {
    const auto noWidth = parse(R"({"_type": "text", "text": "x", "style": "roundedNoWidth"})");
    ASSERT_TRUE(noWidth);
    EXPECT_FALSE(noWidth->borderColor());
    EXPECT_EQ(noWidth->cornerRadius(), 0);
    const auto bordered = parse(R"({"_type": "text", "text": "x", "style": "bordered"})");
    EXPECT_EQ(bordered->borderWidth(), 3);

    for (const char* on : {R"("1")", "1", "true"})
        EXPECT_TRUE(
            parse(R"({"_type": "text", "text": "x", "fillWidth": )" + QByteArray(on) + "}")->fillWidth());
    EXPECT_FALSE(parse(R"({"_type": "text", "text": "x", "fillWidth": "0"})")->fillWidth());
}

TEST_F(TextItemTest, SizingFillsTheOfferedWidthOrHugsTheText) {
    const auto item = ZNFTextLayoutItem::itemWithString("Short", "boxed", formatter);
    const QSizeF hugging = item->sizeThatFits(QSizeF(300, ZNFLayoutFill));
    EXPECT_LT(hugging.width(), 300);

    item->setFillWidth(true);
    EXPECT_EQ(item->sizeThatFits(QSizeF(300, ZNFLayoutFill)), QSizeF(300, hugging.height()));
    // Only the width is used.
    EXPECT_EQ(item->sizeThatFits(QSizeF(300, 5)), QSizeF(300, hugging.height()));
    // Changing what is measured is seen by the next measurement.
    item->setFillWidth(false);
    item->setAttributedString(
        ZNFAttributedString("Much longer than short", formatter->attributesForKey("boxed")));
    const QSizeF longer = item->sizeThatFits(QSizeF(300, ZNFLayoutFill));
    EXPECT_GT(longer.width(), hugging.width());
    item->setInsets(ZNFEdgeInsetsZero);
    EXPECT_EQ(item->sizeThatFits(QSizeF(300, ZNFLayoutFill)).height(), longer.height() - 18);

    // A long text wraps: narrower offers make it taller.
    const auto paragraph = ZNFTextLayoutItem::itemWithString(
        "A paragraph long enough to wrap over several lines in a narrow column of text.", "default",
        formatter);
    EXPECT_GT(paragraph->sizeThatFits(QSizeF(120, ZNFLayoutFill)).height(),
              paragraph->sizeThatFits(QSizeF(800, ZNFLayoutFill)).height());
}

TEST_F(TextItemTest, RecycledViewTakesEverythingFromTheNewItem) {
    const auto rounded = parse(R"({"_type": "text", "text": "Rounded", "style": "bordered"})");
    const auto square = ZNFTextLayoutItem::itemWithString("Square", "boxed", formatter);
    ASSERT_TRUE(rounded && square);

    auto first = instantiate(rounded, QRectF(0, 0, 200, 40));
    auto* view = qobject_cast<ZNFTextLayoutItemView*>(first.get());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->cornerRadius(), 8);

    const ZNFLayoutInstance again = square->instanceForItem(square, nullptr, QRectF(0, 0, 300, 60), view);
    ASSERT_EQ(again.view, view);
    EXPECT_EQ(std::tuple(view->layoutItem(), view->attributedString().string(), view->insets(),
                         view->cornerRadius(), view->borderWidth()),
              std::tuple(std::shared_ptr<ZNFLayoutItem>(square), QString("Square"),
                         ZNFEdgeInsets{7, 9, 11, 13}, 0.0, 0.0));

    // The square corners and the background are what is drawn: the corner pixel is green.
    EXPECT_EQ(pixel(view, 0, 0), QColor("#00FF00"));
    // A view of another class is not reused.
    ZNFView other;
    auto fresh = own(square->instanceForItem(square, nullptr, QRectF(0, 0, 10, 10), &other));
    EXPECT_NE(fresh.get(), &other);
    EXPECT_TRUE(qobject_cast<ZNFTextLayoutItemView*>(fresh.get()));
}

TEST(BlockItem, CallablesSupplySizeAndView) {
    const auto item =
        ZNFBlockLayoutItem::itemWithSizing([](const QSizeF&) { return QSizeF(100, 44); }, nullptr);
    EXPECT_EQ(item->sizeThatFits(QSizeF(0, 0)), QSizeF(100, 44));
    // No instantiation callable: an empty plain view.
    auto empty = instantiate(item, QRectF(0, 0, 50, 50));
    EXPECT_TRUE(qobject_cast<ZNFView*>(empty.get()));

    EXPECT_EQ(ZNFBlockLayoutItem().sizeThatFits(QSizeF(320, 200)), QSizeF(0, 0)) << "no sizing callable";

    // The instantiation callable is handed the recycled view (any class) and the frame, and
    // may give the same view back.
    std::pair<QWidget*, QRectF> seen;
    const auto spinner =
        ZNFBlockLayoutItem::itemWithSizing([](const QSizeF& offered) { return QSizeF(offered.width(), 20); },
                                           [&](QWidget* reusing, const QRectF& frame) -> ZNFLayoutInstance {
                                               seen = {reusing, frame};
                                               return reusing ? reusing : new QProgressBar;
                                           });
    auto made = instantiate(spinner, QRectF(0, 0, 300, 20));
    EXPECT_EQ(seen, (std::pair<QWidget*, QRectF>(nullptr, QRectF(0, 0, 300, 20))));
    ASSERT_TRUE(qobject_cast<QProgressBar*>(made.get()));
    EXPECT_EQ(spinner->instanceForItem(spinner, nullptr, QRectF(0, 0, 30, 20), made.get()).view, made.get());
    EXPECT_EQ(seen, std::pair(made.get(), QRectF(0, 0, 30, 20)));

    // The block parser hands back what its callable makes, nothing without one.
    const auto parser = ZNFBlockLayoutParser::parserWithBlock(
        [item](const QVariantMap&, ZNFLayoutProvider*) { return ZNFLayoutItemList{item}; });
    EXPECT_EQ(parser->itemsWithDictionary({}, nullptr), ZNFLayoutItemList{item});
    EXPECT_TRUE(ZNFBlockLayoutParser().itemsWithDictionary({}, nullptr).empty());
}

TEST(SpacerItem, ParsesSizesAndColoursAndRecyclesItsView) {
    const auto tall = parseOne<ZNFSpacerLayoutItem>(R"({"_type": "spacer", "height": 20})");
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->sizeThatFits(QSizeF(1, 1)), QSizeF(0, 20));

    EXPECT_TRUE(parse(R"({"_type": "spacer", "bg": "#FF0000"})").empty());
    const auto coloured = parseOne<ZNFSpacerLayoutItem>(
        R"js({"_type": "spacer", "width": 30.5, "height": "12", "bg": "rgba(255, 0, 0, 1)"})js");
    ASSERT_TRUE(coloured);
    EXPECT_EQ(coloured->sizeThatFits(QSizeF(320, ZNFLayoutFill)), QSizeF(30.5, 12));
    // A value that is no string names no colour.
    EXPECT_FALSE(
        parseOne<ZNFSpacerLayoutItem>(R"({"_type": "spacer", "width": 1, "bg": 5})")->backgroundColor());

    auto first = instantiate(coloured, QRectF(0, 0, 30, 12));
    auto* view = qobject_cast<ZNFSpacerLayoutView*>(first.get());
    ASSERT_TRUE(view);
    EXPECT_EQ(pixel(view, 5, 5), QColor(255, 0, 0));
    // Recycled for a spacer without colour: same view, new frame, clear.
    EXPECT_EQ(tall->instanceForItem(tall, nullptr, QRectF(0, 0, 40, 20), view).view, view);
    EXPECT_EQ(view->frame(), QRectF(0, 0, 40, 20));
    EXPECT_EQ(view->backgroundColor().alpha(), 0);
}

TEST(RuleItem, SizesAndPlacesItsLineWithinTheInsets) {
    // Only the offered width is used. The container's y grows upwards: a top inset of 2 leaves 2
    // points under the line. An empty rule is still an item, 0 points high.
    const struct {
        const char* element;
        QSizeF offered, size;
        QRect line; // empty: not drawn
        QColor colour;
    } rows[] = {
        // clang-format off
        {R"({"_type": "rule", "width": 1, "left": 16, "right": 16, "top": 8, "bottom": 8})", {320, ZNFLayoutFill}, {320, 17}, {16, 8, 288, 1}, Qt::black},
        {R"({"_type": "rule", "width": 1, "top": 2, "bottom": 10, "color": "#FF0000"})", {100, 1}, {100, 13}, {0, 10, 100, 1}, QColor(255, 0, 0)},
        {R"({"_type": "rule"})", {320, 100}, {320, 0}, {}, {}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.element);
        const auto rule = parseOne<ZNFRuleLayoutItem>(row.element);
        EXPECT_TRUE(rule);
        if (!rule)
            continue;
        EXPECT_EQ(rule->sizeThatFits(row.offered), row.size);
        if (row.line.isEmpty())
            continue;
        auto container = instantiate(rule, QRectF(QPointF(0, 0), row.size));
        EXPECT_EQ(placed<ZNFView>(container.get()), QList<QRect>{row.line});
        EXPECT_EQ(pixel(container.get(), row.line.x(), row.line.y()), row.colour);
        EXPECT_NE(pixel(container.get(), row.line.x(), row.line.y() - 1), row.colour);
    }
}

namespace {
class RoundButton : public ZNFLayoutButtonItem {
public:
    static double defaultBorderRadius() { return 22; }
};
} // namespace

TEST(ButtonItem, BoxIsCappedCentredAndDrawnAtOnce) {
    const auto button = ZNFLayoutButtonItem::itemWithTitle("Continue");
    auto made = instantiate(button, QRectF(0, 0, 400, 64));
    auto* view = qobject_cast<ZNFLayoutButtonItemView*>(made.get());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->label()->frame(), QRectF(50, 10, 300, 44));
    EXPECT_EQ(view->label()->attributedString().string(), "Continue");
    // A freshly made button already draws its border (left edge of the box, mid-height).
    EXPECT_EQ(pixel(view, 50, 32).rgb(), ZNFLayoutButtonItem::defaultBorderColor().rgb());
    EXPECT_NE(pixel(view, 48, 32).rgb(), ZNFLayoutButtonItem::defaultBorderColor().rgb());

    // Recycled and narrower than the cap: the box spans the width less the outer insets.
    EXPECT_EQ(button->instanceForItem(button, nullptr, QRectF(0, 0, 250, 64), view).view, view);
    EXPECT_EQ(view->label()->frame(), QRectF(10, 10, 230, 44));
    button->setMaxWidth(0);
    button->instanceForItem(button, nullptr, QRectF(0, 0, 900, 64), view);
    EXPECT_EQ(view->label()->frame(), QRectF(10, 10, 880, 44));

    EXPECT_EQ(ZNFLayoutButtonItem::itemWithTitle<RoundButton>("x")->borderRadius(), 22);
}
