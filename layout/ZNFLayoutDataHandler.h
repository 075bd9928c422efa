#pragma once

#include "layout/ZNFLayoutEvent.h"

// The event type it is registered under by default.
inline constexpr QLatin1StringView ZNFLayoutEventType_Data{"data"};
inline constexpr QLatin1StringView ZNFLayoutDataHandlerKey_Action{"action"};
inline constexpr QLatin1StringView ZNFLayoutDataHandlerKey_Set{"set"};
inline constexpr QLatin1StringView ZNFLayoutDataHandlerKey_Key{"key"};
inline constexpr QLatin1StringView ZNFLayoutDataHandlerKey_Value{"value"};

// Writes layout-data settings into the standard user defaults. Only the action "set" does
// anything: with a key and a value it stores the value, with a key and no value (or null) it
// removes the key. A value that is not a property list is refused, leaving what was stored.
class ZNFLayoutDataHandler : public ZNFLayoutEventHandling {
public:
    void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) override;
};
