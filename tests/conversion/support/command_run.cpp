#include "command_run.h"

#include <QFileInfo>
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
