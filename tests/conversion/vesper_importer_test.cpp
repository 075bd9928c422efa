#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/vesper_export.h"

#include <QLocale>
#include <QPointer>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>

namespace F = AttachmentsFixture;

namespace {

QString body(const QString& fileText) {
    return ZNFVesperNoteImporter::textForNote(
        ZNFVesperNoteImporter::structuredDataFromNote(fileText, "/x/Note.txt"));
}

struct Converted {
    ZNFConversionOutcome result;
    ZipContents zip;
    QJsonArray entries;
};

Converted convert(const QString& path) {
    Converted out;
    out.result = ZNFVesperNoteImporter::convert(path);
    if (out.result.path.isEmpty())
        return out;
    out.zip = readZip(out.result.path);
    out.entries = entriesOf(out.zip);
    return out;
}

// Qt writes no GIF, so a small one (6x4) is kept here.
const QByteArray kGIF = QByteArray::fromHex("47494638396106000400f00000ff00000000ff21f90400"
                                            "000000002c0000000006000400000205840f81cb50003b");

} // namespace

TEST(VesperNoteText, LabelsTagsAndBlankLines) {
    // clang-format off
    const struct { const char16_t* file; const char16_t* body; } rows[] = {
        {u"Buy milk\n\nTags: Errands, Home Stuff\nCreated: Dec 5, 2015, 3:04 PM\nModified: Dec 6, 2015, 9:00 AM",
         u"Buy milk\n\n#errands #homestuff"},
        // No tags: the last line keeps its newline; nothing at all; only fields.
        {u"A", u"A\n"}, {u"", u""}, {u"Created: Dec 5, 2015, 3:04 PM", u""},
        // A label needs its blank, the very start of the line and its case.
        {u"A\nTags:B", u"A\nTags:B\n"}, {u" Tags: x\nA", u" Tags: x\nA\n"}, {u"tags: x", u"tags: x\n"},
        // Split only at comma plus blank; blanks removed, lower-cased, and not in ASCII only.
        {u"Tags: a, b,c", u"\n#a #b,c"}, {u"Tags: A B, C", u"\n#ab #c"}, {u"Tags: \u00DCber", u"\n#\u00FCber"},
        // An empty value adds no tag line; the last value wins.
        {u"A\nTags: ", u"A\n"}, {u"Tags: x\nTags: y", u"\n#y"},
        // Blank lines are dropped, whitespace-only ones too; a zero-width space is not whitespace.
        {u"A\n\nB\n", u"A\nB\n"}, {u"A\n \t\u00A0\u3000\u000B\nB", u"A\nB\n"},
        {u"A\n\u200B\nB", u"A\n\u200B\nB\n"}};
    // clang-format on
    for (const auto& row : rows)
        EXPECT_EQ(body(QString::fromUtf16(row.file)), QString::fromUtf16(row.body))
            << QString::fromUtf16(row.file).toStdString();
}

TEST(VesperNoteText, EveryLineBreakEndsALineAndNeverReachesAValue) {
    for (const char16_t* br : {u"\n", u"\r", u"\r\n", u"\u0085", u"\u2028", u"\u2029"}) {
        const QString b = QString::fromUtf16(br);
        const ZNFVesperNote note = ZNFVesperNoteImporter::structuredDataFromNote(
            "A" + b + "Picture: p.png" + b + b + "B" + b + "Tags: x" + b, "/x/N.txt");
        EXPECT_EQ(note.text, "A\nB\n") << QString(b).toUtf8().toHex().toStdString();
        EXPECT_EQ(note.field(ZNFVesperNoteImporterKey_picture), "p.png");
        EXPECT_EQ(note.field(ZNFVesperNoteImporterKey_tags), "x");
    }
}

TEST(VesperNoteText, PictureValuesAreFileNamesOnly) {
    for (const QString& bad : QStringList{"", ".", "..", "../x.png", "/etc/passwd", "a\\b.png",
                                          QString("a@b").replace('@', QChar(0))})
        EXPECT_FALSE(ZNFVesperNoteImporter::isPictureFileName(bad)) << bad.toStdString();
    EXPECT_TRUE(ZNFVesperNoteImporter::isPictureFileName("a..b.png"));
}

TEST(VesperDates, EnglishExportsParseInAnyLocaleAndTimeZone) {
    ScopedVariable utc("TZ", "UTC");
    const double groceries = 1449327840.0; // Dec 5, 2015, 3:04 PM UTC
    auto parsed = [](const QString& s) {
        return ZNFVesperNoteImporter::dateFromString(s).value_or(ZNFDate{-1}).secondsSince1970;
    };
    EXPECT_EQ(parsed("Dec 5, 2015, 3:04 PM"), groceries);
    EXPECT_EQ(parsed("Dec 5, 2015, 3:04\u202FPM"), groceries);
    EXPECT_EQ(parsed("Dec 5, 2015, 12:04 AM"), groceries - 15 * 3600);
    EXPECT_EQ(parsed("Dec 5, 2015, 12:04 PM"), groceries - 3 * 3600) << "noon";
    EXPECT_EQ(parsed(" Dec 5, 2015, 3:04 PM\n"), groceries) << "blanks around the field";
    EXPECT_FALSE(ZNFVesperNoteImporter::dateFromString("Feb 30, 2015, 3:04 PM")) << "no such day";
    EXPECT_FALSE(ZNFVesperNoteImporter::dateFromString("Dec 5, 2015, 3:04")) << "no AM or PM";
    EXPECT_FALSE(ZNFVesperNoteImporter::dateFromString("yesterday"));
    EXPECT_FALSE(ZNFVesperNoteImporter::dateFromString("2015-12-05 15:04"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(parsed("Dec 5, 2015, 3:04 PM"), groceries) << "English names on a German machine";
    EXPECT_EQ(parsed("Dez. 5, 2015, 3:04 PM"), groceries) << "the user's own locale";
    QLocale::setDefault(previous);

    ScopedVariable east("TZ", "XYZ-3"); // three hours ahead of UTC, no zone database needed
    EXPECT_EQ(parsed("Dec 5, 2015, 3:04 PM"), groceries - 3 * 3600);
}

class VesperImport : public ::testing::Test {
protected:
    ScopedHome home;
    ScopedVariable utc{"TZ", "UTC"}; // dates are read in local time
    // The test folder's path has no "Vesper" in it, so exports named without it do not climb.
    QString root = home.root() + "/work";
    QStringList cachesContents() const { return folderContents(home.caches()); }
};

TEST_F(VesperImport, GroceriesNoteAndItsPictureAsWritten) {
    const QString exp = root + "/Vesper Export";
    VesperExport::write(exp,
                        {{"Groceries.txt", "Buy milk\n\nPicture: IMG_1.jpg\nTags: Errands, Home Stuff\n"
                                           "Created: Dec 5, 2015, 3:04 PM\nModified: Dec 6, 2015, 9:00 AM\n"},
                         {"Pictures/IMG_1.jpg", F::jpeg(VesperExport::picture(640, 480))}});

    const Converted c = convert(exp);
    EXPECT_EQ(c.result.path, home.caches() + "/Vesper_to_Tessanote.notebackup");
    EXPECT_EQ(c.result.notes, 1);
    EXPECT_EQ(c.result.attachments, 1);
    // The picture's id is made afresh each run: a UUID, masked for the golden index.
    const QString id = c.entries[1]["binaryAttachmentId"].toString();
    EXPECT_TRUE(id.contains(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")))
        << id.toStdString();
    expectGoldenIndex(QByteArray(c.zip.find("entries.json")->data).replace(id.toUtf8(), "ID"), "vesper.json");
    // The picture travels as PNG under its attachment id; no placeholder beside it, and
    // nothing but the archive is left in the caches folder.
    EXPECT_EQ(c.zip.names(), (QStringList{"entries.json", "resources/" + id}));
    EXPECT_EQ(QImage::fromData(c.zip.find("resources/" + id)->data, "PNG").size(), QSize(640, 480));
    EXPECT_EQ(cachesContents(), QStringList{"Vesper_to_Tessanote.notebackup"});
}

TEST_F(VesperImport, FindsTheTopFolderByClimbingOnlyWhenThePathSaysVesper) {
    const QString mine = root + "/My Vesper Export", plain = root + "/Export", empty = root + "/Empty";
    VesperExport::write(mine, {{"A.txt", "A\n"}});
    VesperExport::write(plain, {{"A.txt", "A\n"}, {"B.txt", "B\n"}});
    QDir().mkpath(VesperExport::pictures(empty));
    EXPECT_EQ(ZNFVesperNoteImporter::topFolderForPath(mine + "/Active Notes/"), mine);
    // clang-format off
    const struct { QString path; qint64 notes; QString failure; } rows[] = { // notes -1: no archive
        {mine + "/Active Notes/A.txt", 1, {}}, {mine + "/Active Notes", 1, {}},
        {plain, 2, {}}, {plain + "/Active Notes", -1, "no \"Active Notes\" folder"}, // no climbing
        {root + "/nothing here", -1, "cannot read"},
        {QString(), -1, "no export folder was chosen"}, {empty, 0, "no notes were found"}}; // still an archive
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        QFile::remove(home.caches() + "/Vesper_to_Tessanote.notebackup");
        const Converted c = convert(row.path);
        EXPECT_EQ(c.result.path.isEmpty() ? -1 : c.result.notes, row.notes);
        EXPECT_EQ(c.result.failure.isEmpty(), row.failure.isEmpty());
        EXPECT_TRUE(c.result.failure.startsWith(row.failure)) << c.result.failure.toStdString();
        EXPECT_EQ(cachesContents().size(), row.notes < 0 ? 0 : 1) << "no staging folder is left behind";
    }
}

TEST_F(VesperImport, NotesInNameOrderEachFollowedByItsPicture) {
    const QString exp = root + "/Export";
    // Written out of order; hidden files and folders are not notes.
    const auto note = [&](const char* name, int day, const char* picture, const QByteArray& bytes) {
        const QString text = "%1\nPicture: %2\nCreated: Jan %3, 2016, 1:00 PM\n";
        VesperExport::writeNote(exp, name, text.arg(name, picture, QString::number(day)).toUtf8());
        if (!bytes.isEmpty())
            VesperExport::writeBytes(VesperExport::pictures(exp) + "/" + picture, bytes);
    };
    note("b.txt", 2, "b.gif", kGIF);
    note("a.txt", 1, "missing.png", {});
    note("C.txt", 3, "c.png", F::png(VesperExport::picture(75, 40, 2)));
    note("d.txt", 4, "broken.png", "\x89PNG\r\n\x1a\n not really");
    // Larger than Qt's default limit of 128 MB decoded, and a portrait photo taken sideways.
    note("e.txt", 5, "big.jpg", F::solidJPEG(6000, 6000));
    note("f.txt", 6, "turned.jpg", F::withOrientation(F::jpeg(F::cornerImage(40, 30)), 6));
    VesperExport::writeNote(exp, ".DS_Store", "not a note");
    QDir().mkpath(VesperExport::activeNotes(exp) + "/Old Notes");

    const Converted c = convert(exp);
    EXPECT_EQ(c.result.notes, 6);
    EXPECT_EQ(c.result.attachments, 4) << "pictures found and decoded, not Picture: lines";
    QStringList order, sizes;
    for (const QJsonValue& entry : c.entries) {
        order << entry["identifier"].toString().section('_', 2);
        sizes << entry["userInfo"].toString();
    }
    EXPECT_EQ(order, (QStringList{"C.txt", "C.txt_c.png", "a.txt", "b.txt", "b.txt_b.gif", "d.txt", "e.txt",
                                  "e.txt_big.jpg", "f.txt", "f.txt_turned.jpg"}));
    EXPECT_EQ(sizes.filter("width").join(' '), R"({"width":75,"height":40} {"width":6,"height":4} )"
                                               R"({"width":6000,"height":6000} {"width":30,"height":40})");
    // Turned upright: the red top-left corner of the sideways picture is now top-right.
    const QImage upright =
        QImage::fromData(c.zip.find("resources/" + c.entries[9]["binaryAttachmentId"].toString())->data);
    EXPECT_EQ(upright.size(), QSize(30, 40));
    EXPECT_EQ(upright.pixelColor(29, 0).red(), 255);
    // Every image entry has its PNG (a GIF too) and nothing else is in "resources".
    QStringList names{"entries.json"};
    for (const QJsonValue& entry : c.entries)
        if (entry["kind"] == "Image")
            names << "resources/" + entry["binaryAttachmentId"].toString();
    names.sort();
    EXPECT_EQ(c.zip.names(), names);
    for (const ZipEntry& file : c.zip.entries)
        EXPECT_TRUE(file.name == "entries.json" || file.data.startsWith("\x89PNG"))
            << file.name.toStdString();
}

TEST_F(VesperImport, NothingIsReadFromOutsideTheExport) {
    // Picture values that are paths and links (even to a file inside) are left out; the notes stay.
    const QByteArray png = F::png(VesperExport::picture(16, 16));
    writeFile(root + "/outside.png", png);
    writeFile(root + "/elsewhere/p.png", png);
    writeFile(root + "/bashrc", "export SECRET=1\n");
    const QString inside = "A/Active Notes/";
    // clang-format off
    VesperExport::write(root + "/A", {
        {"../secret.png", png}, {"Pictures/sub/x.png", png}, {"Pictures/real.png", png},
        {"Pictures/link.png", "->outside.png"}, {"Pictures/inner.png", "->" + inside.toUtf8() + "Pictures/sub/x.png"},
        {"bashrc.txt", "->bashrc"}, {"again.txt", "->" + inside.toUtf8() + "1.txt"},
        {"1.txt", "one\nPicture: ../../secret.png\n"}, {"2.txt", "Picture: sub/x.png\n"},
        {"3.txt", "Picture: sub\\x.png\n"}, {"4.txt", "Picture: ..\n"}, {"5.txt", "Picture: link.png\n"},
        {"6.txt", "Picture: inner.png\n"}, {"7.txt", "Picture: real.png\n"}}, root);
    // clang-format on
    VesperExport::write(root + "/B", {{"8.txt", "Picture: p.png\n"}, {"Pictures", "->elsewhere"}}, root);
    for (const auto& [exp, notes, attachments] : {std::tuple{"A", 7, 1}, {"B", 1, 0}}) {
        const Converted c = convert(root + "/" + exp);
        EXPECT_EQ(c.result.notes, notes) << exp;
        EXPECT_EQ(c.result.attachments, attachments) << exp;
        EXPECT_FALSE(QJsonDocument(c.entries).toJson().contains("SECRET"));
    }
}

TEST_F(VesperImport, DamagedNotesKeepTheirTextAndTheirFileDates) {
    const QString exp = root + "/Export";
    const QString latin1 = VesperExport::writeNote(exp, "Caf\xc3\xa9.txt", "Caf\xe9 au lait\nTags: Drinks\n");
    const QString undated = VesperExport::writeNote(
        exp, "Undated.txt", "\xef\xbb\xbfTags: x\nCreated: someday\nModified: Dec 6, 2015\n");
    const QString tea = "Th\u00e9\nTags: Tea\n";
    const auto utf16 = [&](QStringConverter::Encoding e) {
        QStringEncoder encoder(e, QStringEncoder::Flag::WriteBom);
        return QByteArray(encoder.encode(tea));
    };
    const QString le = VesperExport::writeNote(exp, "Utf16le.txt", utf16(QStringConverter::Utf16LE));
    const QString be = VesperExport::writeNote(exp, "Utf16be.txt", utf16(QStringConverter::Utf16BE));
    // A note file one byte over the limit (sparse) is left out before anything reads it.
    ASSERT_TRUE(QFile(VesperExport::writeNote(exp, "Huge.txt", "x"))
                    .resize(ZNFVesperNoteImporter_maxNoteFileBytes + 1));
    const QDateTime fileTime = QDateTime::fromSecsSinceEpoch(1388631845, Qt::UTC); // Jan 2, 2014, 03:04:05
    for (const QString& path : {latin1, undated, le, be}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(fileTime, QFileDevice::FileModificationTime));
    }

    const Converted c = convert(exp);
    ASSERT_EQ(c.entries.size(), 4);
    const QJsonObject cafe = c.entries[0].toObject(), none = c.entries[1].toObject();
    // UTF-16 with a byte order mark, either way round, reads as text, not NUL-filled bytes.
    EXPECT_EQ(c.entries[2]["body"].toString() + c.entries[3]["body"].toString(),
              QString::fromUtf16(u"Th\u00e9\n\n#tea").repeated(2));
    EXPECT_EQ(cafe["body"].toString(), QString::fromUtf8("Caf\xef\xbf\xbd au lait\n\n#drinks"));
    EXPECT_EQ(cafe["date"].toDouble(), 1388631845000.0) << "no dates: the file's own time";
    EXPECT_EQ(cafe["identifier"], QString::fromUtf8("VESPER_1388631845000_Caf\xc3\xa9.txt"));
    // A byte order mark does not hide the first label; unparseable dates fall back too.
    EXPECT_EQ(QJsonArray({none["body"], none["date"], none["updatedDate"]}),
              QJsonArray({"\n#x", 1388631845000.0, 1388631845000.0}));
}

TEST_F(VesperImport, EntryPointsReportThroughTheCompletion) {
    const QString exp = root + "/Export";
    VesperExport::write(
        exp, {{"A.txt", "A\nPicture: a.png\n"}, {"Pictures/a.png", F::png(VesperExport::picture(8, 8))}});

    QStringList calls;
    auto record = [&](const ZNFConversionOutcome& o) {
        const bool main = QThread::currentThread() == QCoreApplication::instance()->thread();
        calls << QString::asprintf("%s %lld %lld %d", o.path.isEmpty() ? "none" : "path", qlonglong(o.notes),
                                   qlonglong(o.attachments), int(main));
    };
    ZNFVesperNoteImporter::importNotesAtURL(exp, record);
    EXPECT_EQ(calls, QStringList{"path 1 1 1"}) << "called once, before returning";

    // The background run never calls back inside the call, and calls back on the main thread.
    ZNFVesperNoteImporter::importNotesAtURLInBackground(exp, record);
    EXPECT_EQ(calls.size(), 1);
    EXPECT_TRUE(waitUntil([&] { return calls.size() == 2; }, 20000));
    EXPECT_EQ(calls.value(1), "path 1 1 1");
}

// Every source runs as a job: its progress comes in order on the main thread, then one outcome,
// unless Back (cancel) or closing the window (deleting the job) came first; then the work stops
// at its next note and leaves no partial file.
TEST(ConversionJob, ProgressInOrderThenOneOutcomeOnTheMainThreadUnlessCancelled) {
    enum class Stop { Never, BeforeStart, AtProgress, ByDeletion, ByFlag };
    // clang-format off
    const struct { const char* name; Stop stop; qint64 at; } rows[] = {
        {"runs to its end", Stop::Never, 0},
        {"cancelled before it starts", Stop::BeforeStart, 0},
        {"cancelled while it runs", Stop::AtProgress, 3},
        {"deleted while it runs", Stop::ByDeletion, 2},
        {"its flag set from another thread", Stop::ByFlag, 4},
    };
    // clang-format on
    constexpr qint64 total = 10;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString partial = dir.filePath("partial");
        std::atomic<bool> ran{false};
        auto work = [&](const ZNFConversionProgressHandler& report,
                        const ZNFConversionCancelFlag& cancelled) {
            ran = true;
            ZNFConversionOutcome outcome;
            QFile file(partial);
            file.open(QIODevice::WriteOnly);
            for (qint64 done = 1; done <= total; ++done) {
                report(done, total);
                if (done == row.at && row.stop == Stop::ByFlag)
                    *cancelled = true;
                // Holds the run where the test stops it, so that the stop lands mid-run.
                if (done == row.at)
                    waitUntil([&] { return cancelled->load(); }, 10000);
                if (*cancelled) {
                    file.remove();
                    outcome.cancelled = true;
                    return outcome;
                }
            }
            outcome.path = partial;
            outcome.notes = total;
            return outcome;
        };
        QPointer<ZNFConversionJob> job = new ZNFConversionJob(work);
        QList<qint64> seen;
        QStringList outcomes;
        QObject::connect(job, &ZNFConversionJob::progress, job, [&](qint64 done, qint64 all) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            EXPECT_EQ(all, total);
            seen << done;
            if (row.stop == Stop::AtProgress && done >= row.at)
                job->cancel();
            // Deleted from the event loop, as a closing window deletes it, not inside its own signal.
            if (row.stop == Stop::ByDeletion && done >= row.at)
                QMetaObject::invokeMethod(
                    qApp, [&job] { delete job.data(); }, Qt::QueuedConnection);
        });
        QObject::connect(job, &ZNFConversionJob::finished, job, [&](const ZNFConversionOutcome& outcome) {
            outcomes << QString::asprintf("%lld %d", qlonglong(outcome.notes),
                                          int(QThread::currentThread() == qApp->thread()));
        });
        if (row.stop == Stop::BeforeStart)
            job->cancel();
        job->start();
        EXPECT_TRUE(outcomes.isEmpty()) << "never inside start()";
        EXPECT_TRUE(waitUntil([] { return ZNFConversionJob::waitForRuns(0); }, 20000));
        // The run's last posts are queued now; an outcome would arrive within them.
        waitUntil([&] { return !outcomes.isEmpty(); }, row.stop == Stop::Never ? 5000 : 200);

        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) &&
                    std::adjacent_find(seen.begin(), seen.end()) == seen.end())
            << "progress only moves forward";
        EXPECT_EQ(ran.load(), row.stop != Stop::BeforeStart);
        if (row.stop == Stop::Never) {
            EXPECT_EQ(outcomes, QStringList{"10 1"});
            EXPECT_EQ(seen.value(seen.size() - 1), total) << "the last report arrives before the outcome";
        } else {
            EXPECT_EQ(outcomes, QStringList{}) << "no outcome after a cancel";
            EXPECT_FALSE(QFileInfo::exists(partial)) << "the stopped work removed its file";
            if (row.stop != Stop::BeforeStart) {
                EXPECT_LE(seen.value(seen.size() - 1), row.at) << "no progress after a cancel";
            }
        }
        delete job.data();
    }
}
