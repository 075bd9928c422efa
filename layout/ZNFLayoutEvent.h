#pragma once

#include "platform/ZNFViewController.h"

#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <QWidget>
#include <memory>

class ZNFLayoutProvider;

// One event of layout data on its way to a handler.
class ZNFLayoutEvent {
public:
    // The event dictionary from the layout data.
    const QVariantMap& event() const { return m_event; }
    void setEvent(const QVariantMap& event) { m_event = event; }
    // The gesture name; the provider does not set it.
    const QString& gesture() const { return m_gesture; }
    void setGesture(const QString& gesture) { m_gesture = gesture; }
    // The provider that dispatched the event (held weakly).
    std::shared_ptr<ZNFLayoutProvider> layoutProvider() const { return m_layoutProvider.lock(); }
    void setLayoutProvider(const std::weak_ptr<ZNFLayoutProvider>& provider) { m_layoutProvider = provider; }
    ZNFViewController* viewController() const { return m_viewController.data(); }
    void setViewController(ZNFViewController* controller) { m_viewController = controller; }
    QWidget* sourceView() const { return m_sourceView.data(); }
    void setSourceView(QWidget* view) { m_sourceView = view; }

private:
    QVariantMap m_event;
    QString m_gesture;
    std::weak_ptr<ZNFLayoutProvider> m_layoutProvider;
    QPointer<ZNFViewController> m_viewController;
    QPointer<QWidget> m_sourceView;
};

// Event handlers. handleEvent() is optional: a handler that does not override it ignores
// every event it is given.
class ZNFLayoutEventHandling {
public:
    virtual ~ZNFLayoutEventHandling() = default;
    // Synchronous; no result.
    virtual void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) { Q_UNUSED(event); }
};
