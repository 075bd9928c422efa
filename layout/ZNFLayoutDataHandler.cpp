#include "layout/ZNFLayoutDataHandler.h"

#include "layout/ZNFUserDefaults.h"

void ZNFLayoutDataHandler::handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) {
    if (!event)
        return;
    const QVariantMap& data = event->event();
    const QVariant action = data.value(ZNFLayoutDataHandlerKey_Action);
    if (action.typeId() != QMetaType::QString || action.toString() != ZNFLayoutDataHandlerKey_Set)
        return;
    const QVariant key = data.value(ZNFLayoutDataHandlerKey_Key);
    if (key.typeId() != QMetaType::QString || key.toString().isEmpty())
        return;
    ZNFUserDefaults& defaults = ZNFUserDefaults::standardUserDefaults();
    const QVariant value = data.value(ZNFLayoutDataHandlerKey_Value);
    // A JSON null reads as "no value": the setting is cleared.
    if (!value.isValid() || value.isNull()) {
        defaults.removeObjectForKey(key.toString());
        return;
    }
    if (ZNFUserDefaults::isPropertyList(value))
        defaults.setObject(value, key.toString());
}
