#include "layout/ZNFLayoutProvider.h"

// The default event handlers, registered in this order:
//   "openURL"       -> ZNFLayoutOpenURLEventHandler
//   "data"          -> ZNFLayoutDataHandler
//   "share"         -> ZNFLayoutShareEventHandler
//   "alert"         -> a ZNFLayoutAlertHandler
//   "actionSheet"   -> another ZNFLayoutAlertHandler
//   "presentScreen" -> one ZNFLayoutScreenHandler
//   "pushScreen"    -> the same ZNFLayoutScreenHandler instance
// Each handler registers itself here as it arrives; this file belongs to the event handlers.
void ZNFLayoutProvider::registerDefaultEventHandlers() {}
