#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesStore.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"

#include <QDirIterator>

namespace F = AttachmentsFixture;

namespace {

// An attachment record; an undefined parentId or date is left out.
QJsonObject record(const QString& id, const QJsonValue& parentId = "note-1",
                   const QJsonValue& date = 1000.5) {
    return QJsonObject{{"id", id}, {"parentId", parentId}, {"date", date}};
}

QString ref(int primaryKey) {
    return QStringLiteral("x-coredata://STORE/ICAttachment/p%1").arg(primaryKey);
}

} // namespace

TEST(ImageResolution, PointsFollowTheResolutionTheFileRecords) {
    const QImage image = F::cornerImage(640, 480);
    // JFIF records no unit, EXIF says 300 dpi (big-endian TIFF, X and Y resolution, inch default).
    const QByteArray exifJpeg =
        F::withExif(F::jpeg(image),
                    QByteArray::fromHex("4d4d002a000000080002011a00050000000100000026011b0005000000010000002e"
                                        "000000000000012c000000010000012c00000001"));
    // clang-format off
    const struct { const char* what; QByteArray bytes; QSizeF points; } cases[] = {
        {"PNG without pHYs (Qt would say 96 dpi)", F::png(image), {640, 480}},
        {"PNG at 144 dpi (5669 dots per metre)", F::png(image, 144), {320, 240}},
        {"PNG at 96 dpi", F::png(image, 96), {480, 360}},
        {"JPEG without a resolution", F::jpeg(image), {640, 480}},
        {"JPEG with JFIF 144 dpi", F::jpeg(image, 144), {320, 240}},
        {"JPEG with EXIF 300 dpi", exifJpeg, {640 * 72 / 300.0, 480 * 72 / 300.0}},
        {"PNG 75x40 at 144 dpi", F::png(F::cornerImage(75, 40), 144), {37.5, 20}}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ZNFImage::decode(c.bytes).sizeInPoints(), c.points);
    }
    EXPECT_EQ(ZNFBackupArchive::userInfoForSize({37.5, 20}), R"({"width":37.5,"height":20})");

    // Hostile headers: every truncation and a pHYs whose length runs past the end decode or
    // fail cleanly.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    for (const QByteArray& bytes : {F::png(F::cornerImage(20, 10), 144), exifJpeg.left(600)})
        for (qsizetype n = 0; n < std::min<qsizetype>(bytes.size(), 700); ++n)
            ZNFImage::decode(bytes.left(n)).sizeInPoints();
    qInstallMessageHandler(previous);
    // A picture beyond the decode limit is refused from its header, before any allocation.
    QByteArray huge = F::jpeg(F::cornerImage(16, 16));
    const qsizetype sof = huge.indexOf("\xff\xc0");
    ASSERT_GT(sof, 0);
    huge.replace(sof + 5, 4, QByteArray::fromHex("4e204e20")); // 20000 x 20000
    {
        LogCapture log;
        EXPECT_TRUE(ZNFImage::decode(huge).isNull());
        EXPECT_TRUE(log.contains("beyond the limit"));
    }
    QByteArray lying = F::png(image, 144);
    lying.replace(lying.indexOf("pHYs") - 4, 4, QByteArray::fromHex("7fffffff"));
    EXPECT_FALSE(ZNFImage::recordedResolution(lying).isRecorded());
}

TEST(NotesAttachmentIds, PrimaryKeyIsTheLastComponentWithLettersTrimmed) {
    // clang-format off
    // Letters with combining marks are trimmed too; a key past the largest number stops there.
    const struct { QString id; qint64 key; } cases[] = {
        {ref(7), 7}, {"x-coredata://STORE/ICAttachment/pABC", 0}, {"", 0}, {"p12q", 12}, {"a/p-3", -3},
        {"x-coredata://STORE/ICAttachment/p42/", 42}, {QString::fromUtf8("e\u0301\u00e9p9\u00df"), 9},
        {"a/p99999999999999999999999", std::numeric_limits<qint64>::max()}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id.toStdString());
        EXPECT_EQ(ZNFNotesAppImporter::primaryKeyForAttachmentId(c.id), c.key);
    }
}

TEST(NotesStore, MapKeepsEveryNamedAttachmentUpToTheLimitAndTheCopyIsAlwaysDeleted) {
    ScopedHome home;
    EXPECT_FALSE(ZNFNotesStore::noteIdsByPrimaryKey()) << "no store at all";

    // clang-format off
    ASSERT_TRUE(F::createStore(
        {{1, "PNG", "public.png"}, {2, "JPG", "public.jpeg"}, {3, "SKETCH", "com.apple.notes.sketch"},
         {4, "TABLE", "com.apple.notes.table"}, {5, "UPPER", "Public.png"}, {6, std::nullopt, "public.png"},
         {7, "NOTYPE", std::nullopt}}, {{8, "INWAL", "public.jpeg"}})); // the last only in the -wal file
    // clang-format on
    const QString live = F::container() + "/NoteStore.sqlite";
    ASSERT_GT(QFileInfo(live + "-wal").size(), 0);
    const QByteArray liveBytes = readFile(live), walBytes = readFile(live + "-wal");
    const auto map = ZNFNotesStore::noteIdsByPrimaryKey();
    EXPECT_EQ(readFile(live), liveBytes) << "the live store is never written";
    EXPECT_EQ(readFile(live + "-wal"), walBytes);
    ASSERT_TRUE(map);
    QStringList kept;
    for (const auto& [key, attachment] : *map)
        kept << QString::number(key) + "=" + QString::number(attachment.primaryKey) + ":" + attachment.uuid;
    // Every type: what becomes of it is the conversion's choice (a picture, text or a line naming it).
    EXPECT_EQ(kept, QStringList({"1=1:PNG", "2=2:JPG", "3=3:SKETCH", "4=4:TABLE", "5=5:UPPER", "8=8:INWAL"}));
    EXPECT_EQ(folderContents(home.caches()), QStringList()) << "the copy is deleted";
    std::optional<ZNFNotesStoreAttachmentMap> limited;
    ZNFNotesStore::readCopyOfStore(F::container(), [&](const QString& database) {
        limited = ZNFNotesStore::attachmentsInCopy(database, 2);
    });
    ASSERT_TRUE(limited);
    EXPECT_EQ(limited->size(), 2u) << "past the limit on attachments nothing more is read";

    // A store that is not a database, and one that cannot even be copied: no map, no copy left.
    for (const bool folder : {false, true}) {
        QFile::remove(live);
        folder ? void(QDir().mkpath(live)) : void(writeFile(live, QByteArray(4096, 'x')));
        EXPECT_FALSE(ZNFNotesStore::noteIdsByPrimaryKey());
        EXPECT_EQ(folderContents(home.caches()), QStringList());
    }
}

TEST(NotesStore, LargestPreviewGoesToTheEarlierOfTwoEqualFiles) {
    ScopedHome home;
    EXPECT_FALSE(ZNFNotesStore::previewAssetURLs());
    // clang-format off
    for (const auto& [name, size] : {std::pair{"ABC-1.png", 10}, {"ABC-2.png", 30}, {"ABC-3.png", 30},
                                     {"XYZ-1.png", 90}, {"EMPTY-1.png", 0}, {".ABC-hidden.png", 99}})
        F::writePreview(name, QByteArray(size, 'a'));
    // clang-format on
    QDir().mkpath(F::container() + "/Previews/ABC-folder");
    const QStringList previews = ZNFNotesStore::previewAssetURLs().value();
    ASSERT_EQ(previews.size(), 6) << previews.join(' ').toStdString();
    const QString dir = F::container() + "/Previews/";
    EXPECT_EQ(ZNFNotesStore::largestAssetURLMatchingId("ABC", previews), dir + "ABC-2.png");
    EXPECT_EQ(ZNFNotesStore::largestAssetURLMatchingId("EMPTY", previews), QString())
        << "0 bytes never chosen";
    EXPECT_EQ(ZNFNotesStore::largestAssetURLMatchingId("NONE", previews), QString());
}

TEST(ImageRotation, CanvasAndDirectionFollowTheAngle) {
    const ZNFImage::Decoded source = ZNFImage::decode(F::png(F::cornerImage(300, 200)));
    // A 144-dpi source keeps its pixels: nothing is scaled down to one pixel per point.
    const ZNFImage::Decoded sharp = ZNFImage::decode(F::png(F::cornerImage(600, 400), 144));
    for (float same : {0.0f, 360.0f, -720.0f})
        EXPECT_EQ(ZNFNotesAppImporter::imageByRotatingImage(source, same).image.cacheKey(),
                  source.image.cacheKey());
    const QColor r(Qt::red), g(Qt::green), b(Qt::blue), y(Qt::yellow);
    // corners: top-left, top-right, bottom-left, bottom-right; none: not checked.
    // clang-format off
    const struct { const ZNFImage::Decoded& source; float degrees; QSize pixels; QSizeF points;
                   QList<QColor> corners; } cases[] = {
        {source, 90, {200, 300}, {200, 300}, {g, y, r, b}}, // counter-clockwise: the top-left corner goes down
        {source, -270, {200, 300}, {200, 300}, {g, y, r, b}},
        {source, -450, {200, 300}, {200, 300}, {b, r, y, g}}, // -90: clockwise
        {source, 180, {300, 200}, {300, 200}, {y, b, g, r}},
        {source, 45, {320, 320}, {320, 320}, {}},
        {sharp, 90, {400, 600}, {200, 300}, {}},
        {sharp, 45, {640, 640}, {320, 320}, {}}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.degrees) + " degrees of a " + std::to_string(c.source.image.width()) +
                     "-pixel-wide picture");
        const QImage rotated = ZNFNotesAppImporter::imageByRotatingImage(c.source, c.degrees).image;
        EXPECT_EQ(rotated.size(), c.pixels);
        EXPECT_EQ(ZNFNotesAppImporter::imageByRotatingImage(c.source, c.degrees).sizeInPoints(), c.points);
        const int w = rotated.width() - 1, h = rotated.height() - 1;
        const QList<QColor> corners{rotated.pixelColor(0, 0), rotated.pixelColor(w, 0),
                                    rotated.pixelColor(0, h), rotated.pixelColor(w, h)};
        EXPECT_TRUE(c.corners.isEmpty() || corners == c.corners);
    }
    const QImage tilted = ZNFNotesAppImporter::imageByRotatingImage(source, 45).image;
    EXPECT_EQ(tilted.pixelColor(160, 160), QColor(Qt::white)) << "the centres meet";
    EXPECT_EQ(tilted.pixelColor(0, 0).alpha(), 0) << "outside the picture stays blank";
}

namespace {

// The fixture the attachment step is run against; every record names a case of its own.
class NotesAttachmentsTest : public ::testing::Test {
protected:
    ScopedHome home;

    // Runs the attachment step into an archive; returns the image entries and the archive.
    std::pair<QJsonArray, ZipContents> process(ZNFNotesAppImporter& importer, const QJsonArray& records) {
        ZNFBackupArchiveWriter archive("test.notebackup");
        archive.setDate(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 10)));
        const QJsonArray entries = importer.processRawAttachments(records, archive);
        return {entries, readZip(archive.commit())};
    }

    void SetUp() override {
        // clang-format off
        ASSERT_TRUE(F::createStore({{7, "PNG-UUID", "public.png"}, {8, "JPG-UUID", "public.jpeg"},
            {9, "SKETCH-UUID", "com.apple.notes.sketch"}, {10, "RETINA-UUID", "public.png"},
            {11, "EMPTY-UUID", "public.png"}, {12, "BROKEN-UUID", "public.jpeg"},
            {13, "TABLE-UUID", "com.apple.notes.table"}, {14, "../../escape", "public.png"}, {15, "..", "public.png"},
            {16, "a\\b", "public.png"}, {17, "", "public.png"}, {18, QString::fromUtf16(u"nul\u0000x", 5), "public.png"}}));
        // clang-format on
        F::writeMedia("PNG-UUID", "photo.png", F::png(F::cornerImage(640, 480)));
        // No "Media" for the JPEG: its largest preview stands in.
        F::writePreview("JPG-UUID-small.png", F::png(F::cornerImage(32, 24)));
        F::writePreview("JPG-UUID-large.jpeg", F::jpeg(F::cornerImage(400, 300)));
        // Sketches come from the previews only, never from "Media".
        F::writeMedia("SKETCH-UUID", "drawing.png", F::png(F::cornerImage(50, 50)));
        F::writePreview("SKETCH-UUID-1.png", F::png(F::cornerImage(300, 200)));
        F::writeMedia("RETINA-UUID", "shot.png", F::png(F::cornerImage(640, 480), 144));
        F::writeMedia("EMPTY-UUID", "empty.png", QByteArray());
        F::writePreview("EMPTY-UUID.png", QByteArray());
        F::writeMedia("BROKEN-UUID", "broken.jpeg", "this is not an image");
        for (const char* uuid : {"escape", "a", "nul"})
            F::writePreview(QString(uuid) + "-preview.png", F::png(F::cornerImage(10, 10)));
    }

    QJsonArray records() const {
        QJsonArray list;
        for (int key : {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18})
            list.append(record(ref(key), QStringLiteral("note-%1").arg(key)));
        list.append(record("x-coredata://STORE/ICAttachment/pNODIGITS"));
        list.append(record(ref(7), QJsonValue::Undefined));           // no parentId
        list.append(record(ref(7), "note-7", QJsonValue::Undefined)); // no date
        list.append(record(ref(99)));
        return list;
    }
};

} // namespace

TEST_F(NotesAttachmentsTest, EachRecordFindsItsImageOrIsLeftOut) {
    LogCapture log;
    ZNFNotesAppImporter importer;
    const auto [entries, zip] = process(importer, records());

    // Each found picture as PNG with its size in points; the entry's fields are the golden index's.
    QStringList found;
    for (const QJsonValue& entry : entries) {
        const QString id = entry["binaryAttachmentId"].toString();
        const QImage png = QImage::fromData(zip.find("resources/" + id)->data, "PNG");
        found << QStringLiteral("%1 %2x%3 ").arg(id).arg(png.width()).arg(png.height()) +
                     entry["userInfo"].toString();
    }
    EXPECT_EQ(found, (QStringList{R"(PNG-UUID 640x480 {"width":640,"height":480})",
                                  R"(JPG-UUID 400x300 {"width":400,"height":300})",
                                  R"(SKETCH-UUID 200x300 {"width":200,"height":300})",
                                  R"(RETINA-UUID 640x480 {"width":320,"height":240})"}));

    // The sketch was turned counter-clockwise: its red top-left corner is now bottom-left.
    const QImage sketch = ZNFImage::decode(zip.find("resources/SKETCH-UUID")->data).image;
    EXPECT_EQ(sketch.pixelColor(0, 299), QColor(Qt::red));
    EXPECT_EQ(sketch.pixelColor(0, 0), QColor(Qt::green));

    // Nothing but the four PNGs was written, inside the archive or anywhere else.
    EXPECT_EQ(zip.names(), QStringList({"entries.json", "resources/JPG-UUID", "resources/PNG-UUID",
                                        "resources/RETINA-UUID", "resources/SKETCH-UUID"}));
    QDirIterator all(home.root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (all.hasNext())
        EXPECT_FALSE(all.next().endsWith("/escape")) << all.filePath().toStdString();
    EXPECT_TRUE(log.contains("cannot name a file"));
    EXPECT_TRUE(log.contains("no parentId or no date"));
    EXPECT_EQ(folderContents(home.caches()), QStringList{"test.notebackup"}) << "the store's copy is gone";
}

TEST_F(NotesAttachmentsTest, ThreadsDoNotChangeTheArchive) {
    QJsonArray many;
    for (int round = 0; round < 5; ++round)
        for (int key : {7, 8, 9, 10, 11, 12})
            many.append(record(ref(key), QStringLiteral("note-%1-%2").arg(round).arg(key)));
    ZNFNotesAppImporter importer;
    importer.setAttachmentThreadCount(1);
    const auto serial = process(importer, many);
    const QByteArray serialBytes = readFile(home.caches() + "/test.notebackup");
    importer.setAttachmentThreadCount(4);
    const auto parallel = process(importer, many);
    EXPECT_EQ(parallel.first, serial.first);
    EXPECT_EQ(serial.first.size(), 20);
    EXPECT_EQ(serial.second.entries.size(), 5u) << "a picture named by several records is stored once";
    EXPECT_EQ(readFile(home.caches() + "/test.notebackup"), serialBytes);
}

TEST(NotesAttachmentsArchive, ImagesFollowAllNotesAndNoStoreStillConvertsNotes) {
    ScopedHome home;
    const QJsonArray notes{
        QJsonObject{{"id", "note-1"}, {"text", "one"}, {"attachments", QJsonArray{record(ref(7), "note-1")}}},
        QJsonObject{{"id", "note-2"}, {"text", "two"}, {"attachments", QJsonArray{record(ref(8), "note-2")}}},
    };
    auto convert = [&] {
        ZNFConversionOutcome outcome;
        ZNFNotesAppImporter importer;
        importer.processNotes(QJsonValue(notes), [&](const ZNFConversionOutcome& o) { outcome = o; });
        QStringList kinds;
        for (const QJsonValue& entry : entriesOf(outcome.path))
            kinds << entry["kind"].toString() + ":" +
                         entry[entry["body"].isString() ? "body" : "parentId"].toString();
        return kinds << QString::number(outcome.attachments) << readZip(outcome.path).names();
    };
    // No Notes app files at all: the notes are converted, no image.
    EXPECT_EQ(convert(), QStringList({"note:one", "note:two", "0", "entries.json", "resources/.DS_Store"}));
    ASSERT_TRUE(F::createStore({{7, "P7", "public.png"}, {8, "P8", "public.jpeg"}}));
    F::writeMedia("P7", "a.png", F::png(F::cornerImage(20, 10)));
    F::writePreview("P8.jpeg", F::jpeg(F::cornerImage(20, 10)));
    EXPECT_EQ(convert(), QStringList({"note:one", "note:two", "Image:note-1", "Image:note-2", "2",
                                      "entries.json", "resources/P7", "resources/P8"}));
}
