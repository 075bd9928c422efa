#include "TestSupport.h"
#include "support/archive_reading.h"
#include "support/command_run.h"
#include "support/vesper_export.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

class VesperCommand : public ::testing::Test {
protected:
    ScopedHome home;
    QString root = home.root() + QStringLiteral("/work");
};

} // namespace

TEST_F(VesperCommand, PrintsTheArchiveAndItsCounts) {
    const QString exp = root + "/Vesper Export";
    VesperExport::writeNote(
        exp, "Walk.txt",
        VesperExport::noteText("Harbour at low tide", "Walks", "Mar 14, 2016, 6:12 PM", "h.jpg"));
    VesperExport::writeNote(exp, "List.txt",
                            VesperExport::noteText("Milk", "", "Mar 15, 2016, 9:00 AM", "gone.png"));
    VesperExport::writePicture(exp, "h.jpg", VesperExport::picture(64, 48), "JPEG");

    // Chosen by a note file inside the export: the command climbs to the export like the window does.
    const CommandRun run = notecrate({"convert", "vesper", VesperExport::activeNotes(exp) + "/List.txt"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << "no progress lines when stderr is not a terminal";
    const QString archive = home.caches() + "/Vesper_to_Tessanote.notebackup";
    EXPECT_EQ(run.out.count('\n'), 1) << "one JSON line";
    const QJsonObject printed = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(printed, (QJsonObject{{"path", archive}, {"notes", 2}, {"attachments", 1}}));

    // The archive is whole: the index names the picture that "resources" holds.
    const ZipContents zip = readZip(archive);
    const QJsonArray entries = entriesOf(zip);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(zip.names(),
              (QStringList{"entries.json", "resources/" + entries[2]["binaryAttachmentId"].toString()}));
}

TEST_F(VesperCommand, FailsWithOneLineWhenThereIsNothingToConvert) {
    auto expectFailure = [](const CommandRun& run, const char* reason) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.startsWith("notecrate: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(reason)) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    };

    const QString exp = root + "/Export";
    QDir().mkpath(exp + "/Notes");
    CommandRun run = notecrate({"convert", "vesper", exp});
    expectFailure(run, "no \"Active Notes\" folder");
    EXPECT_TRUE(run.out.isEmpty());

    QDir().mkpath(VesperExport::activeNotes(exp));
    run = notecrate({"convert", "vesper", exp});
    expectFailure(run, "no notes");
    EXPECT_TRUE(run.out.contains("\"notes\":0"));

    expectFailure(notecrate({"convert", "vesper", root + "/missing"}), "no such file or folder");
    expectFailure(notecrate({"convert", "vesper"}), "one PATH");
}

TEST_F(VesperCommand, AnInterruptedRunLeavesNoPartialArchive) {
    const QString exp = root + "/Export";
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = "p" + QByteArray::number(i) + ".jpg";
        VesperExport::writeNote(exp, QStringLiteral("N%1.txt").arg(i),
                                VesperExport::noteText("Note", "", "Mar 14, 2016, 6:12 PM", name));
        VesperExport::writePicture(exp, QString::fromLatin1(name), VesperExport::picture(1600, 1200, i),
                                   "JPEG");
    }
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(notecrateProgram(), {"convert", "vesper", exp});
        const auto partial = [&] {
            return !QDir(home.caches()).entryList({"*.partial-*"}, QDir::Files).isEmpty();
        };
        ASSERT_TRUE(waitUntil(partial, 20000)) << "the run writes its partial archive";
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "ended by the signal, as before";
        EXPECT_FALSE(partial()) << QDir(home.caches()).entryList().join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(home.caches() + "/Vesper_to_Tessanote.notebackup"));
    }
}

TEST_F(VesperCommand, ConvertsTheBundledExampleFromTheRepositoryRoot) {
    // The way the README and scripts/run.sh run it.
    const CommandRun run =
        notecrate({"convert", "vesper", "examples/VesperExport"}, QStringLiteral(NOTECRATE_SOURCE_DIR));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject printed = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(printed["notes"], 12);
    EXPECT_EQ(printed["attachments"], 2);
    const ZipContents zip = readZip(printed["path"].toString());
    EXPECT_EQ(zip.entries.size(), 3u) << "the index and two pictures";
}
