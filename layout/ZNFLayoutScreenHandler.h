#pragma once

#include "layout/ZNFLayoutEvent.h"

inline constexpr QLatin1StringView ZNFLayoutEventType_PresentScreen{"presentScreen"};
inline constexpr QLatin1StringView ZNFLayoutEventType_PushScreen{"pushScreen"};

// Registered for "presentScreen" and "pushScreen" (one instance for both). It has no
// handleEvent() of its own: such events do nothing here.
class ZNFLayoutScreenHandler : public ZNFLayoutEventHandling {};
