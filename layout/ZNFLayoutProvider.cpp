#include "layout/ZNFLayoutProvider.h"

#include "layout/ZNFLayoutLog.h"
#include "text/ZNFTextFormatter.h"

#include <QScopeGuard>
#include <mutex>

ZNFLayoutProvider::ZNFLayoutProvider() {
    setUp(QString());
}

ZNFLayoutProvider::ZNFLayoutProvider(const QString& templateId) {
    setUp(templateId);
}

ZNFLayoutProvider::~ZNFLayoutProvider() = default;

void ZNFLayoutProvider::setUp(const QString& templateId) {
    // A formatter of the provider's own, empty: item parsers registered later keep this one.
    m_textFormatter = std::make_shared<ZNFTextFormatter>();
    if (const auto provider = providerForTemplateId(templateId))
        updateWithTemplate(provider);
    else
        registerDefaultProviders();
}

void ZNFLayoutProvider::registerDefaultProviders() {
    registerDefaultEventHandlers();
    registerDefaultEvaluators();
}

void ZNFLayoutProvider::registerDefaultEvaluators() {
    m_predicator.registerEvaluator(std::make_shared<ZNFDevicePredicateEvaluator>(), ZNFPredicatorKey_Device);
    m_predicator.registerEvaluator(std::make_shared<ZNFLocalizationPredicateEvaluator>(),
                                   ZNFPredicatorKey_Locale);
    m_predicator.registerEvaluator(std::make_shared<ZNFDatePredicateEvaluator>(), ZNFPredicatorKey_Date);
    m_predicator.registerEvaluator(std::make_shared<ZNFDataPredicateEvaluator>(), ZNFPredicatorKey_Data);
}

void ZNFLayoutProvider::registerProvider(const std::shared_ptr<ZNFLayoutParsing>& parser,
                                         const QString& type) {
    if (!parser || type.isEmpty())
        return;
    m_providers.insert(type, parser);
}

void ZNFLayoutProvider::registerHandler(const std::shared_ptr<ZNFLayoutEventHandling>& handler,
                                        const QString& eventType) {
    if (!handler || eventType.isEmpty())
        return;
    m_handlers.insert(eventType, handler);
}

void ZNFLayoutProvider::updateWithTemplate(const std::shared_ptr<ZNFLayoutProvider>& provider) {
    if (!provider || provider.get() == this)
        return;
    for (auto it = provider->m_providers.cbegin(); it != provider->m_providers.cend(); ++it)
        m_providers.insert(it.key(), it.value());
    for (auto it = provider->m_handlers.cbegin(); it != provider->m_handlers.cend(); ++it)
        m_handlers.insert(it.key(), it.value());
    m_predicator.updateWithTemplate(&provider->m_predicator);
}

void ZNFLayoutProvider::updateWithId(const QString& templateId) {
    updateWithTemplate(providerForTemplateId(templateId));
}

QHash<QString, std::shared_ptr<ZNFLayoutProvider>>& ZNFLayoutProvider::templates() {
    static std::once_flag once;
    static QHash<QString, std::shared_ptr<ZNFLayoutProvider>>* map = nullptr;
    std::call_once(once, [] { map = new QHash<QString, std::shared_ptr<ZNFLayoutProvider>>(); });
    return *map;
}

void ZNFLayoutProvider::registerTemplateProvider(const std::shared_ptr<ZNFLayoutProvider>& provider,
                                                 const QString& templateId) {
    if (!provider || templateId.isEmpty())
        return;
    templates().insert(templateId, provider);
}

std::shared_ptr<ZNFLayoutProvider> ZNFLayoutProvider::providerForTemplateId(const QString& templateId) {
    if (templateId.isEmpty())
        return nullptr;
    return templates().value(templateId);
}

bool ZNFLayoutProvider::predicatePassesForItem(const QVariantMap& item) const {
    return m_predicator.evaluatePredicates(item.value(ZNFLayoutParser_Predicate));
}

ZNFLayoutItemList ZNFLayoutProvider::layoutItemsWithData(const QVariant& data) {
    ZNFLayoutItemList result;
    if (data.typeId() != QMetaType::QVariantList)
        return result;
    // Each level is a table of views to size and draw; hostile data nesting hundreds of them
    // would take minutes and a deep stack, and no screen needs more than a few.
    if (m_nesting >= kMaxNesting) {
        qCWarning(lcLayout()).noquote()
            << QStringLiteral("Layout data nests tables deeper than %1 levels; the inner items are left out")
                   .arg(QString::number(kMaxNesting));
        return result;
    }
    ++m_nesting;
    const auto unnest = qScopeGuard([this] { --m_nesting; });
    const QVariantList elements = data.toList();
    for (const QVariant& element : elements) {
        if (element.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap dictionary = element.toMap();
        const QVariant type = dictionary.value(ZNFLayoutParser_Type);
        if (type.typeId() != QMetaType::QString)
            continue;
        // Hold the parser: a parser may re-register parsers of this provider while it runs.
        const std::shared_ptr<ZNFLayoutParsing> parser = m_providers.value(type.toString());
        if (!parser || !predicatePassesForItem(dictionary))
            continue;
        const ZNFLayoutItemList items = parser->itemsWithDictionary(dictionary, this);
        const QVariant events = dictionary.value(ZNFLayoutParser_Events);
        for (const auto& item : items) {
            if (!item)
                continue;
            registerEvents(events, item);
            result.push_back(item);
        }
    }
    return result;
}

QVariantList ZNFLayoutProvider::registerEvents(const QVariant& events,
                                               const std::shared_ptr<ZNFLayoutItem>& item) {
    Q_UNUSED(item);
    QVariantList taps;
    if (events.typeId() != QMetaType::QVariantList)
        return taps;
    for (const QVariant& entry : events.toList()) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap event = entry.toMap();
        const QVariant type = event.value(ZNFLayoutParser_Type);
        const QVariant gesture = event.value(ZNFLayoutParser_Gesture);
        if (type.typeId() == QMetaType::QString && m_handlers.contains(type.toString()) &&
            gesture.typeId() == QMetaType::QString && gesture.toString() == ZNFLayoutParser_Tap)
            taps.append(event);
    }
    // Nothing is attached to the item: its click handler stays the application's.
    return taps;
}

void ZNFLayoutProvider::performEvent(const QVariantMap& event, QWidget* view,
                                     ZNFViewController* viewController) {
    const QString predicateKey = ZNFLayoutParser_Predicate;
    if (event.contains(predicateKey) && !m_predicator.evaluatePredicates(event.value(predicateKey)))
        return;
    const QVariant type = event.value(ZNFLayoutParser_Type);
    if (type.typeId() != QMetaType::QString)
        return;
    const std::shared_ptr<ZNFLayoutEventHandling> handler = m_handlers.value(type.toString());
    if (!handler)
        return;
    auto layoutEvent = std::make_shared<ZNFLayoutEvent>();
    layoutEvent->setEvent(event);
    layoutEvent->setSourceView(view);
    layoutEvent->setViewController(viewController);
    layoutEvent->setLayoutProvider(weak_from_this());
    handler->handleEvent(layoutEvent);
}

void ZNFLayoutProvider::handleTapForEvents(const QVariantList& events, QWidget* view,
                                           ZNFViewController* viewController) {
    for (const QVariant& entry : events) {
        if (entry.typeId() == QMetaType::QVariantMap)
            performEvent(entry.toMap(), view, viewController);
    }
}
