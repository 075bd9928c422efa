#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFLayoutTemplate.h"
#include "support/LayoutTestSupport.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

class RecordingProvider : public ZNFLayoutProvider {
public:
    QVariantList registerEvents(const QVariant& events, const std::shared_ptr<ZNFLayoutItem>& item) override {
        const QVariantList taps = ZNFLayoutProvider::registerEvents(events, item);
        QVariantList numbers;
        for (const QVariant& tap : taps)
            numbers << tap.toMap().value("n");
        offered.emplace_back(item, numbers);
        return taps;
    }
    // Each item offered its events, with the "n" of the tap events it was handed back.
    std::vector<std::pair<std::shared_ptr<ZNFLayoutItem>, QVariantList>> offered;
};

} // namespace

TEST(LayoutProvider, SkipsUnusableElementsAndKeepsOrder) {
    auto provider = makeDefaultProvider();
    provider->registerProvider(namedItemParser(), QStringLiteral("named"));

    EXPECT_TRUE(provider->layoutItemsWithData(json(R"({"_type": "named", "name": "A"})")).empty());
    EXPECT_TRUE(provider->layoutItemsWithData(QVariant()).empty());

    const ZNFLayoutItemList items =
        provider->layoutItemsWithData(json(R"([{"_type": "named", "name": "A"}, {"name": "no type"},
        {"_type": "unknown", "name": "unregistered"}, {"_type": "named", "name": "failing predicate", "_predicate": {}},
        "not a dictionary", {"_type": 7, "name": "numeric type"},
        {"_type": "named", "name": "B", "_predicate": [{}, {"unknownKey": 1}]}, {"_type": "named", "name": "C"}])"));
    EXPECT_EQ(names(items), QStringList({"A", "B", "C"}));
}

TEST(LayoutProvider, ParserResultsAndEventsReachEveryItem) {
    auto provider = std::make_shared<RecordingProvider>();
    provider->registerHandler(std::make_shared<RecordingHandler>(), QStringLiteral("record"));
    auto first = std::make_shared<TestLayoutItem>(QStringLiteral("first"));
    auto second = std::make_shared<TestLayoutItem>(QStringLiteral("second"));
    provider->registerProvider(std::make_shared<FunctionParser>([&](const QVariantMap&, ZNFLayoutProvider*) {
                                   return ZNFLayoutItemList{first, nullptr, second};
                               }),
                               QStringLiteral("three"));
    provider->registerProvider(std::make_shared<FunctionParser>(nullptr), QStringLiteral("nothing"));

    const ZNFLayoutItemList items =
        provider->layoutItemsWithData(json(R"([{"_type": "nothing"}, {"_type": "three", "_events": [
        {"_type": "record", "_gesture": "tap", "n": 1}, {"_type": "record", "_gesture": "longPress", "n": 2},
        {"_type": "unregistered", "_gesture": "tap", "n": 3}, {"_type": "record", "n": 4}, "junk",
        {"_type": "record", "_gesture": "tap", "n": 5}]}])"));
    EXPECT_EQ(items, (ZNFLayoutItemList{first, second}));

    EXPECT_EQ(provider->offered, (decltype(provider->offered){{first, {1, 5}}, {second, {1, 5}}}));
    // Nothing is attached: layout-data events run only when performed explicitly.
    EXPECT_FALSE(first->clickHandler());
}

TEST(LayoutProvider, LaterRegistrationsReplaceEarlierOnes) {
    auto provider = makeDefaultProvider();
    provider->registerProvider(namedItemParser(), QStringLiteral("named"));
    auto replacement = std::make_shared<FunctionParser>([](const QVariantMap&, ZNFLayoutProvider*) {
        return ZNFLayoutItemList{std::make_shared<TestLayoutItem>(QStringLiteral("replaced"))};
    });
    provider->registerProvider(replacement, QStringLiteral("named"));
    provider->registerProvider(nullptr, QStringLiteral("named"));
    provider->registerProvider(namedItemParser(), QString());
    EXPECT_EQ(names(provider->layoutItemsWithData(json(R"([{"_type": "named", "name": "x"}])"))),
              QStringList({"replaced"}));
    EXPECT_FALSE(provider->providers().contains(QString()));

    const auto a = std::make_shared<RecordingHandler>(), b = std::make_shared<RecordingHandler>();
    provider->registerHandler(a, QStringLiteral("record"));
    provider->registerHandler(b, QStringLiteral("record"));
    provider->registerHandler(nullptr, QStringLiteral("record"));
    provider->performEvent(json(R"({"_type": "record"})").toMap(), nullptr, nullptr);
    EXPECT_TRUE(a->events.empty());
    EXPECT_EQ(b->events.size(), 1u);
}

TEST(LayoutProvider, PerformingEvents) {
    auto provider = makeDefaultProvider();
    auto recorder = std::make_shared<RecordingHandler>();
    provider->registerHandler(recorder, QStringLiteral("record"));
    // The alert and screen types come with the default handlers, which handle nothing.

    ZNFView source;
    ZNFViewController controller;
    provider->handleTapForEvents(json(R"([{"_type": "alert", "title": "x"}, {"_type": "actionSheet"},
        {"_type": "presentScreen"}, {"_type": "pushScreen"}, {"_type": "record", "n": 1}, {"_type": "missing"},
        {"_type": "record", "n": 2, "_predicate": {}},
        {"_type": "record", "n": 3, "_predicate": [{}, {"unknownKey": true}]}, {"n": 4}])")
                                     .toList(),
                                 &source, &controller);

    ASSERT_EQ(recorder->events.size(), 2u);
    const auto& event = recorder->events[0];
    EXPECT_EQ(std::tuple(event->event().value("n"), event->sourceView(), event->viewController(),
                         event->layoutProvider(), event->gesture()),
              std::tuple(QVariant(1.0), &source, &controller, provider, QString()));
    EXPECT_EQ(recorder->events[1]->event().value("n").toInt(), 3);
}

TEST(LayoutProvider, TemplateProviders) {
    auto templ = makeDefaultProvider();
    templ->registerProvider(namedItemParser(), QStringLiteral("named"));
    templ->registerHandler(std::make_shared<RecordingHandler>(), QStringLiteral("record"));
    auto device = ZNFBlockPredicateEvaluator::evaluatorWithBlock(
        [](const QString&, const QVariantMap&) { return false; });
    templ->predicator()->registerEvaluator(device, QStringLiteral("device"));
    ZNFLayoutProvider::registerTemplateProvider(templ, QStringLiteral("provider-test-template"));
    ZNFLayoutProvider::registerTemplateProvider(nullptr, QStringLiteral("provider-test-null"));
    EXPECT_FALSE(ZNFLayoutProvider::providerForTemplateId(QStringLiteral("provider-test-null")));

    // A registered id: exactly the template's objects. Default registrations would have made
    // new parser, handler and evaluator objects.
    auto copy = std::make_shared<ZNFLayoutProvider>(QStringLiteral("provider-test-template"));
    EXPECT_EQ(copy->providers(), templ->providers());
    EXPECT_EQ(copy->handlers(), templ->handlers());
    EXPECT_FALSE(copy->predicator()->evaluatePredicates(json(R"({"device": {"minWidth": 0}})")));
    EXPECT_EQ(names(copy->layoutItemsWithData(json(R"([{"_type": "named", "name": "n"}])"))),
              QStringList({"n"}));

    // An unknown id: fresh default registrations.
    auto fresh = std::make_shared<ZNFLayoutProvider>(QStringLiteral("provider-test-unknown"));
    EXPECT_TRUE(fresh->predicator()->evaluatePredicates(json(R"({"device": {"minWidth": 0}})")));
    EXPECT_FALSE(fresh->providers().contains(QStringLiteral("named")));
    EXPECT_FALSE(fresh->handlers().contains(QStringLiteral("record")));

    // Every provider has its own formatter; a template does not share it.
    ASSERT_TRUE(copy->textFormatter());
    EXPECT_NE(copy->textFormatter(), templ->textFormatter());

    // updateWithId adds on top, replacing same keys; the formatter stays the provider's own.
    fresh->updateWithId(QStringLiteral("provider-test-template"));
    EXPECT_TRUE(fresh->providers().contains(QStringLiteral("named")));
    EXPECT_FALSE(fresh->predicator()->evaluatePredicates(json(R"({"device": {"minWidth": 0}})")));
    EXPECT_TRUE(fresh->predicator()->evaluators().contains(QStringLiteral("locale")));
    EXPECT_NE(fresh->textFormatter(), templ->textFormatter());
}

TEST(LayoutTemplate, FillsPlaceholders) {
    ZNFLayoutTemplate templ;
    std::optional<QVariant> filled;
    // Strings are filled; a number gives no value, so inside a string the placeholder stays as
    // text and elsewhere the text no longer decodes. Arrays and dictionaries go in as compact
    // JSON. Top-level fragments decode; two values in a row do not. Inserted values are never
    // searched again: data cannot fill placeholders of its own, nor double itself key after key;
    // braces around a placeholder stay.
    const struct {
        const char* templateText;
        QVariantMap data;
        QVariant expected; // none: nothing is made
    } rows[] = {
        {R"({"title": "{{name}} and {{name}}", "count": "{{count}}"})",
         {{"name", "Ada"}, {"count", 3}},
         QVariantMap{{"title", "Ada and Ada"}, {"count", "{{count}}"}}},
        {R"({"count": {{count}}})", {{"count", 3}}, {}},
        {R"({"count": {{count}}})", {{"count", true}}, {}},
        {R"({"list": {{list}}, "map": {{map}}})",
         {{"list", QVariantList{1, "two"}}, {"map", QVariantMap{{"k", "v"}}}},
         QVariantMap{{"list", QVariantList{1, "two"}}, {"map", QVariantMap{{"k", "v"}}}}},
        {R"("{{name}}")", {{"name", "solo"}}, "solo"},
        {"1, 2", {}, {}},
        {"", {}, {}},
        {R"("{{a}}")", {{"a", "{{b}}"}, {"b", "injected"}}, "{{b}}"},
        {R"("{{b}}{{a}}")", {{"a", "x"}, {"b", "{{a}}"}}, "{{a}}x"},
        {R"("{{{a}}}")", {{"a", "x"}}, "{x}"},
        {R"("{{{{a}}b}}")", {{"a", "x"}, {"xb", "y"}}, "{{xb}}"},
        {R"("{{a}")", {{"a", "x"}}, "{{a}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.templateText);
        templ.setTemplateString(QString::fromLatin1(row.templateText));
        EXPECT_EQ(templ.fulfillWithData(row.data).value_or(QVariant()), row.expected);
    }
    // Each key doubles the next (the keys in the order they were once filled in).
    QVariantMap doubling{{"k24", "x"}};
    for (int i = 0; i < 24; ++i)
        doubling.insert(QStringLiteral("k%1").arg(i, 2, 10, QLatin1Char('0')),
                        QStringLiteral("{{k%1}}{{k%1}}").arg(i + 1, 2, 10, QLatin1Char('0')));
    templ.setTemplateString(QStringLiteral("\"{{k00}}\""));
    filled = templ.fulfillWithData(doubling);
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->toString(), "{{k01}}{{k01}}");
    // A text that would pass 16 million characters is not made.
    templ.setTemplateString(QStringLiteral("\"%1\"").arg(QStringLiteral("{{a}}").repeated(40)));
    EXPECT_FALSE(templ.fulfillWithData({{"a", QString(500000, QLatin1Char('z'))}}));
}

TEST(LayoutTemplate, LineFeeds) {
    ZNFLayoutTemplate direct;
    direct.setTemplateString(QStringLiteral("{\n  \"text\": \"{{text}}\"\n}"));
    // The line breaks between the tokens become backslash-n too, so the text cannot decode.
    EXPECT_FALSE(direct.fulfillWithData({{"text", "x"}}));

    ZNFLayoutTemplate fromJSON;
    fromJSON.setTemplateJSON(QVariantMap{{"text", "{{text}}"}, {"n", 1}});
    ASSERT_TRUE(fromJSON.templateString());
    EXPECT_FALSE(fromJSON.templateString()->contains(QLatin1Char('\n')));
    const auto filled = fromJSON.fulfillWithData({{"text", "first\nsecond"}});
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->toMap().value("text").toString(), "first\nsecond");

    // Setting the data again clears the text made from the old data.
    fromJSON.setTemplateJSON(QVariantList{"{{text}}"});
    EXPECT_EQ(*fromJSON.templateString(), R"(["{{text}}"])");
    fromJSON.setTemplateJSON(QVariant(5));
    EXPECT_FALSE(fromJSON.templateString());
}
