#include "platform/ZNFView.h"

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

ZNFView* ZNFView::superview() const { return qobject_cast<ZNFView*>(parentWidget()); }

void ZNFView::setFrame(const QRectF& frame) {
    const QSizeF oldSize = m_frame.size();
    m_frame = frame;
    applyGeometry();
    if (oldSize != frame.size()) {
        // Autoresizing subviews follow the change; y-up subviews keep their distance from the bottom.
        const double dw = frame.width() - oldSize.width();
        const double dh = frame.height() - oldSize.height();
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
            }
        }
    }
}

void ZNFView::applyGeometry() {
    if (auto* super = superview()) {
        super->placeSubview(this);
        return;
    }
    const QRect r(static_cast<int>(std::floor(m_frame.x())), static_cast<int>(std::floor(m_frame.y())),
                  static_cast<int>(std::ceil(m_frame.width())), static_cast<int>(std::ceil(m_frame.height())));
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

QPointF ZNFView::toQt(const QPointF& p) const { return isFlipped() ? p : QPointF(p.x(), m_frame.height() - p.y()); }
QPointF ZNFView::fromQt(const QPointF& p) const { return toQt(p); }

QPointF ZNFView::convertPointToWindow(const QPointF& p) const {
    QWidget* top = window();
    const QPointF inTop = QPointF(mapTo(top, toQt(p).toPoint())) + (toQt(p) - toQt(p).toPoint());
    return QPointF(inTop.x(), top->height() - inTop.y());
}

void ZNFView::drawContents(QPainter&) {}

void ZNFView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_cornerRadius > 0);
    const QRectF r = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(r, m_cornerRadius, m_cornerRadius);
    if (m_backgroundColor.isValid() && m_backgroundColor.alpha() > 0)
        painter.fillPath(shape, m_backgroundColor);
    painter.save();
    if (m_cornerRadius > 0)
        painter.setClipPath(shape);
    drawContents(painter);
    painter.restore();
    if (m_borderWidth > 0 && m_borderColor.isValid()) {
        // The layer's border is drawn inside the bounds.
        const double half = m_borderWidth / 2.0;
        QPainterPath border;
        border.addRoundedRect(r.adjusted(half, half, -half, -half), std::max(0.0, m_cornerRadius - half),
                              std::max(0.0, m_cornerRadius - half));
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(m_borderColor, m_borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(border);
    }
}

void ZNFView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A top-level view (or one resized by Qt's own layouts) takes its size from Qt.
    if (!superview() && QSizeF(event->size()) != m_frame.size().toSize()) {
        QRectF f = m_frame;
        f.setSize(event->size());
        const QSizeF old = m_frame.size();
        m_frame = f;
        if (old != f.size()) {
            m_frame.setSize(old);
            setFrame(f);
        }
    }
}
