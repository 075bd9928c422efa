#include "platform/ZNFView.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

ZNFView::ZNFView(const QRectF& frame, QWidget* parent) : QWidget(parent), m_frame(frame) {
    m_lastSize = frame.size();
    applyGeometry();
}

void ZNFView::setFlipped(bool flipped) {
    if (m_flipped == flipped)
        return;
    m_flipped = flipped;
    for (QObject* o : children())
        if (auto* w = qobject_cast<QWidget*>(o))
            placeSubview(w);
}

ZNFView* ZNFView::superview() const {
    return qobject_cast<ZNFView*>(parentWidget());
}

void ZNFView::setFrame(const QRectF& frame) {
    const QSizeF oldSize = m_frame.size();
    m_frame = frame;
    // Subviews first: whoever watches this view's resize (a controller's layout pass) must
    // already see them at their new size.
    if (oldSize != frame.size())
        resizeSubviews(oldSize);
    applyGeometry();
    if (oldSize != frame.size()) {
        frameSizeDidChange(oldSize);
        if (m_didLayout)
            m_didLayout();
    }
}

void ZNFView::resizeSubviews(const QSizeF& oldSize) {
    // Autoresizing subviews follow the change; y-up subviews keep their distance from the bottom.
    const double dw = m_frame.width() - oldSize.width();
    const double dh = m_frame.height() - oldSize.height();
    for (QObject* o : children()) {
        if (auto* v = qobject_cast<ZNFView*>(o)) {
            QRectF f = v->frame();
            if (v->autoresizingMask() & WidthSizable)
                f.setWidth(std::max(0.0, f.width() + dw));
            if (v->autoresizingMask() & HeightSizable)
                f.setHeight(std::max(0.0, f.height() + dh));
            if (f != v->frame())
                v->setFrame(f);
            else
                placeSubview(v);
        } else if (auto* w = qobject_cast<QWidget*>(o)) {
            if (w->isWindow())
                continue;
            const int mask = autoresizingMask(w);
            QRect g = w->geometry();
            const int idw = static_cast<int>(std::round(dw));
            const int idh = static_cast<int>(std::round(dh));
            if (mask & WidthSizable)
                g.setWidth(std::max(0, g.width() + idw));
            if (mask & HeightSizable)
                g.setHeight(std::max(0, g.height() + idh));
            else if (!isFlipped())
                g.moveTop(g.top() + idh);
            w->setGeometry(g);
        }
    }
}

void ZNFView::setAutoresizingMask(QWidget* widget, int mask) {
    if (auto* v = qobject_cast<ZNFView*>(widget))
        v->setAutoresizingMask(mask);
    else if (widget)
        widget->setProperty("znfAutoresizingMask", mask);
}

int ZNFView::autoresizingMask(const QWidget* widget) {
    if (auto* v = qobject_cast<const ZNFView*>(widget))
        return v->autoresizingMask();
    return widget ? widget->property("znfAutoresizingMask").toInt() : 0;
}

void ZNFView::applyGeometry() {
    if (auto* super = superview()) {
        super->placeSubview(this);
        return;
    }
    const QRect r(static_cast<int>(std::floor(m_frame.x())), static_cast<int>(std::floor(m_frame.y())),
                  static_cast<int>(std::ceil(m_frame.width())),
                  static_cast<int>(std::ceil(m_frame.height())));
    if (parentWidget())
        setGeometry(r);
    else
        resize(r.size());
}

void ZNFView::placeSubview(QWidget* child) {
    auto* v = qobject_cast<ZNFView*>(child);
    if (!v)
        return;
    const QRectF f = v->frame();
    const double y = isFlipped() ? f.y() : m_frame.height() - f.y() - f.height();
    v->setGeometry(QRect(static_cast<int>(std::round(f.x())), static_cast<int>(std::round(y)),
                         static_cast<int>(std::round(f.width())), static_cast<int>(std::round(f.height()))));
}

void ZNFView::addSubview(QWidget* view) {
    if (!view)
        return;
    view->setParent(this);
    placeSubview(view);
    restackByZ();
    view->show();
}

void ZNFView::setBackgroundColor(const QColor& color) {
    m_backgroundColor = color;
    update();
}
void ZNFView::setBorderColor(const QColor& color) {
    m_borderColor = color;
    update();
}
void ZNFView::setBorderWidth(double width) {
    m_borderWidth = width;
    update();
}
void ZNFView::setCornerRadius(double radius) {
    m_cornerRadius = radius;
    update();
}
void ZNFView::setZPosition(double z) {
    m_zPosition = z;
    if (auto* super = superview())
        super->restackByZ();
}

void ZNFView::restackByZ() {
    std::vector<ZNFView*> subviews;
    for (QObject* o : children())
        if (auto* v = qobject_cast<ZNFView*>(o))
            subviews.push_back(v);
    std::stable_sort(subviews.begin(), subviews.end(),
                     [](ZNFView* a, ZNFView* b) { return a->zPosition() < b->zPosition(); });
    for (ZNFView* v : subviews)
        v->raise();
}

QPointF ZNFView::toQt(const QPointF& p) const {
    return isFlipped() ? p : QPointF(p.x(), m_frame.height() - p.y());
}
QPointF ZNFView::fromQt(const QPointF& p) const {
    return toQt(p);
}

QPointF ZNFView::convertPointToWindow(const QPointF& p) const {
    return windowLocation(this, toQt(p));
}

QPointF ZNFView::windowLocation(const QWidget* widget, const QPointF& qtPoint) {
    if (!widget)
        return qtPoint;
    const QWidget* top = widget->window();
    const QPoint whole = qtPoint.toPoint();
    const QPointF inTop = QPointF(widget->mapTo(top, whole)) + (qtPoint - QPointF(whole));
    return QPointF(inTop.x(), top->height() - inTop.y());
}

QRectF ZNFView::frameInWindow(const QWidget* widget) {
    if (!widget)
        return QRectF();
    const QPointF topLeft = windowLocation(widget, QPointF(0, 0));
    // In y-up window coordinates the rectangle's origin is its bottom-left corner.
    return QRectF(topLeft.x(), topLeft.y() - widget->height(), widget->width(), widget->height());
}

void ZNFView::setMouseResponder(QObject* responder) {
    m_responder = responder;
}

bool ZNFView::dispatchMouse(QMouseEvent* event, bool press) {
    auto* responder = dynamic_cast<ZNFMouseResponder*>(m_responder.data());
    if (!responder || !responder->handlesMouseButtons())
        return false;
    ZNFEventType type;
    if (event->button() == Qt::LeftButton)
        type = press ? ZNFEventTypeLeftMouseDown : ZNFEventTypeLeftMouseUp;
    else if (event->button() == Qt::RightButton)
        type = press ? ZNFEventTypeRightMouseDown : ZNFEventTypeRightMouseUp;
    else
        return false;
    ZNFEvent e(type, windowLocation(this, event->position()), window());
    e.setModifierFlags(event->modifiers());
    e.setClickCount(press ? (event->type() == QEvent::MouseButtonDblClick ? 2 : 1) : 1);
    switch (type) {
    case ZNFEventTypeLeftMouseDown:
        responder->mouseDown(e);
        break;
    case ZNFEventTypeLeftMouseUp:
        responder->mouseUp(e);
        break;
    case ZNFEventTypeRightMouseDown:
        responder->rightMouseDown(e);
        break;
    default:
        responder->rightMouseUp(e);
        break;
    }
    return true;
}

void ZNFView::mousePressEvent(QMouseEvent* event) {
    if (dispatchMouse(event, true))
        event->accept();
    else
        event->ignore();
}

void ZNFView::mouseReleaseEvent(QMouseEvent* event) {
    if (dispatchMouse(event, false))
        event->accept();
    else
        event->ignore();
}

void ZNFView::addTrackingArea(const std::shared_ptr<ZNFTrackingArea>& area,
                              const std::shared_ptr<ZNFTrackingArea>& replaces) {
    if (!area)
        return;
    if (std::find(m_trackingAreas.begin(), m_trackingAreas.end(), area) == m_trackingAreas.end())
        m_trackingAreas.push_back(area);
    setMouseTracking(true);
    // Without the "assume inside" option the first movement over the area reports the entry.
    area->setInside(replaces && replaces != area && replaces->isInside());
}

void ZNFView::removeTrackingArea(const std::shared_ptr<ZNFTrackingArea>& area) {
    std::erase(m_trackingAreas, area);
    if (m_trackingAreas.empty())
        setMouseTracking(false);
}

void ZNFView::updateTracking(const QPointF& qtPoint, bool inside) {
    if (m_trackingAreas.empty())
        return;
    const QPointF p = fromQt(qtPoint);
    const QPointF inWindow = windowLocation(this, qtPoint);
    // Copy: an owner may add or remove areas while being told.
    const auto areas = m_trackingAreas;
    QPointer<ZNFView> self(this);
    for (const auto& area : areas) {
        if (!(area->options() & ZNFTrackingMouseEnteredAndExited))
            continue;
        bool active = true;
        if ((area->options() & ZNFTrackingActiveInKeyWindow) && !(area->options() & ZNFTrackingActiveAlways))
            active = window()->isActiveWindow();
        const bool nowInside = inside && active && area->rect().contains(p);
        if (nowInside == area->isInside())
            continue;
        area->setInside(nowInside);
        auto* responder = dynamic_cast<ZNFMouseResponder*>(area->owner());
        if (!responder)
            continue;
        ZNFEvent e(nowInside ? ZNFEventTypeMouseEntered : ZNFEventTypeMouseExited, inWindow, window());
        e.setTrackingArea(area);
        if (nowInside)
            responder->mouseEntered(e);
        else
            responder->mouseExited(e);
        if (!self)
            return;
    }
}

void ZNFView::mouseMoveEvent(QMouseEvent* event) {
    updateTracking(event->position(), rect().contains(event->position().toPoint()));
    // Superviews may track the pointer too.
    event->ignore();
}

void ZNFView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    updateTracking(event->position(), true);
}

void ZNFView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    updateTracking(QPointF(-1, -1), false);
}

void ZNFView::drawContents(QPainter&) {}

void ZNFView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_cornerRadius > 0);
    const QRectF r = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(r, m_cornerRadius, m_cornerRadius);
    // The layer's border lies inside the bounds. Where there is one, the background fills only
    // the inside of it, so that no antialiased sliver of background shows around the border.
    const bool hasBorder = m_borderWidth > 0 && m_borderColor.isValid() && m_borderColor.alpha() > 0;
    const double w = hasBorder ? std::min(m_borderWidth, std::min(r.width(), r.height()) / 2.0) : 0.0;
    QPainterPath inside;
    inside.addRoundedRect(r.adjusted(w, w, -w, -w), std::max(0.0, m_cornerRadius - w),
                          std::max(0.0, m_cornerRadius - w));
    if (m_backgroundColor.isValid() && m_backgroundColor.alpha() > 0)
        painter.fillPath(hasBorder ? inside : shape, m_backgroundColor);
    painter.save();
    if (m_cornerRadius > 0)
        painter.setClipPath(shape);
    // The area being painted, as a clip the contents can read: a tall view draws only that.
    painter.setClipRect(event->rect(), Qt::IntersectClip);
    drawContents(painter);
    painter.restore();
    if (hasBorder) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.fillPath(shape.subtracted(inside), m_borderColor);
    }
}

void ZNFView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The first display is a layout pass too.
    if (m_didLayout)
        m_didLayout();
}

void ZNFView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A top-level view (or one resized by Qt's own layouts) takes its size from Qt; a size
    // that only differs by the rounding applyGeometry() did keeps the exact frame.
    if (superview())
        return;
    const QSize expected(static_cast<int>(std::ceil(m_frame.width())),
                         static_cast<int>(std::ceil(m_frame.height())));
    if (event->size() != expected) {
        QRectF f = m_frame;
        f.setSize(event->size());
        setFrame(f);
    }
}
