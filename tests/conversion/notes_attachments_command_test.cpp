// Runs of the built executable: "notecrate convert notes" against a stand-in osascript and a
// Notes app container with a store, media and previews, and "convert notes --from DIR".
#include "TestSupport.h"
#include "platform/ZNFImage.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/command_run.h"
#include "support/notes_store_fixture.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace F = AttachmentsFixture;

TEST(NotesAttachmentsCommand, ConvertNotesWritesTheAttachmentsIntoTheArchive) {
    ScopedHome home;

    ASSERT_TRUE(
        F::createStore({{3, "PHOTO-UUID", "public.jpeg"}, {4, "SKETCH-UUID", "com.apple.notes.sketch"}}));
    F::writeMedia("PHOTO-UUID", "IMG_0001.jpeg", F::jpeg(F::cornerImage(640, 480), 144));
    F::writePreview("SKETCH-UUID-1-300x200-0.png", F::png(F::cornerImage(300, 200)));
    const QJsonArray notes{
        QJsonObject{{"id", "x-coredata://S/ICNote/p1"},
                    {"text", "Trip"},
                    {"creationDate", 1000},
                    {"modificationDate", 2000},
                    {"attachments", QJsonArray{QJsonObject{{"id", "x-coredata://S/ICAttachment/p3"},
                                                           {"parentId", "x-coredata://S/ICNote/p1"},
                                                           {"date", 1500}},
                                               QJsonObject{{"id", "x-coredata://S/ICAttachment/p4"},
                                                           {"parentId", "x-coredata://S/ICNote/p1"},
                                                           {"date", 1600}}}}},
    };
    writeFile(home.root() + "/export.json", QJsonDocument(notes).toJson());
    home.installTool("osascript",
                     "#!/bin/sh\nmkdir -p \"$HOME/Desktop\"\ncp \"" + home.root().toUtf8() +
                         "/export.json\" \"$HOME/Desktop/znfexporter_mac_exported_notes.json\"\n");

    const CommandRun run = notecrate({"convert", "notes"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(result.value("notes"), QJsonValue(1));
    EXPECT_EQ(result.value("attachments"), QJsonValue(2)) << "the image entries written";
    const QString archive = result.value("path").toString();
    EXPECT_TRUE(archive.startsWith(home.caches())) << archive.toStdString();

    // What each picture becomes is the attachment step's own test; here they reach the archive.
    const ZipContents zip = readZip(archive);
    EXPECT_EQ(zip.names(), QStringList({"entries.json", "resources/PHOTO-UUID", "resources/SKETCH-UUID"}));
    EXPECT_EQ(entriesOf(zip).size(), 3);
    EXPECT_EQ(QDir(home.caches()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QFileInfo(archive).fileName()}))
        << "no staging folder and no copy of the store left behind";
}

TEST(NotesAttachmentsCommand, ConvertNotesFromACopiedFolder) {
    ScopedHome home;
    namespace S = NotesStoreFixture;
    const QString folder = home.root() + "/group.com.apple.notes";
    S::Store store;
    store.objects = {S::attachmentRow(30, 1, "PHOTO-UUID", "public.png", 1.0)};
    store.notes = {{1, S::noteData("Trip"), {}},
                   {2, S::noteData("a"), {{"ZISPASSWORDPROTECTED", 1}}},
                   {3, S::noteData("b"), {{"ZISPASSWORDPROTECTED", 1}}}};
    ASSERT_TRUE(S::write(folder, store));
    writeFile(folder + "/Media/PHOTO-UUID/p.png", F::png(F::cornerImage(40, 20)));
    const QString lockedOnly = home.root() + "/locked";
    store.notes.erase(store.notes.begin());
    ASSERT_TRUE(S::write(lockedOnly, store));

    const struct {
        const char* name;
        QStringList arguments;
        int exitCode;
        QStringList errorLines; // each line must hold its text
        int notes = -1;         // with a JSON line
    } rows[] = {
        {"a copied folder", {"convert", "notes", "--from", folder}, 0, {"2 locked notes left out"}, 1},
        {"only locked notes",
         {"convert", "notes", "--from", lockedOnly},
         1,
         {"2 locked notes left out", "notecrate: there is no note to convert in"}},
        {"a folder without a store",
         {"convert", "notes", "--from", home.home()},
         1,
         {"notecrate: there is no NoteStore.sqlite in"}},
        {"no folder named",
         {"convert", "notes", "--from"},
         1,
         {"notecrate: convert notes takes nothing, or --from DIR"}},
        {"no osascript: the error names --from",
         {"convert", "notes"},
         1,
         {"notecrate: the Notes app's export needs osascript, which only macOS has; convert a copy of the "
          "Mac's "
          "Notes folder with --from DIR"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CommandRun run = notecrate(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        const QList<QByteArray> lines = run.err.trimmed().split('\n');
        ASSERT_EQ(lines.size(), row.errorLines.size()) << run.err.toStdString();
        for (int i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].contains(row.errorLines[i].toUtf8())) << lines[i].toStdString();
        if (row.notes < 0) {
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
            continue;
        }
        const QJsonObject result = QJsonDocument::fromJson(run.out).object();
        EXPECT_EQ(result.value("notes"), row.notes);
        const ZipContents zip = readZip(result.value("path").toString());
        EXPECT_EQ(zip.names(), QStringList({"entries.json", "resources/PHOTO-UUID"}));
    }
}
