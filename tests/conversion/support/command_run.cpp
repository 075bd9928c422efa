#include "command_run.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

QString notecrateProgram() {
    return QStringLiteral(NOTECRATE_BUILD_DIR "/notecrate");
}

CommandRun notecrate(const QStringList& arguments, const QString& workingDirectory) {
    const QString program = notecrateProgram();
    CommandRun run;
    if (!QFileInfo(program).isExecutable()) {
        ADD_FAILURE() << "build the notecrate target first: " << program.toStdString();
        return run;
    }
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "notecrate did not finish";
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void expectRun(const CommandRow& row) {
    SCOPED_TRACE(row.name);
    const CommandRun run = notecrate(row.arguments, row.workingDirectory);
    EXPECT_EQ(run.exitCode, row.exitCode);
    const QList<QByteArray> lines = run.err.isEmpty() ? QList<QByteArray>() : run.err.chopped(1).split('\n');
    ASSERT_EQ(lines.size(), row.errorLines.size()) << run.err.toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].contains(row.errorLines[i].toUtf8())) << lines[i].toStdString();
    if (row.notes < 0) {
        if (row.output.isEmpty())
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        else
            EXPECT_TRUE(run.out.contains(row.output)) << run.out.toStdString();
        return;
    }
    EXPECT_EQ(run.out.count('\n'), 1) << "one JSON line: " << run.out.toStdString();
    QJsonObject printed = QJsonDocument::fromJson(run.out).object();
    EXPECT_TRUE(QFileInfo(printed.take("path").toString()).isFile()) << run.out.toStdString();
    EXPECT_EQ(printed, (QJsonObject{{"notes", row.notes}, {"attachments", row.attachments}}));
}

QString notesExportFile() {
    return QDir::homePath() + "/Desktop/znfexporter_mac_exported_notes.json";
}

void installExportScript(ScopedHome& home, const QByteArray& records, int status, bool write,
                         const QByteArray& first) {
    const QByteArray root = home.root().toUtf8();
    writeFile(root + "/fixture.json", records);
    QByteArray script = "#!/bin/sh\nprintf '%s' \"$1\" > \"" + root + "/script-arg\"\n" + first;
    if (write)
        script += "mkdir -p \"$HOME/Desktop\"\ncp \"" + root +
                  "/fixture.json\" \"$HOME/Desktop/znfexporter_mac_exported_notes.json\"\n";
    home.installTool("osascript", script + "exit " + QByteArray::number(status) + "\n");
}
