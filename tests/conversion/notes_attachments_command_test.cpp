// One run of the built executable, "notecrate convert notes", against a stand-in osascript
// and a Notes app container with a store, media and previews.
#include "TestSupport.h"
#include "platform/ZNFImage.h"
#include "support/attachments_fixture.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace F = AttachmentsFixture;

TEST(NotesAttachmentsCommand, ConvertNotesWritesTheAttachmentsIntoTheArchive) {
    const QString executable = QStringLiteral(NOTECRATE_BUILD_DIR "/notecrate");
    ASSERT_TRUE(QFileInfo(executable).isExecutable()) << "build the notecrate target first";
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

    QProcess process;
    process.start(executable, {"convert", "notes"}); // inherits HOME, XDG_CACHE_HOME and PATH
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray errors = process.readAllStandardError();
    ASSERT_EQ(process.exitCode(), 0) << errors.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    EXPECT_EQ(result.value("notes"), QJsonValue(1));
    EXPECT_EQ(result.value("attachments"), QJsonValue(2)) << "the image entries written";
    const QString archive = result.value("path").toString();
    EXPECT_TRUE(archive.startsWith(home.caches())) << archive.toStdString();

    const ZipContents zip = readZip(archive);
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zip.names(), QStringList({"entries.json", "resources/PHOTO-UUID", "resources/SKETCH-UUID"}));
    const QJsonArray entries =
        QJsonDocument::fromJson(zip.find("entries.json")->data).object().value("entries").toArray();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[1].toObject().value("userInfo").toString(), R"({"width":320,"height":240})");
    EXPECT_EQ(entries[2].toObject().value("userInfo").toString(), R"({"width":200,"height":300})");
    EXPECT_EQ(entries[2].toObject().value("identifier").toString(), "x-coredataSICAttachmentp4");
    for (const char* name : {"resources/PHOTO-UUID", "resources/SKETCH-UUID"}) {
        const QByteArray png = zip.find(name)->data;
        EXPECT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n")) << name;
        EXPECT_FALSE(ZNFImage::decode(png).isNull()) << name;
    }
    EXPECT_EQ(QDir(home.caches()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QFileInfo(archive).fileName()}))
        << "no staging folder and no copy of the store left behind";
}
