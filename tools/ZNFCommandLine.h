#pragma once

#include <QStringList>

struct ZNFConversionOutcome;

// The headless subcommands. `arguments` excludes the program name.
// Returns the exit status, or -1 when the arguments name no subcommand.
int ZNFRunCommandLine(const QStringList& arguments);

// Each subcommand, in its own file.
int ZNFRunConvertNotes(const QStringList& arguments);
int ZNFRunConvertVesper(const QStringList& arguments);
int ZNFRunSend(const QStringList& arguments);
int ZNFRunReceive(const QStringList& arguments);

// Shared output helpers.
namespace ZNFCommandOutput {
// One line on stderr, prefixed "notecrate: "; returns 1.
int fail(const QString& reason);
// Progress text on stderr, only when stderr is a terminal.
void progress(const QString& text);
// {"path":...,"notes":N,"attachments":M} on stdout when there is an archive, and the reason
// on stderr when it is not what was asked for; the exit status: 0 with a path and a note.
int printConversion(const ZNFConversionOutcome& outcome);
} // namespace ZNFCommandOutput
