#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct CommandRun {
    int exitCode = -1;
    QByteArray out, err;
};

// The built executable.
QString notecrateProgram();

// Runs the built executable; it inherits the test's HOME, XDG_CACHE_HOME and PATH.
CommandRun notecrate(const QStringList& arguments, const QString& workingDirectory = {});
