// Renders every screen of the app into PNG files, to look at them without clicking through.
//   notecrate-screenshots OUTPUT_DIR [WIDTH HEIGHT [NAME...]]
// With names, only the screens whose names start with one of them.
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "conversion/ZNFBackupArchive.h"
#include "layout/ZNFLayoutItemInteraction.h"
#include "platform/ZNFBundle.h"

#include <QApplication>
#include <QDir>
#include <QJsonObject>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
// A small archive for the list, written to a private caches folder.
QString writeDemoArchive() {
    static QTemporaryDir caches;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(caches.path()));
    ZNFBackupArchiveWriter writer(QStringLiteral("Vesper_to_Tessanote.notebackup"));
    const char* lines[] = {"Harbour walk on Sunday",
                           "Groceries: milk, eggs, lemons",
                           "Books to read this summer",
                           "Ideas for the garden",
                           "Flat viewing notes",
                           "Passwords are not kept here",
                           "Recipe: lemon tart",
                           "Trip to Rome, day 2",
                           "Call the plumber",
                           "Birthday presents",
                           "Running log, March",
                           "Quotes I liked",
                           "",
                           "Meeting with Sam",
                           "Bike repair parts"};
    int i = 0;
    for (const char* line : lines) {
        const QString id = QStringLiteral("N%1").arg(i);
        const double ms = 1.70e12 - i * 3.1e8;
        writer.addEntry(
            QJsonObject{
                {"kind", "note"}, {"state", 0}, {"identifier", id}, {"date", ms}, {"updatedDate", ms}},
            *line ? QString::fromUtf8(line) + QStringLiteral("\nmore text") : QString());
        for (int p = 0; p < (i % 4 == 1 ? 2 : i % 5 == 0 ? 1 : 0); ++p)
            writer.addEntry(QJsonObject{{"kind", "Image"},
                                        {"state", 0},
                                        {"identifier", id + QString::number(p)},
                                        {"parentId", id},
                                        {"binaryAttachmentId", id},
                                        {"date", ms}});
        ++i;
    }
    return writer.commit();
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int width = argc > 3 ? std::atoi(argv[2]) : 600;
    const int height = argc > 3 ? std::atoi(argv[3]) : 700;
    QDir().mkpath(out);

    ZNFBundle::installLocalizations();

    ZNFNotecrateWindowController window;
    window.window()->resize(width, height);
    window.showWindow();
    auto vc = window.contentViewController();
    vc->setCurrentBackupPath(QStringLiteral("/tmp/Vesper_to_Tessanote.notebackup"));
    vc->setCurrentBackupNoteCount(12);
    // The Notes screens as a Mac shows them, whatever this computer is; "2b" as any other shows it.
    vc->canRunNotesScript = [] { return true; };
    auto withoutScript = [&](const std::function<ZNFMacNotecrateViewController::Screen()>& build) {
        vc->canRunNotesScript = [] { return false; };
        auto screen = build();
        vc->canRunNotesScript = [] { return true; };
        return screen;
    };

    const std::vector<std::pair<const char*, std::function<ZNFMacNotecrateViewController::Screen()>>>
        screens = {
            {"1-start", [&] { return vc->initialScreenItems(); }},
            {"2-notes", [&] { return vc->notesAppScreen1Items(); }},
            {"2b-notes-folder", [&] { return withoutScript([&] { return vc->notesAppScreen1Items(); }); }},
            {"3-notes-progress", [&] { return vc->notesAppScreen2Items(); }},
            {"4-vesper", [&] { return vc->vesperScreen1Items(); }},
            {"4b-vesper-progress", [&] { return vc->vesperScreen2Items(); }},
            {"4c-keep", [&] { return vc->keepScreen1Items(); }},
            {"4d-keep-progress", [&] { return vc->conversionProgressItems(QStringLiteral("appIcon_keep")); }},
            {"4e-evernote", [&] { return vc->evernoteScreen1Items(); }},
            {"6-backup", [&] { return vc->currentBackupItems(); }},
            {"7-saved", [&] { return vc->backupSuccessItems(); }},
            {"8-sending", [&] { return vc->sendWirelesslyItems(); }},
            {"8b-sending-code",
             [&] {
                 return vc->sendConfirmationItems(QStringLiteral("Alice’s iPhone"),
                                                  QStringLiteral("123 456"));
             }},
            {"8c-sending-unavailable",
             [&] {
                 return vc->sendFailedItems(
                     ZNFLocalizedString("Sending wirelessly is not available right now: this computer "
                                        "cannot be found on the network."),
                     ZNFLocalizedString("Try again"));
             }},
            {"9-sent", [&] { return vc->wirelessSuccessItems(true); }},
            {"9b-sent-failed", [&] { return vc->wirelessSuccessItems(false); }},
        };
    QStringList only;
    for (int i = 4; i < argc; ++i)
        only << QString::fromLocal8Bit(argv[i]);
    int written = 0;
    auto shoot = [&](const QString& name) {
        if (!only.isEmpty() &&
            std::none_of(only.begin(), only.end(), [&](const QString& o) { return name.startsWith(o); }))
            return;
        settle(400);
        const QString path = QDir(out).filePath(name + QStringLiteral(".png"));
        if (window.window()->grab().save(path))
            ++written;
        else
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    };
    // The list, of an archive of its own, with what its conversion left out.
    const QString demo = writeDemoArchive();
    ZNFConversionOutcome outcome;
    outcome.addLeftOut({ZNFLeftOutReason::LockedNote, QStringLiteral("Diary"), {}, {}});
    outcome.addLeftOut({ZNFLeftOutReason::PDF,
                        QStringLiteral("Trip to Rome, day 2"),
                        QStringLiteral("Boarding pass.pdf"),
                        {}});
    outcome.addLeftOut({ZNFLeftOutReason::TrashedNote, QStringLiteral("Old shopping list"), {}, {}});
    for (const auto& [name, build] : screens) {
        vc->showScreen(build());
        shoot(QString::fromLatin1(name));
    }
    vc->setCurrentBackupPath(demo);
    vc->setCurrentBackupLeftOut(outcome);
    vc->setCurrentBackupAttachmentCount(10);
    vc->setCurrentBackupNoteCount(15);
    vc->showScreen(vc->currentBackupItems());
    shoot(QStringLiteral("6a-backup-left-out"));
    vc->showScreen(vc->noteListItems());
    shoot(QStringLiteral("6b-list"));
    vc->showScreen(vc->noteListItems(QStringLiteral("trip")));
    shoot(QStringLiteral("6c-list-filtered"));
    vc->setCurrentBackupPath(QStringLiteral("/tmp/Vesper_to_Tessanote.notebackup"));
    vc->setCurrentBackupLeftOut(ZNFConversionOutcome());
    vc->setCurrentBackupNoteCount(12);
    // The keyboard focus on the Notes screen's button, as Tab leaves it.
    vc->showScreen(vc->notesAppScreen1Items());
    settle(200);
    const QList<QWidget*> controls = ZNFLayoutItemInteraction::controlsInReadingOrder(window.window());
    if (controls.size() > 1)
        controls[1]->setFocus(Qt::TabFocusReason);
    shoot(QStringLiteral("2c-notes-focus"));
    vc->showVesperError(ZNFLocalizedString(
        "Something went wrong—make sure you've selected \nthe correct file, and try again."));
    shoot(QStringLiteral("5-vesper-error"));
    vc->showKeepError(
        ZNFLocalizedString("Something went wrong—make sure you've chosen your Google Takeout file or folder, "
                           "and try again.\n%1")
            .arg(QStringLiteral("No Google Keep notes were found in /home/alice/Downloads.")));
    shoot(QStringLiteral("5b-keep-error"));
    vc->showEvernoteError(
        ZNFLocalizedString("Something went wrong—make sure you've chosen your .enex files, "
                           "and try again.\n%1")
            .arg(QStringLiteral("No notes were found in /home/alice/Downloads/Notebook.enex.")));
    shoot(QStringLiteral("5c-evernote-error"));
    vc->showNotesError(
        ZNFLocalizedString("No notes were found. Open the Notes app, wait for it to update, and try again."));
    shoot(QStringLiteral("3b-notes-error"));
    std::printf("%d screenshots in %s\n", written, qPrintable(out));
    return written > 0 ? 0 : 1;
}
