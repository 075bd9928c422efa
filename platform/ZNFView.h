#pragma once

#include "platform/ZNFEvent.h"

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

// A view on top of QWidget. `frame` is in the superview's
// coordinates with y growing upwards unless the superview is flipped; this class alone
// converts to Qt's y-down geometry. It also paints the "layer" properties the items use.
class ZNFView : public QWidget {
    Q_OBJECT
public:
    explicit ZNFView(const QRectF& frame = QRectF(), QWidget* parent = nullptr);

    // Flipped views lay out their subviews with y growing downwards.
    virtual bool isFlipped() const { return m_flipped; }
    void setFlipped(bool flipped);

    QRectF frame() const { return m_frame; }
    void setFrame(const QRectF& frame);
    // (0, 0, width, height) in the view's own coordinates.
    QRectF bounds() const { return QRectF(QPointF(0, 0), m_frame.size()); }

    // Adds `view` as a subview, placed by its frame.
    void addSubview(QWidget* view);
    ZNFView* superview() const;

    // Autoresizing: follow the superview's width and/or height changes.
    enum AutoresizingMask { NotSizable = 0, WidthSizable = 2, HeightSizable = 16 };
    void setAutoresizingMask(int mask) { m_autoresizingMask = mask; }
    int autoresizingMask() const { return m_autoresizingMask; }
    // The same for a plain QWidget placed in a view (kept as a widget property).
    static void setAutoresizingMask(QWidget* widget, int mask);
    static int autoresizingMask(const QWidget* widget);

    // Layer properties.
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color);
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width);
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);
    double zPosition() const { return m_zPosition; }
    void setZPosition(double z);

    // Converts a point between this view's coordinates (flipped or not) and Qt's.
    QPointF toQt(const QPointF& p) const;
    QPointF fromQt(const QPointF& p) const;
    // The point in window (top-level widget) coordinates, y up like every frame of this class.
    QPointF convertPointToWindow(const QPointF& p) const;
    // Any widget's rectangle, and a point given in its Qt coordinates, in window coordinates
    // (origin at the window's bottom-left, y up). Works for plain widgets too.
    static QRectF frameInWindow(const QWidget* widget);
    static QPointF windowLocation(const QWidget* widget, const QPointF& qtPoint);

    // Called when the view is shown and after every change of its size has been applied to its
    // subviews: the place where an owner (a view controller) runs its layout pass.
    void setDidLayoutHandler(std::function<void()> handler) { m_didLayout = std::move(handler); }

    // Mouse input. A view with a responder (its view controller) hands presses and releases of
    // both buttons to it and keeps the release that follows; a view without one lets the event
    // travel on to its superview, until a view whose responder handles it.
    void setMouseResponder(QObject* responder);
    QObject* mouseResponder() const { return m_responder.data(); }

    // Tracking areas report mouse enter and exit inside their rectangle to their owner. An area
    // starts outside; one that `replaces` another (removed before) takes over whether the
    // pointer is inside, so that an area replaced under the pointer still reports the exit.
    void addTrackingArea(const std::shared_ptr<ZNFTrackingArea>& area,
                         const std::shared_ptr<ZNFTrackingArea>& replaces = nullptr);
    void removeTrackingArea(const std::shared_ptr<ZNFTrackingArea>& area);
    const std::vector<std::shared_ptr<ZNFTrackingArea>>& trackingAreas() const { return m_trackingAreas; }

protected:
    // Subclasses draw here in Qt coordinates after the layer background and before the border.
    virtual void drawContents(QPainter& painter);
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // Re-places one subview after the frame or the superview's height changed.
    void placeSubview(QWidget* child);
    // Called when the frame's size changed, after the subviews followed and before the
    // did-layout handler runs.
    virtual void frameSizeDidChange(const QSizeF& oldSize) { Q_UNUSED(oldSize); }

private:
    void applyGeometry();
    void restackByZ();
    void resizeSubviews(const QSizeF& oldSize);
    bool dispatchMouse(QMouseEvent* event, bool press);
    void updateTracking(const QPointF& qtPoint, bool inside);

    QRectF m_frame;
    bool m_flipped = false;
    int m_autoresizingMask = NotSizable;
    QColor m_backgroundColor;
    QColor m_borderColor;
    double m_borderWidth = 0;
    double m_cornerRadius = 0;
    double m_zPosition = 0;
    QSizeF m_lastSize;
    std::function<void()> m_didLayout;
    QPointer<QObject> m_responder;
    std::vector<std::shared_ptr<ZNFTrackingArea>> m_trackingAreas;
};
