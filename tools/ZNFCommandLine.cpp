#include "tools/ZNFCommandLine.h"

#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>
#include <unistd.h>

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

int printConversion(const QString& path, qint64 notes, qint64 attachments) {
    // Built by hand to keep the documented key order.
    const QByteArray pathJSON =
        path.isEmpty() ? QByteArray("null")
                       : QJsonDocument(QJsonArray{path}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    std::printf("{\"path\":%s,\"notes\":%lld,\"attachments\":%lld}\n", pathJSON.constData(),
                static_cast<long long>(notes), static_cast<long long>(attachments));
    std::fflush(stdout);
    if (path.isEmpty())
        return fail(QStringLiteral("no archive was written"));
    if (notes < 1)
        return fail(QStringLiteral("no notes were found"));
    return 0;
}

} // namespace ZNFCommandOutput

bool ZNFParsePeerOptions(const QStringList& arguments, ZNFPeerCommandOptions* options, QString* error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--yes")) {
            options->yes = true;
        } else if (argument == QLatin1String("--forget")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                *error = QStringLiteral("--forget needs the name of a remembered peer");
                return false;
            }
            options->forget = arguments.at(++i);
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

int ZNFForgetPeer(const QString& name) {
    ZNFPinnedPeers pins(ZNFPeerIdentity::configFolder());
    QString error;
    if (!pins.forget(name, &error))
        return ZNFCommandOutput::fail(
            error.isEmpty() ? QStringLiteral("no remembered peer is named \"%1\"").arg(name) : error);
    std::fprintf(stderr, "notecrate: forgot %s\n", name.toLocal8Bit().constData());
    return 0;
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
const char* kUsage = "usage:\n"
                     "  notecrate                           open the window\n"
                     "  notecrate convert vesper PATH       convert a Vesper export folder\n"
                     "  notecrate convert notes             convert the Notes app's notes (macOS)\n"
                     "  notecrate convert notes --from DIR  convert a copied Notes folder (any system)\n"
                     "  notecrate send [--yes] [ARCHIVE]    send an archive to the phone\n"
                     "  notecrate receive [--yes] DIR       receive an archive, as the phone does\n"
                     "  notecrate send|receive --forget NAME  forget a remembered peer\n";
}

int ZNFRunCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return -1;
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("convert")) {
        if (rest.value(0) == QLatin1String("vesper"))
            return ZNFRunConvertVesper(rest.mid(1));
        if (rest.value(0) == QLatin1String("notes"))
            return ZNFRunConvertNotes(rest.mid(1));
        std::fputs(kUsage, stderr);
        return ZNFCommandOutput::fail(
            QStringLiteral("convert needs a source: vesper PATH, notes or notes --from DIR"));
    }
    if (command == QLatin1String("send"))
        return ZNFRunSend(rest);
    if (command == QLatin1String("receive"))
        return ZNFRunReceive(rest);
    if (command == QLatin1String("help") || command == QLatin1String("--help") ||
        command == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return ZNFCommandOutput::fail(QStringLiteral("unknown command \"%1\"").arg(command));
}
