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
    registerHandler(std::make_shared<ZNFLayoutOpenURLEventHandler>(), ZNFLayoutEventType_OpenURL);
    registerHandler(std::make_shared<ZNFLayoutDataHandler>(), ZNFLayoutEventType_Data);
    registerHandler(std::make_shared<ZNFLayoutShareEventHandler>(), ZNFLayoutEventType_Share);
    registerHandler(std::make_shared<ZNFLayoutAlertHandler>(), ZNFLayoutEventType_Alert);
    registerHandler(std::make_shared<ZNFLayoutAlertHandler>(), ZNFLayoutEventType_ActionSheet);
    const auto screens = std::make_shared<ZNFLayoutScreenHandler>();
    registerHandler(screens, ZNFLayoutEventType_PresentScreen);
    registerHandler(screens, ZNFLayoutEventType_PushScreen);
}
