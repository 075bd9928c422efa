#pragma once

#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <memory>

class ZNFTrackingArea;

// Event type numbers. Layout event handlers compare against these values, so they must never
// change.
enum ZNFEventType : int {
    ZNFEventTypeLeftMouseDown = 1,
    ZNFEventTypeLeftMouseUp = 2,
    ZNFEventTypeRightMouseDown = 3,
    ZNFEventTypeRightMouseUp = 4,
    ZNFEventTypeMouseMoved = 5,
    ZNFEventTypeLeftMouseDragged = 6,
    ZNFEventTypeRightMouseDragged = 7,
    ZNFEventTypeMouseEntered = 8,
    ZNFEventTypeMouseExited = 9,
};

// A mouse event as the layout engine sees it: the type number and the location in the
// window's coordinates (origin at the window's bottom-left corner, y growing upwards).
class ZNFEvent {
public:
    ZNFEvent() = default;
    ZNFEvent(ZNFEventType type, const QPointF& locationInWindow, QWidget* window = nullptr)
        : m_type(type), m_location(locationInWindow), m_window(window) {}

    ZNFEventType type() const { return m_type; }
    QPointF locationInWindow() const { return m_location; }
    // The top-level widget the event happened in (may be gone by the time a handler looks).
    QWidget* window() const { return m_window.data(); }

    int clickCount() const { return m_clickCount; }
    void setClickCount(int count) { m_clickCount = count; }
    Qt::KeyboardModifiers modifierFlags() const { return m_modifiers; }
    void setModifierFlags(Qt::KeyboardModifiers modifiers) { m_modifiers = modifiers; }
    // For mouse enter and exit: the tracking area that reported it.
    std::shared_ptr<ZNFTrackingArea> trackingArea() const { return m_trackingArea.lock(); }
    void setTrackingArea(const std::shared_ptr<ZNFTrackingArea>& area) { m_trackingArea = area; }

    bool isMouseClick() const {
        return m_type >= ZNFEventTypeLeftMouseDown && m_type <= ZNFEventTypeRightMouseUp;
    }

private:
    ZNFEventType m_type = ZNFEventTypeMouseMoved;
    QPointF m_location;
    QPointer<QWidget> m_window;
    int m_clickCount = 0;
    Qt::KeyboardModifiers m_modifiers = Qt::NoModifier;
    std::weak_ptr<ZNFTrackingArea> m_trackingArea;
};

// Anything that can receive mouse events from a view or a tracking area. Every method does
// nothing by default.
class ZNFMouseResponder {
public:
    virtual ~ZNFMouseResponder() = default;
    // A view hands button presses to its responder only when this says yes; otherwise the
    // press travels on to the superview, so an enclosing view that handles it still gets it.
    virtual bool handlesMouseButtons() const { return false; }
    virtual void mouseDown(const ZNFEvent&) {}
    virtual void mouseUp(const ZNFEvent&) {}
    virtual void rightMouseDown(const ZNFEvent&) {}
    virtual void rightMouseUp(const ZNFEvent&) {}
    virtual void mouseEntered(const ZNFEvent&) {}
    virtual void mouseExited(const ZNFEvent&) {}
};

// Tracking options, a bit set.
enum ZNFTrackingAreaOptions : int {
    ZNFTrackingMouseEnteredAndExited = 0x01,
    ZNFTrackingMouseMoved = 0x02,
    ZNFTrackingActiveInKeyWindow = 0x20,
    ZNFTrackingActiveInActiveApp = 0x40,
    ZNFTrackingActiveAlways = 0x80,
};

// A rectangle of a view (in the view's own coordinates) that reports the pointer entering
// and leaving it to its owner. The owner is held weakly; it must be a QObject that is also a
// ZNFMouseResponder to be told anything.
class ZNFTrackingArea : public std::enable_shared_from_this<ZNFTrackingArea> {
public:
    ZNFTrackingArea(const QRectF& rect, int options, QObject* owner)
        : m_rect(rect), m_options(options), m_owner(owner) {}

    QRectF rect() const { return m_rect; }
    int options() const { return m_options; }
    QObject* owner() const { return m_owner.data(); }

    // Used by the view that holds the area.
    bool isInside() const { return m_inside; }
    void setInside(bool inside) { m_inside = inside; }

private:
    QRectF m_rect;
    int m_options = 0;
    QPointer<QObject> m_owner;
    bool m_inside = false;
};
