#pragma once

#include "layout/ZNFLayoutEvent.h"

#include <QString>
#include <QVariantList>
#include <functional>

// The event type it is registered under by default.
inline constexpr QLatin1StringView ZNFLayoutEventType_Share{"share"};
inline constexpr QLatin1StringView ZNFLayoutShareEventHandlerKey_Items{"items"};
inline constexpr QLatin1StringView ZNFLayoutShareEventHandlerKey_Text{"text"};
inline constexpr QLatin1StringView ZNFLayoutShareEventHandlerKey_URL{"url"};

// Collects what a "share" event offers: for each entry of "items", its "text" (a QString)
// and then its "url" (a QUrl) when that is a valid absolute URL. No sharing interface exists
// on this desktop; an owner that has one installs a presenter.
class ZNFLayoutShareEventHandler : public ZNFLayoutEventHandling {
public:
    using Presenter =
        std::function<void(const QVariantList& activityItems, const std::shared_ptr<ZNFLayoutEvent>& event)>;

    void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) override;

    // The things to share, in order; empty when "items" is not an array.
    static QVariantList activityItemsForEvent(const QVariantMap& event);

    // Called with a non-empty list of things to share.
    const Presenter& presenter() const { return m_presenter; }
    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

private:
    Presenter m_presenter;
};
