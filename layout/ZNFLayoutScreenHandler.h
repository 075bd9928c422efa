#pragma once

#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutEvent.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <memory>

inline constexpr auto ZNFLayoutEventType_PresentScreen = "presentScreen";
inline constexpr auto ZNFLayoutEventType_PushScreen = "pushScreen";

// A screen that a "presentScreen" or "pushScreen" event would show, with the event that
// asked for it. Nothing fills these yet.
class ZNFLayoutScreenContainer {
public:
    ZNFLayoutCollectionViewController* viewController() const { return m_viewController.data(); }
    void setViewController(ZNFLayoutCollectionViewController* controller) { m_viewController = controller; }
    const std::shared_ptr<ZNFLayoutEvent>& event() const { return m_event; }
    void setEvent(std::shared_ptr<ZNFLayoutEvent> event) { m_event = std::move(event); }

private:
    QPointer<ZNFLayoutCollectionViewController> m_viewController;
    std::shared_ptr<ZNFLayoutEvent> m_event;
};

// Registered for "presentScreen" and "pushScreen" (one instance for both). It has no
// handleEvent() of its own: such events do nothing here.
class ZNFLayoutScreenHandler : public ZNFLayoutEventHandling {
public:
    QHash<QString, std::shared_ptr<ZNFLayoutScreenContainer>>& screenContainers() {
        return m_screenContainers;
    }
    const QHash<QString, std::shared_ptr<ZNFLayoutScreenContainer>>& screenContainers() const {
        return m_screenContainers;
    }

private:
    QHash<QString, std::shared_ptr<ZNFLayoutScreenContainer>> m_screenContainers;
};
