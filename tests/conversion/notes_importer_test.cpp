#include "conversion/ZNFJSONArrayReader.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesExtractor.h"
#include "support/archive_reading.h"
#include "support/command_run.h"

#include <QBuffer>

namespace {

class NotesImporterTest : public ::testing::Test {
protected:
    ScopedHome home;

    // Every run completes once, on the main thread.
    ZNFConversionOutcome run(const std::shared_ptr<ZNFNotesAppImporter>& importer) {
        std::optional<ZNFConversionOutcome> result;
        importer->import([&](const ZNFConversionOutcome& o) {
            EXPECT_FALSE(result) << "completion called once";
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            result = o;
        });
        EXPECT_TRUE(importer->isImporting());
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 10000)) << "completion called";
        return result.value_or(ZNFConversionOutcome());
    }
};

} // namespace

TEST(BodyCleaning, TrimsAndShortensBlankRunsOnce) {
    const QString fffc(QChar(0xFFFC));
    EXPECT_EQ(ZNFNotesAppImporter::cleanBody("  \n" + fffc + "Hello\n\n\n\nWorld " + fffc + "\n"),
              "Hello\n\n\nWorld");
    const struct { int in, out; } runs[] = {{1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 4}, {6, 4}, {7, 5}};
    for (const auto& r : runs) {
        SCOPED_TRACE(std::to_string(r.in) + " newlines");
        EXPECT_EQ(ZNFNotesAppImporter::cleanBody("a" + QString(r.in, '\n') + "b"),
                  "a" + QString(r.out, '\n') + "b");
    }
    // Unicode separators and U+0085 are trimmed too; inner ones stay.
    EXPECT_EQ(ZNFNotesAppImporter::cleanBody(QString::fromUtf16(u"\u2028\u00a0\u0085a \u2003b\t\r")),
              "a \u2003b");
    EXPECT_EQ(ZNFNotesAppImporter::cleanBody(fffc + fffc), "");
}

TEST(JSONArrayReader, ElementsAndTheStreamedMemberReadAsAWholeParseReadsThem) {
    // A text of several slices whose cuts fall among escapes, surrogate pairs and UTF-8.
    QByteArray longText;
    while (longText.size() < 3500000)
        longText += "ab\\uD83D\\uDE00\xC3\xA9\\\"\\n\xF0\x9F\x98\x80 ";
    const QByteArray records = "[{\"id\":\"a\",\"text\":\"" + longText +
                               "\"}, {\"text\":\"x\",\"text\":\"y\"}, " +
                               "{\"t\\u0065xt\":\"escaped key\"}, {\"text\":7}, [\"text\"], \"text\"]";
    // taken: the elements handed over; empty: what parsing the whole text gives.
    // clang-format off
    const struct { const char* name; QByteArray text; ZNFJSONArrayLimits limits; bool read;
                   QJsonArray taken; } rows[] = {
        {"records with the text apart", records, {}, true, {}},
        {"an element past the byte limit is left out", R"([{"id":"a"}, {"text":"longer than that"}, 3])",
         {.elementBytes = 12}, true, {QJsonObject{{"id", "a"}}, 3}},
        {"nesting past the depth limit fails", "[[[1]]]", {.depth = 1}, false, {}},
        {"bad UTF-8 in a streamed text fails", "[{\"text\":\"a\xff\"}]", {}, false, {}}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QBuffer buffer;
        buffer.setData(row.text);
        buffer.open(QIODevice::ReadOnly);
        QJsonArray taken;
        QString error;
        const bool read = ZNFJSONArrayReader::read(
            buffer,
            [&](QJsonValue value, std::optional<QString> text) {
                if (text) {
                    EXPECT_EQ(value["text"], "");
                    QJsonObject object = value.toObject();
                    object.insert("text", *text);
                    value = object;
                }
                taken.append(value);
                return true;
            },
            &error, row.limits, "text");
        EXPECT_EQ(read, row.read) << error.toStdString();
        if (row.read) {
            EXPECT_EQ(taken, row.taken.isEmpty() ? QJsonDocument::fromJson(row.text).array() : row.taken);
        }
    }
}

TEST_F(NotesImporterTest, ConvertsEveryRecordInOrder) {
    const QByteArray fixture = R"([
      {"id":"x-coredata://1/ICNote/p1","text":"  First\n\n\n\nnote \u00e9\u4e2d\ud83d\ude00 ","creationDate":1000,
       "modificationDate":1000.5,"attachments":[{"id":"x/p9","parentId":"x-coredata://1/ICNote/p1","date":5}],
       "other":"ignored"},
      {"text":42,"creationDate":"2024-01-01"},
      {"id":"n3"}
    ])";
    installExportScript(home, fixture);
    auto importer = std::make_shared<ZNFNotesAppImporter>();
    const ZNFConversionOutcome r = run(importer);
    EXPECT_FALSE(importer->isImporting());
    EXPECT_EQ(r.notes, 3);

    // Values of other types are copied unchanged; missing and unknown keys are left out.
    const QJsonArray entries = entriesOf(r.path);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]["body"], QString::fromUtf8("First\n\n\nnote \u00e9\u4e2d\U0001F600"));
    EXPECT_EQ(entries[0]["updatedDate"], 1000.5);
    EXPECT_EQ(entries[1],
              (QJsonObject{{"kind", "note"}, {"state", 0}, {"body", 42}, {"date", "2024-01-01"}}));
    EXPECT_EQ(entries[2], (QJsonObject{{"kind", "note"}, {"state", 0}, {"identifier", "n3"}}));
    // No staging folder is left in the caches folder.
    EXPECT_EQ(folderContents(home.caches()), QStringList{"iOSNotes_to_Tessanote.notebackup"});
}

TEST_F(NotesImporterTest, MalformedExportsGiveAnEmptyArchive) {
    // fixture null: no export is written; notes: note entries, the only entries without attachments;
    // status: the script's exit status; stale: an export of an earlier run is waiting; huge: the
    // export is one byte over its size limit (a sparse file), which is refused before reading.
    // clang-format off
    const struct { const char* name; QByteArray fixture; qint64 notes; int status = 0; bool stale = false, huge = false; }
    cases[] = {
        {"no export written", {}, 0}, {"broken JSON", "[{\"id\":", 0}, {"empty array", "[]", 0},
        {"an object", "{\"id\":\"a\"}", 0}, {"a string", "\"notes\"", 0},
        // Only records that became note entries are counted.
        {"non-objects skipped", "[1, \"two\", null, [3], {\"id\":\"ok\"}]", 1},
        {"nothing but non-objects", "[1, \"two\", null, [3], true]", 0},
        // The export is read one record at a time: a fault after good records still converts
        // nothing, as reading it whole would.
        {"a broken record after a good one", "[{\"id\":\"a\"}, {\"id\":]", 0},
        {"cut short", "[{\"id\":\"a\"}", 0}, {"a comma before ]", "[{\"id\":\"a\"},]", 0},
        {"text after the array", "[{\"id\":\"a\"}] x", 0}, {"a } without its {", "[1}]", 0},
        {"two records without a comma", "[{\"id\":\"a\"} {\"id\":\"b\"}]", 0},
        {"nesting past the limit",
         "[{\"id\":\"a\",\"x\":" + QByteArray(300, '[') + QByteArray(300, ']') + "}]", 0},
        {"brackets and escapes inside strings", R"( [ {"id":"a]\"},[{","text":"\\"} ] )", 1},
        {"a byte order mark", "\xEF\xBB\xBF[{\"id\":\"a\"}]", 1},
        {"a failing script that wrote an export still delivers", R"([{"id":"a","text":"t"}])", 1, 3},
        {"an old export is never converted as current", {}, 0, 0, true},
        {"an export over its size limit", R"([{"id":"a"}])", 0, 0, false, true}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stale)
            writeFile(notesExportFile(), R"([{"id":"stale"}])");
        installExportScript(home, c.fixture, c.status, !c.fixture.isNull());
        if (c.huge) {
            ASSERT_TRUE(QFile(home.root() + "/fixture.json").resize(ZNFNotesExtractor_maxExportBytes + 1));
        }
        const ZNFConversionOutcome r = run(std::make_shared<ZNFNotesAppImporter>());
        EXPECT_EQ(r.failure.startsWith("the notes export is larger than"), c.huge) << r.failure.toStdString();
        EXPECT_FALSE(r.path.isEmpty());
        EXPECT_EQ(r.notes, c.notes);
        EXPECT_EQ(r.failure.isEmpty(), c.notes > 0) << "an archive without notes says why";
        EXPECT_EQ(entriesOf(r.path).size(), c.notes);
        EXPECT_FALSE(QFileInfo::exists(notesExportFile()));
    }
}

TEST_F(NotesImporterTest, ACancelledRunNeverCompletesNorWritesEvenAfterANewRunStarts) {
    installExportScript(home, R"([{"id":"a"}])");
    auto importer = std::make_shared<ZNFNotesAppImporter>();
    int cancelledCalls = 0;
    importer->import([&](const ZNFConversionOutcome&) { ++cancelledCalls; });
    importer->cancel();
    EXPECT_TRUE(importer->isCancelled());
    // Let the script finish and its delivery reach the main queue.
    ASSERT_TRUE(waitUntil(
        [&] {
            return QFileInfo::exists(home.root() + "/script-arg") && !QFileInfo::exists(notesExportFile());
        },
        10000));
    waitUntil([] { return false; }, 300);
    EXPECT_TRUE(importer->isImporting()) << "a cancelled run leaves isImporting set";
    EXPECT_FALSE(QFileInfo::exists(home.caches() + "/iOSNotes_to_Tessanote.notebackup"));

    // Again, with the second run started before the first one's script has delivered.
    importer->import([&](const ZNFConversionOutcome&) { ++cancelledCalls; });
    importer->cancel();
    const ZNFConversionOutcome r = run(importer);
    EXPECT_EQ(r.notes, 1);
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(cancelledCalls, 0);
    EXPECT_FALSE(importer->isImporting());
}

TEST_F(NotesImporterTest, ScriptRunsWithoutShellOrInputAndWithinItsTimeLimit) {
    const ScopedVariable restore("NOTECRATE_RESOURCES", qgetenv("NOTECRATE_RESOURCES"));
    const QString bundle = "/ZNFNotesExtractor.bundle/exportNotes.scpt";
    const QString resources = ZNFNotesExtractor::scriptPath().chopped(bundle.size());
    // An install path with a blank, "(1)" and a command substitution in it.
    const QString odd = home.root() + "/x$(touch $HOME/PWNED)y (1)";
    writeFile(odd + bundle, readFile(resources + bundle));
    QDir().mkpath(home.root() + "/empty");
    // first: what the stand-in does before writing the export.
    // clang-format off
    const struct { const char* name; QString resources; QByteArray first; int timeLimitMs; bool delivered; }
        rows[] = {
        {"an ordinary run", resources, "", 10000, true},
        {"an odd install path is one argument", odd, "", 10000, true},
        {"a script that reads its input gets none", resources, "cat\n", 10000, true},
        // What the script started is stopped with it, or it would hold our stderr open.
        {"a hanging script is stopped", resources, "sleep 30 & echo $! >\"$HOME/child\"\nwait\n", 300, false},
        {"no script resource runs nothing", home.root() + "/empty", "", 10000, false}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(home.root() + "/script-arg");
        qputenv("NOTECRATE_RESOURCES", QFile::encodeName(row.resources));
        installExportScript(home, R"([{"id":"a"}])", 0, true, row.first);
        std::atomic<bool> done{false};
        ZNFNotesExport delivered;
        QString error;
        ZNFNotesExtractor extractor;
        extractor.setTimeLimit(row.timeLimitMs);
        extractor.getNotes([&](ZNFNotesExport notes, QString e) {
            EXPECT_NE(QThread::currentThread(), QCoreApplication::instance()->thread())
                << "delivered off the main thread";
            delivered = notes;
            error = e;
            done = true;
        });
        ASSERT_TRUE(waitUntil([&] { return done.load(); }, 20000));
        EXPECT_EQ(delivered != nullptr, row.delivered);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        if (row.delivered) {
            EXPECT_EQ(readFile(home.root() + "/script-arg"), (row.resources + bundle).toUtf8());
            // Taken off the Desktop, still readable.
            EXPECT_TRUE(ZNFNotesExtractor::readRecords(
                *delivered, [](QJsonValue, std::optional<QString>) { return true; }, nullptr));
        }
        EXPECT_EQ(QFileInfo::exists(home.root() + "/script-arg"), row.resources != home.root() + "/empty");
        EXPECT_FALSE(QFileInfo::exists(home.home() + "/PWNED"));
        EXPECT_FALSE(QFileInfo::exists(notesExportFile()));
        if (row.first.contains("child")) {
            const QString stat = "/proc/" + readFile(home.home() + "/child").trimmed() + "/stat";
            EXPECT_TRUE(
                waitUntil([&] { return !QFileInfo::exists(stat) || readFile(stat).contains(") Z "); }));
        }
    }
}
