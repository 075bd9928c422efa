#pragma once

#include "layout/ZNFLayoutItem.h"

#include <QPoint>
#include <QStringList>
#include <optional>

class ZNFCollectionView;

// The texts of a screen's text items, in order.
QStringList textsOf(const ZNFLayoutItemList& items);
// The text of one item, empty for an item that is no text.
QString textOf(const std::shared_ptr<ZNFLayoutItem>& item);
// A real left press and release on the deepest widget at the centre of the cell that shows
// item `index` (of its button or link, when it holds one), or at `offset` from the cell's
// top-left corner. False when there is no cell.
bool clickCell(ZNFCollectionView* collectionView, int index, std::optional<QPoint> offset = std::nullopt);
