#include "support/LayoutTestSupport.h"
#include "support/UserDefaultsEnvironment.h"

#include "layout/ZNFLayoutBlockBasedHandler.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFLayoutShareEventHandler.h"
#include "platform/ZNFView.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Takes the place of the desktop's default applications for the schemes the tests use, so
// that nothing is ever really opened.
class OpenedURLs : public QObject {
    Q_OBJECT
public:
    OpenedURLs() {
        for (const char* scheme : kSchemes)
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~OpenedURLs() override {
        for (const char* scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }

private:
    static constexpr const char* kSchemes[] = {"http", "https", "mailto", "file", "ftp", "tessanote", "not"};
};

void perform(const std::shared_ptr<ZNFLayoutProvider>& provider, const char* event) {
    provider->performEvent(json(event).toMap(), nullptr, nullptr);
}

} // namespace

TEST(LayoutEventHandlers, OpenURLOpensOnlyWellFormedAbsoluteURLs) {
    OpenedURLs opened;
    auto provider = makeDefaultProvider();
    perform(provider, R"({"_type": "openURL"})");
    // Each value of "url" in turn; only the last two are opened.
    for (const QByteArray url :
         {R"("not a url")", R"("http://exa mple.com/")", R"("https://example.com/a b")",
          R"("relative/path.html")", R"("")", "42", R"(["https://example.com/"])", "null",
          R"("https://example.com/notes?id=3#top")", R"("mailto:someone@example.com")"})
        perform(provider, (R"({"_type": "openURL", "url": )" + url + "}").constData());
    EXPECT_EQ(opened.urls,
              (QList<QUrl>{QUrl("https://example.com/notes?id=3#top"), QUrl("mailto:someone@example.com")}));
}

TEST(LayoutEventHandlers, DataSetRemoveAndOtherActions) {
    auto provider = makeDefaultProvider();
    const QString key = QStringLiteral("events-K");

    perform(provider, R"({"_type": "data", "action": "set", "key": "events-K", "value": 5})");
    EXPECT_EQ(userDefaults().objectForKey(key), QVariant(5));

    // Other actions, a missing key, non-string keys and a value that is no property list (null in
    // an array) do nothing.
    for (const char* other :
         {R"("action": "remove", "key": "events-K")", R"("action": "SET", "key": "events-K", "value": 1)",
          R"("key": "events-K", "value": 1)", R"("action": "set", "value": 7)",
          R"("action": "set", "key": 12, "value": 7)", R"("action": ["set"], "key": "events-K", "value": 7)",
          R"("action": "set", "key": "events-K", "value": [1, null])"})
        perform(provider, (QByteArray(R"({"_type": "data", )") + other + "}").constData());
    EXPECT_EQ(userDefaults().objectForKey(key), QVariant(5));
    EXPECT_FALSE(userDefaults().objectForKey(QStringLiteral("12")).isValid());

    // Strings, booleans and nested containers keep their shape.
    perform(provider,
            R"({"_type": "data", "action": "set", "key": "events-K", "value": {"a": [1, "two", true]}})");
    EXPECT_EQ(userDefaults().objectForKey(key),
              QVariant(QVariantMap{{"a", QVariantList{1, QStringLiteral("two"), true}}}));

    // Without a value, or with null, the key goes.
    for (const char* unset : {R"({"_type": "data", "action": "set", "key": "events-K"})",
                              R"({"_type": "data", "action": "set", "key": "events-K", "value": null})"}) {
        userDefaults().setObject(QStringLiteral("x"), key);
        perform(provider, unset);
        EXPECT_FALSE(userDefaults().objectForKey(key).isValid()) << unset;
    }
}

TEST(LayoutEventHandlers, PropertyListCheck) {
    for (const QVariant& value :
         QVariantList{QStringLiteral("s"), QString(), 3, 2.5, true, QByteArray("\x00\x01", 2),
                      QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QStringList{"a"}, QVariantList{},
                      QVariantMap{{"k", QVariantList{QVariantMap{{"d", 1.5}}}}}})
        EXPECT_TRUE(ZNFUserDefaults::isPropertyList(value)) << value.typeName();

    QVariant deep = 1;
    for (int i = 0; i < 2000; ++i)
        deep = QVariantList{deep};
    for (const QVariant& value :
         QVariantList{QVariant(), QVariant::fromValue(nullptr), QDateTime(),
                      QVariant::fromValue(QUrl("https://example.com")), QVariantList{1, QVariant()},
                      QVariantMap{{"k", QVariant::fromValue(nullptr)}}, deep})
        EXPECT_FALSE(ZNFUserDefaults::isPropertyList(value)) << value.typeName();
}

TEST(LayoutEventHandlers, ShareBuildsTextsAndURLsInOrder) {
    auto provider = makeDefaultProvider();
    auto share = std::dynamic_pointer_cast<ZNFLayoutShareEventHandler>(provider->handlers().value("share"));
    ASSERT_TRUE(share);
    std::vector<QVariantList> presented;
    share->setPresenter([&](const QVariantList& items, const std::shared_ptr<ZNFLayoutEvent>&) {
        presented.push_back(items);
    });
    perform(provider, R"({"_type": "share", "items": [{"text": "first", "url": "https://example.com/1"},
        {"url": "not a url", "text": "second"}, "not an entry", {"text": 3, "url": "https://example.com/3"}, {}]})");
    // Items that are no array, or none at all, present nothing.
    perform(provider, R"({"_type": "share", "items": {"text": "not an array"}})");
    perform(provider, R"({"_type": "share", "items": []})");
    EXPECT_EQ(presented,
              (std::vector<QVariantList>{{QStringLiteral("first"), QUrl("https://example.com/1"),
                                          QStringLiteral("second"), QUrl("https://example.com/3")}}));
}

TEST(LayoutEventHandlers, BlockHandlerAndInertTypes) {
    auto provider = makeDefaultProvider();
    std::vector<std::shared_ptr<ZNFLayoutEvent>> seen;
    auto block = ZNFLayoutBlockBasedHandler::handlerWithBlock(
        [&](const std::shared_ptr<ZNFLayoutEvent>& event) { seen.push_back(event); });
    provider->registerHandler(block, QStringLiteral("custom"));
    provider->registerHandler(std::make_shared<ZNFLayoutBlockBasedHandler>(), QStringLiteral("empty"));

    ZNFView view;
    provider->performEvent(json(R"({"_type": "custom", "n": 1})").toMap(), &view, nullptr);
    perform(provider, R"({"_type": "empty"})");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(
        std::tuple(seen[0]->event().value("n").toInt(), seen[0]->sourceView(), seen[0]->layoutProvider()),
        std::tuple(1, &view, provider));

    // A callable that drops its own handler while running is safe.
    block->setBlock([&](const std::shared_ptr<ZNFLayoutEvent>& event) {
        block->setBlock({});
        seen.push_back(event);
    });
    perform(provider, R"({"_type": "custom"})");
    perform(provider, R"({"_type": "custom"})");
    EXPECT_EQ(seen.size(), 2u);

    // The alert and screen types are accepted and do nothing, also for tap registration.
    OpenedURLs opened;
    const QVariantList events = json(R"([{"_type": "alert", "_gesture": "tap", "title": "t"},
        {"_type": "actionSheet", "_gesture": "tap"}, {"_type": "presentScreen", "_gesture": "tap"},
        {"_type": "pushScreen", "_gesture": "tap"}])")
                                    .toList();
    EXPECT_EQ(provider->registerEvents(events, nullptr).size(), 4);
    provider->handleTapForEvents(events, nullptr, nullptr);
    EXPECT_TRUE(opened.urls.isEmpty());
}

#include "events_handlers_test.moc"
