#include "layout/items/ZNFLayoutItemValues_p.h"

namespace ZNFItemValues {

std::optional<double> number(const QVariant& v) {
    return ZNFNumberReading(v);
}

void setViewFrame(QWidget* view, const QRectF& frame) {
    if (!view)
        return;
    if (auto* v = qobject_cast<ZNFView*>(view)) {
        v->setFrame(frame);
        return;
    }
    view->setGeometry(QRect(static_cast<int>(std::round(frame.x())), static_cast<int>(std::round(frame.y())),
                            static_cast<int>(std::round(frame.width())),
                            static_cast<int>(std::round(frame.height()))));
}

QRectF viewFrame(const QWidget* view) {
    if (!view)
        return QRectF();
    if (auto* v = qobject_cast<const ZNFView*>(view))
        return v->frame();
    return QRectF(view->geometry());
}

void addSubviews(ZNFView* parent, const std::vector<QWidget*>& views) {
    if (!parent || views.empty())
        return;
    for (size_t i = 0; i + 1 < views.size(); ++i) {
        QWidget* view = views[i];
        if (!view)
            continue;
        const QRect geometry = view->geometry();
        view->setParent(parent);
        if (auto* v = qobject_cast<ZNFView*>(view))
            v->setFrame(v->frame()); // placed by its new superview
        else
            view->setGeometry(geometry);
        view->show();
    }
    if (QWidget* last = views.back()) {
        const QRect geometry = last->geometry();
        parent->addSubview(last);
        if (!qobject_cast<ZNFView*>(last))
            last->setGeometry(geometry);
    }
}

} // namespace ZNFItemValues
