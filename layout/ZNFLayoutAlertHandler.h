#pragma once

#include "layout/ZNFLayoutEvent.h"

inline constexpr QLatin1StringView ZNFLayoutEventType_Alert{"alert"};
inline constexpr QLatin1StringView ZNFLayoutEventType_ActionSheet{"actionSheet"};

// Registered for "alert" and "actionSheet" so that layout data naming them is accepted.
// It has no handleEvent() of its own: such events do nothing here.
class ZNFLayoutAlertHandler : public ZNFLayoutEventHandling {};
