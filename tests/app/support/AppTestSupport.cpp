#include "AppTestSupport.h"

#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNoteListItems.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutItemInteraction.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFCollectionView.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>

QString textOf(const std::shared_ptr<ZNFLayoutItem>& item) {
    auto text = ZNFMacNotecrateViewController::textItemIn(item);
    return text ? text->attributedString().string() : QString();
}

QStringList textsOf(const ZNFLayoutItemList& items) {
    QStringList out;
    for (const auto& item : items)
        if (ZNFMacNotecrateViewController::textItemIn(item))
            out << textOf(item);
    return out;
}

namespace {
QStringList rowsOf(const ZNFLayoutItemList& items,
                   const std::function<QString(const ZNFNoteRowItem&)>& part) {
    QStringList out;
    for (const auto& item : items)
        if (auto row = std::dynamic_pointer_cast<ZNFNoteRowItem>(item))
            out << part(*row);
    return out;
}
} // namespace

QStringList noteRowsOf(const ZNFLayoutItemList& items) {
    return rowsOf(items, [](const ZNFNoteRowItem& row) { return row.title(); });
}

QStringList noteRowDatesOf(const ZNFLayoutItemList& items) {
    return rowsOf(items, [](const ZNFNoteRowItem& row) { return row.dateText(); });
}

QStringList noteRowDetailsOf(const ZNFLayoutItemList& items) {
    return rowsOf(items, [](const ZNFNoteRowItem& row) { return row.detail(); });
}

QLineEdit* filterField(ZNFCollectionView* collectionView) {
    QCoreApplication::processEvents();
    for (const auto& cell : collectionView->visibleItems())
        if (auto* field = cell->view()->findChild<QLineEdit*>())
            return field;
    return nullptr;
}

bool clickCell(ZNFCollectionView* collectionView, int index, std::optional<QPoint> offset) {
    QCoreApplication::processEvents();
    auto cell = collectionView->itemAtIndexPath(ZNFIndexPath{0, index});
    if (!cell)
        return false;
    QWidget* cellView = cell->view();
    QPoint point = offset.value_or(cellView->rect().center());
    // A button or link narrower than its line is clicked where it is drawn.
    for (QWidget* control : cellView->findChildren<QWidget*>())
        if (!offset && ZNFLayoutItemInteraction::isControl(control)) {
            point = control->mapTo(cellView, control->rect().center());
            break;
        }
    QWidget* target = cellView->childAt(point);
    if (!target)
        target = cellView;
    const QPoint local = target->mapFrom(cellView, point);
    QTest::mousePress(target, Qt::LeftButton, {}, local);
    QTest::mouseRelease(target, Qt::LeftButton, {}, local);
    QCoreApplication::processEvents();
    return true;
}

void AppWindowTest::SetUp() {
    window = std::make_unique<ZNFNotecrateWindowController>();
    window->showWindow();
    vc = window->contentViewController();
    QCoreApplication::processEvents();
}

void AppWindowTest::TearDown() {
    vc.reset();
    window.reset();
}

ZNFCollectionView* AppWindowTest::collectionView() const {
    return vc->collectionViewController()->collectionView();
}
