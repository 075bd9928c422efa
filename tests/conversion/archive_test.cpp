#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "support/archive_reading.h"
#include "support/backup_archives.h"

class ArchiveTest : public ::testing::Test {
protected:
    ScopedHome home;
    QStringList cachesContents() const { return folderContents(home.caches()); }
};

TEST_F(ArchiveTest, PicturesAreStoredAndTheIndexDeflated) {
    const QByteArray png = "\x89PNG\r\n\x1a\n pretend picture";
    for (const QList<QByteArray>& pictures : {QList<QByteArray>{}, QList<QByteArray>{png, png + "2"}}) {
        ZNFBackupArchiveWriter writer("test.notebackup");
        for (qsizetype i = 0; i < pictures.size(); ++i)
            ASSERT_TRUE(writer.addResource(QStringLiteral("P%1").arg(i), pictures[i]));
        ASSERT_TRUE(writer.addEntry(QJsonObject{{"kind", "note"}}));
        const QString path = writer.commit();
        EXPECT_EQ(path, home.caches() + "/test.notebackup");
        EXPECT_EQ(cachesContents(), QStringList{"test.notebackup"}) << "no partial file is left";

        const ZipContents zip = readZip(path);
        // Without pictures an empty placeholder keeps the "resources" folder.
        const QStringList placeholder{"entries.json", "resources/.DS_Store"};
        EXPECT_EQ(zip.names(), pictures.isEmpty()
                                   ? placeholder
                                   : (QStringList{"entries.json", "resources/P0", "resources/P1"}));
        EXPECT_EQ(entriesOf(zip), (QJsonArray{QJsonObject{{"kind", "note"}}}));
        for (const auto& e : zip.entries) {
            // Already-compressed pictures are stored, the index deflated.
            EXPECT_EQ(e.method, e.name == "entries.json" ? 8 : 0) << e.name.toStdString();
            EXPECT_GE(e.year, 2020) << "entries carry a real date";
            // Permission bits of a regular file travel in the upper half of the external attributes.
            EXPECT_EQ((e.externalAttributes >> 16) & 0170000, 0100000u);
            EXPECT_EQ(e.data, e.name == "entries.json" ? e.data : pictures.value(e.name.back().digitValue()));
        }
    }
}

TEST_F(ArchiveTest, BodiesOfAnySizeAndCharacterReadBackUnchanged) {
    // Quotes, backslashes, control characters, non-BMP characters and a lone surrogate (which
    // any JSON writer turns into U+FFFD).
    const QString tricky =
        QString::fromUtf16(u"\"q\" \\ \n\r\t\b\f \u0001\u001f caf\u00e9 \u4e2d \U0001F600 ") + QChar(0xD800) +
        "/end";
    QString expected = tricky;
    expected.replace(QChar(0xD800), QChar(0xFFFD));
    // Three of these spill the index past its buffer, and one alone is cut into slices; an
    // emoji sits across a slice boundary.
    QString big(int(ZNFBackupArchive_indexBufferBytes / 3), u'x');
    big.replace((1 << 20) - 1, 2, QString::fromUtf16(u"\U0001F600"));
    for (const QString& body : {tricky, big}) {
        ZNFBackupArchiveWriter writer("test.notebackup");
        // Pictures may come between entries; they still precede the index.
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(writer.addEntry(QJsonObject{{"identifier", QString::number(i)}}, body));
            ASSERT_TRUE(writer.addResource(QStringLiteral("P%1").arg(i), "picture"));
        }
        const ZipContents zip = readZip(writer.commit());
        EXPECT_EQ(cachesContents(), QStringList{"test.notebackup"}) << "no spill file is left";
        EXPECT_EQ(zip.entries.size(), 5);
        EXPECT_EQ(zip.entries.back().name, "entries.json");
        const QJsonArray entries = entriesOf(zip);
        ASSERT_EQ(entries.size(), 4);
        for (const QJsonValue& entry : entries)
            EXPECT_EQ(entry["body"].toString(), body == tricky ? expected : body);
        EXPECT_EQ(entries[3]["identifier"], "3");
    }
}

TEST_F(ArchiveTest, FailedStepsReportNoPathAndLeaveNothing) {
    LogCapture log;
    QDir(home.caches()).removeRecursively();
    {
        ZNFBackupArchiveWriter created("a.notebackup");
        EXPECT_FALSE(created.commit().isEmpty()) << "a missing caches folder is created";
    }
    // The caches folder cannot be made: it is a file.
    QDir(home.caches()).removeRecursively();
    writeFile(home.caches(), "not a folder");
    {
        ZNFBackupArchiveWriter writer("a.notebackup");
        EXPECT_FALSE(writer.isOK());
        EXPECT_TRUE(writer.commit().isEmpty());
        EXPECT_TRUE(log.contains("could not create the caches folder"));
    }
    QFile::remove(home.caches());
    QDir().mkpath(home.caches());

    // The archive cannot be put in place (a folder is in the way): no path, and the old
    // content at that path is untouched.
    QDir().mkpath(home.caches() + "/blocked.notebackup/keep");
    {
        ZNFBackupArchiveWriter writer("blocked.notebackup");
        EXPECT_TRUE(writer.commit().isEmpty());
        EXPECT_TRUE(log.contains("could not write the archive"));
    }
    EXPECT_TRUE(QFileInfo(home.caches() + "/blocked.notebackup/keep").isDir());
    // A writer dropped uncommitted, also once its index has spilled.
    {
        ZNFBackupArchiveWriter dropped("dropped.notebackup");
        dropped.addResource("P", "x");
        dropped.addEntry(QJsonObject{}, QString(int(ZNFBackupArchive_indexBufferBytes), u'x'));
    }
    EXPECT_EQ(cachesContents(), QStringList{"blocked.notebackup"}) << "no partial file is left";
}

TEST_F(ArchiveTest, LeftoversOfEndedRunsAreRemovedAndNothingElse) {
    // A process id that cannot be running: above the kernel's largest.
    const QString gone = "4194305";
    const QString live = QString::number(QCoreApplication::applicationPid());
    const QString uuid = "0A1B2C3D-0000-4000-8000-00000000ABCD";
    // clang-format off
    const struct { QString name; bool folder, marked, removed; } rows[] = {
        {"Vesper_to_Tessanote.notebackup.partial-" + gone + "-" + uuid, false, false, true},
        {"iOSNotes_to_Tessanote.notebackup.partial-" + gone + "-" + uuid, false, false, true},
        {"notecrate-temporary-" + gone + "-" + uuid, true, true, true},
        // A run of this very process, or of a process that still runs, is not a leftover.
        {"Vesper_to_Tessanote.notebackup.partial-" + live + "-" + uuid, false, false, false},
        // A folder without the marker, and names that only look alike, are the user's own.
        {"notecrate-temporary-" + gone + "-" + uuid.toLower(), true, true, false},
        {"notecrate-temporary-" + gone + "-0A1B2C3D-0000-4000-8000-00000000ABCE", true, false, false},
        {"notes.txt.partial-" + gone + "-" + uuid, false, false, false}, {uuid, true, false, false},
        {"Vesper_to_Tessanote.notebackup", false, false, false}};
    // clang-format on
    for (const auto& row : rows) {
        const QString path = home.caches() + "/" + row.name;
        if (row.folder) {
            writeFile(path + "/NoteStore.sqlite", "notes");
            if (row.marked)
                writeFile(path + "/.notecrate-temporary", "");
        } else {
            writeFile(path, "partial");
        }
    }
    EXPECT_EQ(ZNFTemporaryFiles::removeLeftovers(), 3);
    for (const auto& row : rows)
        EXPECT_EQ(QFileInfo::exists(home.caches() + "/" + row.name), !row.removed) << row.name.toStdString();
}

// Each limit of the reading side refuses, or leaves out, what lies past it; the command line's
// rows meet the default limits on size.
TEST_F(ArchiveTest, ReadingBackStopsAtEachLimit) {
    const QString path = QDir(home.caches()).filePath("limits.notebackup");
    const QByteArray note = R"({"kind":"note","identifier":"A","body":")" + QByteArray(300, 'x') + R"("})";
    ASSERT_TRUE(BackupArchives::write(path, R"({"entries":[)" + note + R"(,{"kind":"note","body":"b"}]})"));
    const struct {
        const char* name;
        ZNFBackupArchiveLimits limits;
        const char* failure; // empty: read, with `notes` listed and `unlisted` left out
        qsizetype notes = 0;
        qint64 unlisted = 0;
    } rows[] = {
        {"within every limit", {}, "", 2, 0},
        {"members", {.members = 1}, "it holds more than 1 files"},
        {"entries", {.entries = 1}, "it holds more than 1 entries"},
        {"an entry's bytes", {.entryBytes = 100}, "", 1, 1},
        {"the index's bytes", {.indexBytes = 100}, "entries.json is larger than 100 bytes"},
        {"time", {.seconds = 0}, "reading entries.json took longer than 0 s"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ZNFBackupListing listing = ZNFBackupArchiveReader::read(path, row.limits);
        EXPECT_EQ(listing.failure.toStdString(), row.failure);
        EXPECT_EQ(qsizetype(listing.notes.size()), row.notes);
        EXPECT_EQ(listing.unlistedEntries, row.unlisted);
    }
    EXPECT_EQ(ZNFBackupArchiveReader::firstLine(" \n\n  Trip  to\tRome \nday 2"), "Trip to Rome");
    EXPECT_EQ(ZNFBackupArchiveReader::firstLine(QString(300, 'y')).size(),
              ZNFBackupArchiveReader_maxFirstLineLength + 1);
}
