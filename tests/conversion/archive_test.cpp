#include "TestSupport.h"
#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFJSONAdditions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

TEST(EpochDates, MillisecondsKeepTheirFraction) {
    EXPECT_EQ(epochRepresentation(ZNFDate{1.0}), 1000.0);
    EXPECT_EQ(epochRepresentation(ZNFDate{1.25}), 1250.0);
    EXPECT_EQ(epochRepresentation(ZNFDate{1.0005}), 1000.5);
    EXPECT_EQ(dateWithEpochRepresentation(1000.5).secondsSince1970, 1.0005);
    // Written into JSON, integral epochs carry no fraction and fractions survive.
    QJsonObject o{
        {"a", epochJSONValue(1000)}, {"b", epochJSONValue(1000.5)}, {"c", epochJSONValue(1712345678901.0)}};
    EXPECT_EQ(QJsonDocument(o).toJson(QJsonDocument::Compact),
              "{\"a\":1000,\"b\":1000.5,\"c\":1712345678901}");
}

TEST(UserInfo, PrintsPlainDecimals) {
    EXPECT_EQ(ZNFBackupArchive::userInfoForSize({640, 480}), "{\"width\":640,\"height\":480}");
    EXPECT_EQ(ZNFBackupArchive::userInfoForSize({37.5, 20}), "{\"width\":37.5,\"height\":20}");
}

class ArchiveTest : public ::testing::Test {
protected:
    ScopedHome home;
};

TEST_F(ArchiveTest, EmptyRunHoldsIndexAndPlaceholder) {
    const QString staging = ZNFBackupArchive::createStagingFolder();
    ASSERT_FALSE(staging.isEmpty());
    EXPECT_EQ(QFileInfo(staging).absolutePath(), QDir(home.caches()).absolutePath());
    // Staging folders are named by an upper-case UUID.
    EXPECT_TRUE(QFileInfo(staging).fileName().contains(
        QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")));

    const QString path = ZNFBackupArchive::finish(staging, {}, "test.notebackup");
    EXPECT_EQ(path, home.caches() + "/test.notebackup");
    EXPECT_FALSE(QFileInfo::exists(staging)) << "staging folder is deleted";

    const ZipContents zip = readZip(path);
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zip.names(), (QStringList{"entries.json", "resources/.DS_Store"}));
    EXPECT_EQ(zip.find("entries.json")->data, "{\"entries\":[]}");
    EXPECT_TRUE(zip.find("resources/.DS_Store")->data.isEmpty());
    for (const auto& e : zip.entries) {
        EXPECT_EQ(e.method, 8) << e.name.toStdString() << " is deflated";
        EXPECT_GE(e.year, 2020) << "entries carry a real date";
    }
    // Permission bits of a regular file travel in the upper half of the external attributes.
    EXPECT_EQ((zip.find("entries.json")->externalAttributes >> 16) & 0170000, 0100000u);
}

TEST_F(ArchiveTest, ImagesReplaceThePlaceholderAndNestedFoldersKeepTheirPath) {
    const QString staging = ZNFBackupArchive::createStagingFolder();
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(ZNFBackupArchive::writeImage(image, ZNFBackupArchive::resourcesFolder(staging) + "/ABC"));
    QDir().mkpath(staging + "/extra/empty");
    const QString path =
        ZNFBackupArchive::finish(staging, {QJsonObject{{"kind", "Image"}}}, "test.notebackup");
    const ZipContents zip = readZip(path);
    EXPECT_EQ(zip.names(), (QStringList{"entries.json", "extra/empty/.DS_Store", "resources/ABC"}));
    EXPECT_TRUE(zip.find("resources/ABC")->data.startsWith("\x89PNG"));
}

TEST_F(ArchiveTest, SecondRunReplacesTheArchive) {
    QString staging = ZNFBackupArchive::createStagingFolder();
    writeFile(ZNFBackupArchive::resourcesFolder(staging) + "/OLD", "x");
    const QString first = ZNFBackupArchive::finish(staging, {}, "same.notebackup");
    staging = ZNFBackupArchive::createStagingFolder();
    const QString second = ZNFBackupArchive::finish(staging, {}, "same.notebackup");
    EXPECT_EQ(first, second);
    EXPECT_EQ(readZip(second).names(), (QStringList{"entries.json", "resources/.DS_Store"}));
    // No temporary file is left beside the archive.
    EXPECT_EQ(QDir(home.caches()).entryList(QDir::Files), QStringList{"same.notebackup"});
}

TEST_F(ArchiveTest, MissingCachesFolderIsCreated) {
    QDir(home.caches()).removeRecursively();
    const QString staging = ZNFBackupArchive::createStagingFolder();
    ASSERT_FALSE(staging.isEmpty());
    EXPECT_FALSE(ZNFBackupArchive::finish(staging, {}, "a.notebackup").isEmpty());
}

TEST_F(ArchiveTest, FailedStepsReportNoPath) {
    LogCapture log;
    // The caches folder cannot be made: it is a file.
    QDir(home.caches()).removeRecursively();
    writeFile(home.caches(), "not a folder");
    EXPECT_TRUE(ZNFBackupArchive::createStagingFolder().isEmpty());
    EXPECT_TRUE(log.contains("could not create the caches folder"));
    QFile::remove(home.caches());
    QDir().mkpath(home.caches());

    // The archive cannot be put in place (a folder is in the way): no path, staging still removed,
    // and the old content at that path is untouched.
    QDir().mkpath(home.caches() + "/blocked.notebackup/keep");
    const QString staging = ZNFBackupArchive::createStagingFolder();
    EXPECT_TRUE(ZNFBackupArchive::finish(staging, {}, "blocked.notebackup").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_TRUE(QFileInfo(home.caches() + "/blocked.notebackup/keep").isDir());
    EXPECT_TRUE(log.contains("could not write the archive"));
    EXPECT_EQ(QDir(home.caches()).entryList(QDir::Files), QStringList{});

    // The index cannot be written: the staging folder vanished.
    EXPECT_TRUE(ZNFBackupArchive::finish(home.caches() + "/gone", {}, "x.notebackup").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.caches() + "/x.notebackup"));
}
