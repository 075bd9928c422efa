// Runs of the built executable's subcommands: their arguments, exit
// codes and output lines; and what it says about itself. What the archives hold is the
// importers' tests.
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/backup_archives.h"
#include "support/command_run.h"
#include "support/enex_file.h"
#include "support/keep_takeout.h"
#include "support/notes_store_fixture.h"
#include "support/vesper_export.h"

#include <QProcess>
#include <signal.h>

namespace S = NotesStoreFixture;
namespace F = AttachmentsFixture;

TEST(VesperCommand, ArgumentsExitCodesAndOutputLines) {
    ScopedHome home;
    const QString root = home.root(), exp = root + "/Vesper Export", bare = root + "/Bare",
                  empty = root + "/Empty";
    VesperExport::write(exp, {{"Walk.txt", "Harbour\nPicture: h.jpg\n"},
                              {"List.txt", "Milk\n"},
                              {"Pictures/h.jpg", F::jpeg(VesperExport::picture(64, 48))}});
    QDir().mkpath(bare + "/Notes");
    QDir().mkpath(VesperExport::activeNotes(empty));
    const auto convert = [](const QStringList& more = {}) { return QStringList{"convert", "vesper"} + more; };
    const CommandRow rows[] = {
        // clang-format off
        // No progress lines when stderr is not a terminal.
        {"a note file climbs to its export", convert({exp + "/Active Notes/List.txt"}), 0, {}, 2, 1},
        {"the bundled example, as the README runs it", convert({"examples/VesperExport"}), 0, {}, 12, 2,
         NOTECRATE_SOURCE_DIR},
        {"no Active Notes folder", convert({bare}), 1, {"notecrate: no \"Active Notes\" folder"}},
        {"no notes still prints the archive", convert({empty}), 1, {"notecrate: no notes"}, 0, 0},
        {"a missing path", convert({root + "/missing"}), 1, {"notecrate: no such file or folder"}},
        {"no path", convert(), 1, {"notecrate: convert vesper takes one PATH"}},
        // clang-format on
    };
    for (const CommandRow& row : rows)
        expectRun(row);
}

TEST(VesperCommand, AnInterruptedRunLeavesNoPartialArchive) {
    ScopedHome home;
    const QString exp = home.root() + "/Export";
    for (const QString i : {"0", "1", "2", "3", "4", "5", "6", "7"})
        VesperExport::write(
            exp, {{"N" + i + ".txt", "N\nPicture: p" + i.toUtf8() + ".jpg\n"},
                  {"Pictures/p" + i + ".jpg", F::jpeg(VesperExport::picture(1600, 1200, i.toInt()))}});
    const auto partial = [&] {
        return !QDir(home.caches()).entryList({"*.partial-*"}, QDir::Files).isEmpty();
    };
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(notecrateProgram(), {"convert", "vesper", exp});
        ASSERT_TRUE(waitUntil(partial, 20000)) << "the run writes its partial archive";
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "ended by the signal, as before";
        EXPECT_EQ(QDir(home.caches()).entryList(QDir::Files), QStringList());
    }
}

TEST(Command, VersionAndHelp) {
    ScopedHome home;
    const CommandRow rows[] = {
        // clang-format off
        // The version the project, and so the .deb, carries.
        {"--version", {"--version"}, 0, {}, -1, 0, {}, "notecrate " NOTECRATE_VERSION "\n"},
        {"--help names --version", {"--help"}, 0, {}, -1, 0, {}, "\n  notecrate --version "},
        // clang-format on
    };
    for (const CommandRow& row : rows)
        expectRun(row);
}

TEST(NotesCommand, ArgumentsExitCodesAndOutputLines) {
    ScopedHome home;
    const QString folder = home.root() + "/group.com.apple.notes", lockedOnly = home.root() + "/locked";
    S::Store store;
    store.objects = {S::attachmentRow(30, 1, "PHOTO-UUID", "public.png", 1.0),
                     S::attachmentRow(31, 1, "PDF-UUID", "com.adobe.pdf", 1.0)};
    store.notes = {{2, S::noteData("a"), {{"ZISPASSWORDPROTECTED", 1}}},
                   {3, S::noteData("b"), {{"ZISPASSWORDPROTECTED", 1}}}};
    ASSERT_TRUE(S::write(lockedOnly, store));
    store.notes.push_back({1, S::noteData("Trip"), {}});
    ASSERT_TRUE(S::write(folder, store));
    writeFile(folder + "/Media/PHOTO-UUID/p.png", F::png(F::cornerImage(40, 20)));
    const auto convert = [](const QStringList& more = {}) { return QStringList{"convert", "notes"} + more; };
    const CommandRow rows[] = {
        // clang-format off
        {"a copied folder", convert({"--from", folder}), 0,
         {"2 locked notes left out", "1 PDF could not be carried"}, 1, 1},
        {"only locked notes", convert({"--from", lockedOnly}), 1,
         {"2 locked notes left out", "notecrate: there is no note to convert in"}},
        {"a folder without a store", convert({"--from", home.home()}), 1, {"no NoteStore.sqlite in"}},
        {"no folder named", convert({"--from"}), 1, {"convert notes takes nothing, or --from DIR"}},
        {"no osascript: the error names --from", convert(), 1,
         {"notecrate: the Notes app's export needs osascript, which only macOS has; convert a copy of the "
          "Mac's Notes folder with --from DIR"}},
        // clang-format on
    };
    for (const CommandRow& row : rows)
        expectRun(row);

    // The Notes app's own export, through the script.
    installExportScript(home, R"([{"id":"n1","text":"Trip"},{"id":"n2"}])");
    expectRun({"the Notes app's export", convert(), 0, {}, 2, 0});
}

TEST(KeepAndEvernoteCommands, ArgumentsExitCodesAndOutputLines) {
    ScopedHome home;
    const QString root = home.root(), zip = root + "/takeout-1.zip";
    KeepTakeout::Files files;
    KeepTakeout::addNote(files, "Takeout/Keep", "A", R"({"textContent":"a"})");
    KeepTakeout::addNote(files, "Takeout/Keep", "B", R"({"textContent":"b","isTrashed":true})");
    ASSERT_TRUE(KeepTakeout::writeZip(zip, files));
    const QByteArray picture = F::png(F::cornerImage(40, 30)), pdf = "%PDF-1.4";
    Enex::Note trip =
        Enex::note("Trip", Enex::media(picture, "image/png") + Enex::media(pdf, "application/pdf"));
    trip.resources = {Enex::resource(picture, "image/png", "a.png"),
                      Enex::resource(pdf, "application/pdf", "r.pdf")};
    const QByteArray enex = Enex::file({trip, Enex::note("List", "<div><en-todo/>Milk</div>")});
    ASSERT_TRUE(Enex::write(root + "/Travel.enex", enex));
    ASSERT_TRUE(Enex::write(root + "/Home.enex", Enex::file({Enex::note("Home", "<div>h</div>")})));
    ASSERT_TRUE(Enex::write(root + "/Cut.enex", enex.left(enex.indexOf("</note>") - 2)));
    const CommandRow rows[] = {
        // clang-format off
        {"a Takeout zip", {"convert", "keep", zip}, 0, {"1 note in the trash left out"}, 1, 0},
        {"a missing Takeout path", {"convert", "keep", root + "/missing.zip"}, 1, {"notecrate: no such file or folder"}},
        {"no Takeout path", {"convert", "keep"}, 1, {"notecrate: convert keep takes a Takeout archive"}},
        {"no .enex file", {"convert", "evernote"}, 1, {"notecrate: convert evernote takes one or more .enex files"}},
        {"a missing .enex file", {"convert", "evernote", root + "/x.enex"}, 1, {"notecrate: no such file"}},
        {"two .enex files, one archive", {"convert", "evernote", root + "/Travel.enex", root + "/Home.enex"}, 0,
         {"1 PDF could not be carried"}, 3, 1},
        {"an .enex file cut off in its only note", {"convert", "evernote", root + "/Cut.enex"}, 1,
         {"Cut.enex ends in the middle of it, at the note that starts on line 4", "1 note with unreadable data left out",
          "notecrate: no notes were found in"}, 0, 0},
        // clang-format on
    };
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.name);
        expectRun(row);
    }
}

TEST(ListCommand, ArgumentsExitCodesAndHostileArchives) {
    ScopedHome home;
    ScopedVariable tz("TZ", "UTC");
    const QString root = home.root();
    const auto archive = [&](const char* name, const QByteArray& index) {
        const QString path = root + "/" + name + ".notebackup";
        EXPECT_TRUE(BackupArchives::write(path, index));
        return path;
    };
    const QString good = archive(
        "good", R"({"entries":[{"kind":"note","state":0,"identifier":"A","body":"\n  Trip to\tRome \nday 2",)"
                R"("date":0,"updatedDate":1000000000000},)"
                R"({"kind":"note","state":0,"identifier":"B","body":""},)"
                R"({"kind":"Image","state":0,"identifier":"i","parentId":"A","binaryAttachmentId":"r"}]})");
    writeFile(root + "/text.notebackup", "not a zip at all");
    const QString noIndex = root + "/noindex.notebackup";
    ASSERT_TRUE(KeepTakeout::writeZip(noIndex, {{"resources/.DS_Store", {}}}));
    // Blanks between elements are valid JSON and deflate a thousandfold.
    const QString bomb = archive("bomb", "{\"entries\":[" + QByteArray(20 << 20, ' ') + "]}");
    const QString huge = root + "/huge.notebackup";
    ASSERT_TRUE(BackupArchives::writeLyingSize(huge, "entries.json", R"({"entries":[]})", 3LL << 30));
    const QString lying = root + "/lying.notebackup";
    ASSERT_TRUE(BackupArchives::writeLyingSize(lying, "entries.json", R"({"entries":[]})", 5));
    const auto list = [](const QStringList& more) { return QStringList{"list"} + more; };
    const char* unreadable = "is not a readable backup archive: ";
    const CommandRow rows[] = {
        // clang-format off
        {"date, pictures and first line, tab-separated", list({good}), 0, {}, -1, 0, {},
         "2001-09-09T01:46:40Z\t1\tTrip to Rome\n-\t0\t\n"},
        {"JSON lines", list({"--json", good}), 0, {}, -1, 0, {},
         R"({"date":"2001-09-09T01:46:40Z","firstLine":"Trip to Rome","identifier":"A","pictures":1})"},
        {"no archive", list({}), 1, {"notecrate: list takes one ARCHIVE"}},
        {"an unknown option", list({"--all", good}), 1, {"notecrate: unknown option --all"}},
        {"a missing file", list({root + "/none"}), 1, {"there is no such file"}},
        {"not a zip", list({root + "/text.notebackup"}), 1, {QString(unreadable) + "it is not a zip archive"}},
        {"no entries.json", list({noIndex}), 1, {"it holds no entries.json"}},
        {"a zip bomb member", list({bomb}), 1, {"entries.json inflates to more than 100 times its size"}},
        {"a huge entries.json", list({huge}), 1, {"entries.json is larger than 1073741824 bytes"}},
        {"a member longer than it says", list({lying}), 1, {"entries.json is damaged"}},
        {"entries not an array", list({archive("object", R"({"entries":{}})")}), 1, {"does not begin with ["}},
        {"another key first", list({archive("key", R"({"version":1,"entries":[]})")}), 1,
         {"does not begin with {\"entries\":"}},
        {"an entry not an object", list({archive("number", R"({"entries":[1]})")}), 1, {"entry 0 is not an object"}},
        {"a body that is a number", list({archive("body", R"({"entries":[{"kind":"note","body":5}]})")}), 1,
         {"entry 0: \"body\" is not a string"}},
        {"a date that is a list", list({archive("date", R"({"entries":[{"kind":"note","date":[]}]})")}), 1,
         {"entry 0: \"date\" is not a date"}},
        {"an index cut short", list({archive("short", R"({"entries":[{"kind":"note")")}), 1, {"cut short"}},
        {"text after the index", list({archive("after", R"({"entries":[]}x)")}), 1, {"text after the array"}},
        // clang-format on
    };
    for (const CommandRow& row : rows)
        expectRun(row);
}
