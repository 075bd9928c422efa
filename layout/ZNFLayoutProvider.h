#pragma once

#include "layout/ZNFLayoutEvent.h"
#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFPredicator.h"
#include "text/ZNFTextFormatter.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

class ZNFLayoutProvider;
class ZNFViewController;

// Keys and values of layout data that the provider reads.
inline constexpr QLatin1StringView ZNFLayoutParser_Type{"_type"};
inline constexpr QLatin1StringView ZNFLayoutParser_Predicate{"_predicate"};
inline constexpr QLatin1StringView ZNFLayoutParser_Events{"_events"};
inline constexpr QLatin1StringView ZNFLayoutParser_Gesture{"_gesture"};
inline constexpr QLatin1StringView ZNFLayoutParser_Tap{"tap"};
inline constexpr QLatin1StringView ZNFLayoutParser_LongPress{"longPress"};
inline constexpr QLatin1StringView ZNFLayoutParser_Delay{"_delay"};

// Turns one layout dictionary into items: one, several, or none (an empty list). Null entries
// of the list count as "not an item" and are skipped by the provider. A parser may use the
// provider to parse nested layout data.
class ZNFLayoutParsing {
public:
    virtual ~ZNFLayoutParsing() = default;
    virtual ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                                  ZNFLayoutProvider* provider) = 0;
};

// Builds items from layout data through parsers registered by type, attaches and performs
// events through handlers registered by event type, and filters both through its predicator.
// Make providers with std::make_shared: events carry a weak reference to their provider.
class ZNFLayoutProvider : public std::enable_shared_from_this<ZNFLayoutProvider> {
public:
    using ParserMap = QHash<QString, std::shared_ptr<ZNFLayoutParsing>>;
    using HandlerMap = QHash<QString, std::shared_ptr<ZNFLayoutEventHandling>>;

    // The default registrations.
    ZNFLayoutProvider();
    // A copy of the registrations of the template provider registered under `templateId`;
    // the default registrations when there is none.
    explicit ZNFLayoutProvider(const QString& templateId);
    virtual ~ZNFLayoutProvider();

    // Handlers: openURL, data, share, alert, actionSheet, presentScreen, pushScreen; evaluators:
    // device, locale, date, data. The item parsers live a layer up, in layout/items/: the owner
    // of a provider registers them with ZNFRegisterDefaultItemParsers().
    void registerDefaultProviders();

    // Both ignore a missing object or an empty key; a later registration replaces an earlier one.
    void registerProvider(const std::shared_ptr<ZNFLayoutParsing>& parser, const QString& type);
    void registerHandler(const std::shared_ptr<ZNFLayoutEventHandling>& handler, const QString& eventType);

    // Takes over the other provider's parsers, handlers and evaluators (same keys replaced);
    // the text formatter stays.
    void updateWithTemplate(const std::shared_ptr<ZNFLayoutProvider>& provider);
    void updateWithId(const QString& templateId);

    // The process-wide template providers (main thread only).
    static QHash<QString, std::shared_ptr<ZNFLayoutProvider>>& templates();
    // Ignored without a provider or with an empty id.
    static void registerTemplateProvider(const std::shared_ptr<ZNFLayoutProvider>& provider,
                                         const QString& templateId);
    static std::shared_ptr<ZNFLayoutProvider> providerForTemplateId(const QString& templateId);

    // Items of an array of layout dictionaries, in order; anything unusable is skipped. Tables
    // nest items through this call; past kMaxNesting levels the inner items are dropped.
    ZNFLayoutItemList layoutItemsWithData(const QVariant& data);
    static constexpr int kMaxNesting = 32;
    bool predicatePassesForItem(const QVariantMap& item) const;
    // Collects the tap events of `events` that have a handler and returns them. Nothing is
    // attached to the item: layout-data events run only through performEvent() and
    // handleTapForEvents(), which the scripting bridge calls.
    virtual QVariantList registerEvents(const QVariant& events, const std::shared_ptr<ZNFLayoutItem>& item);
    // Runs one event dictionary synchronously through its handler, unless its predicate fails.
    void performEvent(const QVariantMap& event, QWidget* view, ZNFViewController* viewController);
    void handleTapForEvents(const QVariantList& events, QWidget* view, ZNFViewController* viewController);

    const ParserMap& providers() const { return m_providers; }
    const HandlerMap& handlers() const { return m_handlers; }
    ZNFPredicator* predicator() { return &m_predicator; }
    const ZNFPredicator* predicator() const { return &m_predicator; }
    // The provider's own formatter, empty at first. Item parsers keep the formatter the
    // provider had when they were registered.
    std::shared_ptr<ZNFTextFormatter> textFormatter() const { return m_textFormatter; }
    void setTextFormatter(std::shared_ptr<ZNFTextFormatter> formatter) {
        m_textFormatter = std::move(formatter);
    }

private:
    void setUp(const QString& templateId);
    // Default event handlers, in layout/ZNFLayoutEventHandlerRegistrations.cpp.
    void registerDefaultEventHandlers();
    void registerDefaultEvaluators();

    ParserMap m_providers;
    HandlerMap m_handlers;
    ZNFPredicator m_predicator;
    std::shared_ptr<ZNFTextFormatter> m_textFormatter;
    int m_nesting = 0;
};
