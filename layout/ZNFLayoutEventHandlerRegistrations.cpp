#include "layout/ZNFLayoutAlertHandler.h"
#include "layout/ZNFLayoutDataHandler.h"
#include "layout/ZNFLayoutOpenURLEventHandler.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFLayoutScreenHandler.h"
#include "layout/ZNFLayoutShareEventHandler.h"

// The default event handlers, in this order. "alert" and "actionSheet" get handlers of their
// own; "presentScreen" and "pushScreen" share one screen handler, whose containers are meant
// to be common to both.
void ZNFLayoutProvider::registerDefaultEventHandlers() {
    registerHandler(std::make_shared<ZNFLayoutOpenURLEventHandler>(),
                    QLatin1String(ZNFLayoutEventType_OpenURL));
    registerHandler(std::make_shared<ZNFLayoutDataHandler>(), QLatin1String(ZNFLayoutEventType_Data));
    registerHandler(std::make_shared<ZNFLayoutShareEventHandler>(), QLatin1String(ZNFLayoutEventType_Share));
    registerHandler(std::make_shared<ZNFLayoutAlertHandler>(), QLatin1String(ZNFLayoutEventType_Alert));
    registerHandler(std::make_shared<ZNFLayoutAlertHandler>(), QLatin1String(ZNFLayoutEventType_ActionSheet));
    const auto screens = std::make_shared<ZNFLayoutScreenHandler>();
    registerHandler(screens, QLatin1String(ZNFLayoutEventType_PresentScreen));
    registerHandler(screens, QLatin1String(ZNFLayoutEventType_PushScreen));
}
