// Notes read from a copied Notes folder: the store's notes become the records the export
// script would write, and the rest of the Notes conversion runs on them unchanged.
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/notes_store_fixture.h"

#include <QRandomGenerator>

namespace S = NotesStoreFixture;
namespace F = AttachmentsFixture;

namespace {

QString noteId(int primaryKey) {
    return QStringLiteral("x-coredata://%1/ICNote/p%2").arg(S::kUUID).arg(primaryKey);
}

class NotesFolderTest : public ::testing::Test {
protected:
    ScopedHome home;
    QString folder = home.root() + "/Copied Notes/group.com.apple.notes";
    QStringList cacheEntries() const { return folderContents(home.caches()); }
};

} // namespace

TEST_F(NotesFolderTest, ConvertsTheStoreIntoTheArchiveTheScriptWouldGive) {
    const QString trip =
        QString::fromUtf8(" Trip \xF0\x9F\x8F\x94 \xF0\x9D\x84\x9E\n\n\n\nphoto \xEF\xBF\xBC sketch "
                          "\xEF\xBF\xBC\n");
    S::Store store;
    store.objects = {S::folderRow(30, 0), S::folderRow(31, 1),
                     S::attachmentRow(40, 10, "PHOTO-UUID", "public.jpeg", 650000000.0),
                     S::attachmentRow(41, 10, "SKETCH-UUID", "com.apple.notes.sketch"),
                     S::attachmentRow(42, 20, "GONE-UUID", "public.jpeg", 1.0)};
    store.notes = {
        // clang-format off
        {10, S::noteData(trip), {{"ZCREATIONDATE3", 600000000.2505}, {"ZCREATIONDATE1", 1.0},
                                 {"ZMODIFICATIONDATE1", 700000000.0}, {"ZMODIFICATIONDATE", 1.0}, {"ZFOLDER", 30}}},
        // clang-format on
        {12, S::noteData("Same time, later key"), {{"ZCREATIONDATE", 5.0e8}, {"ZMODIFICATIONDATE", 5.0e8}}},
        {11, S::noteData("Same time"), {{"ZCREATIONDATE1", 5.0e8}, {"ZMODIFICATIONDATE", 5.0e8}}},
        {13, S::noteData("Written last"), {{"ZMODIFICATIONDATE1", 8.0e8}}, true},
        {14, S::noteData("Undated"), {}},
        {20, S::noteData("deleted"), {{"ZMARKEDFORDELETION", 1}, {"ZMODIFICATIONDATE1", 9.0e8}}},
        {21, S::noteData("in the bin"), {{"ZFOLDER", 31}}},
        {22, S::noteData("secret"), {{"ZISPASSWORDPROTECTED", 1}}},
        {23, QByteArray(), {}},
    };
    ASSERT_TRUE(S::write(folder, store));
    ASSERT_GT(QFileInfo(folder + "/NoteStore.sqlite-wal").size(), 0) << "note 13 lives in the -wal file only";
    writeFile(folder + "/Media/PHOTO-UUID/IMG_1.jpeg", F::jpeg(F::cornerImage(640, 480), 144));
    writeFile(folder + "/Previews/SKETCH-UUID-1-300x200-0.png", F::png(F::cornerImage(300, 200)));
    const QVariantMap before = S::snapshot(folder);

    auto importer = std::make_shared<ZNFNotesAppImporter>(folder);
    std::optional<ZNFConversionOutcome> outcome;
    importer->import([&](const ZNFConversionOutcome& o) { outcome = o; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 20000));
    EXPECT_EQ(outcome->notes, 5);
    const ZipContents zip = readZip(outcome->path);
    EXPECT_EQ(zip.names(), QStringList({"entries.json", "resources/PHOTO-UUID", "resources/SKETCH-UUID"}));
    // Newest modification first, equal times by key, no modification date last, then the kept
    // notes' attachments, found in the given folder's Media and Previews; a sketch without a date
    // of its own takes its note's creation.
    expectGoldenIndex(zip.find("entries.json")->data, "notes_folder.json");
    EXPECT_EQ(S::snapshot(folder), before) << "the given folder's files are unchanged";
    EXPECT_EQ(cacheEntries(), QStringList{"iOSNotes_to_Tessanote.notebackup"}) << "no copy of the store left";
}

TEST_F(NotesFolderTest, LeftOutNotesAndLimits) {
    QRandomGenerator random(7);
    QString noise;
    for (int i = 0; i < 3000; ++i)
        noise += QChar(u'a' + random.bounded(26));
    using R = ZNFNotesFolderReading;
    const QByteArray x = S::noteData("x");
    const struct {
        const char* name;
        QByteArray data; // of note 2, older than the kept note 1 ("Kept", 4 bytes of text)
        S::Row columns;
        qint64 R::*leftOut; // nullptr: note 2 is converted
        QString text = "x";
        ZNFNotesFolderLimits limits = {};
        std::vector<S::Row> objects = {};
    } rows[] = {
        // clang-format off
        {"marked for deletion", x, {{"ZMARKEDFORDELETION", 1}}, &R::deleted},
        {"in Recently Deleted", x, {{"ZFOLDER", 31}}, &R::recentlyDeleted, {}, {}, {S::folderRow(31, 1)}},
        {"in an ordinary folder", x, {{"ZFOLDER", 30}}, nullptr, "x", {}, {S::folderRow(30, 0)}},
        {"folder type 1 on a row that is no folder", x, {{"ZFOLDER", 32}}, nullptr, "x", {},
         {{{"Z_PK", 32}, {"Z_ENT", S::kAttachmentEntity}, {"ZFOLDERTYPE", 1}}}},
        {"password-protected", x, {{"ZISPASSWORDPROTECTED", 1}}, &R::locked},
        {"no data row", QByteArray(), {}, &R::unreadable},
        {"data that is not gzip", "plain text", {}, &R::unreadable},
        {"gzip cut short", S::noteData(noise).chopped(40), {}, &R::unreadable},
        {"gzip of no message", S::gzip("\xff\xff\xff\xff"), {}, &R::unreadable},
        {"a message without note text", S::gzip(QByteArray()), {}, &R::unreadable},
        {"an empty note text is a note", S::noteData(QString()), {}, nullptr, ""},
        {"bad UTF-8 becomes U+FFFD", S::gzip(S::message(QByteArray("a\xff" "b"))), {}, nullptr,
         QString::fromUtf16(u"a\uFFFDb")},
        {"unknown nested groups are skipped", S::gzip(S::nestedMessage("x", 20)), {}, nullptr},
        {"nesting past the limit", S::gzip(S::nestedMessage("x", 40)), {}, &R::unreadable},
        {"gzip data past the limit", S::noteData(noise), {}, &R::unreadable, {},
         {.noteDataBytes = 1000}},
        {"a gzip bomb stops at the limit",
         S::gzip(QByteArray(ZNFNotesFolderReader_maxNoteMessageBytes + 1, '\0')), {}, &R::unreadable},
        {"past the number of notes", x, {}, &R::overLimit, {}, {.notes = 1}},
        {"past the text of all notes", S::noteData("twelve bytes"), {}, &R::overLimit, {},
         {.textBytes = 10}},
        {"past the number of attachments", x, {}, &R::attachmentsOverLimit, "x", {.attachments = 1},
         {S::attachmentRow(40, 2, "A", "public.png"), S::attachmentRow(41, 2, "B", "public.png")}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        S::Store store;
        store.objects = row.objects;
        S::Note note{2, row.data, row.columns};
        note.extra.insert("ZMODIFICATIONDATE1", 1000.0);
        store.notes = {{1, S::noteData("Kept"), {{"ZMODIFICATIONDATE1", 2000.0}}}, note};
        ASSERT_TRUE(S::write(folder, store));
        const ZNFNotesFolderReading reading = ZNFNotesFolderReader::read(folder, row.limits);
        ASSERT_TRUE(reading.notes) << reading.failure.toStdString();
        for (qint64 R::*count : {&R::deleted, &R::recentlyDeleted, &R::locked, &R::unreadable, &R::overLimit,
                                 &R::attachmentsOverLimit})
            EXPECT_EQ(reading.*count, count == row.leftOut ? 1 : 0);
        EXPECT_EQ(reading.leftOutLines().size(), row.leftOut ? 1 : 0);
        const bool kept = !row.leftOut || row.leftOut == &R::attachmentsOverLimit;
        ASSERT_EQ(reading.notes->size(), kept ? 2 : 1);
        EXPECT_EQ(reading.notes->at(0)["text"], "Kept");
        if (kept) {
            EXPECT_EQ(reading.notes->at(1)["text"], row.text);
        }
    }
    EXPECT_EQ(cacheEntries(), QStringList{});
}

TEST_F(NotesFolderTest, StoresThatCannotBeReadGiveAClearErrorAndMissingColumnsAreMissingValues) {
    writeFile(home.root() + "/garbage/NoteStore.sqlite", QByteArray(4096, 'x'));
    const QStringList allKeys = {"attachments", "creationDate", "id", "modificationDate", "text"};
    const struct {
        const char* name;
        std::function<void(S::Store&)> change; // of a store with one note; none: read `other`
        QString failure;                       // empty: the note is read
        QStringList keys = {};                 // of the note's record
        QString id = noteId(1);
        ZNFNotesFolderLimits limits = {};
        const char* other = "";
    } rows[] = {
        // clang-format off
        {"not a folder", {}, "is not a folder", {}, {}, {}, "/nowhere"},
        {"a folder without a store", {}, "there is no NoteStore.sqlite in", {}, {}, {}, "/"},
        {"a store that is no database", {}, "not a database", {}, {}, {}, "/garbage"},
        {"no Z_PRIMARYKEY", [](S::Store& s) { s.leftOutTables << "Z_PRIMARYKEY"; }, "no Z_PRIMARYKEY table"},
        {"no ZICNOTEDATA", [](S::Store& s) { s.leftOutTables << "ZICNOTEDATA"; }, "no ZICNOTEDATA table"},
        {"no ZICCLOUDSYNCINGOBJECT", [](S::Store& s) { s.leftOutTables << "ZICCLOUDSYNCINGOBJECT"; },
         "no ZICCLOUDSYNCINGOBJECT table"},
        {"no ICNote entity", [](S::Store& s) { s.entities.remove("ICNote"); }, "names no ICNote entity"},
        {"reading that never ends", [](S::Store& s) {
             s.leftOutTables << "ZICNOTEDATA";
             s.statements << "CREATE VIEW ZICNOTEDATA AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL "
                             "SELECT n + 1 FROM r) SELECT n AS ZNOTE, NULL AS ZDATA FROM r";
         }, "took longer than 0.3 s", {}, {}, {.timeLimitMs = 300}},
        {"no date, flag or folder columns", [](S::Store& s) {
             s.leftOutColumns << "ZCREATIONDATE" << "ZCREATIONDATE1" << "ZCREATIONDATE3"
                              << "ZMODIFICATIONDATE" << "ZMODIFICATIONDATE1" << "ZMARKEDFORDELETION"
                              << "ZISPASSWORDPROTECTED" << "ZFOLDER" << "ZFOLDERTYPE";
         }, {}, {"attachments", "id", "text"}},
        {"a date of the wrong type falls through",
         [](S::Store& s) { s.notes[0].extra["ZCREATIONDATE3"] = "soon"; }, {}, allKeys},
        {"no store identifier", [](S::Store& s) { s.leftOutTables << "Z_METADATA"; }, {}, allKeys,
         "x-coredata:///ICNote/p1"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        S::Store store;
        store.notes = {{1, S::noteData("One"), {{"ZCREATIONDATE", 1.0}, {"ZMODIFICATIONDATE1", 2.0}}}};
        if (row.change) {
            row.change(store);
            ASSERT_TRUE(S::write(folder, store));
        }
        const ZNFNotesFolderReading reading =
            ZNFNotesFolderReader::read(row.change ? folder : home.root() + row.other, row.limits);
        if (!row.failure.isEmpty()) {
            EXPECT_FALSE(reading.notes);
            EXPECT_TRUE(reading.failure.contains(row.failure)) << reading.failure.toStdString();
        } else {
            ASSERT_TRUE(reading.notes && reading.notes->size() == 1) << reading.failure.toStdString();
            const QJsonObject note = reading.notes->at(0).toObject();
            EXPECT_EQ(note.keys(), row.keys);
            EXPECT_EQ(note.value("id"), row.id);
        }
        EXPECT_EQ(cacheEntries(), QStringList{}) << "no copy of the store left";
    }
}
