#include "layout/ZNFLayoutItemInteraction.h"

#include "platform/ZNFEvent.h"
#include "platform/ZNFView.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <optional>

namespace {

constexpr auto kRoleProperty = "znfAccessibleRole";
constexpr auto kControlProperty = "znfLayoutControl";

ZNFLayoutItemInteraction::StateColors& colors() {
    static ZNFLayoutItemInteraction::StateColors shared;
    return shared;
}

// Widgets that carry a role get it from here; everything else keeps Qt's own interface.
QAccessibleInterface* accessibleFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
}

// Gives `view` the role, dropping an interface Qt made for it before the role was known.
void setRole(QWidget* view, std::optional<QAccessible::Role> role) {
    const QVariant wanted = role ? QVariant(int(*role)) : QVariant();
    if (view->property(kRoleProperty) == wanted)
        return;
    view->setProperty(kRoleProperty, wanted);
    if (QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(view))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
}

// Draws the states above the item's own drawing, never taking a click.
class StateOverlay : public QWidget {
public:
    explicit StateOverlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    bool hovered = false;
    bool pressed = false;

protected:
    void paintEvent(QPaintEvent*) override {
        const bool focused = parentWidget() && parentWidget()->hasFocus();
        if (!hovered && !pressed && !focused)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (pressed || hovered) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(pressed ? colors().pressed : colors().hover);
            painter.drawRoundedRect(box, 6, 6);
        }
        if (focused) {
            painter.setPen(QPen(colors().focus, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box, 6, 6);
        }
    }
};

QString readableText(const QString& text) {
    return text.simplified();
}

// Tab and Shift+Tab move through the controls of a screen in reading order.
class TabOrder : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
            return false;
        const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
        const bool backward = key->key() == Qt::Key_Backtab ||
                              (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (!forward && !backward)
            return false;
        const QList<QWidget*> controls =
            ZNFLayoutItemInteraction::controlsInReadingOrder(static_cast<QWidget*>(watched));
        if (controls.isEmpty())
            return false;
        const qsizetype at = controls.indexOf(QApplication::focusWidget());
        qsizetype next = 0;
        if (at < 0)
            next = forward ? 0 : controls.size() - 1;
        else
            next = (at + (forward ? 1 : controls.size() - 1)) % controls.size();
        controls[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
};

} // namespace

void ZNFLayoutItemInteraction::setStateColors(const StateColors& stateColors) {
    colors() = stateColors;
}

ZNFLayoutItemInteraction::StateColors ZNFLayoutItemInteraction::stateColors() {
    return colors();
}

ZNFLayoutItemInteraction::ZNFLayoutItemInteraction(QWidget* view, const std::shared_ptr<ZNFLayoutItem>& item,
                                                   ZNFCollectionViewItem* cell)
    : QObject(view), m_view(view), m_item(item), m_cell(cell) {
    auto* overlay = new StateOverlay(view);
    overlay->setGeometry(view->rect());
    overlay->raise();
    overlay->show();
    m_overlay = overlay;
    view->installEventFilter(this);
}

void ZNFLayoutItemInteraction::attach(QWidget* view, const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFCollectionViewItem* cell) {
    if (!view || !item)
        return;
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        qApp->installEventFilter(new TabOrder(qApp));
        return true;
    }();
    Q_UNUSED(installed);

    const ZNFLayoutItem::AccessibleDescription description = item->accessibleDescription();
    const QString& text = description.text;
    const bool link = description.link;
    // A table's own handler only passes clicks on to its items, which are the controls.
    const bool control = item->clickHandler() && !description.forwardsClicks;
    auto* helper = view->findChild<ZNFLayoutItemInteraction*>(QString(), Qt::FindDirectChildrenOnly);
    if (!control) {
        if (helper) { // a reused view that showed a control before
            delete helper;
            view->setProperty(kControlProperty, false);
            view->setFocusPolicy(Qt::NoFocus);
            view->unsetCursor();
        }
        const bool isText = description.isText;
        setRole(view, isText ? std::optional(QAccessible::StaticText) : std::nullopt);
        view->setAccessibleName(isText ? readableText(text) : QString());
        return;
    }
    setRole(view, link ? QAccessible::Link : QAccessible::Button);
    view->setAccessibleName(readableText(text));
    if (helper) {
        helper->m_item = item;
        helper->m_cell = cell;
        return;
    }
    view->setProperty(kControlProperty, true);
    view->setFocusPolicy(Qt::StrongFocus);
    view->setCursor(Qt::PointingHandCursor);
    view->setAttribute(Qt::WA_Hover);
    new ZNFLayoutItemInteraction(view, item, cell);
}

bool ZNFLayoutItemInteraction::isControl(const QWidget* view) {
    return view && view->property(kControlProperty).toBool();
}

QList<QWidget*> ZNFLayoutItemInteraction::controlsInReadingOrder(QWidget* widget) {
    QList<QWidget*> controls;
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return controls;
    for (QWidget* child : window->findChildren<QWidget*>())
        if (isControl(child) && child->isVisibleTo(window) && child->window() == window)
            controls << child;
    std::stable_sort(controls.begin(), controls.end(), [window](QWidget* a, QWidget* b) {
        const QPoint pa = a->mapTo(window, QPoint(0, 0));
        const QPoint pb = b->mapTo(window, QPoint(0, 0));
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
    });
    return controls;
}

void ZNFLayoutItemInteraction::activate(QWidget* view) {
    auto* helper =
        view ? view->findChild<ZNFLayoutItemInteraction*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!helper)
        return;
    const auto item = helper->m_item.lock();
    if (!item || !item->clickHandler())
        return;
    const QPointF centre = ZNFView::windowLocation(view, QRectF(view->rect()).center());
    // Copies: the handler may replace the screen, and with it this view.
    const ZNFLayoutItemEventHandler handler = item->clickHandler();
    QPointer<QWidget> guarded(view);
    ZNFCollectionViewItem* cell = helper->m_cell;
    handler(ZNFEvent(ZNFEventTypeLeftMouseDown, centre, view->window()), cell, view);
    if (guarded && item->clickHandler())
        item->clickHandler()(ZNFEvent(ZNFEventTypeLeftMouseUp, centre, guarded->window()), cell, guarded);
}

void ZNFLayoutItemInteraction::setState(bool hovered, bool pressed) {
    if (auto* overlay = static_cast<StateOverlay*>(m_overlay.data())) {
        overlay->hovered = hovered;
        overlay->pressed = pressed;
        overlay->update();
    }
}

bool ZNFLayoutItemInteraction::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_view)
        return false;
    auto* overlay = static_cast<StateOverlay*>(m_overlay.data());
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            activate(m_view);
            return true;
        }
        break;
    }
    case QEvent::Resize:
        if (overlay)
            overlay->setGeometry(m_view->rect());
        break;
    case QEvent::HoverEnter:
        setState(true, overlay && overlay->pressed);
        break;
    case QEvent::HoverLeave:
        setState(false, false);
        break;
    case QEvent::MouseButtonPress:
        setState(overlay && overlay->hovered, true);
        break;
    case QEvent::MouseButtonRelease:
        setState(overlay && overlay->hovered, false);
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        if (overlay)
            overlay->update();
        break;
    case QEvent::ChildAdded:
        if (overlay)
            overlay->raise();
        break;
    default:
        break;
    }
    return false;
}
