// Notes read from a copied Notes folder: the store's notes become the records the export
// script would write, and the rest of the Notes conversion runs on them unchanged.
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesBody.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "conversion/ZNFNotesStore.h"
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
    // of its own takes its note's creation; the note in a folder of its own ends in its tag line.
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
        {"in an ordinary folder", x, {{"ZFOLDER", 30}}, nullptr, "x\n\n#folder", {}, {S::folderRow(30, 0)}},
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

TEST_F(NotesFolderTest, EachPictureIsFoundWhereItsReleaseKeepsItAndTheRestIsNamed) {
    const QImage picture = F::cornerImage(64, 48);
    const QString account = folder + "/Accounts/ACCOUNT-1", other = folder + "/Accounts/ACCOUNT-2";
    // Note 1 ("Trip") is in folder 30, which account 50 owns; its attachment is row 40.
    auto with = [](S::Row row, const S::Row& extra) {
        row.insert(extra);
        return row;
    };
    auto attachment = [](const QString& type, const S::Row& extra = {}) {
        S::Row row = S::attachmentRow(40, 1, "ATT-1", type, 1.0);
        row.insert(extra);
        return row;
    };
    const S::Row media = S::mediaRow(60, "MEDIA-1", "IMG_1.jpeg", "GEN-1");
    const S::Row withMedia{{"ZMEDIA", 60}};
    // A scan (row 40) of three pages, keys 41 to 43, whose order its data gives.
    const QStringList page{"0C1D2E3F-0000-4000-8000-000000000001", "0C1D2E3F-0000-4000-8000-000000000002",
                           "0C1D2E3F-0000-4000-8000-000000000003"},
        lowerCasePage{page[0].toLower(), page[1].toLower(), page[2].toLower()};
    const QString unknownPage = "0C1D2E3F-0000-4000-8000-0000000000FF";
    auto scan = [&](const S::Row& data, const QStringList& ids = {}) {
        std::vector<S::Row> objects{attachment("com.apple.notes.gallery", data)};
        for (int i = 0; i < 3; ++i) {
            objects.push_back(
                with(S::attachmentRow(41 + i, 0, (ids.isEmpty() ? page : ids)[i], "public.jpeg"),
                     {{"ZPARENTATTACHMENT", 40}}));
            objects.push_back(S::previewRow(70 + i, 41 + i, 64, 48));
        }
        return objects;
    };
    auto listed = [](const QByteArray& data) { return S::Row{{"ZMERGEABLEDATA1", data}}; };
    auto pageFiles = [&](const QStringList& ids = {}) {
        std::map<QString, QByteArray> files;
        for (const QString& id : ids.isEmpty() ? page : ids)
            files[account + "/Previews/" + id + "-1-64x48-0.png"] = F::png(picture);
        return files;
    };
    auto shown = [&](std::initializer_list<int> order, const QStringList& ids = {}) {
        QStringList pictures;
        for (const int i : order)
            pictures << (ids.isEmpty() ? page : ids)[i - 1] + " 64x48 red";
        return pictures;
    };
    QByteArray damaged = S::galleryData({page[2], page[0], page[1]});
    damaged[damaged.size() / 2] = char(~damaged[damaged.size() / 2]);
    QStringList pastTheLimit(ZNFNotesFolderReader_maxGalleryPlaces, unknownPage);
    pastTheLimit << page[2] << page[1] << page[0];
    // Trailing bytes after the gzip stream are never read, but count towards the size.
    const QByteArray oversized =
        S::galleryData({page[2], page[1], page[0]}) + QByteArray(ZNFNotesStore_maxGalleryDataBytes, 'x');
    const struct {
        const char* name;
        std::vector<S::Row> objects;
        std::map<QString, QByteArray> files;
        QStringList pictures;     // "uuid WxH top-left colour" of the archive's resources
        QStringList leftOut = {}; // the outcome's lines
        QString leftOutName = {}; // the attachment the first item names
    } rows[] = {
        // clang-format off
        {"full size in the account's media generation, not its preview beside it",
         {attachment("public.jpeg", withMedia), media, S::previewRow(70, 40, 32, 24, "P1")},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::jpeg(picture)},
          {account + "/Previews/ATT-1-1-32x24-0/P1/Preview.png", F::png(F::cornerImage(32, 24))}},
         {"ATT-1 64x48 red"}},
        {"before macOS 13 the file sits in Media/<media id>",
         {attachment("public.png", withMedia), S::mediaRow(60, "MEDIA-1", "a.png")},
         {{account + "/Media/MEDIA-1/a.png", F::png(picture)}}, {"ATT-1 64x48 red"}},
        {"ZGENERATION where there is no ZGENERATION1",
         {attachment("public.png", withMedia), {{"Z_PK", 60}, {"Z_ENT", S::kMediaEntity}, {"ZIDENTIFIER", "MEDIA-1"},
                                                {"ZFILENAME", "a.png"}, {"ZGENERATION", "G0"}}},
         {{account + "/Media/MEDIA-1/G0/a.png", F::png(picture)}}, {"ATT-1 64x48 red"}},
        {"the top-level folders of old Macs", {attachment("public.jpeg", withMedia), media},
         {{folder + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::jpeg(picture)}}, {"ATT-1 64x48 red"}},
        {"the oldest lookup: Media/<attachment id>", {attachment("public.jpeg")},
         {{folder + "/Media/ATT-1/x.jpeg", F::jpeg(picture)}}, {"ATT-1 64x48 red"}},
        {"the account the note's folder names, of two", {attachment("public.jpeg", withMedia), media,
          with(S::folderRow(30, 0), {{"ZOWNER", 51}}), S::accountRow(51, "ACCOUNT-2")},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::jpeg(F::cornerImage(20, 10))},
          {other + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::jpeg(picture)}}, {"ATT-1 64x48 red"}},
        {"a HEIC photo, turned upright", {attachment("public.heic", withMedia), media},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::heic(picture, 6)}}, {"ATT-1 48x64 blue"}},
        {"a JPEG turned by its EXIF orientation", {attachment("public.jpeg", withMedia), media},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::withOrientation(F::jpeg(picture), 6)}},
         {"ATT-1 48x64 blue"}},
        {"a TIFF", {attachment("public.tiff", withMedia), media},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::encoded(picture, "tiff")}}, {"ATT-1 64x48 red"}},
        {"a WebP", {attachment("org.webmproject.webp", withMedia), media},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", F::encoded(picture, "webp")}}, {"ATT-1 64x48 red"}},
        {"another type: its largest preview, generation layout",
         {attachment("com.apple.keynote.key"), S::previewRow(70, 40, 32, 24, "P1"), S::previewRow(71, 40, 64, 48, "P2")},
         {{account + "/Previews/ATT-1-1-32x24-0/P1/Preview.png", F::png(F::cornerImage(32, 24))},
          {account + "/Previews/ATT-1-1-64x48-0/P2/OrientedPreview.jpeg", F::jpeg(picture)}}, {"ATT-1 64x48 red"}},
        {"a flat preview", {attachment("public.jpeg"), S::previewRow(70, 40, 64, 48)},
         {{account + "/Previews/ATT-1-1-64x48-0.png", F::png(picture)}}, {"ATT-1 64x48 red"}},
        {"a drawing's fallback image, not turned", {attachment("com.apple.drawing.2", {{"ZFALLBACKIMAGEGENERATION", "F1"}})},
         {{account + "/FallbackImages/ATT-1/F1/FallbackImage.png", F::png(picture)}}, {"ATT-1 64x48 red"}},
        {"an old drawing", {attachment("com.apple.paper")},
         {{folder + "/FallbackImages/ATT-1.jpg", F::jpeg(picture)}}, {"ATT-1 64x48 red"}},
        {"an old sketch's preview is turned", {attachment("com.apple.notes.sketch")},
         {{folder + "/Previews/ATT-1-1-64x48-0.png", F::png(picture)}}, {"ATT-1 48x64 green"}},
        {"a scan's pages without a list of them come in key order",
         {attachment("com.apple.notes.gallery"),
          with(S::attachmentRow(41, 0, "PAGE-1", "public.jpeg"), {{"ZPARENTATTACHMENT", 40}}),
          with(S::attachmentRow(42, 0, "PAGE-2", "public.jpeg"), {{"ZPARENTATTACHMENT", 40}}),
          S::previewRow(70, 41, 64, 48), S::previewRow(71, 42, 32, 24)},
         {{account + "/Previews/PAGE-1-1-64x48-0.png", F::png(picture)},
          {account + "/Previews/PAGE-2-1-32x24-0.png", F::png(F::cornerImage(32, 24))}},
         {"PAGE-1 64x48 red", "PAGE-2 32x24 red"}},
        {"a scan's pages in the order its data lists them, not by key",
         scan(listed(S::galleryData({page[2], page[0], page[1]}))), pageFiles(), shown({3, 1, 2})},
        {"older releases keep the list in ZMERGEABLEDATA",
         scan({{"ZMERGEABLEDATA", S::galleryData({page[2], page[0], page[1]})}}), pageFiles(), shown({3, 1, 2})},
        {"a page listed twice comes once, in its first place",
         scan(listed(S::galleryData({page[1], page[0], page[1], page[2]}))), pageFiles(), shown({2, 1, 3})},
        {"a listed page the store lacks is passed over",
         scan(listed(S::galleryData({unknownPage, page[2], page[1], page[0]}))), pageFiles(), shown({3, 2, 1})},
        {"pages the list lacks follow in key order",
         scan(listed(S::galleryData({page[2]}))), pageFiles(), shown({3, 1, 2})},
        {"a page the scan no longer holds follows the listed ones",
         scan(listed(S::galleryData({page[0], page[1], page[2]}, {page[0]}))), pageFiles(), shown({2, 3, 1})},
        {"identifiers in lower case are the UUIDs listed",
         scan(listed(S::galleryData({page[2], page[0], page[1]})), lowerCasePage), pageFiles(lowerCasePage),
         shown({3, 1, 2}, lowerCasePage)},
        {"a damaged list: key order", scan(listed(damaged)), pageFiles(), shown({1, 2, 3})},
        {"places past the limit are not read", scan(listed(S::galleryData(pastTheLimit))), pageFiles(),
         shown({1, 2, 3})},
        {"a list past the size limit is not read", scan(listed(oversized)), pageFiles(), shown({1, 2, 3})},
        {"a PDF is named", {attachment("com.adobe.pdf", {{"ZTITLE", "Boarding pass.pdf"}})}, {}, {},
         {"1 PDF could not be carried"}, "Boarding pass.pdf"},
        {"an audio recording is named by its file",
         {attachment("com.apple.m4a-audio", withMedia), S::mediaRow(60, "MEDIA-1", "New Recording 3.m4a")},
         {{account + "/Media/MEDIA-1/New Recording 3.m4a", "audio"}}, {},
         {"1 audio recording could not be carried"}, "New Recording 3.m4a"},
        {"a picture whose file is missing", {attachment("public.jpeg", withMedia), media}, {}, {},
         {"1 missing picture could not be carried"}, "IMG_1.jpeg"},
        {"a picture that is no image", {attachment("public.jpeg", withMedia), media},
         {{account + "/Media/MEDIA-1/GEN-1/IMG_1.jpeg", "not a picture"}}, {},
         {"1 unreadable picture could not be carried"}, "IMG_1.jpeg"},
        {"a table becomes text, not a line of its own", {attachment("com.apple.notes.table")}, {}, {}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(folder).removeRecursively();
        S::Store store;
        store.objects = {with(S::folderRow(30, 0), {{"ZOWNER", 50}}), S::accountRow(50, "ACCOUNT-1")};
        for (const S::Row& object : row.objects) {
            // A row of the same key replaces the default one.
            std::erase_if(store.objects,
                          [&](const S::Row& o) { return o.value("Z_PK") == object.value("Z_PK"); });
            store.objects.push_back(object);
        }
        store.notes = {{1, S::noteData("Trip\n\xEF\xBF\xBC"), {{"ZFOLDER", 30}}}};
        ASSERT_TRUE(S::write(folder, store));
        for (const auto& [path, bytes] : row.files)
            writeFile(path, bytes);
        ZNFNotesAppImporter importer(folder);
        ZNFConversionOutcome outcome;
        importer.processFolder([&](const ZNFConversionOutcome& o) { outcome = o; });
        EXPECT_EQ(outcome.notes, 1);
        const ZipContents zip = readZip(outcome.path);
        QStringList pictures;
        for (const auto& entry : zip.entries) {
            if (!entry.name.startsWith("resources/") || entry.name.endsWith("/.DS_Store"))
                continue;
            const QImage image = QImage::fromData(entry.data, "PNG");
            // Lossy formats shift the corners' colours a little.
            const QColor corner = image.pixelColor(1, 1);
            const QString colour = corner.red() > 200 && corner.green() < 90 && corner.blue() < 90   ? "red"
                                   : corner.blue() > 200 && corner.red() < 90 && corner.green() < 90 ? "blue"
                                   : corner.green() > 200 && corner.red() < 90 && corner.blue() < 90
                                       ? "green"
                                       : corner.name();
            pictures << QStringLiteral("%1 %2x%3 %4")
                            .arg(entry.name.mid(10))
                            .arg(image.width())
                            .arg(image.height())
                            .arg(colour);
        }
        EXPECT_EQ(pictures.join(", ").toStdString(), row.pictures.join(", ").toStdString());
        EXPECT_EQ(outcome.attachments, row.pictures.size());
        EXPECT_EQ(outcome.leftOutLines().join(", ").toStdString(), row.leftOut.join(", ").toStdString());
        if (!row.leftOutName.isEmpty()) {
            ASSERT_EQ(outcome.leftOut.size(), 1u);
            EXPECT_EQ(outcome.leftOut[0].attachment, row.leftOutName);
            EXPECT_EQ(outcome.leftOut[0].note, "Trip");
        }
    }
}

TEST_F(NotesFolderTest, BodiesKeepTheStructureTheirRunsGiveThem) {
    const QString fffc = QString(QChar(0xFFFC));
    using Run = S::Run;
    auto with = [](S::Row row, const S::Row& extra) {
        row.insert(extra);
        return row;
    };
    auto plain = [](const QString& text) { return Run{.text = text}; };
    auto item = [](const QString& text, int style, int indent = 0, bool done = false) {
        return Run{.text = text, .style = style, .indent = indent, .done = done};
    };
    auto quoted = [](const QString& text, int style = -1) {
        return Run{.text = text, .style = style, .quote = true};
    };
    auto linked = [](const QString& text, const QString& url) { return Run{.text = text, .link = url}; };
    auto attached = [](const QString& text, const QString& id, const QString& type) {
        return Run{.text = text, .attachment = id, .type = type};
    };
    auto tableRow = [](qint64 key, const QByteArray& data) {
        return S::Row{{"Z_PK", key},
                      {"Z_ENT", S::kAttachmentEntity},
                      {"ZIDENTIFIER", "TBL"},
                      {"ZTYPEUTI", "com.apple.notes.table"},
                      {"ZMERGEABLEDATA1", data}};
    };
    auto inlineRow = [](qint64 key, const QString& id, const QString& type, const S::Row& extra) {
        S::Row row{{"Z_PK", key}, {"Z_ENT", 7}, {"ZIDENTIFIER", id}, {"ZTYPEUTI1", type}};
        row.insert(extra);
        return row;
    };
    const struct {
        const char* name;
        std::vector<Run> runs;
        QString body;
        std::vector<S::Row> objects = {};
        ZNFNotesFolderLimits limits = {};
        S::Row note = {};
    } rows[] = {
        // clang-format off
        {"checklists, done and open, nested",
         {plain("Groceries\n"), item("Milk\n", 103), item("Eggs\n", 103, 0, true), item("Brown\n", 103, 1, true),
          plain("after")},
         "Groceries\n- [ ] Milk\n- [x] Eggs\n    - [x] Brown\nafter"},
        {"dotted and dashed lists with nesting", {item("a\n", 100), item("b\n", 101, 1), item("c", 100, 2)},
         "- a\n    - b\n        - c"},
        {"numbers count per level and start again after other text",
         {item("one\n", 102), item("one.one\n", 102, 1), item("one.two\n", 102, 1), item("two\n", 102),
          plain("text\n"), item("again", 102)},
         "1. one\n    1. one.one\n    2. one.two\n2. two\ntext\n1. again"},
        {"a block quote, and a quoted list item", {quoted("said\n"), quoted("item", 100)},
         "> said\n> - item"},
        {"a link, a bare link and a link to another note",
         {plain("See "), linked("the site", "https://example.org"), plain(" or "),
          linked("https://example.org", "https://example.org"), plain(" and "),
          linked("Packing", "applenotes:note/1234")},
         "See the site (https://example.org) or https://example.org and Packing"},
        {"a picture keeps its place; hashtags and mentions become their text",
         {attached("Photo " + fffc, "PIC", "public.jpeg"), plain(" "),
          attached(fffc, "TAG", "com.apple.notes.inlinetextattachment.hashtag"), plain(" "),
          attached(fffc, "WHO", "com.apple.notes.inlinetextattachment.mention")},
         "Photo " + fffc + " #travel @Anna",
         {inlineRow(80, "TAG", "com.apple.notes.inlinetextattachment.hashtag", {{"ZALTTEXT", "#travel"}}),
          inlineRow(81, "WHO", "com.apple.notes.inlinetextattachment.mention", {{"ZALTTEXT", "@Anna"}})}},
        {"a URL card is its title and address; a PDF and a recording are named where they stood",
         {attached(fffc + "\n", "CARD", "public.url"), attached(fffc + "\n", "PDF", "com.adobe.pdf"),
          attached(fffc, "REC", "com.apple.m4a-audio")},
         "Example (https://example.org)\n[PDF: Boarding pass.pdf]\n[Audio: New Recording 3.m4a]",
         {S::Row{{"Z_PK", 82}, {"Z_ENT", S::kAttachmentEntity}, {"ZIDENTIFIER", "CARD"}, {"ZTYPEUTI", "public.url"},
                 {"ZTITLE", "Example"}, {"ZURLSTRING", "https://example.org"}},
          S::Row{{"Z_PK", 83}, {"Z_ENT", S::kAttachmentEntity}, {"ZIDENTIFIER", "PDF"}, {"ZTYPEUTI", "com.adobe.pdf"},
                 {"ZTITLE", "Boarding pass.pdf"}},
          S::Row{{"Z_PK", 84}, {"Z_ENT", S::kAttachmentEntity}, {"ZIDENTIFIER", "REC"},
                 {"ZTYPEUTI", "com.apple.m4a-audio"}, {"ZMEDIA", 85}},
          S::mediaRow(85, "REC-MEDIA", "New Recording 3.m4a")}},
        {"a table: one line per row, a deleted row left out",
         {plain("before\n"), attached(fffc, "TBL", "com.apple.notes.table"), plain("\nafter")},
         "before\nCity | Days\nKyoto | 3\nNara | 1 day\nafter",
         {tableRow(86, S::tableData({{{"City", "Days"}, {"Kyoto", "3"}, {"Osaka", "2"}, {"Nara", "1\nday"}}, false, 2}))}},
        {"a right-to-left table reads from its right",
         {attached(fffc, "TBL", "com.apple.notes.table")}, "b | a\nd | c",
         {tableRow(86, S::tableData({{{"a", "b"}, {"c", "d"}}, true}))}},
        {"a table whose data cannot be read leaves no stray character",
         {plain("before\n"), attached(fffc, "TBL", "com.apple.notes.table"), plain("\nafter")}, "before\n\nafter",
         {tableRow(86, S::gzip("\xff\xff"))}},
        {"a table past the limit on cells is left out", {attached(fffc, "TBL", "com.apple.notes.table")}, "",
         {tableRow(86, S::tableData({{{"a", "b"}, {"c", "d"}, {"e", "f"}}}))}, {.tableCells = 4}},
        {"runs past the text end with it; text past the runs is plain",
         {item("- not a list", 100), plain("tail")}, "- - not a listtail"},
        {"a folder in a folder becomes the tag line", {plain("Temples")}, "Temples\n\n#travel #japan",
         {with(S::folderRow(30, 0), {{"ZTITLE2", "Travel"}}), with(S::folderRow(31, 0), {{"ZTITLE2", "Japan"}, {"ZPARENT", 30}})},
         {}, {{"ZFOLDER", 31}}},
        {"the account's default folder gives no tag line", {plain("Milk")}, "Milk",
         {with(S::folderRow(30, 0), {{"ZIDENTIFIER", "DefaultFolder-CloudKit"}})}, {}, {{"ZFOLDER", 30}}},
        {"a folder that is its own parent is named once", {plain("x")}, "x\n\n#loop",
         {with(S::folderRow(30, 0), {{"ZTITLE2", "Loop"}, {"ZPARENT", 30}})}, {}, {{"ZFOLDER", 30}}},
        {"an indent beyond the limit stays at the limit", {item("deep", 100, 1000)},
         QString(ZNFNotesBody_maxIndentLevel * 4, ' ') + "- deep"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        S::Store store;
        store.objects = row.objects;
        store.notes = {{1, S::noteData(row.runs), row.note}};
        ASSERT_TRUE(S::write(folder, store));
        const ZNFNotesFolderReading reading = ZNFNotesFolderReader::read(folder, row.limits);
        ASSERT_TRUE(reading.notes && reading.notes->size() == 1) << reading.failure.toStdString();
        EXPECT_EQ(reading.notes->at(0)["text"].toString().toStdString(), row.body.toStdString());
    }
}
