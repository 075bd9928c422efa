#pragma once

#include "layout/ZNFLayoutEvent.h"

#include <QString>
#include <QUrl>
#include <QVariant>

// The event type it is registered under by default.
inline constexpr QLatin1StringView ZNFLayoutEventType_OpenURL{"openURL"};
inline constexpr QLatin1StringView ZNFLayoutOpenURLEventHandler_URL{"url"};

// Opens the event's "url" with the user's default application for its scheme.
class ZNFLayoutOpenURLEventHandler : public ZNFLayoutEventHandling {
public:
    void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) override;

    // The URL that a layout value names, or an empty QUrl when the value is not a string
    // holding a well-formed absolute URL. Relative URLs are refused: the desktop has no
    // default application for them.
    static QUrl urlFromValue(const QVariant& value);
};
