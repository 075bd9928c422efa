#include "layout/ZNFLayoutShareEventHandler.h"

#include "layout/ZNFLayoutOpenURLEventHandler.h"

void ZNFLayoutShareEventHandler::handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) {
    if (!event)
        return;
    const QVariantList items = activityItemsForEvent(event->event());
    const Presenter presenter = m_presenter;
    if (presenter && !items.isEmpty())
        presenter(items, event);
}

QVariantList ZNFLayoutShareEventHandler::activityItemsForEvent(const QVariantMap& event) {
    QVariantList result;
    const QVariant items = event.value(ZNFLayoutShareEventHandlerKey_Items);
    if (items.typeId() != QMetaType::QVariantList)
        return result;
    for (const QVariant& entry : items.toList()) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap item = entry.toMap();
        const QVariant text = item.value(ZNFLayoutShareEventHandlerKey_Text);
        if (text.typeId() == QMetaType::QString)
            result.append(text);
        const QUrl url =
            ZNFLayoutOpenURLEventHandler::urlFromValue(item.value(ZNFLayoutShareEventHandlerKey_URL));
        if (!url.isEmpty())
            result.append(url);
    }
    return result;
}
