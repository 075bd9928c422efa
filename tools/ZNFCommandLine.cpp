#include "tools/ZNFCommandLine.h"

#include "conversion/ZNFConversionOutcome.h"
#include "multipeer/ZNFTransferEstimate.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ZNFCommandOutput {

int fail(const QString& reason) {
    std::fprintf(stderr, "notecrate: %s\n", reason.toLocal8Bit().constData());
    std::fflush(stderr);
    return 1;
}

void progress(const QString& text) {
    if (!::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void transferProgress(const QString& verb, qint64 done, qint64 total, ZNFTransferEstimate& estimate) {
    if (!::isatty(STDERR_FILENO))
        return;
    const qint64 secondsLeft = estimate.update(done, total);
    if (!estimate.shouldRedraw(done, total))
        return;
    const QLocale c = QLocale::c();
    QString line = QStringLiteral("%1 %2 of %3")
                       .arg(verb, c.formattedDataSize(done, 1, QLocale::DataSizeSIFormat),
                            c.formattedDataSize(total, 1, QLocale::DataSizeSIFormat));
    if (secondsLeft >= 0 && done < total) {
        const qint64 minutes = ZNFTransferEstimate::minutesLeft(secondsLeft);
        line += minutes == 0 ? QStringLiteral(", less than a minute left")
                             : QStringLiteral(", about %1 min left").arg(minutes);
    }
    // Back to the line's start, the new text, and the rest of the old line cleared.
    std::fprintf(stderr, "\r%s\033[K%s", line.toLocal8Bit().constData(), done >= total ? "\n" : "");
    std::fflush(stderr);
}

int printConversion(const ZNFConversionOutcome& outcome) {
    // Always said, terminal or not: what is not in the archive must never go unnoticed.
    for (const QString& line : outcome.leftOutLines())
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    if (outcome.path.isEmpty())
        return fail(outcome.failure.isEmpty() ? QStringLiteral("no archive was written") : outcome.failure);
    // Built by hand to keep the documented key order.
    const QByteArray pathJSON =
        QJsonDocument(QJsonArray{outcome.path}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    std::printf("{\"path\":%s,\"notes\":%lld,\"attachments\":%lld}\n", pathJSON.constData(),
                static_cast<long long>(outcome.notes), static_cast<long long>(outcome.attachments));
    std::fflush(stdout);
    if (!outcome.succeeded())
        return fail(outcome.failure.isEmpty() ? QStringLiteral("no notes were found") : outcome.failure);
    return 0;
}

int runConversion(ZNFConversionJob::Work work) {
    ZNFConversionJob job(std::move(work));
    QEventLoop loop;
    ZNFConversionOutcome result;
    result.failure = QStringLiteral("the conversion was cancelled");
    // A line per thousand notes is enough to show a large export is moving; the last report is
    // shown at the end, since a source reading as it goes learns its total only then.
    qint64 shown = 0;
    qint64 last = 0;
    qint64 total = 0;
    QObject::connect(&job, &ZNFConversionJob::progress, &job, [&](qint64 done, qint64 all) {
        last = done;
        total = all;
        if (done - shown >= 1000) {
            progress(QStringLiteral("%1 of %2 notes").arg(done).arg(all));
            shown = done;
        }
    });
    QObject::connect(&job, &ZNFConversionJob::finished, &loop, [&](const ZNFConversionOutcome& outcome) {
        if (last != shown)
            progress(QStringLiteral("%1 of %2 notes").arg(last).arg(total));
        result = outcome;
        loop.quit();
    });
    job.start();
    loop.exec();
    return printConversion(result);
}
} // namespace ZNFCommandOutput

bool ZNFParsePeerOptions(const QStringList& arguments, ZNFPeerCommandOptions* options, QString* error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--yes") {
            options->yes = true;
        } else if (argument == u"--forget") {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                *error = QStringLiteral("--forget needs the name of a remembered peer");
                return false;
            }
            options->forget = arguments.at(++i);
        } else if (argument.startsWith(u"--")) {
            // A mistyped option must not become a folder or an archive name.
            *error = QStringLiteral("unknown option %1").arg(argument);
            return false;
        } else {
            options->arguments << argument;
        }
    }
    const QByteArray encryption = qgetenv("NOTECRATE_PEER_ENCRYPTION");
    if (encryption == "none") {
        options->encryption = ZNFPeerSession::EncryptionNone;
        std::fputs("notecrate: NOTECRATE_PEER_ENCRYPTION=none: the link is NOT encrypted and no code is "
                   "compared; anyone on the network can read or change what is sent\n",
                   stderr);
    } else if (!encryption.isEmpty()) {
        *error = QStringLiteral("NOTECRATE_PEER_ENCRYPTION may only be \"none\"");
        return false;
    }
    return true;
}

namespace {
int forgetPeer(const QString& name) {
    ZNFPinnedPeers pins(ZNFPeerIdentity::configFolder());
    QString error;
    if (!pins.forget(name, &error))
        return ZNFCommandOutput::fail(
            error.isEmpty() ? QStringLiteral("no remembered peer is named \"%1\"").arg(name) : error);
    std::fprintf(stderr, "notecrate: forgot %s\n", name.toLocal8Bit().constData());
    return 0;
}
} // namespace

std::optional<int> ZNFStartPeerCommand(const QStringList& commandLine, ZNFPeerCommandOptions* options) {
    QString error;
    if (!ZNFParsePeerOptions(commandLine, options, &error))
        return ZNFCommandOutput::fail(error);
    if (!options->forget.isEmpty())
        return forgetPeer(options->forget);
    return std::nullopt;
}

bool ZNFConfirmNewPeer(const ZNFPeerCommandOptions& options, const QString& question, QString* refusal) {
    if (options.yes) {
        std::fprintf(stderr, "%s yes (--yes)\n", question.toLocal8Bit().constData());
        return true;
    }
    if (!::isatty(STDIN_FILENO)) {
        *refusal = question.section(QLatin1Char('?'), 0, 0) +
                   QStringLiteral(": refused, a new peer needs a terminal to confirm the code, or --yes");
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
    char answer[16] = {};
    const bool yes = std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
    if (!yes)
        *refusal = QStringLiteral("the code was not confirmed");
    return yes;
}

namespace {
const char* kUsage =
    "usage:\n"
    "  notecrate                           open the window\n"
    "  notecrate convert vesper PATH       convert a Vesper export folder\n"
    "  notecrate convert keep PATH...      convert Google Keep notes (Takeout zip or folder)\n"
    "  notecrate convert evernote FILE.enex...  convert Evernote export files\n"
    "  notecrate convert notes             convert the Notes app's notes (macOS)\n"
    "  notecrate convert notes --from DIR  convert a copied Notes folder (any system)\n"
    "  notecrate send [--yes] [ARCHIVE]    send an archive to the phone\n"
    "  notecrate receive [--yes] DIR       receive an archive, as the phone does\n"
    "  notecrate send|receive --forget NAME  forget a remembered peer\n"
    "  notecrate list [--json] ARCHIVE     list the notes of an archive\n"
    "  notecrate --version                 print the version\n";
}

int ZNFRunCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return -1;
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == "convert"_L1) {
        if (rest.value(0) == "vesper"_L1)
            return ZNFRunConvertVesper(rest.mid(1));
        if (rest.value(0) == "notes"_L1)
            return ZNFRunConvertNotes(rest.mid(1));
        if (rest.value(0) == "keep"_L1)
            return ZNFRunConvertKeep(rest.mid(1));
        if (rest.value(0) == "evernote"_L1)
            return ZNFRunConvertEvernote(rest.mid(1));
        std::fputs(kUsage, stderr);
        return ZNFCommandOutput::fail(
            QStringLiteral("convert needs a source: vesper PATH, notes, notes --from DIR, keep PATH... or "
                           "evernote FILE.enex..."));
    }
    if (command == "send"_L1)
        return ZNFRunSend(rest);
    if (command == "receive"_L1)
        return ZNFRunReceive(rest);
    if (command == "list"_L1)
        return ZNFRunList(rest);
    if (command == "--version"_L1) {
        std::fputs("notecrate " NOTECRATE_VERSION "\n", stdout);
        return 0;
    }
    if (command == "help"_L1 || command == "--help"_L1 || command == "-h"_L1) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return ZNFCommandOutput::fail(QStringLiteral("unknown command \"%1\"").arg(command));
}
