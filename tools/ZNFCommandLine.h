#pragma once

#include "conversion/ZNFConversionJob.h"

#include <QStringList>
#include <optional>

// The headless subcommands. `arguments` excludes the program name.
// Returns the exit status, or -1 when the arguments name no subcommand.
int ZNFRunCommandLine(const QStringList& arguments);

// Each subcommand, in its own file.
int ZNFRunConvertNotes(const QStringList& arguments);
int ZNFRunConvertVesper(const QStringList& arguments);
int ZNFRunConvertKeep(const QStringList& arguments);
int ZNFRunConvertEvernote(const QStringList& arguments);
int ZNFRunSend(const QStringList& arguments);
int ZNFRunReceive(const QStringList& arguments);
// One line per note of an archive: date, picture count and first line; JSON lines with --json.
int ZNFRunList(const QStringList& arguments);

// The newer of the two archives the converters leave in the caches folder, or "".
QString ZNFLatestArchive();

// What send and receive share about the peer at the other end.
struct ZNFPeerCommandOptions {
    bool yes = false;      // --yes: a new peer is accepted without asking
    QString forget;        // --forget NAME: drop a remembered peer and stop
    qint64 encryption = 0; // NOTECRATE_PEER_ENCRYPTION=none: plain links
    QStringList arguments; // what is left
};
// Reads --yes and --forget NAME from `arguments` and the environment; false with `error` on a
// malformed line or an unknown option. Plain links are announced on stderr.
bool ZNFParsePeerOptions(const QStringList& arguments, ZNFPeerCommandOptions* options, QString* error);
// What send and receive do first: reads the options, and answers the exit status when the run
// ends there (the options are wrong, or --forget did its work); none when it goes on.
std::optional<int> ZNFStartPeerCommand(const QStringList& commandLine, ZNFPeerCommandOptions* options);
// Whether to trust a peer never seen before: --yes says so; else the person is asked on the
// terminal; without one the answer is no, and `refusal` says why in one line.
bool ZNFConfirmNewPeer(const ZNFPeerCommandOptions& options, const QString& question, QString* refusal);

// Shared output helpers.
class ZNFTransferEstimate;

namespace ZNFCommandOutput {
// One line on stderr, prefixed "notecrate: "; returns 1.
int fail(const QString& reason);
// Progress text on stderr, only when stderr is a terminal.
void progress(const QString& text);
// One line on a terminal's stderr, rewritten in place: "Sending 1.2 GB of 4.6 GB, about 3 min
// left", at most ten times a second, ended by a newline once everything moved. Nothing without
// a terminal.
void transferProgress(const QString& verb, qint64 done, qint64 total, ZNFTransferEstimate& estimate);
// {"path":...,"notes":N,"attachments":M} on stdout when there is an archive, and the reason
// on stderr when it is not what was asked for; the exit status: 0 with a path and a note.
int printConversion(const ZNFConversionOutcome& outcome);
// What every convert subcommand does: runs the source's conversion as a job, shows its
// progress (a line per thousand notes, and the last), then prints the outcome as above.
int runConversion(ZNFConversionJob::Work work);
} // namespace ZNFCommandOutput
