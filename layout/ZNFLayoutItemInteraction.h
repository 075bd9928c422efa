#pragma once

#include "layout/ZNFLayoutItem.h"

#include <QAccessible>
#include <QColor>
#include <QPointer>
#include <QWidget>
#include <memory>

class ZNFCollectionViewItem;

// What keyboard and assistive technology need from the views of a screen's items. A view whose
// item has a click handler is a control: it takes focus by Tab in reading order (top to bottom,
// then left to right), is activated by Return, Enter or Space as by a left click, shows the
// pointer cursor and draws focus, hover and pressed states. Every view answers QAccessible with
// its role (button, link, static text) and its text.
class ZNFLayoutItemInteraction : public QObject {
    Q_OBJECT
public:
    // The colours of the three states; the application takes them from its style file.
    struct StateColors {
        QColor focus{0x1a, 0x73, 0xe8};
        QColor hover{0, 0, 0, 18};
        QColor pressed{0, 0, 0, 40};
    };
    static void setStateColors(const StateColors& colors);
    static StateColors stateColors();

    // Prepares `view`, which shows `item` (in `cell`, none for views nested in a table). Tables
    // that only pass clicks on to their items are no controls themselves.
    static void attach(QWidget* view, const std::shared_ptr<ZNFLayoutItem>& item,
                       ZNFCollectionViewItem* cell = nullptr);
    // The prepared controls in the window of `widget`, in reading order.
    static QList<QWidget*> controlsInReadingOrder(QWidget* widget);
    // Whether `view` is a prepared control.
    static bool isControl(const QWidget* view);
    // Delivers a left click (down, then up) to the control's item, as the mouse would.
    static void activate(QWidget* view);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ZNFLayoutItemInteraction(QWidget* view, const std::shared_ptr<ZNFLayoutItem>& item,
                             ZNFCollectionViewItem* cell);
    void setState(bool hovered, bool pressed);

    QPointer<QWidget> m_view;
    QPointer<QWidget> m_overlay;
    std::weak_ptr<ZNFLayoutItem> m_item;
    ZNFCollectionViewItem* m_cell;
};
