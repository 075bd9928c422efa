#include "conversion/ZNFKeepNoteImporter.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/keep_takeout.h"

namespace F = AttachmentsFixture;

namespace {

const ZNFDate kFileTime{1600000000};

QJsonObject noteByIdentifier(const QJsonArray& entries, const QString& identifier) {
    for (const QJsonValue& value : entries)
        if (value.toObject().value("identifier").toString() == identifier)
            return value.toObject();
    return {};
}

} // namespace

TEST(KeepNoteJSON, BodiesDatesAndFlags) {
    struct Row {
        const char* name;
        QByteArray json;
        QString body;
        double created = 0, updated = 0; // seconds
        bool trashed = false;
    };
    // clang-format off
    const Row rows[] = {
        {"title first, then the text, then the labels",
         R"({"title":"Shopping","textContent":"Milk\nEggs\n","labels":[{"name":"Errands"},{"name":"Home Stuff"}],
             "createdTimestampUsec":1500000000000000,"userEditedTimestampUsec":1500000100500000})",
         "Shopping\nMilk\nEggs\n\n#errands #homestuff", 1500000000, 1500000100.5},
        {"a checklist", R"({"title":"","listContent":[{"text":"Bread","isChecked":true},{"text":"Jam","isChecked":false}],
             "createdTimestampUsec":1500000000000000})",
         "- [x] Bread\n- [ ] Jam", 1500000000, 1500000000},
        {"a missing edit date takes the creation date", R"({"textContent":"A","createdTimestampUsec":2000000})", "A", 2, 2},
        {"a zero creation date takes the edit date",
         R"({"textContent":"A","createdTimestampUsec":0,"userEditedTimestampUsec":3000000})", "A", 3, 3},
        {"no dates take the file's time", R"({"textContent":"A"})", "A", 1600000000, 1600000000},
        {"dates as strings", R"({"textContent":"A","createdTimestampUsec":"4000000"})", "A", 4, 4},
        {"trashed", R"({"textContent":"A","isTrashed":true})", "A", 1600000000, 1600000000, true},
        {"nothing at all is still a note", R"({})", "", 1600000000, 1600000000},
        {"fields of the wrong type are ignored", R"({"title":5,"labels":"x","listContent":{},"attachments":7})", "",
         1600000000, 1600000000},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto note = ZNFKeepNoteImporter::parseNote(row.json, "n.json", kFileTime);
        EXPECT_TRUE(note.has_value());
        if (!note)
            continue;
        EXPECT_EQ(note->note.body, row.body);
        EXPECT_DOUBLE_EQ(note->note.created.secondsSince1970, row.created);
        EXPECT_DOUBLE_EQ(note->note.updated.secondsSince1970, row.updated);
        EXPECT_EQ(note->trashed, row.trashed);
    }
    for (const QByteArray& bad : {QByteArray("[1]"), QByteArray("{"), QByteArray("")})
        EXPECT_FALSE(ZNFKeepNoteImporter::parseNote(bad, "n.json", kFileTime)) << bad.toStdString();
}

TEST(KeepImporter, TakeoutZipsAndFolders) {
    ScopedHome home;
    const QString root = home.root();
    KeepTakeout::Files files;
    const QString keep = "Takeout/Notizen"; // a localised Keep folder
    KeepTakeout::addNote(files, keep, "Walk",
                         R"({"title":"Walk","textContent":"Harbour","createdTimestampUsec":1500000000000000,
                             "attachments":[{"filePath":"harbour.jpeg","mimetype":"image/jpeg"},
                                            {"filePath":"gone.png","mimetype":"image/png"},
                                            {"filePath":"memo.3gp","mimetype":"audio/3gpp"}]})");
    KeepTakeout::addNote(files, keep, "Old", R"({"textContent":"old","isTrashed":true})");
    KeepTakeout::addNote(files, keep, "Kept", R"({"textContent":"kept","isArchived":true})");
    files.push_back({keep + "/harbour.jpg", F::jpeg(F::cornerImage(64, 48))});
    files.push_back({keep + "/memo.3gp", QByteArray("audio")});
    files.push_back({"Takeout/archive_browser.html", QByteArray("<html></html>")});
    files.push_back({"Takeout/Other/settings.json", QByteArray("{}")});
    const QString zip = root + "/takeout-1.zip";
    ASSERT_TRUE(KeepTakeout::writeZip(zip, files));
    ASSERT_TRUE(KeepTakeout::writeFolder(root + "/extracted", files));
    // The same export split in two parts: the notes in one, a picture in the other.
    KeepTakeout::Files first(files.begin(), files.end()), second;
    for (auto it = first.begin(); it != first.end();)
        if (it->first.endsWith("harbour.jpg")) {
            second.push_back(*it);
            it = first.erase(it);
        } else {
            ++it;
        }
    ASSERT_TRUE(KeepTakeout::writeZip(root + "/takeout-2a.zip", first));
    ASSERT_TRUE(KeepTakeout::writeZip(root + "/takeout-2b.zip", second));

    struct Row {
        const char* name;
        QStringList paths;
    };
    const Row rows[] = {
        {"a zip, read in place", {zip}},
        {"the extracted Takeout folder", {root + "/extracted"}},
        {"its Keep folder", {root + "/extracted/Takeout/Notizen"}},
        {"two parts", {root + "/takeout-2a.zip", root + "/takeout-2b.zip"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ZNFConversionOutcome result = ZNFKeepNoteImporter::convert(row.paths);
        EXPECT_TRUE(result.succeeded()) << result.failure.toStdString();
        EXPECT_EQ(result.notes, 2);
        EXPECT_EQ(result.attachments, 1);
        EXPECT_EQ(result.leftOutCount(ZNFLeftOutReason::TrashedNote), 1);
        EXPECT_EQ(result.leftOutCount(ZNFLeftOutReason::MissingPicture), 1);
        EXPECT_EQ(result.leftOutCount(ZNFLeftOutReason::Audio), 1);
        // A person's notes, in a home others may read: the archive and its folder are private
        // (owner, group and others; Qt's "user" bits repeat the owner's for the current user).
        EXPECT_EQ(QFileInfo(result.path).permissions() & 0x7077,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(QFileInfo(QFileInfo(result.path).path()).permissions() & 0x7077,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QJsonArray entries = entriesOf(result.path);
        const QJsonObject walk = noteByIdentifier(entries, "KEEP_Walk");
        EXPECT_EQ(walk.value("body").toString(), "Walk\nHarbour\n[Picture: gone.png]\n[Audio: memo.3gp]");
        EXPECT_EQ(walk.value("date").toDouble(), 1500000000000.0);
        EXPECT_EQ(noteByIdentifier(entries, "KEEP_Kept").value("body").toString(), "kept");
        EXPECT_TRUE(noteByIdentifier(entries, "KEEP_Old").isEmpty());
        EXPECT_EQ(noteByIdentifier(entries, "KEEP_Walk_harbour.jpg").value("kind").toString(), "Image");
    }
}

TEST(KeepImporter, WhatCannotBeReadIsSaidAndCounted) {
    ScopedHome home;
    const QString root = home.root();
    KeepTakeout::Files files;
    KeepTakeout::addNote(files, "Takeout/Keep", "Good", R"({"textContent":"good"})");
    KeepTakeout::addNote(files, "Takeout/Keep", "Broken", "{not json");
    KeepTakeout::addNote(files, "Takeout/Keep", "Huge",
                         QByteArray(ZNFKeepNoteImporter_maxNoteJSONBytes + 1, ' ') + "{}");
    ASSERT_TRUE(KeepTakeout::writeZip(root + "/takeout.zip", files));
    ASSERT_TRUE(writeFile(root + "/notazip.zip", "hello"));
    QDir().mkpath(root + "/nothing");

    const ZNFConversionOutcome good = ZNFKeepNoteImporter::convert({root + "/takeout.zip"});
    EXPECT_EQ(good.notes, 1);
    EXPECT_EQ(good.leftOutCount(ZNFLeftOutReason::UnreadableNote), 2);

    struct Row {
        const char* name;
        QStringList paths;
        const char* failure;
    };
    const Row rows[] = {
        {"nothing chosen", {}, "no Google Takeout"},
        {"not a zip", {root + "/notazip.zip"}, "is not a zip archive"},
        {"no notes in the folder", {root + "/nothing"}, "no Google Keep notes were found"},
        {"a tgz", {root + "/takeout.tgz"}, "extract it"},
    };
    ASSERT_TRUE(writeFile(root + "/takeout.tgz", "x"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ZNFConversionOutcome result = ZNFKeepNoteImporter::convert(row.paths);
        EXPECT_FALSE(result.succeeded());
        EXPECT_TRUE(result.failure.contains(row.failure)) << result.failure.toStdString();
    }
}
