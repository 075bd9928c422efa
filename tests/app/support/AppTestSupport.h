#pragma once

#include "TestSupport.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "layout/ZNFLayoutItem.h"

#include <QPoint>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

class ZNFCollectionView;

// The texts of a screen's text items, in order.
QStringList textsOf(const ZNFLayoutItemList& items);
// The text of one item, empty for an item that is no text.
QString textOf(const std::shared_ptr<ZNFLayoutItem>& item);
// The titles, dates and details of a list's rows, in order.
QStringList noteRowsOf(const ZNFLayoutItemList& items);
QStringList noteRowDatesOf(const ZNFLayoutItemList& items);
QStringList noteRowDetailsOf(const ZNFLayoutItemList& items);
// The list's filter field on display, if any.
class QLineEdit;
QLineEdit* filterField(ZNFCollectionView* collectionView);
// A real left press and release on the deepest widget at the centre of the cell that shows
// item `index` (of its button or link, when it holds one), or at `offset` from the cell's
// top-left corner. False when there is no cell.
bool clickCell(ZNFCollectionView* collectionView, int index, std::optional<QPoint> offset = std::nullopt);

// The main window, shown over a private home, with its view controller at hand.
class AppWindowTest : public ::testing::Test {
public:
    ScopedHome home;
    std::unique_ptr<ZNFNotecrateWindowController> window;
    std::shared_ptr<ZNFMacNotecrateViewController> vc;

    void SetUp() override;
    void TearDown() override;
    const ZNFLayoutItemList& shown() const { return vc->currentItems(); }
    ZNFCollectionView* collectionView() const;
    void click(int index, std::optional<QPoint> offset = std::nullopt) {
        ASSERT_TRUE(clickCell(collectionView(), index, offset)) << "no cell for item " << index;
    }
    // Clicks the item that shows `text`: found by its text, not by where the screen puts it.
    void clickText(const QString& text) {
        for (int i = 0; i < int(shown().size()); ++i)
            if (textOf(shown()[size_t(i)]) == text)
                return click(i);
        ADD_FAILURE() << "no item shows " << qPrintable(text);
    }
    QString shownText(int i) const { return textsOf(shown()).value(i); }
    bool shows(const QString& text) const { return textsOf(shown()).contains(text); }
    bool showsPart(const QString& part) const { return !textsOf(shown()).filter(part).isEmpty(); }
    bool atStart() const {
        return textsOf(shown()) == QStringList{"Which app would you like to import from?"};
    }
    // The file chooser answers `paths`; none is a cancelled chooser. `foldersToo` receives
    // whether the chooser offered folders as well.
    void chooseFiles(const QStringList& paths, bool* foldersToo = nullptr) {
        vc->openFilesPanel = [paths, foldersToo](const QUrl&, const QStringList&, bool folders) {
            if (foldersToo)
                *foldersToo = folders;
            QList<QUrl> urls;
            for (const QString& path : paths)
                urls << QUrl::fromLocalFile(path);
            return urls;
        };
    }
    // The folder chooser answers `path`; an empty one is a cancelled chooser.
    void choose(const QString& path) {
        vc->openPanel = [path](const QUrl&) -> std::optional<QUrl> {
            return path.isEmpty() ? std::nullopt : std::optional(QUrl::fromLocalFile(path));
        };
    }
};
