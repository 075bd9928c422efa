#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class ScopedHome;

struct CommandRun {
    int exitCode = -1;
    QByteArray out, err;
};

// The built executable.
QString notecrateProgram();

// Runs the built executable; it inherits the test's HOME, XDG_CACHE_HOME and PATH.
CommandRun notecrate(const QStringList& arguments, const QString& workingDirectory = {});

// One run of a command and what the command itself owes for it: its exit code, its stderr
// lines (each holds its text; none: stderr is empty), and one JSON line naming the written
// archive and its counts (notes -1: no archive, stdout holds `output`, or nothing when that is
// empty). What the archive holds is the importers'.
struct CommandRow {
    const char* name;
    QStringList arguments;
    int exitCode;
    QStringList errorLines;
    int notes = -1, attachments = 0;
    QString workingDirectory = {};
    QByteArray output = {};
};
void expectRun(const CommandRow& row);

// The Notes app's export file, where the export script leaves it.
QString notesExportFile();
// A stand-in osascript in `home`: it records the script path it was given in
// <root>/script-arg, runs `first`, writes `records` as the export file (unless told not to)
// and exits with `status`.
void installExportScript(ScopedHome& home, const QByteArray& records, int status = 0, bool write = true,
                         const QByteArray& first = {});
