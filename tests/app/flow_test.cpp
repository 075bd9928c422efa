#include "TestSupport.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/support/keep_takeout.h"
#include "conversion/support/notes_store_fixture.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutItemInteraction.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFCollectionView.h"
#include "support/AppTestSupport.h"
#include "text/ZNFLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class FlowTest : public AppWindowTest {
protected:
    void SetUp() override {
        AppWindowTest::SetUp();
        window->window()->resize(600, 700);
        vc->canRunNotesScript = [] { return true; }; // as on a Mac; a stand-in osascript runs
        QCoreApplication::processEvents();
    }

    void installExport(const QByteArray& json) {
        writeFile(home.root() + "/fixture.json", json);
        home.installTool("osascript",
                         "#!/bin/sh\nmkdir -p \"$HOME/Desktop\"\nsleep 0.2\ncp \"" + home.root().toUtf8() +
                             "/fixture.json\" \"$HOME/Desktop/znfexporter_mac_exported_notes.json\"\n");
    }

    void makeVesperExport(const QString& root, int extra = 0) {
        writeFile(root + "/Active Notes/One.txt",
                  "First note\n\nTags: a, b\nCreated: Jan 2, 2015, 9:41 AM\n");
        writeFile(root + "/Active Notes/Two.txt", "Second note\n");
        for (int i = 0; i < extra; ++i)
            writeFile(root + QString("/Active Notes/n%1.txt").arg(i), QByteArray(2000, 'x'));
    }
    // Makes a Vesper export of two notes and `extra` more, and converts it from the Vesper screen.
    void startVesper(int extra = 0) {
        makeVesperExport(home.root() + "/Vesper", extra);
        choose(home.root() + "/Vesper");
        vc->navigateToItems(vc->vesperScreen1Items());
        clickText("Select your Vesper Export file");
    }
    // Makes a Takeout zip of `count` Keep notes, and converts it from the Keep screen.
    void startKeep(int count) {
        KeepTakeout::Files files;
        for (int i = 0; i < count; ++i)
            KeepTakeout::addNote(files, "Takeout/Keep", QString("n%1").arg(i),
                                 R"({"textContent":")" + QByteArray(2000, 'x') + R"("})");
        const QString zip = home.root() + "/takeout-20240101T000000Z-001.zip";
        ASSERT_TRUE(KeepTakeout::writeZip(zip, files));
        chooseFiles({zip});
        vc->navigateToItems(vc->keepScreen1Items());
        clickText("Choose your Google Takeout file or folder");
    }
    // An Evernote export of one note per title.
    static QByteArray enex(const QStringList& titles) {
        QByteArray out = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE en-export SYSTEM "http://xml.evernote.com/pub/evernote-export4.dtd">
<en-export export-date="20240101T000000Z" application="Evernote" version="10.0">
)";
        for (const QString& title : titles)
            out +=
                "<note><title>" + title.toUtf8() +
                R"(</title><content><![CDATA[<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE en-note SYSTEM "http://xml.evernote.com/pub/enml2.dtd"><en-note><div>)" +
                title.toUtf8() +
                "</div></en-note>]]></content><created>20240101T120000Z</created>"
                "<updated>20240102T120000Z</updated><tag>work</tag></note>\n";
        return out + "</en-export>\n";
    }
    bool atBackup() const { return shows("Send Wirelessly"); }
    // What a conversion left in the caches folder (a cancelled one leaves nothing).
    QStringList cacheFiles() const {
        QThreadPool::globalInstance()->waitForDone();
        ZNFConversionJob::waitForRuns(10000);
        return QDir(home.caches()).entryList(QDir::Files | QDir::NoDotAndDotDot);
    }
};

} // namespace

// A conversion shows its count, takes no second click and ends with Back, leaving no file.
TEST_F(FlowTest, ConversionProgressSecondClickAndBackCancel) {
    const struct {
        const char* name;
        std::function<void()> start;
        const char* choose; // the source screen's button, shown again after Back
        int notes;
    } rows[] = {
        {"Vesper", [&] { startVesper(300); }, "Select your Vesper Export file", 302},
        // Keep reads a zip fast: enough notes that Back comes first.
        {"Google Keep", [&] { startKeep(3000); }, "Choose your Google Takeout file or folder", 3000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QStringList before = cacheFiles();
        const QString total = QRegularExpression::escape(QLocale().toString(row.notes));
        row.start();
        // Counts may already have replaced the first words on a busy machine.
        const QString progress = shownText(1);
        EXPECT_TRUE(
            QRegularExpression(QString("^Converting (notes\\.\\.\\.|[0-9,.]+ of %1 notes…)$").arg(total))
                .match(progress)
                .hasMatch())
            << progress.toStdString();
        int asked = 0;
        vc->openPanel = [&](const QUrl&) -> std::optional<QUrl> { return ++asked, std::nullopt; };
        vc->openFilesPanel = [&](const QUrl&, const QStringList&, bool) { return ++asked, QList<QUrl>(); };
        vc->openVesperFilePicker();
        vc->openKeepFilePicker();
        vc->openEvernoteFilePicker();
        EXPECT_EQ(asked, 0) << "a second click while converting does nothing";
        clickText("‹ Back");
        EXPECT_FALSE(vc->isConverting());
        EXPECT_EQ(shownText(1), row.choose);
        EXPECT_EQ(cacheFiles(), before) << "the cancelled run removed its files";
        waitUntil([] { return false; }, 300);
        EXPECT_EQ(shownText(1), row.choose);

        row.start();
        const ZNFLayoutItemList second = shown();
        ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));
        EXPECT_TRUE(QRegularExpression(QString("^Converting [1-9][0-9,.]* of %1 notes…$").arg(total))
                        .match(textOf(second.back()))
                        .hasMatch())
            << textOf(second.back()).toStdString();
        clickText("‹ Back");
        EXPECT_TRUE(atStart());
    }
}

// A run whose screen was replaced (not by Back) does not take the screen over.
TEST_F(FlowTest, StaleVesperConversionLeavesTheScreenAlone) {
    LogCapture log;
    startVesper(50);
    vc->showScreen(vc->initialScreenItems());
    cacheFiles();
    waitUntil([&] { return log.contains("its outcome"); }, 5000);
    EXPECT_TRUE(atStart());
}

// Quitting stops a hanging export script at once and removes what the runs wrote.
TEST_F(FlowTest, QuitStopsConversionsAtOnce) {
    home.installTool("osascript", "#!/bin/sh\necho $$ > \"$HOME/script.pid\"\nsleep 30\n");
    vc->navigateToItems(vc->notesAppScreen1Items());
    clickText("Next");
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(home.home() + "/script.pid"); }));
    QElapsedTimer clock;
    clock.start();
    window->applicationWillTerminate();
    EXPECT_LT(clock.elapsed(), 5000) << "the 30 s script was not waited for";
    const pid_t pid = readFile(home.home() + "/script.pid").trimmed().toInt();
    EXPECT_TRUE(waitUntil([&] { return ::kill(pid, 0) != 0; }, 2000)) << "the script still runs";
    EXPECT_EQ(cacheFiles(), QStringList());
}

// The choosers are dialogs of the window with a caption saying what is chosen.
TEST_F(FlowTest, ChoosersAreWindowDialogsWithCaptions) {
    QStringList seen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                seen << dialog->windowTitle() +
                            (dialog->parentWidget() == window->window() ? "" : " unparented");
                dialog->reject();
            }
    });
    closer.start(20);
    vc->openVesperFilePicker();
    vc->openNotesFolderPicker();
    vc->openKeepFilePicker();
    vc->openEvernoteFilePicker();
    vc->setCurrentBackupPath(home.root() + "/x.notebackup");
    vc->updateToShowBackup();
    click(int(shown().size()) - 1); // Save
    EXPECT_EQ(seen, QStringList({"Choose the Vesper export folder", "Choose the copied Notes folder",
                                 "Choose your Google Takeout file or folder", "Choose your .enex files",
                                 "Save the backup"}));
    closer.stop();

    // The file chooser takes files, and a folder only where the source reads one (a Takeout
    // folder); where it does not, "Open" on a folder opens it and the chooser stays.
    const QString folder = home.root() + "/Takeout";
    QDir().mkpath(folder);
    const QString file = home.root() + "/Notebook.enex";
    writeFile(file, "<en-export/>");
    const struct {
        const char* name;
        bool foldersToo;
        QString select; // empty: the chooser is cancelled
        QStringList chosen;
    } rows[] = {
        {"a folder where folders are taken", true, folder, {folder}},
        {"a file where folders are taken", true, file, {file}},
        {"a file", false, file, {file}},
        {"a folder where only files are taken", false, folder, {}},
        {"cancelled", true, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int accepted = 0;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                    if (row.select.isEmpty() || accepted++) {
                        dialog->reject();
                        continue;
                    }
                    // Typed, as selectFile() leaves a focused name field alone.
                    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                    ASSERT_TRUE(name);
                    name->setText(QFileInfo(row.select).fileName());
                    static_cast<QDialog*>(dialog)->accept(); // as "Open" does
                }
        });
        answer.start(20);
        QStringList chosen;
        for (const QUrl& url : vc->openFilesPanel(QUrl::fromLocalFile(home.root()), {}, row.foldersToo))
            chosen << url.toLocalFile();
        EXPECT_EQ(chosen, row.chosen);
    }
}

// Tab reaches the controls in reading order, Return activates, Escape is Back, and
// QAccessible reads each control's role and text.
TEST_F(FlowTest, KeyboardAndScreenReaderReachEveryControl) {
    auto controls = [&](std::vector<QAccessible::Role> roles = {}) {
        QCoreApplication::processEvents();
        QStringList out;
        for (QWidget* w : ZNFLayoutItemInteraction::controlsInReadingOrder(window->window())) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            out << a->text(QAccessible::Name);
            roles.push_back(a->role());
            EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
        }
        return std::pair{out, roles};
    };
    auto key = [](int k, Qt::KeyboardModifiers m = {}) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                    : QApplication::activeWindow(),
                        Qt::Key(k), m);
        QCoreApplication::processEvents();
    };
    window->window()->activateWindow();
    EXPECT_EQ(controls().first, QStringList({"Notes", "Vesper", "Google Keep", "Evernote"}));
    // Each source by Tab from the start and Return; Escape comes back.
    const struct {
        const char* name;
        int tabs;
        const char* opens; // the source screen's button
    } sources[] = {
        {"Vesper", 2, "Select your Vesper Export file"},
        {"Google Keep", 3, "Choose your Google Takeout file or folder"},
        {"Evernote", 4, "Choose your .enex files"},
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.name);
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        for (int i = 0; i < source.tabs; ++i)
            key(Qt::Key_Tab);
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->accessibleName(), source.name);
        key(Qt::Key_Return);
        EXPECT_EQ(controls().first.mid(0, 2), QStringList({"‹ Back", source.opens}));
        key(Qt::Key_Escape);
        EXPECT_TRUE(atStart());
    }
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
    key(Qt::Key_Tab);
    key(Qt::Key_Tab);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget()->accessibleName(), "Notes");
    key(Qt::Key_Return);
    const auto [names, roles] = controls();
    EXPECT_EQ(names, QStringList({"‹ Back", "Next", "(Click here to open your Mac’s notes app)"}));
    EXPECT_EQ(roles, (std::vector{QAccessible::Button, QAccessible::Button, QAccessible::Link}));
    auto text = collectionView()->itemAtIndexPath(ZNFIndexPath{0, 4})->view()->findChild<ZNFLabel*>();
    ASSERT_TRUE(text);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(text)->role(), QAccessible::StaticText);
    key(Qt::Key_Escape);
    EXPECT_TRUE(atStart());
    key(Qt::Key_Escape); // nothing to go back to
    EXPECT_TRUE(atStart());
    vc->navigateToItems(vc->vesperScreen1Items());
    int opened = 0;
    vc->openPanel = [&](const QUrl&) -> std::optional<QUrl> { return ++opened, std::nullopt; };
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
    key(Qt::Key_Tab);
    key(Qt::Key_Tab);
    key(Qt::Key_Space);
    EXPECT_EQ(opened, 1) << "Space on the focused button clicks it";
}

// A wide window keeps the content at a readable width; a click beside a button is no click.
TEST_F(FlowTest, WideWindowCentresContentAndButtonsHugTheirLabels) {
    window->window()->resize(1280, 900);
    vc->navigateToItems(vc->notesAppScreen1Items());
    QCoreApplication::processEvents();
    QWidget* line = collectionView()->itemAtIndexPath(ZNFIndexPath{0, 6})->view();
    EXPECT_LE(line->width(), 640);
    const auto controls = ZNFLayoutItemInteraction::controlsInReadingOrder(line);
    ASSERT_EQ(controls.size(), 3);
    EXPECT_LT(controls[1]->width(), 300) << "the button is as wide as its label";
    click(6, QPoint(5, line->height() / 2));
    EXPECT_TRUE(shows("Next"));
}

// Every screen, the menu and the choosers in German: no text is left as its English source
// (names aside), and Qt's own dialogs speak German too.
TEST_F(FlowTest, GermanLeavesNoEnglishText) {
    using Item = std::shared_ptr<ZNFLayoutItem>;
    std::function<void(const Item&, QStringList&)> collect = [&](const Item& item, QStringList& out) {
        if (auto table = std::dynamic_pointer_cast<ZNFTableLayoutItem>(item))
            for (const auto& row : table->rows())
                for (const auto& column : row->columns())
                    for (const auto& nested : column->items())
                        collect(nested, out);
        else if (!textOf(item).isEmpty())
            out << textOf(item);
    };
    auto walk = [&] {
        ZNFNotecrateWindowController window; // made in the language of the moment, as at start-up
        auto vc = window.contentViewController();
        vc->setCurrentBackupPath("x.notebackup");
        vc->openPanel = [](const QUrl&) -> std::optional<QUrl> { return std::nullopt; };
        vc->openFilesPanel = [](const QUrl&, const QStringList&, bool) { return QList<QUrl>(); };
        QStringList out;
        for (QAction* action : window.window()->menuBar()->actions())
            for (QAction* entry : action->menu()->actions())
                if (!entry->isSeparator())
                    out << entry->text();
        for (bool mac : {true, false}) {
            vc->canRunNotesScript = [mac] { return mac; };
            for (const auto& screen :
                 {vc->initialScreenItems(), vc->notesAppScreen1Items(), vc->notesAppScreen2Items(),
                  vc->vesperScreen1Items(), vc->vesperScreen2Items(), vc->keepScreen1Items(),
                  vc->evernoteScreen1Items(), vc->currentBackupItems(), vc->backupSuccessItems(),
                  vc->sendWirelesslyItems(), vc->wirelessSuccessItems(true), vc->wirelessSuccessItems(false),
                  vc->noteListItems()})
                for (const auto& item : screen)
                    collect(item, out);
        }
        vc->openVesperFilePicker();
        out << vc->panelCaption();
        vc->openNotesFolderPicker();
        out << vc->panelCaption();
        vc->openKeepFilePicker();
        out << vc->panelCaption();
        vc->openEvernoteFilePicker();
        return out << vc->panelCaption();
    };
    const QStringList english = walk();
    ZNFBundle::installLocalizations(QLocale(QLocale::German, QLocale::Germany));
    const QStringList german = walk();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    const auto link = ZNFMacNotecrateViewController::textItemIn(vc->notesAppScreen1Items().back());
    const auto hier =
        link->attributedString().attributesAtIndex(link->attributedString().string().indexOf("hier"));
    EXPECT_EQ(hier ? hier->underlineStyle : std::nullopt, 1) << "the German link is underlined too";
    ZNFBundle::installLocalizations(QLocale(QLocale::English));
    ASSERT_EQ(english.size(), german.size());
    const QStringList names{"Vesper", "Google Keep", "Evernote", "OK", "x.notebackup"};
    for (qsizetype i = 0; i < english.size(); ++i)
        EXPECT_TRUE(english[i] != german[i] || names.contains(english[i])) << english[i].toStdString();
}

TEST_F(FlowTest, StartScreenClicksAndBackShowTheVeryArrayShownBefore) {
    ASSERT_EQ(shown().size(), 4u);
    EXPECT_TRUE(atStart());
    EXPECT_TRUE(vc->navigationStack().empty());
    const ZNFLayoutItemList start = shown();
    // The chooser table is item 3: Notes, Vesper, Google Keep and Evernote side by side, each an
    // icon over its word, between narrow margins.
    constexpr int kChooser = 3;
    auto chooser = collectionView()->itemAtIndexPath(ZNFIndexPath{0, kChooser});
    ASSERT_TRUE(chooser);
    const int w = chooser->view()->width(), h = chooser->view()->height();
    const auto column = [&](int i) { return int(w * (0.04 + 0.23 * i + 0.115)); };
    const struct {
        const char* what;
        QPoint at;
        const char* opens; // a text of the screen it opens; none: the start screen stays
    } rows[] = {
        {"the word Notes is inert", {column(0), h - 8}, nullptr},
        {"the Vesper word", {column(1), h - 8}, "Select your Vesper Export file"},
        {"the Vesper icon", {column(1), 30}, "Select your Vesper Export file"},
        {"the Google Keep word", {column(2), h - 8}, "Choose your Google Takeout file or folder"},
        {"the Google Keep icon", {column(2), 30}, "Choose your Google Takeout file or folder"},
        {"the Evernote word", {column(3), h - 8}, "Choose your .enex files"},
        {"the Evernote icon", {column(3), 30}, "Choose your .enex files"},
        {"left of every column", {5, 30}, nullptr},
        {"right of every column", {w - 5, 30}, nullptr},
        {"the Notes icon, near the top", {column(0), 30}, "Next"}, // last: Back below
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        click(kChooser, row.at);
        EXPECT_TRUE(row.opens ? shows(row.opens) && shownText(0) == "‹ Back" : atStart());
        if (row.opens && &row != std::end(rows) - 1)
            vc->popNavigationStack();
    }
    ASSERT_EQ(vc->navigationStack().size(), 1u);
    clickText("‹ Back");
    EXPECT_EQ(shown(), start) << "Back shows exactly the items that were displayed";
    EXPECT_TRUE(vc->navigationStack().empty());
    // Back with an empty stack builds a new start screen.
    vc->popNavigationStack();
    EXPECT_TRUE(atStart());
    EXPECT_NE(shown(), start);
}

// The scripted Notes flow: an export without notes shows the error with Next again; Back
// during the import cancels it for good, Next runs the same importer again, and the conversion
// ends on the backup screen with the stack reset to the start screen.
TEST_F(FlowTest, NotesFlowThroughItsErrorAndACancelledImportToTheBackupScreen) {
    installExport("[]");
    vc->navigateToItems(vc->notesAppScreen1Items());
    clickText("Next");
    ASSERT_TRUE(waitUntil([&] { return shownText(1).startsWith("No notes were found."); }, 15000));
    EXPECT_EQ(shownText(0), "‹ Back");

    installExport(R"([{"id":"a","text":"one"},{"id":"b","text":"two"}])");
    clickText("Next");
    EXPECT_TRUE(shows("Converting notes..."));
    auto importer = vc->notesAppImporter();
    ASSERT_TRUE(importer && importer->isImporting());
    clickText("‹ Back");
    EXPECT_TRUE(importer->isCancelled());
    waitUntil([] { return false; }, 1500);
    EXPECT_TRUE(shows("Next")) << "the cancelled run never completes";

    clickText("Next");
    EXPECT_EQ(vc->notesAppImporter(), importer);
    ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));
    EXPECT_TRUE(shows("Converted 2 notes to .notebackup"));
    EXPECT_TRUE(shows("0 pictures")) << "nothing left out, nothing said about it";
    EXPECT_EQ(vc->currentBackupPath(), home.caches() + "/iOSNotes_to_Tessanote.notebackup");
    EXPECT_EQ(vc->currentBackupNoteCount(), 2);
    ASSERT_EQ(vc->navigationStack().size(), 1u);
    EXPECT_EQ(textsOf(vc->navigationStack()[0]), QStringList{"Which app would you like to import from?"});
    clickText("‹ Back");
    EXPECT_TRUE(atStart());
}

// Without the export script, Next (offered before the script went) says why, and so does a
// chosen folder that is not one or holds no store; one Back leaves these error screens. The
// screen then offers only the chooser, whose copied store converts.
TEST_F(FlowTest, WithoutTheScriptTheNotesScreenConvertsAChosenCopiedFolder) {
    const QString folder = home.root() + "/group.com.apple.notes";
    NotesStoreFixture::Store store;
    store.notes = {{1, NotesStoreFixture::noteData("one"), {}}, {2, NotesStoreFixture::noteData("two"), {}}};
    ASSERT_TRUE(NotesStoreFixture::write(folder, store));
    std::optional<QUrl> chosen = QUrl("https://example.com/");
    vc->openPanel = [&](const QUrl&) { return chosen; };
    vc->navigateToItems(vc->notesAppScreen1Items());
    vc->canRunNotesScript = [] { return false; };
    clickText("Next");
    EXPECT_TRUE(shownText(1).startsWith("Exporting from the Notes app needs macOS."));
    clickText("Choose your copied Notes folder"); // below the error
    EXPECT_TRUE(shownText(1).startsWith("No folder was chosen."));
    chosen = QUrl::fromLocalFile(home.home()); // no store there
    clickText("Choose your copied Notes folder");
    ASSERT_TRUE(waitUntil([&] { return shownText(1).startsWith("No notes were found in that"); }, 15000));
    EXPECT_EQ(textsOf(shown()).last(), "Choose your copied Notes folder");
    clickText("‹ Back");
    EXPECT_TRUE(atStart());

    vc->navigateToItems(vc->notesAppScreen1Items());
    const QStringList texts = textsOf(shown());
    EXPECT_EQ(texts.last(), "Choose your copied Notes folder");
    EXPECT_FALSE(texts.contains("Next"));
    chosen = std::nullopt; // a cancelled chooser changes nothing
    clickText("Choose your copied Notes folder");
    EXPECT_EQ(textsOf(shown()), texts);
    chosen = QUrl::fromLocalFile(folder);
    clickText("Choose your copied Notes folder");
    EXPECT_TRUE(shows("Converting notes..."));
    ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));
    EXPECT_TRUE(shows("Converted 2 notes to .notebackup"));
    EXPECT_EQ(vc->notesAppImporter()->notesFolder(), folder);
    // What a conversion left out is said under the count.
    ZNFConversionOutcome outcome;
    outcome.countLeftOut(ZNFLeftOutReason::LockedNote, 3);
    outcome.countLeftOut(ZNFLeftOutReason::PDF, 1);
    vc->setCurrentBackupAttachmentCount(34);
    vc->setCurrentBackupLeftOut(outcome);
    EXPECT_TRUE(
        textsOf(vc->currentBackupItems()).contains("34 pictures · 3 locked notes and 1 PDF left out"));
}

TEST_F(FlowTest, VesperConversionAndItsErrorScreen) {
    const QString good = home.root() + "/My Vesper Export";
    makeVesperExport(good);
    const QString bad = home.root() + "/Nothing here";
    QDir().mkpath(bad);

    vc->navigateToItems(vc->vesperScreen1Items());
    const size_t depth = vc->navigationStack().size();
    choose(bad);
    clickText("Select your Vesper Export file");
    ASSERT_TRUE(waitUntil([&] { return textsOf(shown()).size() == 4; }, 15000));
    const ZNFLayoutItemList errorScreen = shown();
    EXPECT_EQ(textsOf(errorScreen).value(1),
              "Something went wrong—make sure you've selected \nthe correct file, and try again.");
    // The error text sits right after the back item; the rest keeps its order.
    EXPECT_EQ(textOf(errorScreen[0]), "‹ Back");
    EXPECT_TRUE(std::dynamic_pointer_cast<ZNFSpacerLayoutItem>(errorScreen[2]));
    EXPECT_EQ(textOf(errorScreen[5]), "Select your Vesper Export file");
    EXPECT_EQ(errorScreen.size(), 8u);
    EXPECT_EQ(vc->navigationStack().size(), depth) << "the error screen does not touch the stack";

    // A cancelled panel changes nothing.
    choose({});
    clickText("Select your Vesper Export file");
    EXPECT_EQ(shown(), errorScreen);

    choose(good);
    clickText("Select your Vesper Export file");
    ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));
    EXPECT_TRUE(shows("Converted 2 notes to .notebackup"));
    EXPECT_EQ(QFileInfo(vc->currentBackupPath()).fileName(), "Vesper_to_Tessanote.notebackup");
}

// Google Keep and Evernote from their choosers: through the progress screen to the backup
// screen, or to the source's error screen with the importer's reason under the message. One
// Back leaves either for the start screen.
TEST_F(FlowTest, KeepAndEvernoteFlowsEndOnTheBackupOrTheirErrorScreen) {
    const QString root = home.root();
    KeepTakeout::Files takeout;
    const QString keep = "Takeout/Notizen"; // the folder's name follows the account's language
    KeepTakeout::addNote(takeout, keep, "Walk",
                         R"({"title":"Walk","listContent":[{"text":"shoes","isChecked":true}],)"
                         R"("labels":[{"name":"errands"}]})");
    KeepTakeout::addNote(takeout, keep, "Plain", R"({"textContent":"plain"})");
    KeepTakeout::addNote(takeout, keep, "Old", R"({"textContent":"old","isTrashed":true})");
    const QString zip = root + "/takeout-20240101T000000Z-001.zip";
    ASSERT_TRUE(KeepTakeout::writeZip(zip, takeout));
    ASSERT_TRUE(KeepTakeout::writeFolder(root + "/extracted", takeout));
    QDir().mkpath(root + "/empty");
    writeFile(root + "/Work.enex", enex({"Plan", "Budget"}));
    writeFile(root + "/Home.enex", enex({"Groceries"}));
    writeFile(root + "/Empty.enex", "");
    const QString keepError = "Something went wrong—make sure you've chosen your Google Takeout file or "
                              "folder, and try again.\n";
    const QString evernoteError =
        "Something went wrong—make sure you've chosen your .enex files, and try again.\n";

    using Screen = ZNFMacNotecrateViewController::Screen;
    const struct {
        const char* name;
        Screen (ZNFMacNotecrateViewController::*screen)();
        const char* choose; // the source screen's button
        bool foldersToo;    // what the chooser must offer
        QStringList chosen; // none: the chooser is cancelled and nothing changes
        qint64 notes;       // 0: the error screen
        QString shown;      // the archive's name, or how the error text begins
        QString leftOut;    // part of the backup screen's line of what was left out
    } rows[] = {
        {"Keep, a Takeout zip with a localised folder",
         &ZNFMacNotecrateViewController::keepScreen1Items,
         "Choose your Google Takeout file or folder",
         true,
         {zip},
         2,
         "Keep_to_Tessanote.notebackup",
         "1 note in the trash left out"},
        {"Keep, the folder the zip unpacks to",
         &ZNFMacNotecrateViewController::keepScreen1Items,
         "Choose your Google Takeout file or folder",
         true,
         {root + "/extracted"},
         2,
         "Keep_to_Tessanote.notebackup",
         "1 note in the trash left out"},
        {"Keep, a folder without notes",
         &ZNFMacNotecrateViewController::keepScreen1Items,
         "Choose your Google Takeout file or folder",
         true,
         {root + "/empty"},
         0,
         keepError + "No Google Keep notes were found in " + root + "/empty.",
         {}},
        {"Keep, the chooser cancelled",
         &ZNFMacNotecrateViewController::keepScreen1Items,
         "Choose your Google Takeout file or folder",
         true,
         {},
         -1,
         {},
         {}},
        {"Evernote, two notebooks into one archive",
         &ZNFMacNotecrateViewController::evernoteScreen1Items,
         "Choose your .enex files",
         false,
         {root + "/Work.enex", root + "/Home.enex"},
         3,
         "Evernote_to_Tessanote.notebackup",
         {}},
        {"Evernote, an empty file",
         &ZNFMacNotecrateViewController::evernoteScreen1Items,
         "Choose your .enex files",
         false,
         {root + "/Empty.enex"},
         0,
         evernoteError,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(atStart());
        vc->navigateToItems(((*vc).*row.screen)());
        const ZNFLayoutItemList sourceScreen = shown();
        bool foldersToo = !row.foldersToo;
        chooseFiles(row.chosen, &foldersToo);
        clickText(row.choose);
        EXPECT_EQ(foldersToo, row.foldersToo);
        if (row.notes < 0) {
            EXPECT_EQ(shown(), sourceScreen);
            vc->popNavigationStack();
            continue;
        }
        const auto failed = [&] { return shownText(1).startsWith("Something went wrong"); };
        ASSERT_TRUE(waitUntil([&] { return atBackup() || failed(); }, 15000));
        if (row.notes == 0) {
            EXPECT_TRUE(failed()) << "no archive with a note was expected";
            EXPECT_TRUE(shownText(1).startsWith(row.shown)) << shownText(1).toStdString();
            EXPECT_FALSE(shownText(1).section('\n', 1).isEmpty()) << "the importer's reason is said";
            EXPECT_EQ(textsOf(shown()).value(2), row.choose) << "the source screen under its error";
        } else {
            EXPECT_TRUE(shows(QString("Converted %1 notes to .notebackup").arg(row.notes)))
                << shownText(1).toStdString();
            EXPECT_EQ(QFileInfo(vc->currentBackupPath()).fileName(), row.shown);
            if (!row.leftOut.isEmpty()) {
                EXPECT_TRUE(showsPart(row.leftOut)) << textsOf(shown()).join(" | ").toStdString();
            }
            EXPECT_EQ(vc->navigationStack().size(), 1u);
        }
        clickText("‹ Back");
        EXPECT_TRUE(atStart());
    }
}

TEST_F(FlowTest, SaveReplacesAnExistingFileAndReportsAFailedCopy) {
    startVesper();
    ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));

    const QString destination = home.root() + "/Backups/mine.notebackup";
    writeFile(destination, "old content");
    QString offeredName;
    QUrl start;
    vc->savePanel = [&](const QUrl& at, const QString& name) -> std::optional<QUrl> {
        offeredName = name;
        start = at;
        return QUrl::fromLocalFile(home.root() + "/Backups/mine");
    };
    const int save = int(shown().size()) - 1;
    click(save);
    EXPECT_EQ(offeredName, "Vesper_to_Tessanote");
    EXPECT_EQ(start, QUrl::fromLocalFile(home.home()))
        << "no iCloud Drive nor Documents: the panel starts at home";
    QDir().mkpath(home.home() + "/Library/Mobile Documents/com~apple~CloudDocs");
    EXPECT_EQ(ZNFMacNotecrateViewController::panelStartURL(), ZNFMacNotecrateViewController::iCloudURL());
    EXPECT_EQ(readFile(destination), readFile(vc->currentBackupPath()));
    EXPECT_TRUE(shows("Great!"));
    EXPECT_TRUE(shows("Vesper_to_Tessanote.notebackup"));
    ASSERT_EQ(vc->navigationStack().size(), 1u);
    click(int(shown().size()) - 1); // OK
    EXPECT_TRUE(atStart());
    EXPECT_EQ(vc->navigationStack().size(), 1u) << "OK leaves the stack as it was";

    // A copy that cannot be made is reported, not shown as saved.
    vc->updateToShowBackup();
    vc->savePanel = [&](const QUrl&, const QString&) -> std::optional<QUrl> {
        return QUrl::fromLocalFile(home.root() + "/missing/folder/x");
    };
    click(int(shown().size()) - 1);
    EXPECT_FALSE(shows("Great!"));
    EXPECT_TRUE(shownText(1).startsWith("The archive could not be saved there."));
}

TEST_F(FlowTest, LinkTextsUnderlineHereAndStayClickable) {
    QString launched;
    vc->launchApplication = [&](const QString& name) {
        launched = name;
        return true;
    };
    const auto screen = vc->notesAppScreen1Items();
    auto link = ZNFMacNotecrateViewController::textItemIn(screen.back());
    ASSERT_TRUE(link);
    const ZNFAttributedString& string = link->attributedString();
    const auto underline = [&](qsizetype at) {
        const auto attributes = string.attributesAtIndex(at);
        return attributes ? attributes->underlineStyle.value_or(0) : 0;
    };
    EXPECT_EQ(underline(string.string().indexOf("here")), 1);
    EXPECT_EQ(underline(0), 0);
    vc->navigateToItems(screen);
    click(int(screen.size()) - 1);
    EXPECT_EQ(launched, "Notes");
    EXPECT_TRUE(shows("Next")) << "the link changes no screen";
}

// The list shows the archive's own notes in its order, then what the conversion left out;
// the filter narrows both as one types, keeping the focus; Back returns to the backup screen.
TEST_F(FlowTest, TheListShowsTheArchiveAndNarrowsAsOneTypes) {
    startVesper();
    ASSERT_TRUE(waitUntil([&] { return atBackup(); }, 15000));
    ZNFConversionOutcome outcome;
    outcome.addLeftOut({ZNFLeftOutReason::LockedNote, "Diary", {}, {}});
    outcome.addLeftOut({ZNFLeftOutReason::PDF, "Second trip", "Tickets.pdf", {}});
    vc->setCurrentBackupLeftOut(outcome);
    vc->updateToShowBackup();
    const ZNFLayoutItemList backup = shown();
    clickText("Show the notes");
    EXPECT_TRUE(shows("2 notes · 0 pictures"));
    EXPECT_EQ(noteRowsOf(shown()),
              (QStringList{"First note", "Second note", "Diary", "Tickets.pdf in “Second trip”"}));
    EXPECT_EQ(noteRowDetailsOf(shown()).mid(2), (QStringList{"locked note", "PDF"}));
    EXPECT_FALSE(noteRowDatesOf(shown()).value(0).isEmpty()) << "a note's date, in the user's locale";

    QLineEdit* field = filterField(collectionView());
    ASSERT_TRUE(field);
    field->setFocus();
    const struct {
        const char* name;
        const char* typed; // more letters, after those of the rows above
        QStringList rows;
        const char* said;
    } rows[] = {
        {"narrowed to the notes that hold it",
         "sec",
         {"Second note", "Tickets.pdf in “Second trip”"},
         "1 of 2 notes"},
        {"any case", "OND", {"Second note", "Tickets.pdf in “Second trip”"}, "1 of 2 notes"},
        {"nothing holds it", "x", {}, "No note holds “secONDx”."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTest::keyClicks(QApplication::focusWidget(), row.typed);
        EXPECT_EQ(noteRowsOf(shown()), row.rows);
        EXPECT_TRUE(shows(row.said)) << textsOf(shown()).join(" | ").toStdString();
        EXPECT_EQ(QApplication::focusWidget(), filterField(collectionView())) << "the field keeps the focus";
    }
    clickText("‹ Back");
    EXPECT_EQ(shown(), backup);
}

// The scroller shows only while the screen is taller than the window.
TEST_F(FlowTest, TheScrollerShowsOnlyWhenTheContentIsTaller) {
    ZNFConversionOutcome many;
    for (int i = 0; i < 60; ++i)
        many.addLeftOut({ZNFLeftOutReason::LockedNote, QString("Locked %1").arg(i), {}, {}});
    vc->setCurrentBackupPath(home.root() + "/none.notebackup");
    const struct {
        const char* name;
        std::function<void()> show;
        bool scroller;
    } rows[] = {
        {"the start screen fits", [&] { vc->showScreen(vc->initialScreenItems()); }, false},
        {"a list of 60 rows does not",
         [&] {
             vc->setCurrentBackupLeftOut(many);
             vc->showNoteList();
         },
         true},
        {"the start screen again", [&] { vc->showScreen(vc->initialScreenItems()); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.show();
        QCoreApplication::processEvents();
        ZNFCollectionView* cv = collectionView();
        EXPECT_EQ(cv->verticalScroller()->isVisible(), row.scroller);
        EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).right() <=
                      cv->frame().width() - (row.scroller ? 15 : 0) + 0.5,
                  true);
        EXPECT_EQ(cv->contentHeight() > cv->frame().height(), row.scroller);
    }
}

// Without iCloud Drive the backup screen offers a copy where the phone can reach it, and the
// panel starts in Documents; with it the screen is the one the phone app's users know.
TEST_F(FlowTest, TheBackupScreenWithAndWithoutICloudDrive) {
    vc->setCurrentBackupPath(home.root() + "/x.notebackup");
    writeFile(vc->currentBackupPath(), "archive");
    const QString documents = home.home() + "/Documents",
                  iCloud = home.home() + "/Library/Mobile Documents/com~apple~CloudDocs";
    const struct {
        const char* name;
        QString folder; // made before the screen is shown
        const char* button;
        const char* text;
        QString start;
    } rows[] = {
        {"no iCloud Drive", documents, "Save a Copy…", "to a folder your phone can reach", documents},
        {"iCloud Drive", iCloud, "Save to iCloud", "to your iCloud Drive to import later", iCloud},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QDir().mkpath(row.folder);
        vc->updateToShowBackup();
        EXPECT_TRUE(showsPart(row.text));
        QUrl start;
        vc->savePanel = [&](const QUrl& at, const QString&) -> std::optional<QUrl> {
            start = at;
            return std::nullopt;
        };
        clickText(row.button);
        EXPECT_EQ(start, QUrl::fromLocalFile(row.start));
    }
}
